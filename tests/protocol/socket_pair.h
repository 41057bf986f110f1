// A connected pair of stream sockets: one end inside a db_conn, the other played by the test.
#pragma once

#include <memory>
#include <string>

#include "platform/sockets.h"
#include "protocol/conn.h"

struct socket_pair {
    int client = -1;  // the db_conn's end
    int peer = -1;    // the test's end
    socket_pair() { plat_socket_pair(client, peer); }
    // The client end is closed once every duplicate is closed too.
    ~socket_pair() {
        if (client >= 0) plat_socket_close(client);
        if (peer >= 0) plat_socket_close(peer);
    }
    socket_pair(const socket_pair&) = delete;
    socket_pair& operator=(const socket_pair&) = delete;

    struct conn_closer {
        void operator()(db_conn* c) const { db_disconnect(c); }
    };
    using conn_ptr = std::unique_ptr<db_conn, conn_closer>;

    // A connection record on a duplicate of the client end (closed with the record).
    conn_ptr conn() const {
        conn_ptr c(new db_conn);
        c->sock = plat_socket_dup(client);
        return c;
    }

    // Everything the client has sent so far, without waiting.
    std::string drain() const {
        std::string got;
        char buf[65536];
        for (;;) {
            long r = plat_socket_recv_now(peer, buf, sizeof buf);
            if (r <= 0) break;
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }

    void send_peer(const std::string& bytes) const {
        size_t off = 0;
        while (off < bytes.size()) {
            long w = plat_socket_send(peer, bytes.data() + off, bytes.size() - off);
            if (w <= 0) return;
            off += static_cast<size_t>(w);
        }
    }

    void close_peer() {
        plat_socket_close(peer);
        peer = -1;
    }
};
