// Connect and log in: the socket, the channel (clear or TLS), the login text and the server's
// one-letter verdict. db_connect is the only way a connection comes into being.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

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

}  // namespace

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
                    int32_t lock_timeout, int32_t auto_commit, int32_t secure,
                    int32_t defer_rows) {
    // The login text is checked before anything goes on the wire: a text that does not fit the
    // login buffer is refused, never cut or overrun.
    char auth_str[auth_str_size];
    int text_len = db_build_login_text(auth_str, auth_str_size, database, user, password,
                                       encryptor, char_set, time_zone, iso_level, lock_timeout,
                                       auto_commit);
    if (text_len < 0) {
        con_printf("Login text too long: at most %d characters\r\n", auth_str_size - 1);
        return nullptr;
    }

    uint32_t addr = 0;
    int sock = db_open_socket(host, port, &addr);
    if (sock < 0) return nullptr;

    conn_ptr c(new db_conn);
    c->sock = sock;
    c->defer_rows = defer_rows;
    c->auto_commit = auto_commit ? 1 : 0;

    int verdict = -1;
    try {
        if (!secure) {
            db_send_plain(c.get(), auth_str, text_len);
            verdict = get_byte(c.get());
        } else {
            if (!tls_client_context_setup()) return nullptr;
            c->secure = 1;
            if (is_mode(mode, "tls", "TLS")) verdict = tls_login(c.get(), auth_str);
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
    return c.release();
}
