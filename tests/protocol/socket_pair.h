// A connected pair of stream sockets: one end inside a db_conn, the other played by the test.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "protocol/conn.h"

struct socket_pair {
    int client = -1;  // the db_conn's end
    int peer = -1;    // the test's end
    socket_pair() {
        int sv[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) == 0) {
            client = sv[0];
            peer = sv[1];
        }
    }
    // The client end is closed once every duplicate is closed too.
    ~socket_pair() {
        if (client >= 0) close(client);
        if (peer >= 0) close(peer);
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
        c->sock = dup(client);
        return c;
    }

    // Everything the client has sent so far, without waiting.
    std::string drain() const {
        std::string got;
        char buf[65536];
        for (;;) {
            ssize_t r = recv(peer, buf, sizeof buf, MSG_DONTWAIT);
            if (r <= 0) break;
            got.append(buf, static_cast<size_t>(r));
        }
        return got;
    }

    void send_peer(const std::string& bytes) const {
        size_t off = 0;
        while (off < bytes.size()) {
            ssize_t w = send(peer, bytes.data() + off, bytes.size() - off, 0);
            if (w <= 0) return;
            off += static_cast<size_t>(w);
        }
    }

    void close_peer() {
        close(peer);
        peer = -1;
    }
};
