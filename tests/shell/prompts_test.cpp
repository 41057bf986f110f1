// The login cycle's pure pieces: the address check, the password key rules, the control handler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/system.h"
#include "shell/startup.h"
#include "state/console_state.h"

TEST(is_ipv4_text, accepts_dotted_digits_whatever_the_group_count) {
    for (const char* ok :
         {"127.0.0.1", "10.1", "10.1.2.", "255.255.255.255", "0", "1.2.3.4", "000000255.1"})
        EXPECT_TRUE(is_ipv4_text(ok)) << ok;
}

TEST(is_ipv4_text, refuses_names_big_groups_and_misplaced_dots) {
    for (const char* bad :
         {"", "192.168.0.256", "server1", "localhost", ".1.2.3", "1..2", "1.2.3.4.", "1.2.3.4.5",
          "1.2.3.4 ", "-1.2.3.4", "12345678901234567", "1.2.3.1000"})
        EXPECT_FALSE(is_ipv4_text(bad)) << bad;
}

namespace {

struct typed {
    std::string text;
    std::string echo;
    bool done;
};

typed type_keys(const std::vector<int>& keys) {
    password_entry e;
    std::string echo;
    for (int k : keys) {
        if (e.done) break;
        echo += password_key(e, k);
    }
    return {std::string(e.text, static_cast<size_t>(e.count)), echo, e.done};
}

}  // namespace

TEST(password_key, stores_keys_with_stars_until_enter) {
    typed t = type_keys({'a', 'b', 'c', 13, 'x'});
    EXPECT_EQ(t.text, "abc");
    EXPECT_EQ(t.echo, "***");
    EXPECT_TRUE(t.done);
}

TEST(password_key, backspace_erases_the_last_star_and_nothing_when_empty) {
    EXPECT_EQ(type_keys({8, 'a', 8, 8, 'b', 13}).echo, "*\b \b*");
    EXPECT_EQ(type_keys({8, 'a', 8, 8, 'b', 13}).text, "b");
    EXPECT_EQ(type_keys({8, 13}).echo, "");
}

TEST(password_key, extended_prefix_erases_and_swallows_its_second_byte) {
    // Left arrow after "ab": 224 erases 'b', then 'K' is swallowed.
    typed t = type_keys({'a', 'b', 224, 'K', 'c', 13});
    EXPECT_EQ(t.text, "ac");
    EXPECT_EQ(t.echo, "**\b \b*");
    // Every second byte of the arrows and Delete is swallowed.
    for (int second : {'H', 'K', 'M', 'P', 'S'})
        EXPECT_EQ(type_keys({224, second, 13}).text, "");
    // Without a pending prefix the same letters are ordinary keys.
    EXPECT_EQ(type_keys({'H', 'S', 13}).text, "HS");
}

TEST(password_key, another_key_after_the_prefix_is_stored_and_the_prefix_stays_pending) {
    typed t = type_keys({224, 'x', 'H', 13});
    EXPECT_EQ(t.text, "x");
}

TEST(password_key, the_key_after_63_characters_ends_the_entry_and_is_dropped) {
    std::vector<int> keys(63, 'p');
    keys.push_back('q');
    typed t = type_keys(keys);
    EXPECT_TRUE(t.done);
    EXPECT_EQ(t.text, std::string(63, 'p'));
    EXPECT_EQ(t.echo, std::string(63, '*'));
    // Even a Backspace after 63 characters ends the entry.
    keys.back() = 8;
    EXPECT_EQ(type_keys(keys).text, std::string(63, 'p'));
}

TEST(console_ctrl_handler, handles_interrupt_close_logoff_and_shutdown_only) {
    for (int event : {ctrl_c_event, ctrl_close_event, ctrl_logoff_event, ctrl_shutdown_event}) {
        g_console.cancel_requested = false;
        EXPECT_TRUE(console_ctrl_handler(event));
        EXPECT_TRUE(g_console.cancel_requested.load());
    }
    for (int event : {1, 3, 4, 7}) {  // Ctrl+Break and the others keep their default handling
        g_console.cancel_requested = false;
        EXPECT_FALSE(console_ctrl_handler(event));
        EXPECT_FALSE(g_console.cancel_requested.load());
    }
}
