// Reading and writing a connection's bytes: one receive and one send function that dispatch on
// the channel mode. The clear side is a non-blocking socket waited on with poll, so every wait
// honours a deadline and ends when the listener shuts the socket down.
#include "server/channel.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>

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

}  // namespace

long srv_recv_some(srv_channel& ch, void* buf, size_t n, srv_deadline deadline) {
    switch (ch.mode) {
        case srv_channel_mode::clear:
            return clear_recv(ch.fd, buf, n, deadline);
        case srv_channel_mode::tls:
            return srv_tls_recv(ch.tls, buf, n, deadline);
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
    }
    return false;
}

void srv_channel_end(srv_channel& ch) {
    if (ch.tls) srv_tls_close(ch.tls);
    ch.tls = nullptr;
    ch.mode = srv_channel_mode::clear;
}
