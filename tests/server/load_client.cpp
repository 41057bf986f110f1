// Loads driven by hand over a clear socket: the bytes are built here with be32, and the replies
// are read while the data is still being sent, so a server that stops reading while it writes
// (or the other way round) shows up as a failed test instead of a hang.
#include "tests/server/load_client.h"

#include <thread>

#include "tests/server/statement_client.h"
#include "tests/support/wire_bytes.h"

namespace {

uint32_t get_be32(std::string_view b) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[0])) << 24 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[1])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[2])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[3]));
}

bool read_exact(const test_socket& s, size_t n, int timeout_ms, std::string& out) {
    out = recv_upto(s, n, timeout_ms);
    return out.size() == n;
}

// One message text: int32 n and n bytes.
bool read_text(const test_socket& s, int timeout_ms, std::string& text) {
    std::string len;
    if (!read_exact(s, 4, timeout_ms, len)) return false;
    const uint32_t n = get_be32(len);
    if (n > (1u << 24)) return false;
    return read_exact(s, n, timeout_ms, text);
}

}  // namespace

std::string load_statement_text(std::string_view table, char separator, int mode) {
    const char* head = mode == 0   ? "LOAD TABLE "
                       : mode == 1 ? "LOAD APPEND TABLE "
                                   : "LOAD REPLACE TABLE ";
    const char* blanks = mode == 0 ? "         " : mode == 1 ? "  " : " ";
    return std::string(head) + std::string(table) + blanks +
           "FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY '" + separator +
           "'  PARALLEL 1,1 ;";
}

std::string load_record(std::string_view bytes) {
    return be32(static_cast<uint32_t>(bytes.size())) + std::string(bytes);
}

std::string load_batch(const std::vector<std::string>& records) {
    std::string body;
    for (const std::string& r : records)
        body += load_record(r);
    return be32(static_cast<uint32_t>(records.size())) + be32(static_cast<uint32_t>(body.size())) +
           body;
}

std::string load_end() {
    return be32(0);
}

size_t statement_reply_length(std::string_view b) {
    size_t at = 0;
    uint32_t columns = 0;
    auto fits = [&](size_t n) { return n <= b.size() - at; };
    auto skip_text = [&] {
        if (!fits(4) || !fits(4 + size_t{get_be32(b.substr(at))})) return false;
        at += 4 + get_be32(b.substr(at));
        return true;
    };
    while (at < b.size()) {
        const char letter = b[at++];
        switch (letter) {
            case 'K':
                return at;
            case 'A':
                if (!fits(4)) return 0;
                columns = get_be32(b.substr(at));
                at += 4;
                for (uint32_t i = 0; i < columns; ++i) {
                    if (!skip_text() || !fits(12)) return 0;
                    at += 12;
                }
                break;
            case 'R':
                for (uint32_t i = 0; i < columns; ++i)
                    if (!skip_text()) return 0;
                break;
            case 'I':
                if (!fits(12)) return 0;
                at += 12;
                break;
            case 'U':
            case 'D':
                if (!fits(4)) return 0;
                at += 4;
                break;
            case 'O':
                if (!fits(4)) return 0;
                at += 4;
                if (!skip_text()) return 0;
                break;
            default:  // 'E', 'W', 'M', 'F': a text
                if (!skip_text()) return 0;
                break;
        }
    }
    return 0;
}

std::string ask_statement(const test_socket& s, std::string_view sql, int timeout_ms) {
    if (!send_bytes(s, statement_message(sql))) return "";
    std::string got;
    while (statement_reply_length(got) == 0) {
        std::string more = recv_upto(s, 1, timeout_ms);
        if (more.empty()) return "";
        got += more + recv_upto(s, 65536, 0);  // the client waits for each reply: no overread
    }
    return got;
}

size_t parse_load_replies(std::string_view bytes, std::vector<load_reply>& out, bool& ended) {
    size_t at = 0;
    ended = false;
    while (at < bytes.size() && !ended) {
        const char letter = bytes[at];
        if (letter == 'K') {
            ended = true;
            ++at;
            break;
        }
        if (bytes.size() - at < 5) break;
        const uint32_t n = get_be32(bytes.substr(at + 1));
        if (bytes.size() - at - 5 < n) break;
        out.push_back({letter, std::string(bytes.substr(at + 5, n))});
        at += 5 + n;
    }
    return at;
}

load_outcome run_clear_load(const test_socket& s, std::string_view statement_text,
                            std::string_view data, int timeout_ms) {
    load_outcome o;
    if (!send_bytes(s, statement_message(statement_text))) {
        o.why = "statement not sent";
        return o;
    }
    std::string got;
    if (!read_exact(s, 1, timeout_ms, got)) {
        o.why = "no answer to the statement";
        return o;
    }
    if (got == "E") {
        if (!read_text(s, timeout_ms, o.refusal) || !read_exact(s, 1, timeout_ms, got)) {
            o.why = "refusal cut short";
            return o;
        }
        o.after_refusal = got[0];
        return o;
    }
    if (got != "K") {
        o.why = "answer '" + got + "' to the statement";
        return o;
    }
    if (!send_bytes(s, be32(0) + be32(0)) || !read_exact(s, 8, timeout_ms, got) ||
        got != std::string(8, '\0')) {
        o.why = "int64 exchange failed";
        return o;
    }
    o.accepted = true;
    bool sent = false;
    std::thread sender([&] { sent = send_bytes(s, data); });
    for (;;) {
        if (!read_exact(s, 1, timeout_ms, got)) {
            o.why = "replies cut short";
            break;
        }
        if (got == "K") {
            o.ended = true;
            break;
        }
        std::string text;
        if ((got != "W" && got != "E") || !read_text(s, timeout_ms, text)) {
            o.why = "bad reply letter '" + got + "'";
            break;
        }
        o.replies.push_back({got[0], text});
    }
    sender.join();
    if (!sent && o.why.empty()) o.why = "data not sent";
    return o;
}
