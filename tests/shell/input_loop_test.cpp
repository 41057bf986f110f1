// Reading lines from standard input: line ends, zero bytes, over-long lines, end of input.
#include <gtest/gtest.h>

#include <unistd.h>
#include <string>

#include "platform/console.h"
#include "shell/input_loop.h"
#include "state/console_state.h"
#include "tests/support/fed_input.h"

namespace {

std::string line_of(const char* buff, int n) {
    return std::string(buff, static_cast<size_t>(n));
}

}  // namespace

TEST(read_console_line, splits_at_newlines_zero_bytes_and_crlf) {
    fed_input in(std::string("select 1;\r\nab\0cd\n\nlast", 22));
    static char buff[line_buff_size];
    int n = read_console_line(buff);
    EXPECT_EQ(line_of(buff, n), "select 1;");
    n = read_console_line(buff);
    EXPECT_EQ(line_of(buff, n), "ab");
    n = read_console_line(buff);
    EXPECT_EQ(line_of(buff, n), "cd");
    EXPECT_EQ(read_console_line(buff), 0);
    n = read_console_line(buff);
    EXPECT_EQ(line_of(buff, n), "last");
    EXPECT_EQ(read_console_line(buff), -1);
}

TEST(read_console_line, a_full_buffer_discards_the_rest_of_the_line) {
    std::string text(line_buff_size + 100, 'x');
    text += "\nnext\n";
    fed_input in(text);
    static char buff[line_buff_size];
    EXPECT_EQ(read_console_line(buff), line_buff_size);
    int n = read_console_line(buff);
    EXPECT_EQ(line_of(buff, n), "next");
}
