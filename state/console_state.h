// The one process-wide record of the console: settings, connection values, the statement and
// line buffers, the spool state and the flags shared with the control handler and the debug
// monitor. It lives for the whole process and is never freed. Kept in a library of its own so
// that the output, loader and monitor subsystems can read it without depending on the shell.
// The date format is the one setting kept apart, with the rendering that reads it
// (output/date_format.h).
#pragma once

#include <atomic>
#include <cstdint>

struct db_conn;

inline constexpr int sql_buff_size = 600000;
// The longest statement: the buffer keeps room for the ';' that run_statement appends and its
// zero byte.
inline constexpr int max_statement_len = sql_buff_size - 2;
inline constexpr int line_buff_size = 8192;
inline constexpr int spool_name_size = 200;
inline constexpr int host_input_size = 128;
inline constexpr int database_input_size = 128;
inline constexpr int user_input_size = 128;
inline constexpr int password_input_size = 64;
inline constexpr int keyword_size = 20;

struct console_state {
    const char* null_text;               // text shown for a NULL value
    bool b_pause;                        // pause after each page of rows; off at every login
    bool heading;                        // print column headings
    bool show_use_time;                  // print the elapsed time of a statement
    bool auto_commit;                    // sent with the login and with every statement
    int32_t pagesize;                    // rows per page
    int32_t port;                        // server TCP port; handed to db_connect as 16 bits
    const char* ssl_mode;                // connection mode word: "NSSL", "ssl", "tls", ...
    char sql_buff[sql_buff_size];        // the statement being assembled, or the last one run
    char sql_buff_copy[sql_buff_size];   // scratch copy used by c/ and EDIT
    char* spool_path;                    // heap copy of the spool file name, null when none
    char spool_name[spool_name_size];    // spool file name as typed
    bool spool_on;                       // output is also written to the spool file
    bool desc_mode;                      // the statement's result is shown as a table description
    bool show_time;                      // the prompt shows the time of day
    bool sput_head;                      // headings also go to spool and export files
    db_conn* conn;                       // the console's connection; null while logged out
    std::atomic<db_conn*> monitor_conn;  // written by the debug monitor thread only
    std::atomic<bool> monitor_running;   // set by the console thread, cleared by the monitor
    const char* host;                    // into argv or host_input; null when missing
    const char* database;
    const char* user;
    const char* password;
    const char* encryptor;               // optional; null when not given
    std::atomic<bool> monitor_stop;      // set by the console thread ('#' again), cleared by
                                         // the console thread as it starts a monitor and by the
                                         // monitor thread as it ends
    std::atomic<bool> cancel_requested;  // set by the control handler, cleared by the listing
    int32_t max_idle_time;               // the server's idle limit in seconds
    char line_buff[line_buff_size + 2];  // the input line just read (+ the loader's tab and 0)
    double last_activity;                // seconds since 1970 of the last statement sent

    // What the statement loop shares of the statement being entered; the rest of its assembly
    // state is the loop's own (statement_assembly).
    int line_count;  // lines read for the statement being entered; 0: the next prompt starts a
                     // new one. Set by the loop; what ends a statement early may set it to 0.
    char keyword[keyword_size];  // first word of the last first line that had one, as typed;
                                 // the outcome report reads it (DESC, SHOW)

    bool secure_login;     // the start-up connected with a secure mode word
    bool login_requested;  // LOGIN: the statement loop returns to the login cycle
    bool show_type;        // annotate headings with column types
    int32_t string_size;   // STR_SIZE setting
    int32_t number_size;   // NUM_SIZE setting
    int desc_pos;          // length of the last name part of a DESC argument
    bool on_error_stop;    // ON_ERROR_STOP: the first failure ends the console (status 3)
    bool logged_in;        // a login has succeeded in this run: end of input then ends with 0

    // The prompts' own buffers for values not given on the command line.
    char host_input[host_input_size];
    char database_input[database_input_size];
    char user_input[user_input_size];
    char password_input[password_input_size];
};

extern console_state g_console;

// Puts the record into its start-up state.
void console_state_reset(console_state& s);

// The console control handler: for Ctrl+C, console close, logoff and shutdown it sets
// cancel_requested and returns true (handled); other events return false. Runs in signal
// context; it touches only the atomic flag.
bool console_ctrl_handler(int event);
