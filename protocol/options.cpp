// Login settings changed on an open connection: the setting is kept in the connection and the
// matching SQL statement is sent; its reply is dropped unread.
#include <cstdlib>
#include <cstring>
#include <string>

#include "protocol/conn.h"

namespace {

// Sends one statement and drops its reply, whatever it says.
void send_setting(db_conn* conn, const std::string& sql) {
    db_result_free(db_execute(conn, sql.c_str()));
}

// Stores (or, for null, drops) a text setting; returns whether a statement is to be sent.
bool store_text(std::optional<std::string>& field, const char* value) {
    if (!value) {
        field.reset();
        return false;
    }
    field = value;
    return true;
}

}  // namespace

int db_set_option(db_conn* conn, const char* name, const char* value) {
    if (!conn || !name) return 0;
    if (std::strcmp(name, "char_set") == 0) {
        if (store_text(conn->char_set, value))
            send_setting(conn, "set client_encoding to '" + *conn->char_set + "'");
    } else if (std::strcmp(name, "iso_level") == 0) {
        if (store_text(conn->iso_level, value))
            send_setting(conn, "set transaction isolation  '" + *conn->iso_level + "'");
    } else if (std::strcmp(name, "time_zone") == 0) {
        if (store_text(conn->time_zone, value))
            send_setting(conn, "set time zone '" + *conn->time_zone + "'");
    } else if (std::strcmp(name, "lock_timeout") == 0) {
        if (!value) return 0;
        conn->lock_timeout = std::atoi(value);
        send_setting(conn, "set lock_timeout to " + std::to_string(conn->lock_timeout));
    } else if (std::strcmp(name, "auto_commit") == 0) {
        if (!value) return 0;
        if (std::strcmp(value, "on") == 0)
            conn->auto_commit = 1;
        else if (std::strcmp(value, "off") == 0)
            conn->auto_commit = 0;
        else
            return 0;
        send_setting(conn, std::string("set auto commit ") + value);
    }
    return 0;
}
