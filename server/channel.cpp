// Reading and writing a connection's bytes: one receive and one send function that dispatch on
// the channel mode. The clear side is a non-blocking socket waited on with poll, so every wait
// honours a deadline and ends when the listener shuts the socket down. The own cipher is the
// clear side with each span of bytes run through its direction's keystream in wire order.
#include "server/channel.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "server/own_cipher_key.h"
#include "server/tls.h"

bool srv_wait_socket(int fd, short events, srv_deadline deadline) {
    for (;;) {
        int timeout_ms = -1;
        if (deadline != srv_no_deadline) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            timeout_ms = left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
        }
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, timeout_ms);
        if (r > 0) return true;  // POLLHUP and POLLERR too: the next call reports them
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

namespace {

long clear_recv(int fd, void* buf, size_t n, srv_deadline deadline) {
    for (;;) {
        ssize_t r = recv(fd, buf, n, 0);
        if (r >= 0) return r;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (!srv_wait_socket(fd, POLLIN, deadline)) return -1;
    }
}

bool clear_send(int fd, const char* p, size_t n, srv_deadline deadline) {
    while (n > 0) {
        ssize_t r = send(fd, p, n, MSG_NOSIGNAL);
        if (r > 0) {
            p += r;
            n -= static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!srv_wait_socket(fd, POLLOUT, deadline)) return false;
            continue;
        }
        return false;
    }
    return true;
}

// Deciphers what arrived in place: the buffer is the receiver's own, and each byte passes the
// keystream exactly once, as it comes off the socket.
long cipher_recv(srv_channel& ch, void* buf, size_t n, srv_deadline deadline) {
    long got = clear_recv(ch.fd, buf, n, deadline);
    if (got > 0) {
        keystream_apply(&ch.cipher->recv, static_cast<unsigned char*>(buf),
                        static_cast<size_t>(got));
    }
    return got;
}

// Enciphers into the channel's own buffer a span at a time and sends each span whole, so the
// keystream position stays the wire position and buf is left as it is.
bool cipher_send(srv_channel& ch, const unsigned char* p, size_t n, srv_deadline deadline) {
    srv_cipher& c = *ch.cipher;
    while (n > 0) {
        size_t span = std::min(n, srv_cipher_out_size);
        keystream_apply_copy(&c.send, c.out.get(), p, span);
        if (!clear_send(ch.fd, reinterpret_cast<const char*>(c.out.get()), span, deadline)) {
            return false;
        }
        p += span;
        n -= span;
    }
    return true;
}

}  // namespace

long srv_recv_some(srv_channel& ch, void* buf, size_t n, srv_deadline deadline) {
    switch (ch.mode) {
        case srv_channel_mode::clear:
            return clear_recv(ch.fd, buf, n, deadline);
        case srv_channel_mode::tls:
            return srv_tls_recv(ch.tls, buf, n, deadline);
        case srv_channel_mode::own_cipher:
            return cipher_recv(ch, buf, n, deadline);
    }
    return -1;
}

bool srv_recv_exact(srv_channel& ch, void* buf, size_t n, srv_deadline deadline) {
    char* p = static_cast<char*>(buf);
    while (n > 0) {
        long r = srv_recv_some(ch, p, n, deadline);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool srv_send_all(srv_channel& ch, const void* buf, size_t n, srv_deadline deadline) {
    switch (ch.mode) {
        case srv_channel_mode::clear:
            return clear_send(ch.fd, static_cast<const char*>(buf), n, deadline);
        case srv_channel_mode::tls:
            return srv_tls_send(ch.tls, buf, n, deadline);
        case srv_channel_mode::own_cipher:
            return cipher_send(ch, static_cast<const unsigned char*>(buf), n, deadline);
    }
    return false;
}

void srv_channel_start_own_cipher(srv_channel& ch, const unsigned char key[srv_cipher_key_size]) {
    auto c = std::make_unique<srv_cipher>();
    keystream_init(&c->recv, key, static_cast<int>(srv_cipher_key_size));
    keystream_init(&c->send, key, static_cast<int>(srv_cipher_key_size));
    ch.cipher = std::move(c);
    ch.mode = srv_channel_mode::own_cipher;
}

void srv_channel_end(srv_channel& ch) {
    if (ch.tls) srv_tls_close(ch.tls);
    ch.tls = nullptr;
    if (ch.cipher) {
        srv_wipe(&ch.cipher->recv, sizeof ch.cipher->recv);
        srv_wipe(&ch.cipher->send, sizeof ch.cipher->send);
        ch.cipher.reset();
    }
    ch.mode = srv_channel_mode::clear;
}
