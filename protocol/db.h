// The wire protocol client as the console uses it: connect and log in, disconnect. A connection
// is used by one thread at a time. No function here throws; failures are return values.
#pragma once

#include <cstdint>

struct db_conn;  // one open, logged-in connection; created by db_connect, freed by db_disconnect

// Opens a TCP connection to host:port, secures it as asked and logs in.
// mode: "ssl"/"SSL" selects the own cipher, "tls"/"TLS" selects TLS; read only when secure is 1.
// encryptor, char_set, time_zone and iso_level may be null (left out of the login text);
// lock_timeout is sent only when above 0.
// Returns the new connection, or null when anything fails. Prints only the TLS set-up messages
// and the refusal of a login text too long for the login buffer; other failures are silent.
db_conn* db_connect(const char* mode, const char* host, uint16_t port, const char* database,
                    const char* user, const char* password, const char* encryptor,
                    const char* char_set, const char* time_zone, const char* iso_level,
                    int32_t lock_timeout, int32_t auto_commit, int32_t secure, int32_t defer_rows);

// Closes the socket and frees the connection. Sends nothing to the server. Returns 0.
int db_disconnect(db_conn* conn);

// 1 when the connection was opened with encryption requested (own cipher or TLS).
int db_conn_secure(const db_conn* conn);
