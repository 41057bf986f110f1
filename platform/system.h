// Process-level services the console needs from the operating system: start-up, exit, clocks
// and the console control handler (Ctrl+C and the signals that end a session).
#pragma once

#include <cstdint>

// Prepares the process: a peer or reader that goes away must not kill the console with SIGPIPE.
void plat_init();

// Flushes the console output and ends the process at once with the given status.
[[noreturn]] void plat_exit(int status);

// Tests and fuzz targets that run the console inside their own process: while a hook is set,
// plat_exit flushes and calls it instead of ending the process. The hook must not return (it
// throws to unwind back to its caller). Null removes it. Console thread only.
void plat_set_exit_hook(void (*hook)(int status));

// Milliseconds from a steady clock, for elapsed-time reports.
int64_t plat_clock_ms();

// Wall-clock time in whole seconds since 1970.
int64_t plat_time_seconds();

// Control events, numbered as the Windows console numbers them.
inline constexpr int ctrl_c_event = 0;
inline constexpr int ctrl_close_event = 2;
inline constexpr int ctrl_logoff_event = 5;
inline constexpr int ctrl_shutdown_event = 6;

// Installs (add true) or removes (add false) the console control handler. While installed,
// SIGINT arrives as ctrl_c_event, SIGHUP as ctrl_close_event and SIGTERM as ctrl_shutdown_event;
// when the handler returns false the signal's default action follows. The handler runs in signal
// context: it may only touch lock-free atomics.
void plat_set_ctrl_handler(bool (*handler)(int event), bool add);

// Opens path in the user's editor ($VISUAL, then $EDITOR, then vi) and waits for it to end.
// Returns false when no editor could be started.
bool plat_run_editor(const char* path);
