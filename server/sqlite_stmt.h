// The owner of one prepared SQLite statement, for the code that runs SQL on a connection's
// thread (execute, cursor, load): the statement is finalised when its holder goes out of scope.
#pragma once

#include <sqlite3.h>

// A prepared statement, or null; finalised at destruction. Owned by the one thread that made it.
struct srv_stmt_holder {
    sqlite3_stmt* p = nullptr;
    srv_stmt_holder() = default;
    srv_stmt_holder(const srv_stmt_holder&) = delete;
    srv_stmt_holder& operator=(const srv_stmt_holder&) = delete;
    ~srv_stmt_holder() { sqlite3_finalize(p); }
};
