// Ctrl+C while the console waits for a reply: the first cancels the wait, a second one while
// that cancel is still in progress ends the process at once. The events come as the system
// delivers them (a signal on POSIX, the control handler on a thread of its own on Windows).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

#include "platform/sockets.h"
#include "platform/system.h"

namespace {

// In the death test's child: a Ctrl+C taken as a cancel, then a second one.
void second_ctrl_c(bool cancel_seen_first) {
    plat_handle_signals();
    plat_set_cancel_waits(true);
    plat_deliver_ctrl_event(ctrl_c_event);
    if (!plat_take_cancel()) std::_Exit(10);
    if (cancel_seen_first && !plat_wait_was_cancelled()) std::_Exit(11);
    plat_deliver_ctrl_event(ctrl_c_event);
    // Reached only when the second Ctrl+C waits to be acted on like a first one.
    std::_Exit(plat_pending_signal() == SIGINT ? 0 : 12);
}

// In the death test's child: the console thread waits for a reply that does not come, and a
// Ctrl+C from elsewhere wakes it. With cancel_waits the wait is abandoned and the console goes
// on; without, the Ctrl+C stays pending to end the console.
void ctrl_c_during_a_reply_wait(bool cancel_waits) {
    plat_handle_signals();
    plat_set_cancel_waits(cancel_waits);
    int mine = -1, server = -1;
    if (!plat_socket_pair(mine, server)) std::_Exit(20);
    std::thread other;
    {
        plat_signals_held held;  // the event goes to the console thread, as in the console
        other = std::thread([] {
            // Mostly after the wait began (an event before it is seen at its start).
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            plat_deliver_ctrl_event(ctrl_c_event);
        });
    }
    const int woke = plat_wait_fd(mine, plat_wait_in, 20000);
    other.join();
    if (woke != plat_woken) std::_Exit(21);
    if (!cancel_waits) std::_Exit(!plat_take_cancel() && plat_pending_signal() == SIGINT ? 0 : 22);
    if (!plat_take_cancel() || plat_pending_signal() != 0) std::_Exit(23);
    if (!plat_wait_was_cancelled() || plat_wait_was_cancelled()) std::_Exit(24);
    // The wake was for that event alone: the next waits see the socket.
    if (plat_wait_fd(mine, plat_wait_in, 0) != plat_timed_out) std::_Exit(25);
    if (plat_socket_send(server, "r", 1) != 1) std::_Exit(26);
    if (plat_wait_fd(mine, plat_wait_in, 20000) != plat_ready) std::_Exit(27);
    std::_Exit(0);
}

}  // namespace

TEST(ctrl_c_cancel, a_second_ctrl_c_during_the_cancel_ends_the_console_after_it_does_not) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(second_ctrl_c(false), ::testing::ExitedWithCode(128 + SIGINT), "");
    EXPECT_EXIT(second_ctrl_c(true), ::testing::ExitedWithCode(0), "");
}

TEST(ctrl_c_cancel, wakes_a_reply_wait_that_is_then_abandoned_only_with_cancel_waits_on) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ctrl_c_during_a_reply_wait(true), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(ctrl_c_during_a_reply_wait(false), ::testing::ExitedWithCode(0), "");
}
