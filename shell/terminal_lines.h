// Statement lines at a terminal: the line editor (platform/line_editor.h) with the console's
// history rules. A statement of several lines is one history entry; recalled, its lines are
// handed to the statement loop one by one, as if typed again.
#pragma once

#include <string>
#include <string_view>

// The history file: NORVSQL_HISTORY when set (empty: none), else ~/.norvsql_history.
std::string history_path_from_environment();

// Whether a history entry is kept: not blank, and no line that looks like a secret (any line
// holding IDENTIFIED or PASSWORD, in any case).
bool history_keeps(std::string_view entry);

inline constexpr int history_max_entries = 2000;

// Whether statement lines come from the line editor: standard input and output are terminals
// and the editor started. Decided at the first call.
bool terminal_editing();

inline constexpr int terminal_interrupted = -2;  // Ctrl+C: drop the statement being entered

// Reads the next statement line into line_buff (line_buff_size bytes, zero-filled first) like
// read_console_line: the rest of a recalled entry first (no prompt), else a line from the editor
// with prompt. Returns the characters stored (line_buff_size when the line was longer), -1 at
// the end of input (Ctrl+D on an empty line) or terminal_interrupted.
int read_terminal_line(char* line_buff, const char* prompt);

// The line just read belongs to the statement being entered; ends: the statement is over (run,
// dropped or a command), so its lines become one history entry.
void terminal_line_taken(std::string_view line, bool ends);

// The statement being entered was dropped without an entry (Ctrl+C, LOGIN): its lines and
// the rest of a recalled entry are forgotten.
void terminal_statement_dropped();
