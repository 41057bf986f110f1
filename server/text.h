// Small text helpers of norvlite's parsers: blanks, case, whole words and quoted names read from
// the front of a statement text.
#pragma once

#include <string>
#include <string_view>

inline bool srv_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

inline char srv_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// A letter, digit or '_': a character that goes on a word.
inline bool srv_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// t without blanks at either end.
inline std::string_view srv_trim(std::string_view t) {
    while (!t.empty() && srv_blank(t.front()))
        t.remove_prefix(1);
    while (!t.empty() && srv_blank(t.back()))
        t.remove_suffix(1);
    return t;
}

// Takes word (lower case) from the front of t, after any blanks, when a whole word matches in
// any case; what follows the word stays in t, blanks included. False, t untouched, otherwise.
inline bool srv_take_word(std::string_view& t, std::string_view word) {
    std::string_view s = t;
    while (!s.empty() && srv_blank(s.front()))
        s.remove_prefix(1);
    if (s.size() < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i) {
        if (srv_lower(s[i]) != word[i]) return false;
    }
    if (s.size() > word.size() && srv_word_char(s[word.size()])) return false;
    t = s.substr(word.size());
    return true;
}

// Takes a run of words ("from stream records", single blanks) from the front of t, each as
// srv_take_word does. False, t untouched, when one of them is not there.
inline bool srv_take_words(std::string_view& t, std::string_view words) {
    std::string_view s = t;
    while (!words.empty()) {
        size_t sp = words.find(' ');
        if (!srv_take_word(s, words.substr(0, sp))) return false;
        words = sp == std::string_view::npos ? std::string_view() : words.substr(sp + 1);
    }
    t = s;
    return true;
}

// The mark that closes a name opened by c: '"', '`' or ']' for '[', 0 when c opens none.
inline char srv_name_close(char c) {
    return c == '"' ? '"' : c == '`' ? '`' : c == '[' ? ']' : 0;
}

// Takes a quoted name, "..." ("" for a quote), `...` (`` for a backquote) or [...], from the
// front of t into out and returns true. False, with t untouched, when the name never closes.
// REQUIRES: t opens a name (srv_name_close(t.front()) != 0).
inline bool srv_take_quoted_name(std::string_view& t, std::string& out) {
    const char close = srv_name_close(t.front());
    out.clear();
    for (size_t i = 1; i < t.size(); ++i) {
        if (t[i] != close) {
            out += t[i];
        } else if (close != ']' && i + 1 < t.size() && t[i + 1] == close) {
            out += close;
            ++i;
        } else {
            t.remove_prefix(i + 1);
            return true;
        }
    }
    return false;
}
