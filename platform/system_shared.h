// What the two halves of the process services share (platform/ only): the control handler a
// listing installed, read by the POSIX signal handler and by the Windows control handler.
#pragma once

#include <atomic>

// The handler plat_set_ctrl_handler installed, or null. Read in signal context.
extern std::atomic<bool (*)(int)> plat_installed_ctrl_handler;
static_assert(std::atomic<bool (*)(int)>::is_always_lock_free);
