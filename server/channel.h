// The byte channel of one connection, chosen by the client's first bytes: the clear socket or
// TLS (a third, the own-cipher channel, comes later). Everything above reads and writes through
// these functions only; the TLS side lives in server/tls.cpp.
#pragma once

#include <chrono>
#include <cstddef>

struct srv_tls;  // server/tls.cpp

enum class srv_channel_mode { clear, tls };

using srv_deadline = std::chrono::steady_clock::time_point;
inline constexpr srv_deadline srv_no_deadline = srv_deadline::max();

struct srv_channel {
    int fd = -1;  // non-blocking; closed by the listener, not here
    srv_channel_mode mode = srv_channel_mode::clear;
    srv_tls* tls = nullptr;  // owned, set while mode is tls
};

// Waits until fd is ready for events (POLLIN or POLLOUT) or the deadline passes. Returns false
// on time-out or a poll failure. Any thread.
bool srv_wait_socket(int fd, short events, srv_deadline deadline);

// Reads up to n bytes, waiting for at least one until the deadline. Returns the count, 0 when
// the peer closed (or the socket was shut down), -1 on an error or the deadline.
long srv_recv_some(srv_channel& ch, void* buf, size_t n, srv_deadline deadline);

// Reads exactly n bytes. Returns false when the peer closed, failed or the deadline passed first.
bool srv_recv_exact(srv_channel& ch, void* buf, size_t n, srv_deadline deadline);

// Writes all n bytes. Returns false on failure or at the deadline.
bool srv_send_all(srv_channel& ch, const void* buf, size_t n, srv_deadline deadline);

// Ends TLS on the channel (close_notify when the session is still sound) and frees it; the
// channel is clear afterwards and the socket stays open.
void srv_channel_end(srv_channel& ch);
