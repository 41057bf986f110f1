// The connection record and the transport's internal primitives, shared by the files of the
// protocol client (and by its tests). Nothing outside protocol/ includes this header.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "crypto/turing.h"

#include "protocol/db.h"
#include "protocol/db_wire.h"

struct ssl_st;  // OpenSSL's SSL, kept out of every header but tls.cpp's

inline constexpr int send_buff_size = 8192;        // the sender's gathering buffer
inline constexpr int send_direct_over = 2048;      // larger blocks bypass the buffer
inline constexpr int recv_ahead_size = 262144;     // read-ahead of the receivers
inline constexpr int recv_direct_from = 16384;     // larger reads go straight to the caller
inline constexpr int auth_str_size = 256;          // the login text buffer
inline constexpr int cipher_scratch_size = 65536;  // enciphered copies of direct sends
inline constexpr int closed_socket = -1;           // socket value of a closed connection

struct db_conn {
    uint32_t server_addr = 0;  // IPv4, network order, as resolved at connect
    uint16_t server_port = 0;  // host order
    std::string database;      // copies of the login fields sent
    std::string user;
    std::string password;
    std::optional<std::string> char_set;  // absent = not sent
    std::optional<std::string> time_zone;
    std::optional<std::string> encryptor;
    std::optional<std::string> iso_level;
    int32_t lock_timeout = 0;  // 0 = not sent
    uint64_t serial = 0;       // this connection's number, never given to another (db_conn_serial)
    int sock = closed_socket;
    int32_t secure = 0;  // 1 = own cipher or TLS requested
    int32_t tls = 0;     // 1 = the channel is TLS
    ssl_st* tls_handle = nullptr;
    int32_t auto_commit = 0;           // 1 = on, as sent at login
    uint32_t server_exponent[8] = {};  // own cipher: the server's public key, as received
    uint32_t server_modulus[8] = {};
    std::unique_ptr<turing_state> recv_ks;            // own cipher: keystream of the bytes received
    std::unique_ptr<turing_state> send_ks;            // own cipher: keystream of the bytes sent
    std::unique_ptr<unsigned char[]> cipher_scratch;  // enciphered copies of direct sends
    // Two threads at once (one sends, one receives): the TLS object is shared under this lock.
    std::unique_ptr<std::mutex> duplex_lock;

    unsigned char send_buff[send_buff_size];  // bytes waiting to be sent
    int32_t send_len = 0;

    unsigned char recv_ahead[recv_ahead_size];  // bytes received, not yet consumed
    int32_t recv_pos = 0;
    int32_t recv_len = 0;
};

// The error escape of an exchange: thrown by the primitives below on a failed send or receive,
// caught only by the operation that began the exchange.
struct db_exchange_failed {};

[[noreturn]] void db_fail();

// Opens a blocking IPv4 stream socket connected to host:port (a dotted literal is used as is,
// anything else is looked up). Returns the socket or -1.
int db_open_socket(const char* host, uint16_t port, uint32_t* addr_out);

// Sender: put_bytes gathers small writes, sends large ones directly.
void put_bytes(db_conn* c, const void* data, int n);
void put_int32(db_conn* c, int32_t v);
void put_int16(db_conn* c, int16_t v);

// Receivers: exactly the count asked for, or the error escape.
int get_byte_slow(db_conn* c);
inline int get_byte(db_conn* c) {
    if (c->recv_pos < c->recv_len) return c->recv_ahead[c->recv_pos++];
    return get_byte_slow(c);
}
int32_t get_int32(db_conn* c);

// One send of n bytes on the socket itself (not through the sender's buffer, not through TLS);
// throws on failure. Used by the handshakes before the channel is set up.
void db_send_plain(db_conn* c, const void* data, int n);

// Receives exactly n bytes from the socket without reading ahead (the bytes after them belong to
// a handshake that is not ours); throws on failure.
void db_recv_plain(db_conn* c, void* buf, int n);

// Builds the login text into auth_str (zero-filled first). Returns its length, or -1 when the
// text and its terminating zero byte do not fit in cap bytes.
int db_build_login_text(char* auth_str, int cap, const char* database, const char* user,
                        const char* password, const char* encryptor, const char* char_set,
                        const char* time_zone, const char* iso_level, int32_t lock_timeout,
                        int32_t auto_commit);

// Spreads a login text that starts at text (len bytes, zero-filled after it, room for 32-byte
// blocks) into blocks of 30 text bytes followed by 0x07 0x07. Returns the spread length.
int db_spread_login_text(unsigned char* text, int len);

// The own-cipher handshake on c's socket: "~ssl~", the server's public key, the connection key
// and the login text wrapped with it, then the two keystreams. Returns the deciphered verdict
// byte, or -1; a failed send or receive throws the exchange escape. A public key that cannot
// protect the login (exponent below 3, even modulus, modulus below 2^128) is refused with a
// message before anything but "~ssl~" is sent: -1.
int db_own_cipher_handshake(db_conn* c, const char* password, const char* auth_str, int text_len);

// TLS (tls.cpp). Creates the process's client context on first use; prints the message of the
// step that failed. Returns false when the set-up failed on this call.
bool tls_client_context_setup();
// Runs the client handshake on c's socket; prints the message of the step that failed.
ssl_st* tls_client_connect(int sock);
int tls_write(ssl_st* ssl, const void* data, int n);  // SSL_write's result
int tls_read(ssl_st* ssl, void* buf, int n);          // SSL_read's result
// The same on a non-blocking socket shared by a sending and a receiving thread: each call takes
// the lock only around the TLS object and waits for the socket outside it. tls_write_shared
// writes all n bytes; both return what SSL_write/SSL_read returned last.
int tls_write_shared(ssl_st* ssl, std::mutex& lock, int sock, const void* data, int n);
int tls_read_shared(ssl_st* ssl, std::mutex& lock, int sock, void* buf, int n);
// The idle look of db_idle_check on a TLS channel (blocking socket sock): db_idle_clean,
// db_idle_closed or db_idle_stray. Records without application data are processed and dropped.
int tls_idle_check(ssl_st* ssl, int sock);
void tls_free(ssl_st* ssl);
