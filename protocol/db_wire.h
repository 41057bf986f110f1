// Raw primitives of the transport for the parts that speak sub-protocols of their own on an
// open connection (the bulk loader, the debug monitor). Bytes pass through the channel's cipher
// exactly as statement messages do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct db_conn;
struct plat_waker;

// Big-endian integers, as every length and count travels on the wire.
inline uint32_t db_load_be32(const void* p) {
    auto* b = static_cast<const unsigned char*>(p);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}
inline void db_store_be32(void* p, uint32_t v) {
    auto* b = static_cast<unsigned char*>(p);
    b[0] = static_cast<unsigned char>(v >> 24);
    b[1] = static_cast<unsigned char>(v >> 16);
    b[2] = static_cast<unsigned char>(v >> 8);
    b[3] = static_cast<unsigned char>(v);
}

// Queues a big-endian int32 for sending, as db_put_bytes.
void db_put_int32(db_conn* conn, int32_t v);

// Queues n bytes for sending (large blocks go out at once). Returns n.
// A failed send ends the exchange (see db_run_exchange).
int db_put_bytes(db_conn* conn, const void* data, int n);

// Sends whatever is queued. A failed send is ignored here; the next receive notices it.
db_conn* db_flush(db_conn* conn);

// Reads exactly n bytes into buf. A short or failed receive ends the exchange. Returns n.
int db_recv_exact(db_conn* conn, void* buf, int n);

// One receive of at most size bytes (bytes already read ahead are served first).
// Returns the count received; 0 or less when the peer closed or the receive failed.
int db_recv_raw(db_conn* conn, void* buf, int size);

// Takes in what has arrived, without waiting: the count of bytes received and not yet read
// (0 when nothing has arrived), or -1 when the peer closed or the receive failed. On a TLS
// channel only between db_duplex_begin and db_duplex_end. The receiving thread only.
int db_recv_arrived(db_conn* conn);

// Waits until bytes may have arrived on the connection or the waker (null: none) was woken; on
// a TLS channel for a short while at most. Look again with db_recv_arrived. The receiving
// thread only.
void db_recv_wait(db_conn* conn, const plat_waker* waker);

// Prepares the connection for two threads at once: from now on one thread sends while another
// receives (the bulk load's reply reader). On a TLS channel the TLS object is then shared under
// a lock and the socket does not block. Call db_duplex_end when the second thread has ended.
void db_duplex_begin(db_conn* conn);
void db_duplex_end(db_conn* conn);

// Shuts the connection's socket down in both directions, so that a receive blocked on another
// thread returns. The connection is unusable afterwards. Any thread.
void db_shutdown(db_conn* conn);

// Closes the connection's socket (and drops its TLS object and whatever was read ahead); sends
// nothing. Later exchanges on it fail, so the console reconnects. One thread only.
void db_close_socket(db_conn* conn);

// Ends the exchange under way as failed: for a reply that cannot be right. Only inside
// db_run_exchange.
[[noreturn]] void db_abort_exchange(db_conn* conn);

// Runs body as one exchange: a failed send or receive inside it returns here with false.
// REQUIRES: body calls only the primitives above (and their statement-level callers).
bool db_run_exchange_fn(db_conn* conn, void (*fn)(void*), void* ctx);

template <class F>
bool db_run_exchange(db_conn* conn, F&& body) {
    using Body = std::remove_reference_t<F>;
    return db_run_exchange_fn(
        conn, [](void* p) { (*static_cast<Body*>(p))(); }, &body);
}
