// Ctrl+C while the console waits for a reply: the first cancels the wait, a second one while
// that cancel is still in progress ends the process at once.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "platform/system.h"

namespace {

// In the death test's child: a Ctrl+C taken as a cancel, then a second one.
void second_ctrl_c(bool cancel_seen_first) {
    plat_handle_signals();
    plat_set_cancel_waits(true);
    std::raise(SIGINT);
    if (!plat_take_cancel()) std::_Exit(10);
    if (cancel_seen_first && !plat_wait_was_cancelled()) std::_Exit(11);
    std::raise(SIGINT);
    // Reached only when the second Ctrl+C waits to be acted on like a first one.
    std::_Exit(plat_pending_signal() == SIGINT ? 0 : 12);
}

}  // namespace

TEST(ctrl_c_cancel, a_second_ctrl_c_during_the_cancel_ends_the_console_after_it_does_not) {
#ifdef _WIN32
    GTEST_SKIP() << "a Ctrl+C during a reply wait is not cancelled on Windows: it ends the console";
#endif
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(second_ctrl_c(false), ::testing::ExitedWithCode(128 + SIGINT), "");
    EXPECT_EXIT(second_ctrl_c(true), ::testing::ExitedWithCode(0), "");
}
