// Client ends for the norvlite tests: plain sockets with time-outs, and a TLS client made with
// OpenSSL directly, written independently of the server's code.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// An open socket, closed at destruction.
struct test_socket {
    int fd = -1;
    explicit test_socket(int f = -1) : fd(f) {}
    ~test_socket();
    test_socket(test_socket&& o) noexcept : fd(o.fd) { o.fd = -1; }
    test_socket& operator=(test_socket&& o) noexcept {
        std::swap(fd, o.fd);
        return *this;
    }
};

// Connects to 127.0.0.1:port. fd -1 on failure.
test_socket connect_local(int port);
bool send_bytes(const test_socket& s, std::string_view bytes);
// Reads until max bytes, the peer's close or timeout_ms; returns what arrived.
std::string recv_upto(const test_socket& s, size_t max, int timeout_ms);
// True when the peer closes (or resets) the connection within timeout_ms; bytes before the close
// are skipped.
bool closed_within(const test_socket& s, int timeout_ms);

struct ssl_ctx_st;
struct ssl_st;

// The console's side of a TLS login, kept open until destruction.
struct tls_client {
    test_socket sock;
    ssl_ctx_st* ctx = nullptr;
    ssl_st* ssl = nullptr;
    std::string why;  // what failed last
    tls_client() = default;
    tls_client(const tls_client&) = delete;
    tls_client& operator=(const tls_client&) = delete;
    ~tls_client();

    // Sends "~tls~", reads and ignores 2 bytes, then runs the handshake with the client
    // certificate certs/<client>.crt (none when client is empty), checking the server against
    // certs/ca.crt and certs/ca.crl. False with why set on failure.
    bool open(int port, const std::string& certs, const std::string& client);
    // Writes text in a zero-filled 256-byte block and returns the verdict bytes read (up to 32),
    // empty when the write or the read failed.
    std::string login(std::string_view text);
};

// open and login in one; the connection is closed on return.
std::string tls_login(int port, const std::string& certs, const std::string& client,
                      std::string_view text, std::string& why);
