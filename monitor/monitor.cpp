// The debug monitor thread: its own clear-channel login, "Set debug_pipe on;", then every byte
// that arrives printed as it arrives until a stop request or the end of the connection.
#include "monitor/monitor.h"

#include <cstring>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/system.h"
#include "protocol/db.h"
#include "protocol/db_wire.h"
#include "state/console_state.h"

namespace {

inline constexpr int monitor_buf_size = 1024;

// The login values, copied on the console thread: a LOGIN may clear the console's own while
// the monitor connects.
struct monitor_login {
    std::string mode, host, database, user, password, encryptor;
    bool has_encryptor = false;
    int port = 0;
};

// Prints at once: the console thread may be waiting at its prompt with the writer unflushed.
void say(const char* text) {
    con_write(text, std::strlen(text));
    con_flush();
}

void run_debug_monitor(monitor_login login) {
    console_state& s = g_console;
    // The monitor always uses a clear channel, whatever the console's mode word says.
    db_conn* conn =
        db_connect(login.mode.c_str(), login.host.c_str(), static_cast<uint16_t>(login.port),
                   login.database.c_str(), login.user.c_str(), login.password.c_str(),
                   login.has_encryptor ? login.encryptor.c_str() : nullptr, nullptr, nullptr,
                   nullptr, 0, 0, 0, 0);
    s.monitor_conn = conn;
    // The monitor counts as ended before its last message: a '#' typed on seeing the message
    // starts a new one.
    if (!conn) {
        s.monitor_running = false;
        say("Create Debug Connect failed.\r\n");
        return;
    }
    db_result* r = db_execute(conn, "Set debug_pipe on;");
    if (!r || !db_result_ok(r)) {
        db_result_free(r);
        // The connection is closed and forgotten, so that a later '#' can start a monitor again.
        s.monitor_conn = nullptr;
        db_disconnect(conn);
        s.monitor_running = false;
        say("Debug pipe open failed!\r\n");
        return;
    }
    db_result_free(r);
    say("Debug monitor beging:\r\n");
    char monitor_buf[monitor_buf_size];
    while (!s.monitor_stop) {
        int n = db_recv_raw(conn, monitor_buf, monitor_buf_size);
        if (n <= 0) break;
        // As text: up to the first zero byte among the bytes that arrived, never past them.
        const void* zero = std::memchr(monitor_buf, '\0', size_t(n));
        size_t len = zero ? size_t(static_cast<const char*>(zero) - monitor_buf) : size_t(n);
        con_write(monitor_buf, len);
        con_flush();
    }
    s.monitor_conn = nullptr;
    db_disconnect(conn);
    s.monitor_stop = false;
    s.monitor_running = false;
    say("Debug monitor stop.\r\n");
}

std::string text_of(const char* s) {
    return s ? s : "";
}

}  // namespace

void monitor_toggle() {
    console_state& s = g_console;
    if (s.monitor_running) {
        s.monitor_stop = true;
        return;
    }
    monitor_login login;
    login.mode = text_of(s.ssl_mode);
    login.host = text_of(s.host);
    login.port = s.port;
    login.database = text_of(s.database);
    login.user = text_of(s.user);
    login.password = text_of(s.password);
    login.has_encryptor = s.encryptor != nullptr;
    login.encryptor = text_of(s.encryptor);
    s.monitor_stop = false;
    s.monitor_running = true;
    plat_signals_held held;  // the console thread alone takes the signals
    std::thread(run_debug_monitor, std::move(login)).detach();
}
