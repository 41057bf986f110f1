// The statement loop. For now it reads lines after the login and ends on EXIT or the end of
// input; statements are not yet assembled or sent.
#include "shell/input_loop.h"

#include <cstring>
#include <strings.h>

#include "platform/console.h"
#include "platform/system.h"
#include "shell/console_state.h"

namespace {

// The first word of a line: up to a blank, a tab, ';' or the end, after leading blanks and tabs.
bool first_word_is(const char* line, const char* word) {
    while (*line == ' ' || *line == '\t') ++line;
    size_t n = std::strcspn(line, " \t;");
    return n == std::strlen(word) && strncasecmp(line, word, n) == 0;
}

}  // namespace

int read_console_line(char* line_buff) {
    std::memset(line_buff, 0, line_buff_size);
    int n = 0;
    for (;;) {
        int ch = con_read_byte();
        if (ch == con_eof) return n == 0 ? -1 : n;
        if (ch == '\n' || ch == '\0') return n;
        if (ch == '\r' && con_peek_byte() == '\n') continue;
        line_buff[n++] = static_cast<char>(ch);
        if (n == line_buff_size) {
            do {
                ch = con_read_byte();
            } while (ch != con_eof && ch != '\n');
            return n;
        }
    }
}

void run_statement_loop() {
    for (;;) {
        con_printf("\r\nSQL> ");
        int n = read_console_line(g_console.line_buff);
        if (n < 0) plat_exit(0);
        if (n < line_buff_size && first_word_is(g_console.line_buff, "EXIT")) plat_exit(0);
    }
}
