// Transport of the protocol client: socket set-up, the gathering sender, the exact-count
// receivers over a read-ahead buffer, and the error escape that ends a failed exchange.
// Login (login.cpp) and the statement messages are built from these primitives.
#include <algorithm>
#include <cstring>

#include "platform/sockets.h"
#include "platform/system.h"
#include "protocol/conn.h"
#include "protocol/db_wire.h"

namespace {

// Waits until the socket has bytes. On the console thread a signal that ends the console (a
// Ctrl+C, SIGTERM or SIGHUP while the server holds its reply) ends it here, with what was
// printed flushed; the other threads wait for the socket alone.
// At a terminal a Ctrl+C abandons the wait instead: the exchange fails (and the connection
// closes with it).
void wait_readable(int sock) {
    while (plat_wait_fd(sock, plat_wait_in, -1) == plat_woken) {
        if (plat_take_cancel()) db_fail();
        plat_end_on_signal();
    }
}

// A send or receive failed: a signal that interrupted it ends the console; anything else is
// the exchange's error escape.
[[noreturn]] void io_failed() {
    if (!plat_take_cancel()) plat_end_on_signal();
    db_fail();
}

// One receive of at most cap bytes into buf; returns the count (0 or less on close or failure).
// On an own-cipher channel the bytes are deciphered here, once, in the order they arrived.
int receive(db_conn* c, void* buf, int cap) {
    int r;
    if (c->tls_handle && c->duplex_lock) {
        r = tls_read_shared(c->tls_handle, *c->duplex_lock, c->sock, buf, cap);
    } else if (c->tls_handle) {
        r = tls_read(c->tls_handle, buf, cap);
    } else {
        long got;
        for (;;) {
            wait_readable(c->sock);
            got = plat_socket_recv(c->sock, buf, static_cast<size_t>(cap));
            if (got != plat_sock_interrupted) break;
            plat_end_on_signal();
        }
        r = static_cast<int>(got);
    }
    if (r > 0 && c->recv_ks)
        keystream_apply(c->recv_ks.get(), static_cast<unsigned char*>(buf), size_t(r));
    return r;
}

// One receive into buf: at least one byte, or the error escape.
int recv_once(db_conn* c, void* buf, int cap) {
    int r = receive(c, buf, cap);
    if (r <= 0) io_failed();
    return r;
}

// Sends the whole block: on TLS one SSL_write, otherwise socket sends until all is out (a short
// send on a blocking socket happens only on a signal; dropping the rest would corrupt the stream).
bool send_block(db_conn* c, const unsigned char* p, int n) {
    if (n <= 0) return true;
    if (c->tls_handle && c->duplex_lock)
        return tls_write_shared(c->tls_handle, *c->duplex_lock, c->sock, p, n) >= 1;
    if (c->tls_handle) return tls_write(c->tls_handle, p, n) >= 1;
    while (n > 0) {
        long w = plat_socket_send(c->sock, p, static_cast<size_t>(n));
        if (w == plat_sock_interrupted) {
            plat_end_on_signal();
            continue;
        }
        if (w < 1) return false;
        p += w;
        n -= static_cast<int>(w);
    }
    return true;
}

// A direct send on an own-cipher channel goes out as enciphered copies: the caller's bytes are
// never altered.
bool send_enciphered(db_conn* c, const unsigned char* p, int n) {
    if (!c->cipher_scratch) c->cipher_scratch.reset(new unsigned char[cipher_scratch_size]);
    while (n > 0) {
        int chunk = n < cipher_scratch_size ? n : cipher_scratch_size;
        keystream_apply_copy(c->send_ks.get(), c->cipher_scratch.get(), p, size_t(chunk));
        if (!send_block(c, c->cipher_scratch.get(), chunk)) return false;
        p += chunk;
        n -= chunk;
    }
    return true;
}

// Copies n bytes into the send buffer at its end, enciphered on an own-cipher channel.
void copy_into_buffer(db_conn* c, const unsigned char* src, int n) {
    unsigned char* dst = c->send_buff + c->send_len;
    if (c->send_ks)
        keystream_apply_copy(c->send_ks.get(), dst, src, size_t(n));
    else
        std::memcpy(dst, src, static_cast<size_t>(n));
    c->send_len += n;
}

void send_queued(db_conn* c) {
    int n = c->send_len;
    c->send_len = 0;
    if (!send_block(c, c->send_buff, n)) io_failed();
}

}  // namespace

void db_fail() {
    throw db_exchange_failed{};
}

int db_open_socket(const char* host, uint16_t port, uint32_t* addr_out) {
    return plat_socket_connect(host, port, addr_out);
}

void db_close_socket(db_conn* c) {
    // What was read ahead belongs to the reply that failed: a later statement on this
    // connection must find the socket closed, not the rest of that reply.
    c->recv_pos = 0;
    c->recv_len = 0;
    if (c->tls_handle) {
        tls_free(c->tls_handle);
        c->tls_handle = nullptr;
    }
    if (c->sock != closed_socket) {
        plat_socket_close(c->sock);
        c->sock = closed_socket;
    }
}

int db_disconnect(db_conn* conn) {
    if (conn) {
        db_close_socket(conn);
        delete conn;
    }
    return 0;
}

int db_conn_secure(const db_conn* conn) {
    return conn ? conn->secure : 0;
}

uint64_t db_conn_serial(const db_conn* conn) {
    return conn ? conn->serial : 0;
}

int db_idle_check(db_conn* c) {
    if (!c || c->sock == closed_socket) return db_idle_closed;
    if (c->recv_pos < c->recv_len) return db_idle_stray;
    if (c->tls_handle) return tls_idle_check(c->tls_handle, c->sock);
    // One byte peeked without waiting: it stays where it is, and the connection goes anyway.
    int r = plat_socket_peek_now(c->sock);
    if (r > 0) return db_idle_stray;
    if (r == 0) return db_idle_clean;
    return db_idle_closed;
}

void put_bytes(db_conn* c, const void* data, int n) {
    auto* src = static_cast<const unsigned char*>(data);
    if (n > send_direct_over) {
        send_queued(c);
        bool sent = c->send_ks ? send_enciphered(c, src, n) : send_block(c, src, n);
        if (!sent) io_failed();
        return;
    }
    if (c->send_len + n >= send_buff_size) send_queued(c);
    copy_into_buffer(c, src, n);
}

void put_int32(db_conn* c, int32_t v) {
    unsigned char be[4];
    db_store_be32(be, static_cast<uint32_t>(v));
    put_bytes(c, be, 4);
}

void put_int16(db_conn* c, int16_t v) {
    const auto u = static_cast<uint16_t>(v);
    const unsigned char be[2] = {static_cast<unsigned char>(u >> 8), static_cast<unsigned char>(u)};
    put_bytes(c, be, 2);
}

void db_put_int32(db_conn* conn, int32_t v) {
    put_int32(conn, v);
}

int db_put_bytes(db_conn* conn, const void* data, int n) {
    put_bytes(conn, data, n);
    return n;
}

db_conn* db_flush(db_conn* conn) {
    int n = conn->send_len;
    conn->send_len = 0;
    send_block(conn, conn->send_buff, n);
    return conn;
}

int db_recv_exact(db_conn* c, void* buf, int n) {
    auto* dst = static_cast<unsigned char*>(buf);
    int want = n;
    while (want > 0) {
        int avail = c->recv_len - c->recv_pos;
        if (avail > 0) {
            int take = std::min(avail, want);
            std::memcpy(dst, c->recv_ahead + c->recv_pos, static_cast<size_t>(take));
            c->recv_pos += take;
            dst += take;
            want -= take;
        } else if (want >= recv_direct_from) {
            int got = recv_once(c, dst, want);
            dst += got;
            want -= got;
        } else {
            c->recv_len = recv_once(c, c->recv_ahead, recv_ahead_size);
            c->recv_pos = 0;
        }
    }
    return n;
}

int get_byte_slow(db_conn* c) {
    unsigned char b;
    db_recv_exact(c, &b, 1);
    return b;
}

int32_t get_int32(db_conn* c) {
    unsigned char be[4];
    if (c->recv_len - c->recv_pos >= 4) {
        std::memcpy(be, c->recv_ahead + c->recv_pos, 4);
        c->recv_pos += 4;
    } else {
        db_recv_exact(c, be, 4);
    }
    return static_cast<int32_t>(db_load_be32(be));
}

int db_recv_raw(db_conn* c, void* buf, int size) {
    if (size <= 0) return 0;
    int avail = c->recv_len - c->recv_pos;
    if (avail > 0) {
        int take = std::min(avail, size);
        std::memcpy(buf, c->recv_ahead + c->recv_pos, static_cast<size_t>(take));
        c->recv_pos += take;
        return take;
    }
    return receive(c, buf, size);
}

void db_send_plain(db_conn* c, const void* data, int n) {
    auto* p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        long w = plat_socket_send(c->sock, p, static_cast<size_t>(n));
        if (w == plat_sock_interrupted) {
            plat_end_on_signal();
            continue;
        }
        if (w < 1) db_fail();
        p += w;
        n -= static_cast<int>(w);
    }
}

void db_recv_plain(db_conn* c, void* buf, int n) {
    auto* p = static_cast<unsigned char*>(buf);
    while (n > 0) {
        wait_readable(c->sock);
        long r = plat_socket_recv(c->sock, p, static_cast<size_t>(n));
        if (r == plat_sock_interrupted) {
            plat_end_on_signal();
            continue;
        }
        if (r <= 0) db_fail();
        p += r;
        n -= static_cast<int>(r);
    }
}

void db_duplex_begin(db_conn* c) {
    if (!c->tls_handle || c->duplex_lock) return;
    c->duplex_lock = std::make_unique<std::mutex>();
    plat_socket_set_nonblocking(c->sock, true);
}

void db_duplex_end(db_conn* c) {
    if (!c->duplex_lock) return;
    plat_socket_set_nonblocking(c->sock, false);
    c->duplex_lock.reset();
}

void db_abort_exchange(db_conn*) {
    db_fail();
}

void db_shutdown(db_conn* c) {
    if (c->sock != closed_socket) plat_socket_shutdown(c->sock);
}

bool db_run_exchange_fn(db_conn* conn, void (*fn)(void*), void* ctx) {
    (void)conn;
    try {
        fn(ctx);
        return true;
    } catch (const db_exchange_failed&) {
        return false;
    }
}
