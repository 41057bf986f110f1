// The byte channel of one connection, chosen by the client's first bytes: the clear socket, TLS,
// or the own cipher (the clear socket with every byte XORed with a Turing keystream, one per
// direction). Everything above reads and writes through these functions only; the TLS side lives
// in server/tls.cpp, the own-cipher handshake in server/own_cipher.cpp.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>

#include "crypto/turing.h"

struct srv_tls;  // server/tls.cpp

enum class srv_channel_mode { clear, tls, own_cipher };

inline constexpr size_t srv_cipher_key_size = 32;     // the connection key of the own cipher
inline constexpr size_t srv_cipher_out_size = 65536;  // enciphered bytes per socket send

// The two keystreams of an own-cipher channel, both keyed with the connection key. Each is
// consumed byte by byte in wire order, so its position always matches the stream's.
struct srv_cipher {
    turing_state recv;  // deciphers every byte received, exactly once
    turing_state send;  // enciphers every byte sent
    // The enciphered copy of what is being sent: a caller's bytes are never altered.
    std::unique_ptr<unsigned char[]> out{new unsigned char[srv_cipher_out_size]};
};

using srv_deadline = std::chrono::steady_clock::time_point;
inline constexpr srv_deadline srv_no_deadline = srv_deadline::max();

struct srv_channel {
    int fd = -1;  // non-blocking; closed by the listener, not here
    srv_channel_mode mode = srv_channel_mode::clear;
    srv_tls* tls = nullptr;              // owned, set while mode is tls
    std::unique_ptr<srv_cipher> cipher;  // set while mode is own_cipher
};

// Waits until fd is ready for events (POLLIN or POLLOUT) or the deadline passes. Returns false
// on time-out or a poll failure. Any thread.
bool srv_wait_socket(int fd, short events, srv_deadline deadline);

// Reads up to n bytes, waiting for at least one until the deadline. Returns the count, 0 when
// the peer closed (or the socket was shut down), -1 on an error or the deadline. On an
// own-cipher channel the bytes returned are deciphered.
long srv_recv_some(srv_channel& ch, void* buf, size_t n, srv_deadline deadline);

// Reads exactly n bytes. Returns false when the peer closed, failed or the deadline passed first.
bool srv_recv_exact(srv_channel& ch, void* buf, size_t n, srv_deadline deadline);

// Writes all n bytes, enciphered on an own-cipher channel (buf itself is left as it is).
// Returns false on failure or at the deadline.
bool srv_send_all(srv_channel& ch, const void* buf, size_t n, srv_deadline deadline);

// Turns a clear channel into an own-cipher one: both keystreams keyed with the 32-byte
// connection key, positions 0. Every byte after this is enciphered. Connection thread.
void srv_channel_start_own_cipher(srv_channel& ch, const unsigned char key[srv_cipher_key_size]);

// Ends TLS on the channel (close_notify when the session is still sound) and frees it, or wipes
// and frees the keystreams of the own cipher; the channel is clear afterwards and the socket
// stays open.
void srv_channel_end(srv_channel& ch);
