// Fault injection for tests (--drop-on, --drop-after-rows): each switch fires at most once in a
// server run, on whichever connection reaches it first.
#pragma once

#include <string_view>

#include "server/options.h"

// True, once, when opts.drop_on is set and text contains it (ASCII case ignored). Any thread.
bool srv_fault_drop_on(const srv_options& opts, std::string_view text);

// Fires the row switch: true only for its first caller. Any thread.
bool srv_fault_take_drop_after_rows();

// True, once, when opts.drop_after_rows is set and rows equals it. Any thread; cheap enough to
// call after every row.
inline bool srv_fault_drop_after_rows(const srv_options& opts, long long rows) {
    return opts.drop_after_rows == rows && srv_fault_take_drop_after_rows();
}
