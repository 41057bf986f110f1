// The quote-aware scan of statement text and the case-insensitive word comparison, shared by the
// statement loop, the script files, the file markers and the loader's key words.
#include "text/scan.h"

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

}  // namespace

size_t find_unquoted(std::string_view text, std::string_view marker) {
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\'')
            quoted = !quoted;
        else if (!quoted && text.compare(i, marker.size(), marker) == 0)
            return i;
    }
    return std::string_view::npos;
}

size_t after_last_unquoted(std::string_view text, char c) {
    bool quoted = false;
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\'')
            quoted = !quoted;
        else if (text[i] == c && !quoted)
            last = i + 1;
    }
    return last;
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (lower(text[i]) != lower(prefix[i])) return false;
    return true;
}

bool same_word(std::string_view a, std::string_view b) {
    return a.size() == b.size() && starts_with_nocase(a, b);
}
