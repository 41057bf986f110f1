// Connect and log in: the socket, the channel (clear or TLS), the login text and the server's
// one-letter verdict. db_connect is the only way a connection comes into being.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include <openssl/rand.h>

#include "crypto/mp.h"
#include "crypto/turing.h"
#include "platform/console.h"
#include "protocol/conn.h"

namespace {

// Appends pieces to the login buffer; remembers when one did not fit.
struct login_writer {
    char* out;
    int cap;
    int len = 0;
    bool overflow = false;

    void add(std::string_view s) {
        if (overflow || len + static_cast<int>(s.size()) >= cap) {
            overflow = true;
            return;
        }
        std::memcpy(out + len, s.data(), s.size());
        len += static_cast<int>(s.size());
    }
    void add_quoted(std::string_view key, const char* value) {
        if (!value) return;
        add(key);
        add(value);
        add("'");
    }
};

bool is_mode(const char* mode, const char* a, const char* b) {
    return mode && (std::strcmp(mode, a) == 0 || std::strcmp(mode, b) == 0);
}

struct conn_deleter {
    void operator()(db_conn* c) const { db_disconnect(c); }
};
using conn_ptr = std::unique_ptr<db_conn, conn_deleter>;

// TLS handshake and login; returns the verdict byte (or -1 when there is none).
int tls_login(db_conn* c, const char* auth_str) {
    c->tls = 1;
    db_send_plain(c, "~tls~", 5);
    unsigned char ignored[2];
    db_recv_plain(c, ignored, 2);
    c->tls_handle = tls_client_connect(c->sock);
    if (!c->tls_handle) return -1;
    if (tls_write(c->tls_handle, auth_str, auth_str_size) < 1) return -1;
    unsigned char recv_buff[32];
    if (tls_read(c->tls_handle, recv_buff, sizeof recv_buff) < 1) return -1;
    return recv_buff[0];
}

inline constexpr int connection_key_bytes = 32;
inline constexpr int spread_text_bytes = 30;  // text bytes per 32-byte block
// The longest login text the own-cipher channel carries: the key block, the spread text and its
// zero byte must fit the login buffer once the last block is filled to 32 bytes.
inline constexpr int own_cipher_text_max = 209;

// A 256-bit number as it travels: 32 bytes, one little-endian integer.
void digits_from_wire(const unsigned char* bytes, uint32_t* digits) {
    for (int i = 0; i < rsa_digits; ++i)
        digits[i] = uint32_t(bytes[4 * i]) | uint32_t(bytes[4 * i + 1]) << 8 |
                    uint32_t(bytes[4 * i + 2]) << 16 | uint32_t(bytes[4 * i + 3]) << 24;
}

// Why the server's public key cannot protect the connection key and the password, or null when
// it can. An exponent below 3 leaves the blocks as they are (1) or zero (0); an even modulus
// cannot be a product of two odd primes; a modulus below 2^128 can be factored at once.
const char* unusable_public_key(const uint32_t* exponent, const uint32_t* modulus) {
    bool exponent_high = false, modulus_high = false;
    for (int i = 1; i < rsa_digits; ++i)
        exponent_high |= exponent[i] != 0;
    for (int i = 4; i < rsa_digits; ++i)
        modulus_high |= modulus[i] != 0;
    if (!exponent_high && exponent[0] < 3) return "exponent below 3";
    if ((modulus[0] & 1) == 0) return "even modulus";
    if (!modulus_high) return "modulus below 2^128";
    return nullptr;
}

}  // namespace

int db_spread_login_text(unsigned char* text, int len) {
    int n = len / spread_text_bytes;
    for (int k = n; k >= 1; --k) {
        std::memmove(text + 32 * k, text + spread_text_bytes * k, spread_text_bytes);
        text[32 * k - 2] = 0x07;
        text[32 * k - 1] = 0x07;
    }
    return len + 2 * n;
}

int db_own_cipher_handshake(db_conn* c, const char* password, const char* auth_str, int text_len) {
    c->tls = 0;
    db_send_plain(c, "~ssl~", 5);
    unsigned char wire_key[2 * rsa_block_bytes];
    db_recv_plain(c, wire_key, sizeof wire_key);
    digits_from_wire(wire_key, c->server_exponent);
    digits_from_wire(wire_key + rsa_block_bytes, c->server_modulus);
    // Checked before anything secret is made or sent: such a key would put the connection key
    // and the password on the wire as good as unwrapped.
    if (const char* why = unusable_public_key(c->server_exponent, c->server_modulus)) {
        con_printf("The server's public key is refused (%s): the login is not sent.\r\n", why);
        return -1;
    }

    // The connection key comes from the system's generator: a key drawn from the C library's
    // clock-seeded rand() could be guessed.
    unsigned char key[connection_key_bytes];
    if (RAND_bytes(key, sizeof key) != 1) return -1;
    size_t pw_len = std::strlen(password);
    for (int i = 0; pw_len > 0 && i < connection_key_bytes; ++i)
        key[i] ^= static_cast<unsigned char>(password[i % pw_len]);
    key[31] &= 0x7f;

    unsigned char buf[auth_str_size] = {};
    std::memcpy(buf, key, sizeof key);
    std::memcpy(buf + connection_key_bytes, auth_str, size_t(text_len));
    int spread = db_spread_login_text(buf + connection_key_bytes, text_len);
    int wrapped = connection_key_bytes + spread + 1;
    if (!rsa_encrypt_blocks(c->server_exponent, c->server_modulus, buf, wrapped, sizeof buf))
        return -1;
    db_send_plain(c, buf, connection_key_bytes + 32 * ((spread + 1 + 31) / 32));

    c->send_ks = std::make_unique<turing_state>();
    c->recv_ks = std::make_unique<turing_state>();
    keystream_init(c->send_ks.get(), key, sizeof key);
    keystream_init(c->recv_ks.get(), key, sizeof key);
    return get_byte(c);
}

int db_build_login_text(char* auth_str, int cap, const char* database, const char* user,
                        const char* password, const char* encryptor, const char* char_set,
                        const char* time_zone, const char* iso_level, int32_t lock_timeout,
                        int32_t auto_commit) {
    std::memset(auth_str, 0, static_cast<size_t>(cap));
    login_writer w{auth_str, cap};
    w.add("login database = ");
    w.add(database);
    w.add(" user='");
    w.add(user);
    w.add("' password='");
    w.add(password);
    w.add("'");
    w.add_quoted(" encryptor = '", encryptor);
    w.add_quoted(" char_set = '", char_set);
    w.add_quoted(" time_zone = '", time_zone);
    w.add_quoted(" iso_level = '", iso_level);
    if (lock_timeout > 0) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%d", lock_timeout);
        w.add(" lock_timeout = ");
        w.add(digits);
    }
    w.add(auto_commit ? " auto_commit = 'on'" : " auto_commit = 'off'");
    w.add(" version = '202'");
    if (w.overflow) {
        std::memset(auth_str, 0, static_cast<size_t>(cap));
        return -1;
    }
    return w.len;
}

db_conn* db_connect(const char* mode, const char* host, uint16_t port, const char* database,
                    const char* user, const char* password, const char* encryptor,
                    const char* char_set, const char* time_zone, const char* iso_level,
                    int32_t lock_timeout, int32_t auto_commit, int32_t secure, int32_t) {
    // The login text is checked before anything goes on the wire: a text that does not fit the
    // login buffer is refused, never cut or overrun.
    const bool own_cipher = secure && is_mode(mode, "ssl", "SSL");
    const int text_max = own_cipher ? own_cipher_text_max : auth_str_size - 1;
    char auth_str[auth_str_size];
    int text_len = db_build_login_text(auth_str, text_max + 1, database, user, password, encryptor,
                                       char_set, time_zone, iso_level, lock_timeout, auto_commit);
    if (text_len < 0) {
        con_printf("Login text too long: at most %d characters\r\n", text_max);
        return nullptr;
    }

    uint32_t addr = 0;
    int sock = db_open_socket(host, port, &addr);
    if (sock < 0) return nullptr;

    conn_ptr c(new db_conn);
    c->sock = sock;
    c->auto_commit = auto_commit ? 1 : 0;

    int verdict = -1;
    try {
        if (!secure) {
            db_send_plain(c.get(), auth_str, text_len);
            verdict = get_byte(c.get());
        } else {
            if (!tls_client_context_setup()) return nullptr;
            c->secure = 1;
            if (own_cipher)
                verdict = db_own_cipher_handshake(c.get(), password, auth_str, text_len);
            else if (is_mode(mode, "tls", "TLS"))
                verdict = tls_login(c.get(), auth_str);
        }
    } catch (const db_exchange_failed&) {
        return nullptr;
    }
    if (verdict != 'K') return nullptr;

    c->database = database;
    c->user = user;
    c->password = password;
    if (char_set) c->char_set = char_set;
    if (time_zone) c->time_zone = time_zone;
    if (encryptor) c->encryptor = encryptor;
    if (iso_level) c->iso_level = iso_level;
    c->lock_timeout = lock_timeout;
    c->server_addr = addr;
    c->server_port = port;
    static std::atomic<uint64_t> serials{0};
    c->serial = ++serials;
    return c.release();
}
