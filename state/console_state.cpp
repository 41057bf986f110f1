// Start-up state of the console record and the control handler that lets the user cancel a
// listing.
#include "state/console_state.h"

#include <cstdlib>
#include <cstring>

#include "platform/system.h"

console_state g_console;

void console_state_reset(console_state& s) {
    s.null_text = "<NULL>";
    s.b_pause = false;
    s.heading = true;
    s.show_use_time = true;
    s.auto_commit = true;
    s.pagesize = 10;
    s.port = 5138;
    s.ssl_mode = "NSSL";
    s.sql_buff[0] = '\0';
    s.sql_buff_copy[0] = '\0';
    s.spool_path = nullptr;
    s.spool_name[0] = '\0';
    s.spool_on = false;
    s.desc_mode = false;
    s.show_time = false;
    s.sput_head = false;
    s.conn = nullptr;
    s.monitor_conn = nullptr;
    s.monitor_running = false;
    s.host = s.database = s.user = s.password = s.encryptor = nullptr;
    s.monitor_stop = false;
    s.cancel_requested = false;
    s.max_idle_time = 0;
    s.line_buff[0] = '\0';
    s.last_activity = 0;
    s.line_count = 0;
    s.keyword[0] = '\0';
    s.secure_login = false;
    s.login_requested = false;
    s.show_type = false;
    s.string_size = 32;
    s.number_size = 12;
    s.desc_pos = 0;
    const char* stop = std::getenv("NORVSQL_ON_ERROR_STOP");
    s.on_error_stop = stop && std::strcmp(stop, "1") == 0;
    s.logged_in = false;
    s.host_input[0] = s.database_input[0] = s.user_input[0] = s.password_input[0] = '\0';
}

bool console_ctrl_handler(int event) {
    switch (event) {
        case ctrl_c_event:
        case ctrl_close_event:
        case ctrl_logoff_event:
        case ctrl_shutdown_event:
            g_console.cancel_requested = true;
            return true;
        default:
            return false;
    }
}
