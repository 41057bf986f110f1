// Statement assembly, one line at a time: the multi-line and block rules, the CREATE header
// recognition across lines, the PREPARE parameter check, the limit of the statement buffer and
// the dispatch of a first line to the client commands. The statement loop carries out the steps.
#include "shell/statement_assembly.h"

#include <algorithm>
#include <cstring>

namespace {

using buffer = std::span<char, sql_buff_size>;

assembly_step waiting(statement_assembly& a, assembly_step step) {
    ++a.stmt_lines;
    step.action = assembly_action::wait;
    step.continuation = a.stmt_lines + 1;
    return step;
}

// A step that ends the statement; a message given here is the one to print.
assembly_step ending(assembly_step step, assembly_action action, std::string message = {}) {
    step.action = action;
    if (!message.empty()) step.message = std::move(message);
    return step;
}

bool ends_with_semicolon(std::string_view line, const line_counts& lc) {
    return lc.trimmed > 0 && line[size_t(lc.trimmed - 1)] == ';';
}

// "/" alone (or followed by a blank or tab) runs the statement buffer; "/x" is a statement.
bool is_run_line(std::string_view line, const line_counts& lc) {
    std::string_view p = line.substr(size_t(lc.lead));
    return !p.empty() && p[0] == '/' && (p.size() == 1 || p[1] == ' ' || p[1] == '\t');
}

// The buffer's text up to its zero byte.
std::string_view buffer_text(buffer b) {
    return std::string_view(b.data(), strnlen(b.data(), b.size()));
}

// Starts the statement buffer with the line and a newline.
void start_buffer(statement_assembly& a, buffer b, std::string_view line) {
    std::memcpy(b.data(), line.data(), line.size());
    b[line.size()] = '\n';
    b[line.size() + 1] = '\0';
    a.totallastlen = int(line.size()) + 1;
}

void append_line(statement_assembly& a, buffer b, std::string_view line) {
    char* at = b.data() + a.totallastlen;
    std::memcpy(at, line.data(), line.size());
    at[line.size()] = '\n';
    at[line.size() + 1] = '\0';
    a.totallastlen += int(line.size()) + 1;
}

// A ':' outside quotes in a PREPARE is a parameter the console cannot supply: the statement is
// refused.
bool prepare_has_parameters(const statement_assembly& a, buffer b) {
    return same_word(a.keyword, "PREPARE") &&
           find_unquoted(buffer_text(b), ":") != std::string_view::npos;
}

const char prepare_refused[] = "控制台暂时不支持带参数的prepare语句\n";

// Feeds words to the CREATE header recognition and keeps what it found in the record; on
// dropped, message receives what to print.
header_outcome scan_header(statement_assembly& a, std::string_view words, bool on_first_line,
                           std::string& message) {
    header_outcome out = create_header_scan(a.header, words, on_first_line, a.keyword, message);
    a.header_pending = out == header_outcome::need_more;
    if (out == header_outcome::block) a.state = 1;
    return out;
}

// A line of a refused statement: dropped, so that the statement's tail never runs as statements
// of its own. The line that would have ended the statement ends the refused one with it: a "/"
// line, and outside a block also a line ending in ';' or a blank line (which drops a statement).
assembly_step drop_refused_line(statement_assembly& a, std::string_view line, assembly_step step) {
    const line_counts& lc = step.counts;
    bool ends = is_run_line(line, lc);
    if (a.state == 0) ends = ends || lc.lead == lc.raw || ends_with_semicolon(line, lc);
    return ends ? ending(std::move(step), assembly_action::drop) : waiting(a, std::move(step));
}

assembly_step continuation_line(statement_assembly& a, buffer b, std::string_view line,
                                assembly_step step) {
    if (a.totallastlen + int(line.size()) + 1 > max_statement_len) {
        // A statement that outgrows the buffer is refused whole; nothing past the buffer is
        // written, and the buffer is emptied: it holds only the statement's head, which "/"
        // must not run.
        a.refused = true;
        b[0] = '\0';
        step.message = "Statement too long: at most " + std::to_string(max_statement_len) +
                       " bytes; it was not run.\r\n";
        return drop_refused_line(a, line, std::move(step));
    }
    append_line(a, b, line);
    if (a.header_pending && a.state == 0) {
        std::string message;
        if (scan_header(a, line, false, message) == header_outcome::dropped)
            return ending(std::move(step), assembly_action::drop, std::move(message));
    }
    if (prepare_has_parameters(a, b))
        return ending(std::move(step), assembly_action::drop, prepare_refused);
    if (ends_with_semicolon(line, step.counts) && a.state == 0)
        return ending(std::move(step), assembly_action::run);
    return waiting(a, std::move(step));
}

// The completion test of a statement's first line: it waits for more lines or runs. A statement
// that runs on its first line has the line alone in the buffer, without a line end.
assembly_step complete_first_line(statement_assembly& a, buffer b, std::string_view line,
                                  assembly_step step) {
    if (multiline_keyword_index(a.keyword) >= 0) {
        a.need_semicolon = true;
        a.state = 0;
    }
    if (a.need_semicolon && (!ends_with_semicolon(line, step.counts) || a.state == 1))
        return waiting(a, std::move(step));
    std::memcpy(b.data(), line.data(), line.size());
    b[line.size()] = '\0';
    if (prepare_has_parameters(a, b))
        return ending(std::move(step), assembly_action::drop, prepare_refused);
    return ending(std::move(step), assembly_action::run);
}

assembly_step ordinary_first_line(statement_assembly& a, buffer b, std::string_view line,
                                  assembly_step step) {
    start_buffer(a, b, line);
    step.spool = buffer_text(b);
    return complete_first_line(a, b, line, std::move(step));
}

assembly_step command_step(assembly_step step, const client_command* cmd, size_t word_len) {
    step.action = assembly_action::command;
    step.command = cmd;
    step.word_len = int(word_len);
    return step;
}

// A statement's first line, by its first non-blank character and then by its first word, in the
// dispatch order of the client commands.
assembly_step first_line(statement_assembly& a, buffer b, std::string_view line,
                         assembly_step step) {
    std::string_view start = line.substr(size_t(step.counts.lead));
    if (start.starts_with('@')) return ending(std::move(step), assembly_action::drop);
    if (const client_command* sign = find_sign_command(start))
        return command_step(std::move(step), sign, 1);

    size_t word_len = std::min(start.find_first_of(" \t;"), start.size());
    if (word_len >= size_t(keyword_size))
        return ending(std::move(step), assembly_action::drop, "ERROR：不支持的功能\\r\n");
    std::memcpy(a.keyword, start.data(), word_len);
    a.keyword[word_len] = '\0';
    step.keyword_taken = true;
    std::string_view keyword = start.substr(0, word_len);

    if (same_word(keyword, "DECLARE") || same_word(keyword, "BEGIN")) {
        start_buffer(a, b, line);
        a.state = 1;
        return waiting(a, std::move(step));
    }
    if (const client_command* cmd = find_client_command(keyword))
        return command_step(std::move(step), cmd, word_len);
    if (same_word(keyword, "CREATE")) {
        a.need_semicolon = true;
        start_buffer(a, b, line);
        std::string message;
        switch (scan_header(a, start.substr(word_len), true, message)) {
            case header_outcome::block:
                return waiting(a, std::move(step));
            case header_outcome::dropped:
                return ending(std::move(step), assembly_action::drop, std::move(message));
            default:
                return complete_first_line(a, b, line, std::move(step));
        }
    }
    if (is_unsupported_keyword(keyword))
        return ending(std::move(step), assembly_action::drop, "不支持此功能\n");
    return ordinary_first_line(a, b, line, std::move(step));
}

}  // namespace

line_counts count_line(std::string_view line) {
    int raw = int(line.size());
    line_counts lc{raw, raw, 0};
    while (lc.trimmed > 0 &&
           (line[size_t(lc.trimmed - 1)] == ' ' || line[size_t(lc.trimmed - 1)] == '\t'))
        --lc.trimmed;
    while (lc.lead < raw && (line[size_t(lc.lead)] == ' ' || line[size_t(lc.lead)] == '\t'))
        ++lc.lead;
    return lc;
}

assembly_step step_line(statement_assembly& a, buffer b, std::string_view line) {
    assembly_step step;
    step.counts = count_line(line);
    step.begins = a.stmt_lines == 0 && !a.refused;
    const line_counts& lc = step.counts;
    if (a.refused) return drop_refused_line(a, line, std::move(step));
    if (lc.lead == lc.raw && a.state == 0) return ending(std::move(step), assembly_action::drop);
    if (is_run_line(line, lc)) {
        if (a.stmt_lines != 0 || b[0] != '\0') return ending(std::move(step), assembly_action::run);
        return ending(std::move(step), assembly_action::drop, "nothing in the buffer\r\n");
    }
    if (a.stmt_lines != 0) return continuation_line(a, b, line, std::move(step));
    return first_line(a, b, line, std::move(step));
}

assembly_step step_as_statement(statement_assembly& a, buffer b, std::string_view line,
                                const line_counts& counts) {
    assembly_step step;
    step.begins = true;
    step.counts = counts;
    return ordinary_first_line(a, b, line, std::move(step));
}

command_line command_line_for(char* line, const assembly_step& step) {
    const line_counts& lc = step.counts;
    char* start = line + lc.lead;
    return command_line{line,
                        lc.raw,
                        lc.trimmed,
                        lc.lead,
                        std::string_view(start, size_t(step.word_len)),
                        start + step.word_len};
}
