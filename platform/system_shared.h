// What the two halves of the process services share (platform/ only): the control handler a
// listing installed and the cancel of reply waits, both read by the POSIX signal handler and by
// the Windows control handler.
#pragma once

#include <atomic>
#include <cstdint>

// The handler plat_set_ctrl_handler installed, or null. Read in signal context.
extern std::atomic<bool (*)(int)> plat_installed_ctrl_handler;
static_assert(std::atomic<bool (*)(int)>::is_always_lock_free);

// Whether plat_set_cancel_waits turned the cancel of reply waits on. Console thread only.
bool plat_cancel_waits_on();

// Marks a Ctrl+C taken as the cancel of a wait at now_ms (a steady clock in milliseconds): the
// cancel is in progress until plat_wait_was_cancelled sees it. Console thread only.
void plat_cancel_taken(int64_t now_ms);

// Whether a cancel is in progress and was taken less than a second before now_ms: a Ctrl+C then
// ends the console at once. Safe in signal context.
bool plat_cancel_in_progress(int64_t now_ms);

// True while the console thread blocks in a read of standard input (Windows: the control
// handler cancels that read, and no other call).
extern std::atomic<bool> plat_reading_input;

// The signal that waits to end the console (its number: the exit status is 128 + it), or 0: set
// by the POSIX signal handler or the Windows control handler, taken on the console thread.
extern std::atomic<int> plat_signal_pending;
static_assert(std::atomic<int>::is_always_lock_free);
// The console thread is acting on the pending signal: another one ends the process at once.
extern std::atomic<bool> plat_signal_ending;

// The number of an interrupt (SIGINT; Ctrl+C and Ctrl+Break stand for it on Windows).
inline constexpr int plat_interrupt_number = 2;

// Each half: whether this is the console thread (once plat_handle_signals has run), and a
// steady clock in milliseconds that is safe in signal context.
bool plat_on_console_thread();
int64_t plat_monotonic_ms();
