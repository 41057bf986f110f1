// The life of one connection on its own thread: login, then (until statements are served) read
// and discard what the client sends until it closes or the listener shuts the socket down, then
// close the database and end TLS.
#include "server/session.h"

#include <sqlite3.h>

#include "server/log.h"
#include "server/login.h"

namespace {

inline constexpr int discard_buff_size = 4096;

// Closes what the session owns however serving ends.
struct session_closer {
    srv_session& s;
    ~session_closer() {
        if (s.db) sqlite3_close(s.db);
        s.db = nullptr;
        srv_channel_end(s.channel);
    }
};

}  // namespace

void srv_serve_connection(int fd, int id, const std::string& peer, const srv_options& opts) {
    srv_session s;
    s.id = id;
    s.peer = peer;
    s.channel.fd = fd;
    session_closer closer{s};
    if (!srv_login(s, opts)) return;

    char discard_buff[discard_buff_size];
    long got;
    while ((got = srv_recv_some(s.channel, discard_buff, sizeof discard_buff, srv_no_deadline)) >
           0) {
    }
    srv_log("conn %d %s: disconnected (user '%s', database '%s')%s", s.id, s.peer.c_str(),
            s.user.c_str(), s.database.c_str(), got < 0 ? " after a receive error" : "");
}
