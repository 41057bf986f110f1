// The two fixed word lists that decide how a statement is treated by its first word, and the
// recognition of CREATE headers that open block statements. Pure functions over text.
#pragma once

#include <string>
#include <string_view>

#include "text/scan.h"

inline constexpr int multiline_keyword_count = 20;
inline constexpr int unsupported_keyword_count = 11;

extern const char* const multiline_keywords[multiline_keyword_count];
extern const char* const unsupported_keywords[unsupported_keyword_count];

// True when word equals one of the refused statement words, ignoring case (whole word).
bool is_unsupported_keyword(std::string_view word);

// The index of word in the multi-line table (ignoring case), or -1.
int multiline_keyword_index(std::string_view word);

// Recognition of the words after CREATE, carried across lines.
struct create_header {
    enum stage_t { after_create, after_or, after_replace } stage = after_create;
    bool resumed = false;  // the words come from a line after the one that ended the header
};

enum class header_outcome {
    block,      // CREATE [OR REPLACE] PROCEDURE and the like: ends only with "/"
    ordinary,   // an ordinary statement: completes at a line ending in ';'
    need_more,  // the line ended before the next needed word
    dropped,    // refused: message says why
};

// Reads the words of text (one line, or the rest of the first line after CREATE) into the
// recognition. on_first_line: the words stand on the statement's first line. first_word: the
// statement's first word as typed, for the messages. On dropped, message receives the text to
// print, its line end included where it has one.
header_outcome create_header_scan(create_header& h, std::string_view text, bool on_first_line,
                                  std::string_view first_word, std::string& message);
