// One client connection of norvlite from login to close: its channel, its database handle and
// who logged in. The connection's own thread creates, serves and closes it.
#pragma once

#include <string>

#include "server/channel.h"
#include "server/options.h"

struct sqlite3;

struct srv_session {
    int id = 0;                // connection number, for the log
    std::string peer;          // "ADDR:PORT" of the client, for the log
    srv_channel channel;       // clear until the client asks for TLS
    sqlite3* db = nullptr;     // owned; opened at login, used only by the connection's thread
    std::string user;          // as logged in
    std::string database;      // as logged in; the file is DATA/NAME.db
    bool auto_commit = false;  // from the login text
};

// Serves the client on fd (a non-blocking accepted socket) from login until the client closes
// or the listener shuts the socket down, then closes the database and ends TLS. fd stays open
// for the caller to close. Runs on the connection's own thread; opts outlives the call.
void srv_serve_connection(int fd, int id, const std::string& peer, const srv_options& opts);
