// Shared by the fuzz targets of single commands: builds the command_line the statement loop
// would hand over for a line (in line_buff, cut as the line reader cuts it).
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "shell/commands.h"
#include "state/console_state.h"

// Puts text into line_buff as read_console_line would leave it (cut at a newline or a zero byte,
// at most line_buff_size - 1 characters) and describes it as the loop does: raw and trimmed
// length, leading blanks, the first word up to a blank, tab or ';' and the rest after it.
inline command_line command_line_of(std::string_view text) {
    size_t n = 0;
    while (n < text.size() && n < size_t(line_buff_size) - 1 && text[n] != '\n' && text[n] != '\0')
        ++n;
    char* line = g_console.line_buff;
    std::memcpy(line, text.data(), n);
    line[n] = '\0';
    int raw = int(n), trimmed = raw, lead = 0;
    while (trimmed > 0 && (line[trimmed - 1] == ' ' || line[trimmed - 1] == '\t'))
        --trimmed;
    while (lead < raw && (line[lead] == ' ' || line[lead] == '\t'))
        ++lead;
    char* start = line + lead;
    size_t word_len = std::strcspn(start, " \t;");
    return command_line{
        line, raw, trimmed, lead, std::string_view(start, word_len), start + word_len};
}
