// Bulk loading: the TABLDR command's key=value arguments and the streaming of a delimited data
// file into a table over the console's own connection, while a second thread reads the
// server's replies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct db_conn;

// The parsed arguments. Texts point into the command line, cut in place.
struct load_request {
    const char* table = nullptr;
    const char* datafile = nullptr;
    int32_t mode = 0;              // 0 insert, 1 append, 2 replace
    const char* ft = nullptr;      // field terminator as typed, quotes included
    const char* rt = nullptr;      // row terminator: X'hh..' or literal bytes
    const char* log = nullptr;     // null: "./norv_load.log"
    const char* errlog = nullptr;  // null: "./norv_load_err.log"
    bool reindex = false;
    int32_t imp_mode = 0;
    int32_t parse_para = 1;
    int32_t ins_para = 1;
};

// Parses the key=value pairs of text (the line after the command word; blanks, TABs and '='
// separate, in any mix; no quoting). Cuts text in place. Never reads past its zero byte.
load_request parse_load_arguments(char* text);

inline constexpr int row_terminator_max = 7;

// Decodes a row terminator (X'0d0a' or literal bytes) into out (room for row_terminator_max
// bytes). Returns its length, or -1 for a bad hexadecimal digit, an empty terminator or one
// longer than row_terminator_max bytes.
int decode_row_terminator(const char* rt, unsigned char* out);

// The load statement the server is sent for a request (mode words and clauses as the server
// expects them).
std::string build_load_statement(const load_request& r);

// Streams the data file into the table. Returns true when the load ran to its end and the
// server reported no error. Console thread.
bool load_table_stream(db_conn* conn, const load_request& r);

// The whole TABLDR command after the connection probe: text starts at the command word.
// Prints the checks' messages, the outcome and the elapsed time. Returns false when a check
// refused the command or the load failed.
bool run_load_command(db_conn* conn, char* text);
