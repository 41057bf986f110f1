// Statement text as the console scans it for its own markers (file markers, EXECBEGIN and
// EXECEND, the ';' that ends a piece of a script, the ':' of a PREPARE), and the case-insensitive
// comparison of words. A single quote opens or closes a literal, so a doubled quote inside one
// ('it''s') closes and reopens it and stays inside; a quote left open runs to the end of the
// text. Nothing inside a literal is a marker. Pure functions over the text, any thread.
#pragma once

#include <cstddef>
#include <string_view>

// The position of the first occurrence of marker that starts outside single-quoted text, or npos.
// REQUIRES: marker is not empty and holds no single quote.
size_t find_unquoted(std::string_view text, std::string_view marker);

// The position just after the last c outside single-quoted text, or npos.
// REQUIRES: c is not a single quote.
size_t after_last_unquoted(std::string_view text, char c);

// Whether a and b are the same word: the same length and the same characters, ASCII letters in
// either case.
bool same_word(std::string_view a, std::string_view b);

// Whether text begins with prefix, ASCII letters in either case.
bool starts_with_nocase(std::string_view text, std::string_view prefix);
