// Shared by the fuzz targets of the reply reader: a connection on one end of a socket pair whose
// other end has already written the server's bytes and stopped writing, and the walk through a
// result that the console's listing makes (every row, every value, the headings).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "output/execute.h"
#include "output/grid.h"
#include "platform/console.h"
#include "platform/sockets.h"
#include "platform/system.h"
#include "protocol/conn.h"
#include "protocol/db.h"
#include "state/console_state.h"
#include "tests/protocol/socket_pair.h"

// Puts the console record in a listing state once per process: headings with their types, no
// pause, no spool.
inline void reply_fuzz_init() {
    static bool done = false;
    if (done) return;
    done = true;
    plat_init();
    console_state_reset(g_console);
    g_console.show_type = true;
}

// Writes bytes into the peer end without ever blocking: what the socket buffer cannot take is
// dropped (the targets keep their inputs far below that).
inline void peer_write(int fd, const unsigned char* p, size_t n) {
    plat_socket_set_nonblocking(fd, true);
    while (n > 0) {
        long w = plat_socket_send(fd, p, n);
        if (w <= 0) break;
        p += w;
        n -= size_t(w);
    }
    plat_socket_shutdown_send(fd);
}

// Reads every value of every row, checking the row layout on the way: each value lies inside the
// row and is followed by its zero byte. Then describes the columns and reports the outcome as
// the console does (rows listed, counts, messages), which frees the result.
inline void walk_result(db_result* r) {
    if (!r) return;
    int cols = db_result_col_count(r);
    for (int c = 0; c < cols; ++c) {
        if (std::strlen(db_result_col_name(r, c)) > size_t(64 << 20)) std::abort();
        (void)db_result_col_type_name(r, c);
    }
    int rows = 0;
    while (db_row* row = db_result_next(r)) {
        ++rows;
        for (int c = 0; c < cols; ++c) {
            int len = db_row_value_len(row, c);
            if (len < 0) std::abort();
            const char* v = db_row_value(row, c);
            if (v[len] != '\0') std::abort();
        }
    }
    if (rows != db_result_row_count(r)) std::abort();
    int len = 0;
    db_result_insert_key(r, &len);
    if (len < 0 || len > 24) std::abort();
    if (db_result_kind(r) == db_kind_query) describe_columns(r);
    report_outcome(r, 0, 0);
}

// Runs one statement against a peer that has sent bytes (already enciphered when the channel
// is) and lists the result. The console's output is captured and dropped.
inline void execute_against(socket_pair& sp, db_conn* conn, const unsigned char* bytes, size_t n) {
    static std::string printed;
    printed.clear();
    peer_write(sp.peer, bytes, n);
    con_set_capture(&printed);
    db_result* r = db_execute(conn, "select 1");
    walk_result(r);
    con_set_capture(nullptr);
}
