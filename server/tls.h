// TLS for norvlite: the server context (server.crt, server.key, ca.crt, ca.crl from the certs
// directory, loaded at the first "~tls~" connection) and one session per connection. All of
// OpenSSL stays in server/tls.cpp; callers see only the opaque srv_tls.
#pragma once

#include <cstddef>
#include <string>

#include "server/channel.h"

struct srv_tls;

// Loads the shared context from certs_dir unless an earlier call managed to; a failed load is
// retried next time. Returns false with a one-line reason in error. Any thread.
bool srv_tls_ready(const std::string& certs_dir, std::string& error);

// Runs the server handshake on fd (non-blocking) until the deadline, requiring a client
// certificate signed by the CA and not revoked by its CRL. Loads the context as srv_tls_ready
// does. Returns the session,
// owned by the caller (free with srv_tls_close), or null with a one-line reason in error.
// Any thread.
srv_tls* srv_tls_accept(int fd, const std::string& certs_dir, srv_deadline deadline,
                        std::string& error);

// Same shape as srv_recv_some / srv_send_all, for a TLS session.
long srv_tls_recv(srv_tls* t, void* buf, size_t n, srv_deadline deadline);
bool srv_tls_send(srv_tls* t, const void* buf, size_t n, srv_deadline deadline);

// Sends close_notify when the session is still sound, without waiting, and frees it.
void srv_tls_close(srv_tls* t);

// Frees the shared context. Only once every session is closed (at shutdown).
void srv_tls_release_context();
