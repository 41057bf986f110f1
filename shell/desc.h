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

// DESC [schema.]table: a name that desc_parse refuses is answered with its message and nothing
// is sent; a good one becomes "select * from NAME limit 0", whose result is shown as a table
// description. A line with nothing after DESC returns command_result::statement (it goes to the
// server as it stands); otherwise command_result::done. Console thread only.
command_result command_desc(command_line& cl);
// IMP table datafile: checks that the data file can be opened and that the server knows the
// table (a count in sys_tables), then loads the file with the loader's command
// (run_load_command). Each failed check prints its message and loads nothing; a lost reply
// reconnects. Returns command_result::done. Console thread only.
command_result command_imp(command_line& cl);
