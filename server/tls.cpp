// The TLS side of norvlite with OpenSSL 3: one server context shared by every connection, made
// at the first "~tls~" from the files in the certs directory, and the handshake, reads and writes
// of one session over a non-blocking socket, each bounded by the caller's deadline.
#include "server/tls.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <poll.h>

#include <mutex>

struct srv_tls {
    SSL* ssl;    // owned
    bool sound;  // false after a fatal error: no close_notify may follow
};

namespace {

std::mutex ctx_mutex;
SSL_CTX* shared_ctx = nullptr;  // guarded by ctx_mutex; lives until srv_tls_release_context

// The reason of the most recent OpenSSL failure on this thread, or fallback.
std::string openssl_reason(const char* fallback) {
    unsigned long e = ERR_peek_last_error();
    if (e == 0) return fallback;
    char text[256];
    ERR_error_string_n(e, text, sizeof text);
    return text;
}

SSL_CTX* make_context(const std::string& dir, std::string& error) {
    const std::string cert = dir + "/server.crt";
    const std::string key = dir + "/server.key";
    const std::string ca = dir + "/ca.crt";
    const std::string crl = dir + "/ca.crl";
    ERR_clear_error();
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) {
        error = "cannot create the TLS context: " + openssl_reason("out of memory");
        return nullptr;
    }
    auto fail = [&](const std::string& what) {
        error = what + ": " + openssl_reason("unknown error");
        SSL_CTX_free(ctx);
        return nullptr;
    };
    if (SSL_CTX_use_certificate_chain_file(ctx, cert.c_str()) != 1) {
        return fail("cannot load server certificate " + cert);
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        return fail("cannot load server private key " + key);
    }
    if (SSL_CTX_check_private_key(ctx) != 1) {
        return fail("server key " + key + " does not match " + cert);
    }
    if (SSL_CTX_load_verify_file(ctx, ca.c_str()) != 1) {
        return fail("cannot load CA certificate " + ca);
    }
    if (X509_STORE_load_file(SSL_CTX_get_cert_store(ctx), crl.c_str()) != 1) {
        return fail("cannot load CA revocation list " + crl);
    }
    STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(ca.c_str());
    if (names) SSL_CTX_set_client_CA_list(ctx, names);
    X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(ctx), X509_V_FLAG_CRL_CHECK);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // Every connection logs in afresh; nothing to resume.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_num_tickets(ctx, 0);
    // A client that closes its socket without close_notify has simply gone; every message has
    // its own length or terminator, so a cut is seen without TLS's help.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    return ctx;
}

// The shared context with one reference taken for the caller, or null with error set.
SSL_CTX* get_context(const std::string& dir, std::string& error) {
    std::lock_guard lock(ctx_mutex);
    if (!shared_ctx) shared_ctx = make_context(dir, error);
    if (!shared_ctx) return nullptr;
    SSL_CTX_up_ref(shared_ctx);
    return shared_ctx;
}

// What went wrong in the handshake, in words for the log.
std::string handshake_reason(SSL* ssl, int ssl_error) {
    long verify = SSL_get_verify_result(ssl);
    if (verify != X509_V_OK) {
        return std::string("client certificate refused: ") + X509_verify_cert_error_string(verify);
    }
    if (ssl_error == SSL_ERROR_SYSCALL || ssl_error == SSL_ERROR_ZERO_RETURN) {
        if (ERR_peek_last_error() == 0) return "peer closed during the TLS handshake";
    }
    return "TLS handshake failed: " + openssl_reason("unknown error");
}

// Waits for what OpenSSL asked for; false when the error is fatal or the deadline passed.
bool wait_for(SSL* ssl, int ssl_error, srv_deadline deadline) {
    if (ssl_error == SSL_ERROR_WANT_READ) return srv_wait_socket(SSL_get_fd(ssl), POLLIN, deadline);
    if (ssl_error == SSL_ERROR_WANT_WRITE) {
        return srv_wait_socket(SSL_get_fd(ssl), POLLOUT, deadline);
    }
    return false;
}

}  // namespace

bool srv_tls_ready(const std::string& certs_dir, std::string& error) {
    SSL_CTX* ctx = get_context(certs_dir, error);
    SSL_CTX_free(ctx);
    return ctx != nullptr;
}

srv_tls* srv_tls_accept(int fd, const std::string& certs_dir, srv_deadline deadline,
                        std::string& error) {
    SSL_CTX* ctx = get_context(certs_dir, error);
    if (!ctx) return nullptr;
    SSL* ssl = SSL_new(ctx);
    SSL_CTX_free(ctx);  // the session holds its own reference
    if (!ssl) {
        error = "cannot create a TLS session: " + openssl_reason("out of memory");
        return nullptr;
    }
    if (SSL_set_fd(ssl, fd) != 1) {
        error = "cannot bind the TLS session to the socket";
        SSL_free(ssl);
        return nullptr;
    }
    for (;;) {
        ERR_clear_error();
        int r = SSL_accept(ssl);
        if (r == 1) break;
        int e = SSL_get_error(ssl, r);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            if (wait_for(ssl, e, deadline)) continue;
            error = "TLS handshake timed out or the socket failed";
        } else {
            error = handshake_reason(ssl, e);
        }
        SSL_free(ssl);
        return nullptr;
    }
    return new srv_tls{ssl, true};
}

long srv_tls_recv(srv_tls* t, void* buf, size_t n, srv_deadline deadline) {
    for (;;) {
        ERR_clear_error();
        size_t got = 0;
        if (SSL_read_ex(t->ssl, buf, n, &got) == 1) return static_cast<long>(got);
        int e = SSL_get_error(t->ssl, 0);
        if (e == SSL_ERROR_ZERO_RETURN) return 0;
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
            t->sound = false;
            return -1;
        }
        if (!wait_for(t->ssl, e, deadline)) return -1;
    }
}

bool srv_tls_send(srv_tls* t, const void* buf, size_t n, srv_deadline deadline) {
    for (;;) {
        ERR_clear_error();
        size_t put = 0;
        if (SSL_write_ex(t->ssl, buf, n, &put) == 1) return true;
        int e = SSL_get_error(t->ssl, 0);
        if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
            t->sound = false;
            return false;
        }
        if (!wait_for(t->ssl, e, deadline)) return false;
    }
}

void srv_tls_close(srv_tls* t) {
    if (!t) return;
    if (t->sound) {
        ERR_clear_error();
        SSL_shutdown(t->ssl);  // sends close_notify; the peer's answer is not awaited
    }
    SSL_free(t->ssl);
    ERR_clear_error();
    delete t;
}

void srv_tls_release_context() {
    std::lock_guard lock(ctx_mutex);
    SSL_CTX_free(shared_ctx);
    shared_ctx = nullptr;
}
