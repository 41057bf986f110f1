// Statement lines at a terminal: the console's history rules on top of the line editor, and the
// lines of a recalled entry queued for the statement loop.
#include "shell/terminal_lines.h"

#include <cstdlib>
#include <cstring>
#include <deque>

#include "platform/line_editor.h"
#include "shell/completion.h"
#include "state/console_state.h"
#include "text/scan.h"

namespace {

std::deque<std::string> queued;  // lines of a recalled entry not yet handed out
std::string entry;               // lines of the statement being entered, joined by '\n'

bool contains_word_any_case(std::string_view text, std::string_view word) {
    for (size_t at = 0; at + word.size() <= text.size(); ++at)
        if (starts_with_nocase(text.substr(at), word)) return true;
    return false;
}

}  // namespace

std::string history_path_from_environment() {
    if (const char* named = std::getenv("NORVSQL_HISTORY")) return named;
    const char* home = std::getenv("HOME");
    if (!home || !*home) return "";
    return std::string(home) + "/.norvsql_history";
}

bool history_keeps(std::string_view e) {
    if (e.find_first_not_of(" \t\r\n") == std::string_view::npos) return false;
    return !contains_word_any_case(e, "IDENTIFIED") && !contains_word_any_case(e, "PASSWORD");
}

bool terminal_editing() {
    static const bool on = [] {
        if (!led_wanted() || !led_start(history_path_from_environment(), history_max_entries))
            return false;
        led_set_completer(complete_console_word);
        return true;
    }();
    return on;
}

int read_terminal_line(char* line_buff, const char* prompt) {
    std::memset(line_buff, 0, line_buff_size);
    std::string line;
    if (!queued.empty()) {
        line = std::move(queued.front());
        queued.pop_front();
    } else {
        int n = led_read_line(prompt, line);
        if (n == led_interrupted) return terminal_interrupted;
        if (n == led_eof) return -1;
        // The lines of a recalled entry come one by one, each as typed.
        size_t nl = line.find('\n');
        for (size_t at = nl; at != std::string::npos;) {
            size_t next = line.find('\n', at + 1);
            queued.push_back(line.substr(at + 1, next == std::string::npos ? next : next - at - 1));
            at = next;
        }
        if (nl != std::string::npos) line.resize(nl);
    }
    if (line.size() >= size_t(line_buff_size)) return line_buff_size;
    std::memcpy(line_buff, line.data(), line.size());
    return int(line.size());
}

void terminal_line_taken(std::string_view line, bool ends) {
    if (line.find_first_not_of(" \t") != std::string_view::npos) {
        if (!entry.empty()) entry += '\n';
        entry += line;
    }
    if (!ends) return;
    if (history_keeps(entry)) led_remember(entry);
    entry.clear();
}

void terminal_statement_dropped() {
    entry.clear();
    queued.clear();
}
