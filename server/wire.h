// norvlite's side of the message framing: a read-ahead reader and a 64 KiB reply writer over a
// connection's channel. Integers travel big-endian; a text is an int32 length and its bytes.
// Replies are gathered in the writer and leave in large sends, never one per value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "server/channel.h"

inline constexpr size_t srv_in_buff_size = 65536;
inline constexpr size_t srv_out_buff_size = 65536;

enum class srv_recv_status {
    ok,
    closed,  // the peer closed (or the socket was shut down) before the bytes were complete
    failed,  // a receive error, or the deadline passed first
};

// Read-ahead over a channel: bytes come in receives of up to srv_in_buff_size and are served
// from the buffer, so a message costs no system call per field.
struct srv_reader {
    srv_channel* ch = nullptr;  // not owned
    std::unique_ptr<char[]> buf{new char[srv_in_buff_size]};
    size_t pos = 0;  // next byte to serve
    size_t end = 0;  // bytes held
};

// Fills dst with exactly n bytes, waiting until the deadline. What the buffer holds is served
// first; once it is empty, a remainder of srv_in_buff_size or more is received straight into
// dst. On closed or failed, an unknown part of dst has been written. Connection thread.
srv_recv_status srv_read_exact(srv_reader& r, void* dst, size_t n, srv_deadline deadline);

// The reply buffer of one connection. Bytes go to the channel, or (in tests) to a string.
// After a failed delivery the writer is failed: everything written later is dropped, and the
// statement being answered should stop early.
struct srv_writer {
    srv_channel* ch = nullptr;                // delivery target, not owned; or
    std::string* capture = nullptr;           // test target: bytes are appended here
    srv_deadline deadline = srv_no_deadline;  // bounds each send; the owner moves it
    std::unique_ptr<char[]> buf{new char[srv_out_buff_size]};
    size_t used = 0;      // bytes waiting in buf
    bool failed = false;  // set by a failed delivery; stays set
};

// Delivers what is buffered. Returns false when the writer is (or becomes) failed.
bool srv_flush(srv_writer& w);

// Appends n bytes; a large block is delivered directly after what is buffered.
void srv_put_slow(srv_writer& w, const void* data, size_t n);

inline void srv_put(srv_writer& w, const void* data, size_t n) {
    if (n <= srv_out_buff_size - w.used) {
        std::memcpy(w.buf.get() + w.used, data, n);
        w.used += n;
        return;
    }
    srv_put_slow(w, data, n);
}

inline void srv_put_u8(srv_writer& w, uint8_t v) {
    srv_put(w, &v, 1);
}

// The n low bytes of v, most significant first (n <= 8).
inline void srv_put_be(srv_writer& w, uint64_t v, int n) {
    unsigned char b[8];
    for (int i = n - 1; i >= 0; --i) {
        b[i] = static_cast<unsigned char>(v);
        v >>= 8;
    }
    srv_put(w, b, static_cast<size_t>(n));
}

inline void srv_put_i32(srv_writer& w, int32_t v) {
    srv_put_be(w, static_cast<uint32_t>(v), 4);
}

// An int32 length and the bytes. REQUIRES: text.size() <= INT32_MAX.
inline void srv_put_text(srv_writer& w, std::string_view text) {
    srv_put_i32(w, static_cast<int32_t>(text.size()));
    if (!text.empty()) srv_put(w, text.data(), text.size());
}

// A one-letter message carrying a text: "W", "E", "F", "M".
inline void srv_put_message(srv_writer& w, char letter, std::string_view text) {
    srv_put_u8(w, static_cast<uint8_t>(letter));
    srv_put_text(w, text);
}

// One column descriptor of an "A" message.
inline void srv_put_column(srv_writer& w, std::string_view name, int32_t type, int32_t type_mod,
                           int32_t flags) {
    srv_put_text(w, name);
    srv_put_i32(w, type);
    srv_put_i32(w, type_mod);
    srv_put_i32(w, flags);
}

// Reads a big-endian integer of n bytes (n <= 8) as signed.
inline int64_t srv_get_be(const unsigned char* p, int n) {
    uint64_t v = (p[0] & 0x80) ? ~uint64_t{0} : 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return static_cast<int64_t>(v);
}
