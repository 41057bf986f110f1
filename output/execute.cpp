// Statement execution for the console: the idle limit read after connecting.
#include "output/execute.h"

#include <cstring>

#include "platform/system.h"
#include "protocol/db.h"
#include "shell/console_state.h"

void idle_tracking_start() {
    g_console.max_idle_time = no_idle_limit;
    db_result* r = db_execute(g_console.conn, "show max_idle_time");
    if (r) {
        db_row* row = db_result_next(r);
        if (row && db_result_col_count(r) > 0 && db_row_value_len(row, 0) >= 4)
            std::memcpy(&g_console.max_idle_time, db_row_value(row, 0), 4);
        db_result_free(r);
    }
    g_console.last_activity = static_cast<double>(plat_time_seconds());
}
