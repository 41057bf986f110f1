// One client connection of norvlite from login to close: its channel, its database handle, who
// logged in, its settings and its reply buffers. The connection's own thread creates, serves
// and closes it; nothing in it is shared with another thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/channel.h"
#include "server/options.h"
#include "server/type_map.h"
#include "server/wire.h"

struct sqlite3;

// What the SET statements (and the login text) change; SHOW reads them back.
struct srv_settings {
    std::string char_set = "UTF8";           // set client_encoding
    std::string time_zone = "+00:00";        // set time zone
    std::string iso_level = "serializable";  // set transaction isolation
    int32_t lock_timeout = 0;                // set lock_timeout; remembered only
    std::string authorization;               // set session authorization; empty = the user
};

// What the reply to a statement said, for the debug pipe's line (server/debug_pipe.h).
enum class srv_outcome_kind {
    ok,       // "ok"
    rows,     // "N rows": rows sent
    changed,  // "N changed": rows inserted, updated or deleted
    error,    // "error TEXT": the reply's "E" text
    note,     // TEXT as it is (a load's summary)
};

struct srv_outcome {
    srv_outcome_kind kind = srv_outcome_kind::ok;
    long long count = 0;  // rows, changed
    std::string text;     // error, note
};

struct srv_session {
    int id = 0;                // connection number, for the log
    std::string peer;          // "ADDR:PORT" of the client, for the log
    srv_channel channel;       // clear until the client asks for TLS or the own cipher
    sqlite3* db = nullptr;     // owned; opened at login, used only by the connection's thread
    std::string user;          // as logged in
    std::string database;      // as logged in; the file is DATA/NAME.db
    bool auto_commit = false;  // from the login text, then "set auto commit on|off"
    const srv_options* opts = nullptr;  // the server's options; outlive the session
    srv_settings settings;
    srv_reader in;        // statement messages, read from channel
    srv_writer out;       // replies, sent on channel
    std::string pending;  // messages queued by the norv_* SQL functions (wire bytes)
    std::string scratch;  // value conversion space, reused by every value
    std::vector<srv_col_type> col_types;  // types of the row stream being sent, reused
    srv_outcome outcome;                  // of the statement being answered; reset before each one
    bool debug_pipe = false;  // "set debug_pipe on" was answered: serve as a debug pipe now
};

// Serves the client on fd (a non-blocking accepted socket) from login until the client closes,
// stays idle past opts.max_idle_time, sends a bad message, or the listener shuts the socket
// down; then rolls back an open transaction, closes the database and ends TLS. fd stays open
// for the caller to close. Runs on the connection's own thread; opts outlives the call.
void srv_serve_connection(int fd, int id, const std::string& peer, const srv_options& opts);
