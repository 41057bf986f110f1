// The login cycle's prompts: words read from standard input into the prompt buffers, the
// password read key by key without echo, and the address check.
#include <cstdlib>
#include <cstring>

#include "platform/console.h"
#include "platform/system.h"
#include "shell/startup.h"
#include "state/console_state.h"

namespace {

// Reads one word into buf; an over-long word leaves an empty value, which the validation of the
// login cycle refuses. End of input ends the console.
const char* read_word_into(char* buf, int cap) {
    int n = con_read_word(buf, cap);
    if (n == con_eof) end_of_input();
    return buf;
}

}  // namespace

void end_of_input() {
    plat_exit(g_console.logged_in ? 0 : 2);
}

bool is_ipv4_text(std::string_view text) {
    if (text.empty() || text.size() > 16) return false;
    int group_digits = 0;
    int group_value = 0;
    int dots = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char ch = text[i];
        if (ch >= '0' && ch <= '9') {
            group_value = group_value * 10 + (ch - '0');
            ++group_digits;
            if (group_value > 255) return false;
        } else if (ch == '.') {
            if (i == 0 || group_digits == 0 || dots == 3) return false;
            ++dots;
            group_digits = 0;
            group_value = 0;
        } else {
            return false;
        }
    }
    return true;
}

const char* password_key(password_entry& e, int key) {
    if (e.ext_pending && (key == 'H' || key == 'K' || key == 'M' || key == 'P' || key == 'S')) {
        e.ext_pending = false;
        return "";
    }
    if (e.count == password_max_chars) {
        e.done = true;
        return "";
    }
    if (key == 8 || key == 224) {
        if (key == 224) e.ext_pending = true;
        if (e.count == 0) return "";
        e.text[--e.count] = '\0';
        return "\b \b";
    }
    if (key == 13) {
        e.done = true;
        return "";
    }
    e.text[e.count++] = static_cast<char>(key);
    return "*";
}

void prompt_host_port() {
    con_printf("Please input server URL:");
    g_console.host = read_word_into(g_console.host_input, host_input_size);
    con_printf("Please input server port:");
    char port_word[host_input_size];
    read_word_into(port_word, sizeof port_word);
    g_console.port = std::atoi(port_word);
}

void prompt_database() {
    con_printf("Please input database name:");
    g_console.database = read_word_into(g_console.database_input, database_input_size);
}

void prompt_user() {
    con_printf("Please input user name:");
    g_console.user = read_word_into(g_console.user_input, user_input_size);
}

void prompt_password() {
    password_entry e;
    {
        // The terminal stops echoing before the prompt shows and starts again only once the
        // entry is over: keys that come between two reads, or before the first, never show.
        // (plat_exit and a signal's end put the terminal back as well.)
        con_key_mode keys(false);
        con_printf("Please input password:");
        // Keys from a pipe come from the same stream as the words: the line end after the user
        // name is not a key.
        if (!con_input_is_terminal()) con_discard_line_rest();
        int key = 0;
        while (!e.done) {
            key = con_getch();
            if (key == con_eof) end_of_input();
            if (key == con_interrupted) continue;
            const char* echo = password_key(e, key);
            if (*echo) con_printf("%s", echo);
        }
        // Keys typed past the longest password are still the password, never the next input (a
        // statement, or a value of the next login): they are dropped up to the Enter.
        while (key != 13) {
            key = con_getch();
            if (key == con_eof) end_of_input();
        }
    }
    std::memcpy(g_console.password_input, e.text, sizeof e.text);
    g_console.password = g_console.password_input;
    con_printf("\n");
    con_discard_line_rest();
}
