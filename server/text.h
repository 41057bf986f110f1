// Small text helpers of norvlite's parsers.
#pragma once

#include <string_view>

inline bool srv_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

inline char srv_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// t without blanks at either end.
inline std::string_view srv_trim(std::string_view t) {
    while (!t.empty() && srv_blank(t.front())) t.remove_prefix(1);
    while (!t.empty() && srv_blank(t.back())) t.remove_suffix(1);
    return t;
}
