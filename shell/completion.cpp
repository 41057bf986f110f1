// Tab completion at the prompt. Table names come from "select table_name from dba_tables", asked
// once per connection the first time a Tab needs them. That query leaves no trace: it goes
// straight to the connection (no replay list, no retry, no idle clock), and when it cannot be
// sent or gets no reply the Tab offers nothing and the next statement finds the connection as
// it would have.
#include "shell/completion.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <span>
#include <system_error>

#include "output/execute.h"
#include "protocol/db.h"
#include "shell/keywords.h"
#include "state/console_state.h"
#include "text/scan.h"

namespace {

namespace fs = std::filesystem;

const char* const first_words[] = {
    "EXIT",     "HELP",      "LOGIN",  "RECONNECT", "RECONN", "USE",    "SHOW",     "SET",
    "RESET",    "SPOOL",     "CLS",    "CLBUFF",    "EDIT",   "DESC",   "IMP",      "TABLDR",
    "EXECFILE", "EXECFILE2", "COMMIT", "ROLLBACK",  "GRANT",  "REVOKE", "TRUNCATE", "CALL"};

const char* const option_words[] = {"PAGESIZE",      "STR_SIZE",      "NUM_SIZE", "HEADING",
                                    "SHOW_TYPE",     "SPUT_HEAD",     "B_PAUSE",  "SHOW_TIME",
                                    "SHOW_USE_TIME", "ON_ERROR_STOP", "NULL",     "AUTO_COMMIT",
                                    "DATE_FORMAT"};

const char* const switch_words[] = {"HEADING",   "SHOW_TYPE",     "SPUT_HEAD",     "B_PAUSE",
                                    "SHOW_TIME", "SHOW_USE_TIME", "ON_ERROR_STOP", "AUTO_COMMIT"};

const char* const on_off[] = {"ON", "OFF"};
const char* const table_words[] = {"FROM", "JOIN", "INTO", "UPDATE", "TABLE", "DESC", "IMP"};
const char* const file_words[] = {"EXECFILE", "EXECFILE2", "SPOOL"};
const char* const file_markers[] = {"<%", "<#", "<$", ">#", ">%", ">$"};

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

bool starts_with_any_case(std::string_view text, std::string_view prefix) {
    return starts_with_nocase(text, prefix);
}

// Keywords in the case the user began typing: lower case when the word's first letter is.
std::string in_typed_case(std::string_view word, const char* choice) {
    std::string out = choice;
    if (!word.empty() && std::islower(static_cast<unsigned char>(word[0])))
        for (char& c : out)
            c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void add_words(std::string_view word, std::span<const char* const> words,
               std::vector<std::string>& choices) {
    for (const char* w : words)
        if (starts_with_any_case(w, word)) choices.push_back(in_typed_case(word, w));
}

// The table names of the connection, asked once per connection (known by its serial: a new
// connection may sit where the old one was).
struct table_cache {
    uint64_t conn = 0;
    bool asked = false;
    std::vector<std::string> names;
};
table_cache tables;

const std::vector<std::string>& table_names() {
    db_conn* conn = g_console.conn;
    if (tables.conn == db_conn_serial(conn) && tables.asked) return tables.names;
    tables = table_cache{db_conn_serial(conn), true, {}};
    // A connection the server has closed for idling, or one holding stray bytes, is left to the
    // next statement's own check.
    if (look_before_sending(conn) != follow_on::sent) return tables.names;
    db_result* r = db_execute(conn, "select table_name from dba_tables");
    if (!r) return tables.names;
    if (db_result_ok(r) == 1 && db_result_col_count(r) > 0) {
        while (db_row* row = db_result_next(r))
            tables.names.emplace_back(db_row_value(row, 0), size_t(db_row_value_len(row, 0)));
    }
    db_result_free(r);
    return tables.names;
}

void add_tables(std::string_view word, std::vector<std::string>& choices) {
    for (const std::string& t : table_names())
        if (starts_with_any_case(t, word)) choices.push_back(t);
}

// Files and folders whose names begin with word (a path; folders end with '/').
void add_files(std::string_view word, std::vector<std::string>& choices) {
    size_t slash = word.rfind('/');
    std::string folder =
        slash == std::string_view::npos ? "" : std::string(word.substr(0, slash + 1));
    std::string_view name = slash == std::string_view::npos ? word : word.substr(slash + 1);
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string entry = it->path().filename().string();
        if (!entry.starts_with(name) || (name.empty() && entry.starts_with('.'))) continue;
        bool dir = it->is_directory(ec);
        choices.push_back(folder + entry + (dir ? "/" : ""));
    }
    std::sort(choices.begin(), choices.end());
}

}  // namespace

void complete_console_word(std::string_view before, size_t& word_start,
                           std::vector<std::string>& choices) {
    size_t start = before.size();
    while (start > 0 && !is_blank(before[start - 1]))
        --start;
    std::string_view word = before.substr(start);
    word_start = start;
    // The words before the one being completed.
    std::vector<std::string_view> words;
    for (size_t at = 0; at < start;) {
        while (at < start && is_blank(before[at]))
            ++at;
        size_t end = at;
        while (end < start && !is_blank(before[end]))
            ++end;
        if (end > at) words.push_back(before.substr(at, end - at));
        at = end;
    }
    const bool statement_start = g_console.line_count == 0;
    std::string_view first = words.empty() ? std::string_view() : words[0];
    std::string_view previous = words.empty() ? std::string_view() : words.back();

    // A file named after a marker, after "datafile=", "log=" or "errlog=", or by a command.
    for (const char* m : file_markers) {
        if (previous == m) return add_files(word, choices);
        if (word.starts_with(m)) {
            word_start = start + 2;
            return add_files(word.substr(2), choices);
        }
    }
    for (std::string_view key : {"datafile=", "log=", "errlog="}) {
        if (starts_with_any_case(word, key)) {
            word_start = start + key.size();
            return add_files(word.substr(key.size()), choices);
        }
    }
    if (starts_with_any_case(word, "table=")) {
        word_start = start + 6;
        return add_tables(word.substr(6), choices);
    }
    if (statement_start && words.size() == 1) {
        for (const char* w : file_words)
            if (same_word(first, w)) return add_files(word, choices);
    }
    if (statement_start && words.size() == 2 && same_word(first, "IMP"))
        return add_files(word, choices);
    if (statement_start && words.empty()) {
        add_words(word, first_words, choices);
        add_words(word, multiline_keywords, choices);
        std::sort(choices.begin(), choices.end());
        choices.erase(std::unique(choices.begin(), choices.end()), choices.end());
        return;
    }
    if (statement_start && words.size() == 1 &&
        (same_word(first, "SET") || same_word(first, "SHOW") || same_word(first, "RESET"))) {
        add_words(word, option_words, choices);
        if (same_word(first, "SHOW") && starts_with_any_case("TABLES", word))
            choices.push_back(in_typed_case(word, "TABLES"));
        return;
    }
    if (statement_start && words.size() == 2 && same_word(first, "SET")) {
        for (const char* s : switch_words)
            if (same_word(words[1], s)) return add_words(word, on_off, choices);
        return;
    }
    for (const char* t : table_words)
        if (same_word(previous, t)) return add_tables(word, choices);
}
