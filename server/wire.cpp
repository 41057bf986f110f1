// The slow paths of norvlite's framing: refilling the read-ahead buffer and delivering the reply
// buffer. The inline fast paths in server/wire.h cover every small value.
#include "server/wire.h"

#include <algorithm>

namespace {

// A block at least this large skips the buffer once what is queued has gone.
inline constexpr size_t direct_send_min = srv_out_buff_size / 4;

bool deliver(srv_writer& w, const char* data, size_t n) {
    if (w.failed) return false;
    if (n == 0) return true;
    if (w.capture) {
        w.capture->append(data, n);
    } else if (!w.ch || !srv_send_all(*w.ch, data, n, w.deadline)) {
        w.failed = true;
    }
    return !w.failed;
}

}  // namespace

srv_recv_status srv_read_exact(srv_reader& r, void* dst, size_t n, srv_deadline deadline) {
    char* out = static_cast<char*>(dst);
    while (n > 0) {
        if (r.pos == r.end && n >= srv_in_buff_size) {
            // A large read (a load's batch body) goes straight into dst: one copy less, and
            // receives as large as what is still wanted. Never more than n, so no byte of the
            // next message is taken.
            long got = srv_recv_some(*r.ch, out, n, deadline);
            if (got == 0) return srv_recv_status::closed;
            if (got < 0) return srv_recv_status::failed;
            out += got;
            n -= static_cast<size_t>(got);
            continue;
        }
        if (r.pos == r.end) {
            r.pos = r.end = 0;
            long got = srv_recv_some(*r.ch, r.buf.get(), srv_in_buff_size, deadline);
            if (got == 0) return srv_recv_status::closed;
            if (got < 0) return srv_recv_status::failed;
            r.end = static_cast<size_t>(got);
        }
        size_t take = std::min(n, r.end - r.pos);
        std::memcpy(out, r.buf.get() + r.pos, take);
        r.pos += take;
        out += take;
        n -= take;
    }
    return srv_recv_status::ok;
}

bool srv_flush(srv_writer& w) {
    bool ok = deliver(w, w.buf.get(), w.used);
    w.used = 0;
    return ok;
}

void srv_put_slow(srv_writer& w, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    if (!srv_flush(w)) return;
    if (n >= direct_send_min) {
        deliver(w, p, n);
        return;
    }
    std::memcpy(w.buf.get(), p, n);  // n < direct_send_min fits the emptied buffer
    w.used = n;
}
