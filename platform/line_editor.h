// The line editor the console reads its statement lines with when standard input and standard
// output are both terminals: editing keys, history (kept in a file) and Tab completion. Here it
// is libedit; on Windows the console host's own line mode takes its place. Console thread only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// True when lines should come from the editor: standard input and output are terminals.
bool led_wanted();

// Starts the editor once (later calls do nothing): the history holds at most max_entries, the
// newest kept; with a history file (non-empty path) it is read now and written after every new
// entry, the file created with mode 0600. Returns false when the editor cannot run (the console
// then reads lines as from a pipe).
bool led_start(const std::string& history_path, int max_entries);

inline constexpr int led_eof = -1;          // Ctrl+D on an empty line, or the end of input
inline constexpr int led_interrupted = -2;  // Ctrl+C: the line typed so far is dropped

// Shows prompt (the console has printed and flushed what comes before it) and reads one line
// into line, without its line end. A history entry of several lines comes back whole, its lines
// joined by '\n'. Returns the length of line, led_eof or led_interrupted. A signal other than
// Ctrl+C ends the console as at any wait (plat_end_on_signal).
int led_read_line(const char* prompt, std::string& line);

// Adds an entry to the history (and to its file). The caller decides what is worth keeping.
void led_remember(std::string_view entry);

// What Tab completes: given the line up to the cursor, the completer sets word_start (where the
// word being completed begins in before) and fills choices with whole replacement words. A
// choice that ends in '/' (a folder) is not followed by a blank.
using led_completer = void (*)(std::string_view before, size_t& word_start,
                               std::vector<std::string>& choices);
void led_set_completer(led_completer completer);
