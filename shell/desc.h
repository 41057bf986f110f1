// DESC and IMP: commands that check a table name (and for IMP a data file) on the console before
// anything reaches the server.
#pragma once

#include <string>
#include <string_view>

#include "shell/commands.h"

// What the console makes of the text after DESC.
struct desc_parse_result {
    bool empty = false;        // nothing after DESC: the line goes to the server as it stands
    std::string message;       // the message of a name that is refused (empty when accepted)
    bool both_quoted = false;  // schema and table both in double quotes
    int last_part_len = 0;     // length of the table name as typed, without quotes
};

// Checks the text after the four letters of DESC ([schema.]table, each part plain or quoted,
// trailing ';' allowed).
desc_parse_result desc_parse(std::string_view after_desc);

command_result command_desc(command_line& cl);
command_result command_imp(command_line& cl);
