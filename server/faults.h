// Fault injection for tests: each switch of the command line (--drop-on, --drop-after-rows,
// --drop-at-login, --garbage-on, --drop-in-load-batch, --drop-at-load-handshake, --hold-on,
// --load-early-k) fires at most once in a server run, on whichever connection reaches it first.
// --load-delay-ms is a pause, not a one-off: it holds every batch of every load.
#pragma once

#include <cstddef>
#include <string_view>

#include "server/options.h"

// True, once, when opts.drop_on is set and text is the opts.drop_on_nth statement of the run
// that contains it (ASCII case ignored). Any thread.
bool srv_fault_drop_on(const srv_options& opts, std::string_view text);

// Fires the row switch: true only for its first caller. Any thread.
bool srv_fault_take_drop_after_rows();

// True, once, when opts.drop_after_rows is set and rows equals it. Any thread; cheap enough to
// call after every row.
inline bool srv_fault_drop_after_rows(const srv_options& opts, long long rows) {
    return opts.drop_after_rows == rows && srv_fault_take_drop_after_rows();
}

// True, once, when opts.drop_at_login is set. Called with a login text in hand. Any thread.
bool srv_fault_drop_at_login(const srv_options& opts);

// True, once, when opts.garbage_on is set and text contains it (ASCII case ignored). Any thread.
bool srv_fault_garbage_on(const srv_options& opts, std::string_view text);

// True, once, when opts.drop_in_load_batch is set and batch (counted from 1 within a load)
// equals it. Any thread.
bool srv_fault_drop_in_load_batch(const srv_options& opts, long long batch);

// True, once, when opts.drop_at_load_handshake is set. Any thread.
bool srv_fault_drop_at_load_handshake(const srv_options& opts);

// True, once, when opts.hold_on is set and text contains it (ASCII case ignored). Any thread.
bool srv_fault_hold_on(const srv_options& opts, std::string_view text);

// Holds a reply: waits until fd has something to read (the client sent more, or closed) or
// srv_hold_max_ms have passed.
void srv_fault_hold(int fd);
// True, once, when opts.load_early_k is set. Any thread.
bool srv_fault_load_early_k(const srv_options& opts);

// The bytes --garbage-on sends: srv_fault_garbage_size bytes of a fixed pattern, the top byte
// of each step of x = x * 1103515245 + 12345 (mod 2^32) from x = 0x6e6f7276 ("norv"), taken
// after the step. The same in every run. Static storage; any thread.
inline constexpr size_t srv_fault_garbage_size = 100;
std::string_view srv_fault_garbage();

// True, once, when opts.stray_after is set and text contains it (ASCII case ignored): the whole
// reply to that statement is then followed by one more, srv_fault_stray_reply_text as an error
// and a closing "K", that answers no statement. Any thread.
bool srv_fault_stray_after(const srv_options& opts, std::string_view text);
inline constexpr std::string_view srv_fault_stray_reply_text =
    "norvlite: a reply that answers no statement";
