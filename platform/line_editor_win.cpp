// The Windows half of the line editor: the console host's own line mode edits the lines there
// (read_console_line reads them with ReadConsoleW), so the editor is never wanted.
#include "platform/line_editor.h"

bool led_wanted() {
    return false;
}

bool led_start(const std::string&, int) {
    return false;
}

int led_read_line(const char*, std::string& line) {
    line.clear();
    return led_eof;
}

void led_remember(std::string_view) {}

void led_set_completer(led_completer) {}
