// The console reader's word, line-rest and key semantics on piped input, and the writer.
#include <gtest/gtest.h>

#include <string>

#include "platform/console.h"
#include "tests/support/fed_input.h"

TEST(con_read_word, reads_words_and_leaves_the_line_end) {
    fed_input in("  127.0.0.1 \n5138\nx\n");
    char buf[16];
    EXPECT_EQ(con_read_word(buf, sizeof buf), 9);
    EXPECT_STREQ(buf, "127.0.0.1");
    EXPECT_EQ(con_read_word(buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "5138");
    EXPECT_EQ(con_peek_byte(), '\n');
    con_discard_line_rest();
    EXPECT_EQ(con_read_byte(), 'x');
    con_discard_line_rest();  // nothing pending: the newline after x stays
    EXPECT_EQ(con_read_byte(), '\n');
    EXPECT_EQ(con_read_word(buf, sizeof buf), con_eof);
}

TEST(con_read_word, an_over_long_word_is_consumed_and_reported) {
    fed_input in("abcdefghij next");
    char buf[5];
    EXPECT_EQ(con_read_word(buf, sizeof buf), -2);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(con_read_word(buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "next");
}

TEST(con_getch, piped_keys_are_bytes_with_newline_as_enter) {
    fed_input in("a\b\n");
    EXPECT_EQ(con_getch(), 'a');
    EXPECT_EQ(con_getch(), 8);
    EXPECT_EQ(con_getch(), 13);
    EXPECT_EQ(con_getch(), con_eof);
}

TEST(con_printf, captures_text_longer_than_the_buffer_intact) {
    std::string out;
    con_set_capture(&out);
    std::string big(100000, 'b');
    con_printf("[%s]", "a");
    con_printf("%s", big.c_str());
    con_write("\r\n", 2);
    con_set_capture(nullptr);
    EXPECT_EQ(out, "[a]" + big + "\r\n");
}
