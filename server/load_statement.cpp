// Reads the load statement word by word from the front of the text. The console writes the
// table name and the separator literal as the operator typed them, so those two are read with
// care and refused with a reason; the clauses after the separator only need to be recognised.
#include "server/load_statement.h"

#include <algorithm>
#include <charconv>

#include "server/text.h"

namespace {

void skip_blanks(std::string_view& t) {
    while (!t.empty() && srv_blank(t.front()))
        t.remove_prefix(1);
}

// One part of a table name: "quoted" ("" for a quote), `quoted` (`` for a backquote),
// [quoted], or bare up to a blank, '.' or ';'.
bool take_name_part(std::string_view& t, std::string& out) {
    out.clear();
    if (t.empty()) return false;
    if (srv_name_close(t.front())) return srv_take_quoted_name(t, out) && !out.empty();
    size_t n = 0;
    while (n < t.size() && !srv_blank(t[n]) && t[n] != '.' && t[n] != ';' && t[n] != '"' &&
           t[n] != '`' && t[n] != '[')
        ++n;
    out.assign(t.substr(0, n));
    t.remove_prefix(n);
    return n > 0;
}

bool take_table(std::string_view& t, srv_load_statement& out) {
    skip_blanks(t);
    const std::string_view start = t;
    std::string first;
    if (!take_name_part(t, first)) return false;
    if (!t.empty() && t.front() == '.') {
        t.remove_prefix(1);
        out.schema = std::move(first);
        if (!take_name_part(t, out.table)) return false;
    } else {
        out.table = std::move(first);
    }
    if (!t.empty() && !srv_blank(t.front())) return false;
    out.table_text.assign(start.substr(0, start.size() - t.size()));
    return true;
}

// A signed decimal int32 from the front of t.
bool take_int(std::string_view& t, int32_t& out) {
    skip_blanks(t);
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
    if (ec != std::errc() || end == t.data()) return false;
    t.remove_prefix(static_cast<size_t>(end - t.data()));
    return t.empty() || !srv_word_char(t.front());
}

// The separator literal: a quote, one byte, a quote (''' gives a quote, as the console takes
// the byte after the opening quote), followed by a blank, ';' or the end.
bool take_separator(std::string_view& t, char& out, std::string& why) {
    skip_blanks(t);
    if (t.size() >= 3 && t[0] == '\'' && t[2] == '\'' &&
        (t.size() == 3 || srv_blank(t[3]) || t[3] == ';')) {
        out = t[1];
        t.remove_prefix(3);
        return true;
    }
    size_t n = 0;
    while (n < t.size() && !srv_blank(t[n]))
        ++n;
    why = "a load separator is one character between quotes, not " +
          (n == 0 ? std::string("nothing") : std::string(t.substr(0, std::min<size_t>(n, 40))));
    return false;
}

// The optional clauses after the separator, each at most once, in any order.
bool take_clauses(std::string_view t, srv_load_statement& out, std::string& why) {
    bool reindex = false, use_mode = false, parallel = false;
    for (;;) {
        skip_blanks(t);
        while (!t.empty() && t.front() == ';') {
            t.remove_prefix(1);
            skip_blanks(t);
        }
        if (t.empty()) return true;
        const std::string_view at = t;
        bool ok = false;
        if (!reindex && srv_take_words(t, "with reindex")) {
            ok = reindex = out.reindex = true;
        } else if (!use_mode && srv_take_words(t, "use mode")) {
            ok = use_mode = take_int(t, out.use_mode);
        } else if (!parallel && srv_take_word(t, "parallel")) {
            ok = parallel = take_int(t, out.parallel_insert) &&
                            (skip_blanks(t), t.starts_with(',')) &&
                            (t.remove_prefix(1), take_int(t, out.parallel_parse));
        }
        if (!ok) {
            why = "unexpected text in a load statement: " + std::string(at.substr(0, 40));
            return false;
        }
    }
}

}  // namespace

bool srv_is_load_statement(std::string_view text) {
    std::string_view t = text;
    return srv_take_word(t, "load");
}

bool srv_parse_load_statement(std::string_view text, srv_load_statement& out, std::string& why) {
    out = srv_load_statement{};
    std::string_view t = text;
    constexpr std::string_view usage =
        "usage: LOAD [APPEND|REPLACE] TABLE name FROM STREAM RECORDS DELIMITED BY NEWLINE "
        "FIELDS TERMINATED BY 'c' [WITH REINDEX] [USE MODE n] [PARALLEL a,b]";
    if (!srv_take_word(t, "load")) {
        why = usage;
        return false;
    }
    if (srv_take_word(t, "append")) {
        out.mode = srv_load_mode::append;
    } else if (srv_take_word(t, "replace")) {
        out.mode = srv_load_mode::replace;
    }
    if (!srv_take_word(t, "table")) {
        why = usage;
        return false;
    }
    if (!take_table(t, out)) {
        why = "a load needs a table name, [schema.]name, before FROM STREAM";
        return false;
    }
    if (!srv_take_words(t, "from stream records delimited by newline fields terminated by")) {
        why = usage;
        return false;
    }
    return take_separator(t, out.separator, why) && take_clauses(t, out, why);
}
