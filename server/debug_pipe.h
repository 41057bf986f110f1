// The debug pipe: after "set debug_pipe on" a connection receives one line per statement that
// any session executes, as raw bytes without reply letters, until it closes:
//   "[session 3 norv@demo] select 1; -> 1 rows\n"
// (connection number, user@database, the statement text and the outcome: "ok", "N rows",
// "N changed", "error TEXT", or a load's summary). Every pipe has a bounded queue served by the
// pipe connection's own thread, so a slow pipe never slows a session: a line that finds the queue
// full is dropped and counted, and the writer adds "[N lines dropped]\n" after the lines it had.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

#include "server/session.h"

inline constexpr size_t srv_pipe_queue_lines = 1000;             // lines waiting per pipe at most
inline constexpr size_t srv_pipe_queue_bytes = size_t{1} << 20;  // bytes waiting per pipe at most
inline constexpr size_t srv_pipe_text_shown = 100;   // bytes of a statement text in its line
inline constexpr size_t srv_pipe_error_shown = 200;  // bytes of an error text in its line

// The line of one statement: text and error texts with blanks at both ends trimmed, control
// bytes shown as blanks, cut after the limits above (at a character boundary, "..." marking the
// cut). Pure; any thread.
std::string srv_pipe_line(int session, std::string_view user, std::string_view database,
                          std::string_view text, const srv_outcome& outcome);

// The lines waiting for one pipe's writer.
struct srv_pipe_queue {
    std::mutex lock;                 // guards the fields below
    std::string text;                // whole lines, in the order they came
    size_t lines = 0;                // lines in text
    unsigned long long dropped = 0;  // lines refused since the writer last took
    size_t max_lines = srv_pipe_queue_lines;
    size_t max_bytes = srv_pipe_queue_bytes;
};

// Appends line, or counts it as dropped when the queue is full. Returns true when the queue was
// empty before: the writer may be asleep and must be woken. Any thread.
bool srv_pipe_push(srv_pipe_queue& q, std::string_view line);

struct srv_pipe_taken {
    size_t lines = 0;                // statement lines taken
    unsigned long long dropped = 0;  // lines dropped before this take
};

// Moves everything waiting into out (its old contents replaced): the lines in order, then
// "[N lines dropped]\n" when lines were dropped since the last take. The queue is empty after.
// The pipe's writer.
srv_pipe_taken srv_pipe_take(srv_pipe_queue& q, std::string& out);

// Hands the line of the statement s has just answered (text, s.outcome) to every open pipe.
// Costs one atomic load while no pipe is open. Any session's thread.
void srv_pipe_note(const srv_session& s, std::string_view text);

// Serves s as a debug pipe: registers it, answers "K" to "set debug_pipe on" (so every statement
// the client runs after seeing it has its line), writes its lines as they come, and returns once
// the client closes the connection, a write fails or stalls past the idle limit, or the listener
// shuts the socket down. Bytes the client sends are read and ignored. Logs the pipe's opening
// and its close ("conn N ADDR: debug pipe closed: L lines, D dropped"). Connection thread.
void srv_serve_debug_pipe(srv_session& s);
