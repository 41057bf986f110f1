// Test helpers for running the built norvlite: a temporary directory, the server process (killed
// and reaped whatever the test does), plain sockets with time-outs, and a TLS client made with
// OpenSSL directly, written independently of the server's code.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A fresh directory under /tmp, removed with everything in it at destruction.
struct temp_dir {
    std::string path;
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
};

// The norvlite binary with stdout on a pipe (for the listening line) and stderr in a file.
struct norvlite_server {
    pid_t pid = -1;
    int port = 0;
    std::string log_path;  // the server's stderr
    norvlite_server() = default;
    norvlite_server(const norvlite_server&) = delete;
    norvlite_server& operator=(const norvlite_server&) = delete;
    ~norvlite_server();  // SIGKILL and reap if still running

    // Starts norvlite with args and waits (10 s at most) for "norvlite listening on ADDR:PORT".
    bool start(const std::vector<std::string>& args, const std::string& log_file,
               std::string& error);
    // Sends sig and waits up to timeout_ms. Returns the exit status, 128+signal when killed by a
    // signal, or -1 when it did not end in time (it is then killed).
    int stop(int sig, int timeout_ms);
    std::string log() const;
};

// Runs a program to completion with stdout and stderr into output. Returns its exit status, or
// -1 when it could not run or took longer than timeout_ms (it is then killed).
int run_program(const std::vector<std::string>& argv, std::string& output, int timeout_ms);

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
