// Everything OpenSSL of the protocol client: the process's TLS client context with the driver
// certificate, the CA and its revocation list, and the TLS connection of a socket.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <mutex>

#include "platform/console.h"
#include "platform/sockets.h"
#include "platform/system.h"
#include "protocol/conn.h"

namespace {

std::mutex ctx_mutex;
SSL_CTX* client_ctx = nullptr;  // one per process, shared by all connections, never freed

bool configure(SSL_CTX* ctx) {
    if (SSL_CTX_load_verify_file(ctx, "security/ca.crt") != 1) {
        con_printf("Load CA certificate file failed");
        return false;
    }
    if (X509_STORE_load_file(SSL_CTX_get_cert_store(ctx), "security/ca.crl") != 1) {
        con_printf("Load CA certificate revocation list file failed");
        return false;
    }
    if (SSL_CTX_use_certificate_file(ctx, "security/driver.crt", SSL_FILETYPE_PEM) != 1) {
        con_printf("Load driver certificate file failed");
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx, "security/driver.key", SSL_FILETYPE_PEM) != 1) {
        con_printf("Load driver private key file failed");
        return false;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    X509_VERIFY_PARAM* param = X509_VERIFY_PARAM_new();
    X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_CRL_CHECK);
    SSL_CTX_set1_param(ctx, param);
    X509_VERIFY_PARAM_free(param);
    return true;
}

}  // namespace

bool tls_client_context_setup() {
    std::lock_guard lock(ctx_mutex);
    if (client_ctx) return true;  // set up once; a failed step is not repeated
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    client_ctx = SSL_CTX_new(TLS_client_method());
    if (!client_ctx) return false;
    return configure(client_ctx);
}

ssl_st* tls_client_connect(int sock) {
    SSL_CTX* ctx;
    {
        std::lock_guard lock(ctx_mutex);
        ctx = client_ctx;
    }
    SSL* ssl = ctx ? SSL_new(ctx) : nullptr;
    if (!ssl) {
        con_printf("Initialize ssl structure failed");
        return nullptr;
    }
    if (SSL_set_fd(ssl, sock) != 1) {
        con_printf("Bind socket with ssl structure failed");
        SSL_free(ssl);
        return nullptr;
    }
    if (SSL_connect(ssl) <= 0) {
        plat_end_on_signal();
        con_printf("Connect ssl server failed");
        SSL_free(ssl);
        return nullptr;
    }
    return ssl;
}

// On the console thread a signal that ends the console ends it while the TLS object waits for
// the server (or when it interrupted a blocking call), not as a lost connection. At a terminal a
// Ctrl+C abandons the wait instead: the call fails, and the exchange with it.
int tls_write(ssl_st* ssl, const void* data, int n) {
    int r = SSL_write(ssl, data, n);
    if (r <= 0 && !plat_take_cancel()) plat_end_on_signal();
    return r;
}

int tls_read(ssl_st* ssl, void* buf, int n) {
    if (SSL_pending(ssl) == 0) {
        while (plat_wait_fd(SSL_get_fd(ssl), plat_wait_in, -1) == plat_woken) {
            if (plat_take_cancel()) return -1;
            plat_end_on_signal();
        }
    }
    int r = SSL_read(ssl, buf, n);
    if (r <= 0 && !plat_take_cancel()) plat_end_on_signal();
    return r;
}

void tls_free(ssl_st* ssl) {
    SSL_free(ssl);
}

int tls_idle_check(ssl_st* ssl, int sock) {
    if (SSL_pending(ssl) > 0) return db_idle_stray;
    const int ready = plat_wait_fd(sock, plat_wait_in, 0);
    // Nothing arrived: only an unfinished record already taken in could be waiting.
    if (ready == plat_timed_out) return SSL_has_pending(ssl) ? db_idle_stray : db_idle_clean;
    // Something arrived. One read attempt on the socket made non-blocking for it takes in the
    // records without data (session tickets) and tells data, a close and a bare wait apart.
    if (!plat_socket_set_nonblocking(sock, true)) return db_idle_closed;
    unsigned char b;
    ERR_clear_error();
    int r = SSL_peek(ssl, &b, 1);
    int err = r > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl, r);
    plat_socket_set_nonblocking(sock, false);
    if (r > 0) return db_idle_stray;
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE)
        return SSL_has_pending(ssl) ? db_idle_stray : db_idle_clean;
    return db_idle_closed;
}

namespace {

// Waits until the socket is ready for what the TLS object asked for. A short time-out lets the
// caller look again: the other thread may have moved the TLS object on meanwhile.
// On the console thread a signal that ends the console ends it here; a Ctrl+C that cancels the
// wait returns false (the caller's call fails).
bool wait_for(int sock, int ssl_error) {
    int events = ssl_error == SSL_ERROR_WANT_WRITE ? plat_wait_out : plat_wait_in;
    if (plat_wait_fd(sock, events, 50) != plat_woken) return true;
    if (plat_take_cancel()) return false;
    plat_end_on_signal();
    return true;
}

}  // namespace

int tls_write_shared(ssl_st* ssl, std::mutex& lock, int sock, const void* data, int n) {
    for (;;) {
        int r, err;
        {
            std::lock_guard guard(lock);
            ERR_clear_error();
            r = SSL_write(ssl, data, n);
            err = r > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl, r);
        }
        if (r > 0) return r;
        if ((err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) || !wait_for(sock, err))
            return r;
    }
}

int tls_read_shared(ssl_st* ssl, std::mutex& lock, int sock, void* buf, int n) {
    for (;;) {
        int r, err;
        {
            std::lock_guard guard(lock);
            ERR_clear_error();
            r = SSL_read(ssl, buf, n);
            err = r > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl, r);
        }
        if (r > 0) return r;
        if ((err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) || !wait_for(sock, err))
            return r;
    }
}
