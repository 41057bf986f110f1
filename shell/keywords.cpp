// Keyword tables and the CREATE header recognition of the statement loop.
#include "shell/keywords.h"

const char* const multiline_keywords[multiline_keyword_count] = {
    "CREATE",  "ALTER",   "DROP",   "SELECT",  "UPDATE", "INSERT", "DELETE",
    "EXPLAIN", "VACUUM",  "BACKUP", "RESTORE", "EXPORT", "IMPORT", "BEGIN",
    "DECLARE", "EXECUTE", "EXEC",   "WITH",    "MERGE",  "PREPARE"};

const char* const unsupported_keywords[unsupported_keyword_count] = {
    "NOTIFY",  "LISTEN",     "UNLISTEN", "ABORT_TRANS", "LOAD", "LOGOUT",
    "ANALYZE", "DEALLOCATE", "COMMENT",  "RENAME",      "TRACE"};

namespace {

// Longest word the recognition takes after CREATE, and after OR or REPLACE.
inline constexpr size_t max_word_after_create = 20;
inline constexpr size_t max_word_after_or_replace = 19;

bool is_block_type(std::string_view w) {
    for (const char* t : {"PROCEDURE", "PACKAGE", "PROC", "TYPE", "FUNCTION", "TRIGGER"})
        if (same_word(w, t)) return true;
    return false;
}

}  // namespace

bool is_unsupported_keyword(std::string_view word) {
    for (const char* k : unsupported_keywords)
        if (same_word(word, k)) return true;
    return false;
}

int multiline_keyword_index(std::string_view word) {
    for (int i = 0; i < multiline_keyword_count; ++i)
        if (same_word(word, multiline_keywords[i])) return i;
    return -1;
}

header_outcome create_header_scan(create_header& h, std::string_view text, bool on_first_line,
                                  std::string_view first_word, std::string& message) {
    size_t at = 0;
    bool first_on_line = true;
    for (;;) {
        while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
            ++at;
        if (at == text.size()) {
            h.resumed = true;
            return header_outcome::need_more;
        }
        size_t end = at;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t')
            ++end;
        std::string_view word = text.substr(at, end - at);
        at = end;

        size_t limit = h.stage == create_header::after_create ? max_word_after_create
                                                              : max_word_after_or_replace;
        if (word.size() > limit) {
            bool own_line = h.stage == create_header::after_create && h.resumed && first_on_line;
            message = "create object type " + std::string(first_word) + " is unknown";
            if (own_line) message += "\r\n";
            return header_outcome::dropped;
        }
        switch (h.stage) {
            case create_header::after_create:
                if (is_block_type(word)) return header_outcome::block;
                if (!same_word(word, "OR")) return header_outcome::ordinary;
                h.stage = create_header::after_or;
                break;
            case create_header::after_or:
                if (!same_word(word, "REPLACE")) {
                    message =
                        first_on_line && h.resumed ? "unknown command" : "unknown command\r\n";
                    return header_outcome::dropped;
                }
                h.stage = create_header::after_replace;
                break;
            case create_header::after_replace:
                if (is_block_type(word) || (same_word(word, "FORCE") && on_first_line))
                    return header_outcome::block;
                if (same_word(word, "VIEW")) return header_outcome::ordinary;
                message = "replace type unknown\r\n";
                return header_outcome::dropped;
        }
        first_on_line = false;
    }
}
