// Socket and TLS-client helpers of the norvlite tests. Every wait is bounded.
#include "tests/server/test_client.h"

#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "tests/support/process.h"

namespace {
using steady = std::chrono::steady_clock;
}  // namespace

test_socket::~test_socket() {
    if (fd >= 0) close(fd);
}

test_socket connect_local(int port) {
    test_socket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s.fd >= 0 && connect(s.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(s.fd);
        s.fd = -1;
    }
    if (s.fd >= 0) {
        timeval tv{5, 0};  // no blocking read of a test lasts longer
        setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(s.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }
    return s;
}

bool send_bytes(const test_socket& s, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = send(s.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string recv_upto(const test_socket& s, size_t max, int timeout_ms) {
    std::string got;
    auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < max) {
        pollfd p{s.fd, POLLIN, 0};
        if (poll(&p, 1, ms_left(deadline)) <= 0) break;
        char buf[256];
        ssize_t n = recv(s.fd, buf, std::min(sizeof buf, max - got.size()), 0);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

bool closed_within(const test_socket& s, int timeout_ms) {
    auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pollfd p{s.fd, POLLIN, 0};
        if (poll(&p, 1, ms_left(deadline)) <= 0) return false;
        char buf[256];
        ssize_t n = recv(s.fd, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
        if (n < 0) return false;
    }
}

tls_client::~tls_client() {
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    ERR_clear_error();
}

bool tls_client::open(int port, const std::string& certs, const std::string& client) {
    sock = connect_local(port);
    if (sock.fd < 0 || !send_bytes(sock, "~tls~")) {
        why = "connect or marker failed";
        return false;
    }
    if (recv_upto(sock, 2, 5000).size() != 2) {
        why = "no 2 bytes after the marker";
        return false;
    }
    const std::string ca = certs + "/ca.crt";
    const std::string crl = certs + "/ca.crl";
    const std::string cert = certs + "/" + client + ".crt";
    const std::string key = certs + "/" + client + ".key";
    ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx || SSL_CTX_load_verify_file(ctx, ca.c_str()) != 1 ||
        X509_STORE_load_file(SSL_CTX_get_cert_store(ctx), crl.c_str()) != 1) {
        why = "client context set-up failed";
        return false;
    }
    if (!client.empty() &&
        (SSL_CTX_use_certificate_file(ctx, cert.c_str(), SSL_FILETYPE_PEM) != 1 ||
         SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1)) {
        why = "client certificate set-up failed";
        return false;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(ctx), X509_V_FLAG_CRL_CHECK);
    ssl = SSL_new(ctx);
    if (!ssl || SSL_set_fd(ssl, sock.fd) != 1 || SSL_connect(ssl) != 1) {
        why = "handshake failed";
        return false;
    }
    return true;
}

std::string tls_client::login(std::string_view text) {
    char block[256] = {};
    std::memcpy(block, text.data(), std::min(text.size(), sizeof block - 1));
    if (SSL_write(ssl, block, sizeof block) != static_cast<int>(sizeof block)) {
        why = "login block write failed";
        return "";
    }
    char verdict[32];
    size_t got = 0;
    if (SSL_read_ex(ssl, verdict, sizeof verdict, &got) != 1) {
        why = "no verdict";
        return "";
    }
    return std::string(verdict, got);
}

std::string tls_login(int port, const std::string& certs, const std::string& client,
                      std::string_view text, std::string& why) {
    tls_client c;
    std::string reply = c.open(port, certs, client) ? c.login(text) : "";
    why = c.why;
    return reply;
}
