// The life of one connection on its own thread: login, then one statement message after another
// until the client closes, stays idle past the limit or sends something that is not a statement
// message (or turns into a debug pipe); at the end an open transaction is rolled back and the
// database closed. Every statement answered is handed to the debug pipes.
#include "server/session.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sqlite3.h>
#include <sys/socket.h>

#include <string>
#include <string_view>

#include "server/debug_pipe.h"
#include "server/dispatch.h"
#include "server/execute.h"
#include "server/faults.h"
#include "server/log.h"
#include "server/login.h"
#include "server/statement_message.h"

namespace {

// Closes what the session owns however serving ends.
struct session_closer {
    srv_session& s;
    ~session_closer() {
        srv_rollback_open(s);
        if (s.db) sqlite3_close(s.db);
        s.db = nullptr;
        srv_channel_end(s.channel);
    }
};

// One line per statement: "statement "TEXT"" with \\, \", \n, \r and \t escaped. A line holds
// the first 400 bytes of a long text.
void log_statement(const srv_session& s, std::string_view text) {
    std::string escaped;
    for (char c : text.substr(0, 400)) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '"':
                escaped += "\\\"";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\t':
                escaped += "\\t";
                break;
            default:
                escaped += c;
        }
    }
    srv_log("conn %d %s: statement \"%s\"", s.id, s.peer.c_str(), escaped.c_str());
}

// --stray-after: a well-formed reply that answers no statement, after the whole real one. It
// leaves at once: without TCP_NODELAY it would wait for the client to acknowledge the real reply,
// that is, until the client's next statement.
void send_stray_reply(srv_session& s) {
    const int one = 1;
    setsockopt(s.channel.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    srv_put_message(s.out, 'E', srv_fault_stray_reply_text);
    srv_put_u8(s.out, 'K');
    srv_flush(s.out);
    srv_log("conn %d %s: fault: a stray reply sent after the reply to a statement containing '%s'",
            s.id, s.peer.c_str(), s.opts->stray_after.c_str());
}

void serve_statements(srv_session& s, const srv_options& opts) {
    const std::chrono::seconds idle_limit(opts.max_idle_time);
    const srv_message_limits limits;
    srv_statement m;
    std::string why;
    for (;;) {
        const srv_deadline idle_deadline = std::chrono::steady_clock::now() + idle_limit;
        switch (srv_read_statement(s.in, m, limits, idle_deadline, idle_limit, why)) {
            case srv_message_status::ok:
                break;
            case srv_message_status::closed:
                srv_log("conn %d %s: disconnected (user '%s', database '%s')", s.id, s.peer.c_str(),
                        s.user.c_str(), s.database.c_str());
                return;
            case srv_message_status::idle:
                if (std::chrono::steady_clock::now() < idle_deadline) {
                    srv_log("conn %d %s: closed after a receive error", s.id, s.peer.c_str());
                } else {
                    srv_log("conn %d %s: closed after %d s without a statement", s.id,
                            s.peer.c_str(), opts.max_idle_time);
                }
                return;
            case srv_message_status::malformed:
                srv_log("conn %d %s: closed on a bad message: %s", s.id, s.peer.c_str(),
                        why.c_str());
                return;
        }
        if (opts.log_statements) log_statement(s, m.text);
        if (srv_fault_drop_on(opts, m.text)) {
            srv_log("conn %d %s: fault: connection dropped at a statement containing '%s'", s.id,
                    s.peer.c_str(), opts.drop_on.c_str());
            return;
        }
        if (srv_fault_hold_on(opts, m.text)) {
            srv_log("conn %d %s: fault: reply held for a statement containing '%s'", s.id,
                    s.peer.c_str(), opts.hold_on.c_str());
            srv_fault_hold(s.channel.fd);
        }
        if (srv_fault_garbage_on(opts, m.text)) {
            s.out.deadline = std::chrono::steady_clock::now() + idle_limit;
            const std::string_view garbage = srv_fault_garbage();
            srv_put(s.out, garbage.data(), garbage.size());
            srv_flush(s.out);
            srv_log("conn %d %s: fault: %zu garbage bytes sent for a statement containing '%s'",
                    s.id, s.peer.c_str(), garbage.size(), opts.garbage_on.c_str());
            return;
        }
        s.out.deadline = std::chrono::steady_clock::now() + idle_limit;
        s.outcome = srv_outcome{};
        const bool go_on = srv_dispatch(s, m);
        if (go_on && !s.debug_pipe && srv_fault_stray_after(opts, m.text)) send_stray_reply(s);
        srv_pipe_note(s, m.text);
        if (!go_on) {
            if (s.out.failed) {
                srv_log("conn %d %s: client gone during a reply", s.id, s.peer.c_str());
            }
            return;
        }
        if (s.debug_pipe) {
            // The pipe's own statement went to the other pipes; this one starts after it.
            srv_serve_debug_pipe(s);
            return;
        }
    }
}

}  // namespace

void srv_serve_connection(int fd, int id, const std::string& peer, const srv_options& opts) {
    srv_session s;
    s.id = id;
    s.peer = peer;
    s.channel.fd = fd;
    s.opts = &opts;
    s.in.ch = &s.channel;
    s.out.ch = &s.channel;
    session_closer closer{s};
    if (!srv_login(s, opts)) return;
    std::string why;
    if (!srv_ready_database(s, why)) {
        srv_log("conn %d %s: cannot ready database '%s': %s", s.id, s.peer.c_str(),
                s.database.c_str(), why.c_str());
        return;
    }
    serve_statements(s, opts);
}
