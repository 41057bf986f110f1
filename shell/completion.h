// Tab completion of the statement line at a terminal: command words and SQL keywords at the
// start of a statement, option words after SET, SHOW and RESET, ON/OFF after a switch, table
// names where a table is named, and file names where a file is named.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The completer the line editor calls (led_completer): before is the line up to the cursor.
// Console thread only.
void complete_console_word(std::string_view before, size_t& word_start,
                           std::vector<std::string>& choices);
