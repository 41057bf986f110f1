// Stream sockets on POSIX (BSD sockets, signals interrupt the console thread's calls) and on
// Windows (Winsock 2.2, started before every connect; a waker is a connected socket pair, as
// only sockets can be waited for together).
#include "platform/sockets.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cerrno>

#include "platform/system.h"

namespace {

#ifdef _WIN32
using sock_t = SOCKET;
using socklen = int;
sock_t native(int s) {
    return static_cast<sock_t>(s);
}
bool would_wait() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
bool interrupted() {
    return false;
}
void close_native(sock_t s) {
    closesocket(s);
}
int poll_sockets(pollfd* p, unsigned n, int timeout_ms) {
    return WSAPoll(p, n, timeout_ms);
}
inline constexpr int send_flags = 0;
#else
using sock_t = int;
using socklen = socklen_t;
sock_t native(int s) {
    return s;
}
bool would_wait() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
bool interrupted() {
    return errno == EINTR;
}
void close_native(sock_t s) {
    ::close(s);
}
int poll_sockets(pollfd* p, unsigned n, int timeout_ms) {
    return ::poll(p, n, timeout_ms);
}
inline constexpr int send_flags = MSG_NOSIGNAL;
#endif

long result_of(long r) {
    if (r >= 0) return r;
    if (interrupted()) return plat_sock_interrupted;
    if (would_wait()) return plat_sock_would_wait;
    return plat_sock_failed;
}

sock_t new_stream_socket() {
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return INVALID_SOCKET;
    return WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
#else
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
}

bool valid(sock_t s) {
#ifdef _WIN32
    return s != INVALID_SOCKET;
#else
    return s >= 0;
#endif
}

}  // namespace

int plat_socket_connect(const char* host, uint16_t port, uint32_t* addr_out) {
    sock_t fd = new_stream_socket();
    if (!valid(fd)) return -1;
    int one = 1;
    const auto* opt = reinterpret_cast<const char*>(&one);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, opt, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, opt, sizeof one);
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, opt, sizeof one);

    uint32_t addr = inet_addr(host);
    if (addr == INADDR_NONE) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
            close_native(fd);
            return -1;
        }
        addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        freeaddrinfo(found);
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = addr;
    int r = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (r < 0 && interrupted()) {
        // The connect goes on in the background; a signal that ends the console ends it here.
        plat_end_on_signal();
        pollfd p{fd, POLLOUT, 0};
        while (poll_sockets(&p, 1, -1) < 0 && interrupted())
            plat_end_on_signal();
        int err = 0;
        socklen len = sizeof err;
        r = getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) == 0 &&
                    err == 0
                ? 0
                : -1;
    }
    if (r < 0) {
        close_native(fd);
        return -1;
    }
    if (addr_out) *addr_out = addr;
    return static_cast<int>(fd);
}

void plat_socket_close(int sock) {
    close_native(native(sock));
}

void plat_socket_shutdown(int sock) {
#ifdef _WIN32
    ::shutdown(native(sock), SD_BOTH);
#else
    ::shutdown(sock, SHUT_RDWR);
#endif
}

void plat_socket_shutdown_send(int sock) {
#ifdef _WIN32
    ::shutdown(native(sock), SD_SEND);
#else
    ::shutdown(sock, SHUT_WR);
#endif
}

int plat_socket_listen_loopback(uint16_t& port) {
    sock_t s = new_stream_socket();
    if (!valid(s)) return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen len = sizeof sa;
    if (::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        close_native(s);
        return -1;
    }
    port = ntohs(sa.sin_port);
    return static_cast<int>(s);
}

long plat_socket_send(int sock, const void* data, size_t n) {
    const int step = n < 0x40000000 ? int(n) : 0x40000000;
    return result_of(::send(native(sock), static_cast<const char*>(data), step, send_flags));
}

long plat_socket_recv(int sock, void* buf, size_t n) {
    const int step = n < 0x40000000 ? int(n) : 0x40000000;
    return result_of(::recv(native(sock), static_cast<char*>(buf), step, 0));
}

long plat_socket_recv_now(int sock, void* buf, size_t n) {
#ifdef _WIN32
    // No per-call flag here: a look at what is there first, then a receive that takes it.
    pollfd p{native(sock), POLLIN, 0};
    if (WSAPoll(&p, 1, 0) == 0) return plat_sock_would_wait;
    return plat_socket_recv(sock, buf, n);
#else
    long r;
    do {
        r = result_of(::recv(sock, buf, n, MSG_DONTWAIT));
    } while (r == plat_sock_interrupted);
    return r;
#endif
}

int plat_socket_peek_now(int sock) {
    char b;
#ifdef _WIN32
    pollfd p{native(sock), POLLIN, 0};
    int ready = WSAPoll(&p, 1, 0);
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    int r = ::recv(native(sock), &b, 1, MSG_PEEK);
    return r > 0 ? 1 : -1;
#else
    ssize_t r;
    do {
        r = ::recv(sock, &b, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (r < 0 && errno == EINTR);
    if (r > 0) return 1;
    if (r < 0 && would_wait()) return 0;
    return -1;
#endif
}

bool plat_socket_set_nonblocking(int sock, bool on) {
#ifdef _WIN32
    u_long mode = on ? 1 : 0;
    return ioctlsocket(native(sock), FIONBIO, &mode) == 0;
#else
    int flags = ::fcntl(sock, F_GETFL);
    if (flags < 0) return false;
    return ::fcntl(sock, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
#endif
}

bool plat_socket_pair(int& a, int& b) {
    a = b = -1;
#ifdef _WIN32
    // A listener on a loopback port of the system's choosing, connected to once.
    sock_t listener = new_stream_socket();
    if (!valid(listener)) return false;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen len = sizeof sa;
    sock_t one = INVALID_SOCKET, two = INVALID_SOCKET;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
        ::listen(listener, 1) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
        one = new_stream_socket();
        if (valid(one) && ::connect(one, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
            two = ::accept(listener, nullptr, nullptr);
    }
    closesocket(listener);
    if (!valid(two)) {
        if (valid(one)) closesocket(one);
        return false;
    }
    int nodelay = 1;
    setsockopt(one, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay), 4);
    setsockopt(two, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay), 4);
    a = static_cast<int>(one);
    b = static_cast<int>(two);
    return true;
#else
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
    a = sv[0];
    b = sv[1];
    return true;
#endif
}

int plat_socket_dup(int sock) {
#ifdef _WIN32
    WSAPROTOCOL_INFOW info{};
    if (WSADuplicateSocketW(native(sock), GetCurrentProcessId(), &info) != 0) return -1;
    sock_t s = WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0,
                          WSA_FLAG_NO_HANDLE_INHERIT);
    return valid(s) ? static_cast<int>(s) : -1;
#else
    return ::fcntl(sock, F_DUPFD_CLOEXEC, 0);
#endif
}

bool plat_waker_open(plat_waker& w) {
#ifdef _WIN32
    return plat_socket_pair(w.watch, w.wake);
#else
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return false;
    w.watch = p[0];
    w.wake = p[1];
    return true;
#endif
}

void plat_waker_close(plat_waker& w) {
#ifdef _WIN32
    if (w.watch >= 0) closesocket(native(w.watch));
    if (w.wake >= 0) closesocket(native(w.wake));
#else
    if (w.watch >= 0) ::close(w.watch);
    if (w.wake >= 0) ::close(w.wake);
#endif
    w.watch = w.wake = -1;
}

void plat_waker_wake(const plat_waker& w) {
    const char nudge = 1;
#ifdef _WIN32
    ::send(native(w.wake), &nudge, 1, 0);
#else
    while (::write(w.wake, &nudge, 1) < 0 && errno == EINTR) {
    }
#endif
}

void plat_wait_socket_or_waker(int sock, const plat_waker* w, int timeout_ms) {
    const bool with_waker = w && w->watch >= 0;
    pollfd p[2] = {{native(sock), POLLIN, 0}, {native(with_waker ? w->watch : sock), POLLIN, 0}};
    int r;
    do {
        r = poll_sockets(p, with_waker ? 2 : 1, timeout_ms);
    } while (r < 0 && interrupted());
}
