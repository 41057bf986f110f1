// Reads the statement message from the read-ahead buffer. A length is checked before anything is
// read on its account, and large payloads are read in slices so that a client announcing a
// gigabyte and sending nothing costs no gigabyte of memory.
#include "server/statement_message.h"

#include <algorithm>

namespace {

// Payloads grow by at most this much before the bytes behind it have arrived.
inline constexpr size_t payload_slice = size_t{1} << 20;

struct message_reader {
    srv_reader& r;
    srv_deadline deadline;
    std::string& why;

    bool bytes(void* dst, size_t n, const char* what) {
        srv_recv_status st = srv_read_exact(r, dst, n, deadline);
        if (st == srv_recv_status::ok) return true;
        why = std::string("message cut short in ") + what +
              (st == srv_recv_status::closed ? " (peer closed)" : " (time-out or receive error)");
        return false;
    }

    bool i32(int32_t& v, const char* what) {
        unsigned char b[4];
        if (!bytes(b, sizeof b, what)) return false;
        v = static_cast<int32_t>(srv_get_be(b, 4));
        return true;
    }

    bool i16(int16_t& v, const char* what) {
        unsigned char b[2];
        if (!bytes(b, sizeof b, what)) return false;
        v = static_cast<int16_t>(srv_get_be(b, 2));
        return true;
    }

    // Replaces out with n bytes, growing it slice by slice as they arrive.
    bool payload(std::string& out, size_t n, const char* what) {
        out.clear();
        while (out.size() < n) {
            size_t take = std::min(payload_slice, n - out.size());
            size_t at = out.size();
            out.resize(at + take);
            if (!bytes(out.data() + at, take, what)) return false;
        }
        return true;
    }
};

bool bad(std::string& why, std::string text) {
    why = std::move(text);
    return false;
}

bool read_body(message_reader& m, srv_statement& out, const srv_message_limits& limits) {
    std::string& why = m.why;
    int32_t n = 0;
    if (!m.i32(n, "the text length")) return false;
    if (n < 0 || static_cast<size_t>(n) > limits.max_text) {
        return bad(why, "text length " + std::to_string(n) + " outside 0.." +
                            std::to_string(limits.max_text));
    }
    if (!m.payload(out.text, static_cast<size_t>(n), "the text")) return false;
    char zero = 1;
    if (!m.bytes(&zero, 1, "the text's zero byte")) return false;
    if (zero != 0) return bad(why, "no zero byte after the text");

    int32_t count = 0;
    if (!m.i32(count, "the parameter count")) return false;
    if (count < 0 || count > limits.max_params) {
        return bad(why, "parameter count " + std::to_string(count) + " outside 0.." +
                            std::to_string(limits.max_params));
    }
    out.params.resize(static_cast<size_t>(count));
    size_t total = 0;
    for (int i = 0; i < count; ++i) {
        int16_t zero_field = -1, one_field = -1, type = -1;
        int32_t len = -1;
        if (!m.i16(zero_field, "a parameter header") || !m.i16(one_field, "a parameter header") ||
            !m.i16(type, "a parameter header") || !m.i32(len, "a parameter length")) {
            return false;
        }
        const std::string which = "parameter " + std::to_string(i + 1);
        if (zero_field != 0 || one_field != 1) {
            return bad(why, which + " header is not 0, 1");
        }
        if (type != srv_param_type_text && type != srv_param_type_bytes) {
            return bad(why, which + " has type " + std::to_string(type) + ", not 32 or 34");
        }
        if (len < 0 || static_cast<size_t>(len) > limits.max_param) {
            return bad(why, which + " length " + std::to_string(len) + " outside 0.." +
                                std::to_string(limits.max_param));
        }
        total += static_cast<size_t>(len);
        if (total > limits.max_params_total) {
            return bad(why, "parameters exceed " + std::to_string(limits.max_params_total) +
                                " bytes in all");
        }
        out.params[i].type = type;
        if (!m.payload(out.params[i].bytes, static_cast<size_t>(len), "a parameter")) return false;
    }
    return true;
}

}  // namespace

srv_message_status srv_read_statement(srv_reader& r, srv_statement& out,
                                      const srv_message_limits& limits, srv_deadline idle_deadline,
                                      std::chrono::milliseconds message_time, std::string& why) {
    out.text.clear();
    out.params.clear();
    char letter = 0;
    switch (srv_read_exact(r, &letter, 1, idle_deadline)) {
        case srv_recv_status::ok:
            break;
        case srv_recv_status::closed:
            return srv_message_status::closed;
        case srv_recv_status::failed:
            return srv_message_status::idle;
    }
    if (letter != srv_statement_letter) {
        why = "unknown message letter 0x" + std::string(1, "0123456789abcdef"[(letter >> 4) & 15]) +
              std::string(1, "0123456789abcdef"[letter & 15]);
        return srv_message_status::malformed;
    }
    message_reader m{r, std::chrono::steady_clock::now() + message_time, why};
    return read_body(m, out, limits) ? srv_message_status::ok : srv_message_status::malformed;
}
