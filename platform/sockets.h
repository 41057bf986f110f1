// Stream sockets to the server: connect, send, receive, the looks that do not wait, and a waker
// by which one thread ends another's wait for a socket. A socket is an int here on every
// platform (on Windows the handle value, which the TLS library takes as an int as well).
#pragma once

#include <cstddef>
#include <cstdint>

// What the sends and receives below return besides a count.
inline constexpr long plat_sock_failed = -1;       // the peer is gone or the call failed
inline constexpr long plat_sock_interrupted = -2;  // a signal interrupted the call (POSIX only)
inline constexpr long plat_sock_would_wait = -3;   // the not-waiting calls: nothing now

// Opens a blocking IPv4 stream socket connected to host:port (a dotted literal is used as is,
// anything else is looked up), with TCP_NODELAY and keep-alives. Returns the socket or -1, and
// the address connected to in *addr_out (network order) when it is not null. A signal that ends
// the console during the connect ends it there.
int plat_socket_connect(const char* host, uint16_t port, uint32_t* addr_out);

void plat_socket_close(int sock);

// Ends both directions; a thread waiting in a receive on the socket returns.
void plat_socket_shutdown(int sock);

// Ends the sending direction only: the peer reads the end after what was sent.
void plat_socket_shutdown_send(int sock);

// A listening socket on 127.0.0.1 at a port of the system's choosing (port receives it); -1 on
// failure.
int plat_socket_listen_loopback(uint16_t& port);

// One send of at most n bytes (never a signal for a closed peer): the count sent, or one of
// the values above.
long plat_socket_send(int sock, const void* data, size_t n);

// One receive of at most n bytes: the count, 0 when the peer closed, or one of the values above.
long plat_socket_recv(int sock, void* buf, size_t n);

// The same without waiting: plat_sock_would_wait when nothing has arrived.
long plat_socket_recv_now(int sock, void* buf, size_t n);

// Looks at one byte without taking it and without waiting: 1 when a byte is there, 0 when
// nothing has arrived, -1 when the peer closed or the socket failed.
int plat_socket_peek_now(int sock);

// Makes the socket's calls return at once instead of waiting (on true) or wait again.
bool plat_socket_set_nonblocking(int sock, bool on);

// Two connected stream sockets (for tests and for the waker); false when none could be made.
bool plat_socket_pair(int& a, int& b);

// A new socket for the same connection (closed on its own); -1 on failure.
int plat_socket_dup(int sock);

// ---- waking a thread that waits for a socket ----------------------------------------------

struct plat_waker {
    int watch = -1;  // what the waiting thread watches
    int wake = -1;   // what the waking thread writes to
};

bool plat_waker_open(plat_waker& w);
void plat_waker_close(plat_waker& w);
// Wakes the waits on w; a wake stays until the waits see it (it is never taken back).
void plat_waker_wake(const plat_waker& w);

// Waits until sock has bytes (or a close) or w.watch was woken, at most timeout_ms (-1: no
// limit). Signals do not end this wait; it is for threads other than the console's.
void plat_wait_socket_or_waker(int sock, const plat_waker* w, int timeout_ms);
