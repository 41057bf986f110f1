// The process services that do not depend on the platform: the exit path and its test hook,
// the control handler's installation, the pending signal and the bookkeeping of cancelled reply
// waits (the halves read them from their signal or event handlers).
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"
#include "platform/system.h"
#include "platform/system_shared.h"

std::atomic<bool (*)(int)> plat_installed_ctrl_handler{nullptr};
std::atomic<bool> plat_reading_input{false};
std::atomic<int> plat_signal_pending{0};
std::atomic<bool> plat_signal_ending{false};

namespace {

void (*exit_hook)(int) = nullptr;

bool cancel_waits = false;
bool wait_cancelled = false;
// A Ctrl+C that cancelled a wait for a reply, from its take until the console has seen the
// cancel (plat_wait_was_cancelled): a second Ctrl+C within cancel_window_ms of it ends the
// console, as a second signal does before the first was acted on.
inline constexpr int64_t cancel_window_ms = 1000;
std::atomic<bool> cancelling{false};
std::atomic<int64_t> cancel_taken_ms{0};
static_assert(std::atomic<int64_t>::is_always_lock_free);

}  // namespace

void plat_exit(int status) {
    con_flush();
    con_restore_terminal();
    std::fflush(nullptr);
    if (exit_hook) exit_hook(status);
    std::_Exit(status);
}

void plat_set_exit_hook(void (*hook)(int status)) {
    exit_hook = hook;
}

void plat_set_ctrl_handler(bool (*handler)(int event), bool add) {
    plat_installed_ctrl_handler = add ? handler : nullptr;
}

void plat_set_cancel_waits(bool on) {
    cancel_waits = on;
}

bool plat_cancel_waits_on() {
    return cancel_waits;
}

void plat_cancel_taken(int64_t now_ms) {
    cancel_taken_ms = now_ms;
    cancelling = true;
    wait_cancelled = true;
}

bool plat_cancel_in_progress(int64_t now_ms) {
    return cancelling.load() && now_ms - cancel_taken_ms.load() < cancel_window_ms;
}

bool plat_wait_was_cancelled() {
    bool was = wait_cancelled;
    wait_cancelled = false;
    cancelling = false;
    return was;
}

int plat_pending_signal() {
    return plat_signal_pending.load();
}

int plat_take_signal() {
    return plat_signal_pending.exchange(0);
}

bool plat_take_cancel() {
    if (!plat_cancel_waits_on() || !plat_on_console_thread() ||
        plat_signal_pending.load() != plat_interrupt_number)
        return false;
    plat_cancel_taken(plat_monotonic_ms());
    plat_take_signal();
    return true;
}

void plat_end_on_signal() {
    if (!plat_on_console_thread()) return;
    int sig = plat_signal_pending.load();
    if (sig == 0) return;
    plat_signal_ending = true;
    plat_exit(128 + sig);
}
