// Process-level services the console needs from the operating system: start-up, exit, clocks
// and the console control handler (Ctrl+C and the signals that end a session).
#pragma once

#include <cstdint>

#include "platform/clock.h"

// Prepares the process: a peer or reader that goes away must not kill the console with SIGPIPE,
// and memory freed by one result is kept (up to 16 MiB) for the next.
void plat_init();

// Takes over SIGINT, SIGHUP and SIGTERM for the whole run; the calling thread becomes the
// console thread. A signal then never ends the process where it stands: while the control
// handler is installed (a listing) it goes to the handler; otherwise it is recorded as pending
// and the console thread's next wait (for input, a key, a reply, a send) sees it and ends the
// console in order: output flushed, terminal restored, exit status 128 + the signal. A second
// such signal before the console has ended for the first ends the process at once (terminal
// restored, output not flushed): the way out when the output cannot drain.
// Called once by the console's start-up, before any other thread exists.
void plat_handle_signals();

// The process's id, for names that must differ between processes.
int plat_process_id();

// Sets the environment variable name to value (replacing it), for this process and the programs
// it starts (on Windows an empty value removes it); false when it could not be set.
bool plat_set_env(const char* name, const char* value);

// Flushes the console output, restores the terminal and ends the process at once with the
// given status.
[[noreturn]] void plat_exit(int status);

// Tests and fuzz targets that run the console inside their own process: while a hook is set,
// plat_exit flushes and calls it instead of ending the process. The hook must not return (it
// throws to unwind back to its caller). Null removes it. Console thread only.
void plat_set_exit_hook(void (*hook)(int status));

// Control events, numbered as the Windows console numbers them.
inline constexpr int ctrl_c_event = 0;
inline constexpr int ctrl_close_event = 2;
inline constexpr int ctrl_logoff_event = 5;
inline constexpr int ctrl_shutdown_event = 6;

// Installs (add true) or removes (add false) the console control handler. While installed,
// SIGINT arrives as ctrl_c_event, SIGHUP as ctrl_close_event and SIGTERM as ctrl_shutdown_event;
// when the handler returns false the signal ends the console as plat_handle_signals says. The
// handler runs in signal context: it may only touch lock-free atomics. A handled signal also
// wakes the console thread's wait (plat_wait_fd returns plat_woken).
void plat_set_ctrl_handler(bool (*handler)(int event), bool add);

// ---- waiting with signals in view --------------------------------------------------------

// What plat_wait_fd saw.
inline constexpr int plat_ready = 1;      // fd is ready (or failed: the caller's call will say)
inline constexpr int plat_timed_out = 0;  // the time-out passed
inline constexpr int plat_woken = -1;     // a signal arrived (console thread only)

// What plat_wait_fd waits for.
inline constexpr int plat_wait_in = 1;   // bytes to read (or the end)
inline constexpr int plat_wait_out = 2;  // room to write

// Waits until fd is ready for events (plat_wait_in, plat_wait_out), at most timeout_ms (-1: no
// limit). On
// the console thread a signal wakes the wait: it returns plat_woken, and the caller decides what
// the signal means there, normally by calling plat_end_on_signal(). Other threads wait for fd
// alone (signals are blocked in them, see plat_signals_held). A negative fd is ready at once.
int plat_wait_fd(int fd, int events, int timeout_ms);

// The signal that waits to end the console (SIGINT, SIGHUP, SIGTERM outside a listing), or 0.
int plat_pending_signal();

// Takes the pending signal: returns it and clears it (0 when none). For a wait that gives a
// signal a meaning of its own instead of ending the console.
int plat_take_signal();

// While on (the console at a terminal or a Windows console turns it on), a Ctrl+C during a wait
// for a server's reply cancels that wait instead of ending the console. Console thread only.
void plat_set_cancel_waits(bool on);

// For a wait for a reply that a signal woke: with cancel_waits on and SIGINT pending on the
// console thread, takes the signal, remembers the cancel and returns true (the caller abandons
// the exchange); false otherwise.
bool plat_take_cancel();

// Whether a wait was cancelled since the last call; clears the mark. Until then the cancel is
// in progress: a second Ctrl+C within a second of the first ends the console at once (exit
// status 130), as a second signal does before the first was acted on.
bool plat_wait_was_cancelled();

// Delivers a control event as the system does (tests): on POSIX the matching signal goes to the
// process; on Windows the console control handler runs on a thread of its own and is waited for.
void plat_deliver_ctrl_event(int event);

// On the console thread, when a signal is pending: flushes the console output, restores the
// terminal and exits with 128 + the signal. Returns otherwise (and always on other threads).
void plat_end_on_signal();

// While one lives, the console thread blocks SIGINT, SIGHUP and SIGTERM (and unblocks them at
// its end); threads started meanwhile keep them blocked for good, so that the signals reach the
// console thread only and interrupt its blocking calls. Put one around the start of every
// thread the console starts.
struct plat_signals_held {
    plat_signals_held();
    ~plat_signals_held();
    plat_signals_held(const plat_signals_held&) = delete;
    plat_signals_held& operator=(const plat_signals_held&) = delete;
};

// Opens path in the user's editor ($VISUAL, then $EDITOR, then vi) and waits for it to end.
// Returns false when no editor could be started. A Ctrl+C meanwhile belongs to the editor and
// is dropped; SIGTERM and SIGHUP stay pending.
bool plat_run_editor(const char* path);
