// What has arrived on a connection, looked at without waiting, for a receiving thread that must
// tell "nothing has come" from "something is on its way" (the bulk load's reply reader, before
// the end marker goes out).
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <mutex>

#include "platform/sockets.h"
#include "protocol/conn.h"
#include "protocol/db_wire.h"

namespace {

// On a TLS channel shared by two threads a look waits this long at most: the sending thread may
// have read records into the TLS object meanwhile, which the socket no longer shows.
inline constexpr int tls_look_ms = 50;

// One receive that does not wait: the count received, 0 when nothing has arrived, -1 when the
// peer closed or the receive failed.
int receive_now(db_conn* c, unsigned char* buf, int cap) {
    int r;
    if (c->tls_handle) {
        // Only with the duplex set-up: its socket does not block.
        if (!c->duplex_lock) return -1;
        std::lock_guard guard(*c->duplex_lock);
        ERR_clear_error();
        r = SSL_read(c->tls_handle, buf, cap);
        if (r <= 0) {
            int err = SSL_get_error(c->tls_handle, r);
            return err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE ? 0 : -1;
        }
    } else {
        long got = plat_socket_recv_now(c->sock, buf, static_cast<size_t>(cap));
        if (got == plat_sock_would_wait) return 0;
        if (got <= 0) return -1;
        r = static_cast<int>(got);
    }
    if (c->recv_ks) keystream_apply(c->recv_ks.get(), buf, size_t(r));
    return r;
}

}  // namespace

int db_recv_arrived(db_conn* c) {
    int ahead = c->recv_len - c->recv_pos;
    if (ahead > 0) return ahead;
    if (c->sock == closed_socket) return -1;
    int r = receive_now(c, c->recv_ahead, recv_ahead_size);
    c->recv_pos = 0;
    c->recv_len = r > 0 ? r : 0;
    return r;
}

void db_recv_wait(db_conn* c, const plat_waker* waker) {
    if (c->sock == closed_socket) return;
    plat_wait_socket_or_waker(c->sock, waker, c->tls_handle ? tls_look_ms : -1);
}
