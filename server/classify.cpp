// Sorts a statement text by one table of the statements norvlite answers itself (read in order,
// longer word sequences first), then by the first SQL keyword for the transaction rules.
#include "server/classify.h"
#include "server/text.h"

#include <charconv>

namespace {

enum class arg_form {
    name,             // the rest of the text as a setting name
    on_off,           // [to|=] on|off
    value,            // [to|=] 'quoted' or bare text
    number,           // [to|=] a decimal int32
    quoted,           // exactly one quoted text
    optional_quoted,  // nothing, or one quoted text
    usage,            // no valid form: always bad_command
    cursor_declare,   // NAME cursor for QUERY
    cursor_name,      // NAME
    cursor_fetch,     // [N from] NAME
    whole_statement,  // anything: the handler reads the whole text
};

struct command {
    std::string_view words;  // lower case, single blanks
    srv_stmt_kind kind;
    arg_form form;
    char letter;
};

constexpr command commands[] = {
    {"show", srv_stmt_kind::show, arg_form::name, 0},
    {"set auto commit", srv_stmt_kind::set_auto_commit, arg_form::on_off, 0},
    {"set auto_commit", srv_stmt_kind::set_auto_commit, arg_form::on_off, 0},
    {"set client_encoding", srv_stmt_kind::set_client_encoding, arg_form::value, 0},
    {"set time zone", srv_stmt_kind::set_time_zone, arg_form::value, 0},
    {"set transaction isolation level", srv_stmt_kind::set_isolation, arg_form::value, 0},
    {"set transaction isolation", srv_stmt_kind::set_isolation, arg_form::value, 0},
    {"set lock_timeout", srv_stmt_kind::set_lock_timeout, arg_form::number, 0},
    {"set session authorization", srv_stmt_kind::set_session_authorization, arg_form::value, 0},
    {"set debug_pipe", srv_stmt_kind::set_debug_pipe, arg_form::on_off, 0},
    {"use", srv_stmt_kind::use_database, arg_form::value, 0},
    {"norvlite notice", srv_stmt_kind::norvlite_message, arg_form::quoted, 'M'},
    {"norvlite warning", srv_stmt_kind::norvlite_message, arg_form::quoted, 'W'},
    {"norvlite error", srv_stmt_kind::norvlite_message, arg_form::quoted, 'E'},
    {"norvlite fatal", srv_stmt_kind::norvlite_message, arg_form::quoted, 'F'},
    {"norvlite output", srv_stmt_kind::norvlite_output, arg_form::optional_quoted, 0},
    {"norvlite", srv_stmt_kind::bad_command, arg_form::usage, 0},
    {"declare", srv_stmt_kind::declare_cursor, arg_form::cursor_declare, 0},
    {"open", srv_stmt_kind::open_cursor, arg_form::cursor_name, 0},
    {"fetch", srv_stmt_kind::fetch_cursor, arg_form::cursor_fetch, 0},
    {"close", srv_stmt_kind::close_cursor, arg_form::cursor_name, 0},
    {"load", srv_stmt_kind::load_stream, arg_form::whole_statement, 0},
};

constexpr std::string_view norvlite_usage =
    "norvlite statements: norvlite notice|warning|error|fatal 'text', norvlite output ['text']";
constexpr std::string_view fetch_usage =
    "usage: fetch N from NAME, N from 1 to 2147483647; or fetch NAME";
constexpr size_t first_word_max = 32;

// The text without surrounding blanks and trailing semicolons.
std::string_view statement_body(std::string_view t) {
    t = srv_trim(t);
    while (!t.empty() && t.back() == ';')
        t = srv_trim(t.substr(0, t.size() - 1));
    return t;
}

// Takes word (lower case) from the front of t, case-insensitively, when a whole word matches;
// what is left is trimmed.
bool take_word(std::string_view& t, std::string_view word) {
    if (!srv_take_word(t, word)) return false;
    t = srv_trim(t);
    return true;
}

// Takes the words of a command ("set time zone") from the front of t; what is left is trimmed.
bool take_words(std::string_view& t, std::string_view words) {
    if (!srv_take_words(t, words)) return false;
    t = srv_trim(t);
    return true;
}

// A whole quoted literal '...' with '' standing for one quote.
bool quoted_literal(std::string_view t, std::string& out) {
    if (t.size() < 2 || t.front() != '\'') return false;
    out.clear();
    for (size_t i = 1; i < t.size(); ++i) {
        if (t[i] != '\'') {
            out += t[i];
        } else if (i + 1 < t.size() && t[i + 1] == '\'') {
            out += '\'';
            ++i;
        } else {
            return i + 1 == t.size();
        }
    }
    return false;
}

// A cursor name from the front of t: a letter or '_', then letters, digits and '_'.
bool take_cursor_name(std::string_view& t, std::string& out) {
    size_t n = 0;
    while (n < t.size() && srv_word_char(t[n]))
        ++n;
    if (n == 0 || n > srv_cursor_name_max || (t[0] >= '0' && t[0] <= '9')) return false;
    if (n < t.size() && !srv_blank(t[n])) return false;
    out.assign(t.substr(0, n));
    t = srv_trim(t.substr(n));
    return true;
}

// A row count of 1 to INT32_MAX from the front of t.
bool take_row_count(std::string_view& t, int64_t& out) {
    int32_t n = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    const size_t used = static_cast<size_t>(end - t.data());
    if (ec != std::errc() || n < 1 || (used < t.size() && !srv_blank(t[used]))) return false;
    out = n;
    t = srv_trim(t.substr(used));
    return true;
}

void drop_to(std::string_view& t) {
    if (!take_word(t, "to") && !t.empty() && t.front() == '=') t = srv_trim(t.substr(1));
}

srv_stmt_class bad(std::string reason) {
    srv_stmt_class c;
    c.kind = srv_stmt_kind::bad_command;
    c.arg = std::move(reason);
    return c;
}

srv_stmt_class read_argument(const command& cmd, std::string_view body, std::string_view rest) {
    srv_stmt_class c;
    c.kind = cmd.kind;
    c.letter = cmd.letter;
    const std::string words(cmd.words);
    switch (cmd.form) {
        case arg_form::name:
            for (char ch : rest) {
                if (!srv_blank(ch)) {
                    c.arg += srv_lower(ch);
                } else if (!c.arg.empty() && c.arg.back() != '_') {
                    c.arg += '_';
                }
            }
            if (c.arg.empty()) return bad("show needs a name");
            return c;
        case arg_form::on_off: {
            drop_to(rest);
            std::string_view on = rest, off = rest;
            if (take_word(on, "on") && on.empty()) {
                c.flag = true;
            } else if (!(take_word(off, "off") && off.empty())) {
                return bad(words + " needs on or off");
            }
            return c;
        }
        case arg_form::value:
            drop_to(rest);
            if (!rest.empty() && rest.front() == '\'') {
                if (!quoted_literal(rest, c.arg)) return bad(words + ": unclosed quote");
            } else {
                c.arg = rest;
            }
            if (c.arg.empty()) return bad(words + " needs a value");
            return c;
        case arg_form::number: {
            drop_to(rest);
            int32_t n = 0;
            auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
            if (rest.empty() || ec != std::errc() || end != rest.data() + rest.size()) {
                return bad(words + " needs a whole number");
            }
            c.number = n;
            return c;
        }
        case arg_form::quoted:
            if (!quoted_literal(rest, c.arg)) return bad(words + " needs one quoted text");
            return c;
        case arg_form::optional_quoted:
            c.flag = !rest.empty();
            if (c.flag && !quoted_literal(rest, c.arg)) {
                return bad(words + " takes nothing or one quoted text");
            }
            return c;
        case arg_form::usage:
            return bad(std::string(norvlite_usage));
        case arg_form::cursor_declare:
            if (!take_cursor_name(rest, c.arg) || !take_words(rest, "cursor for") || rest.empty()) {
                return bad("usage: declare NAME cursor for QUERY");
            }
            c.query = rest;
            return c;
        case arg_form::cursor_name:
            if (!take_cursor_name(rest, c.arg) || !rest.empty()) {
                return bad("usage: " + words + " NAME");
            }
            return c;
        case arg_form::cursor_fetch:
            c.number = 1;
            if (!rest.empty() && rest.front() >= '0' && rest.front() <= '9' &&
                !(take_row_count(rest, c.number) && take_word(rest, "from"))) {
                return bad(std::string(fetch_usage));
            }
            if (!take_cursor_name(rest, c.arg) || !rest.empty()) {
                return bad(std::string(fetch_usage));
            }
            return c;
        case arg_form::whole_statement:
            c.query = body;
            return c;
    }
    return c;
}

// The kind of an ordinary SQL text, for the transaction rules.
srv_stmt_kind sql_kind(std::string_view body) {
    std::string first = srv_first_word(body);
    std::string_view rest = srv_skip_trivia(body);
    take_word(rest, first);
    auto only_noise = [&] {
        return rest.empty() ||
               ((take_word(rest, "transaction") || take_word(rest, "work")) && rest.empty());
    };
    if (first == "begin") return srv_stmt_kind::begin;
    if (first == "commit" || first == "end") {
        return only_noise() ? srv_stmt_kind::commit : srv_stmt_kind::sql;
    }
    if (first == "rollback") return only_noise() ? srv_stmt_kind::rollback : srv_stmt_kind::sql;
    if (first == "create" || first == "alter" || first == "drop") return srv_stmt_kind::ddl;
    if (first == "vacuum" || first == "attach" || first == "detach") {
        return srv_stmt_kind::no_transaction;
    }
    return srv_stmt_kind::sql;
}

}  // namespace

srv_stmt_class srv_classify(std::string_view text) {
    std::string_view body = statement_body(text);
    for (const command& cmd : commands) {
        std::string_view rest = body;
        if (take_words(rest, cmd.words)) return read_argument(cmd, body, rest);
    }
    srv_stmt_class c;
    c.kind = sql_kind(body);
    return c;
}

std::string_view srv_skip_trivia(std::string_view t) {
    for (;;) {
        while (!t.empty() && (srv_blank(t.front()) || t.front() == ';'))
            t.remove_prefix(1);
        if (t.starts_with("--")) {
            size_t nl = t.find('\n');
            t = nl == std::string_view::npos ? std::string_view() : t.substr(nl + 1);
        } else if (t.starts_with("/*")) {
            size_t close = t.find("*/", 2);
            t = close == std::string_view::npos ? std::string_view() : t.substr(close + 2);
        } else {
            return t;
        }
    }
}

std::string srv_first_word(std::string_view text) {
    std::string_view t = srv_skip_trivia(text);
    std::string word;
    for (size_t i = 0; i < t.size() && srv_word_char(t[i]) && word.size() < first_word_max; ++i)
        word += srv_lower(t[i]);
    return word;
}
