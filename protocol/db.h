// The wire protocol client as the console uses it: connect and log in, disconnect. A connection
// is used by one thread at a time. No function here throws; failures are return values.
#pragma once

#include <cstdint>

struct db_conn;  // one open, logged-in connection; created by db_connect, freed by db_disconnect

// Opens a TCP connection to host:port, secures it as asked and logs in.
// mode: "ssl"/"SSL" selects the own cipher, "tls"/"TLS" selects TLS; read only when secure is 1.
// encryptor, char_set, time_zone and iso_level may be null (left out of the login text);
// lock_timeout is sent only when above 0. defer_rows changes nothing: the callers pass 0, and
// rows are always read inside the execute call.
// Returns the new connection, or null when anything fails. Prints only the TLS set-up messages
// and the refusal of a login text too long for the login buffer; other failures are silent.
db_conn* db_connect(const char* mode, const char* host, uint16_t port, const char* database,
                    const char* user, const char* password, const char* encryptor,
                    const char* char_set, const char* time_zone, const char* iso_level,
                    int32_t lock_timeout, int32_t auto_commit, int32_t secure, int32_t defer_rows);

// Closes the socket and frees the connection. Sends nothing to the server. Returns 0.
int db_disconnect(db_conn* conn);

// 1 when the connection was opened with encryption requested (own cipher or TLS).
int db_conn_secure(const db_conn* conn);

// A number that no other connection of this process has had or will have (a new connection may
// be allocated where a closed one was, so its address tells nothing); 0 for a null connection.
uint64_t db_conn_serial(const db_conn* conn);

// What a connection holds between two statements, looked at without blocking, before the next
// one is sent: nothing (db_idle_clean); the server's close, a reset, or no open socket at all
// (db_idle_closed, also for a null connection); or bytes that answer no statement
// (db_idle_stray: bytes read ahead and not consumed, bytes on the socket, ciphertext on the own
// cipher, application data or an unfinished record on TLS). TLS records that carry no data, such
// as session tickets, are taken in and count as nothing. A system call or two per look, never
// more; console thread.
inline constexpr int db_idle_clean = 0;
inline constexpr int db_idle_closed = 1;
inline constexpr int db_idle_stray = 2;
int db_idle_check(db_conn* conn);

// ---- statements and replies -----------------------------------------------------------------

struct db_result;  // one statement's reply: outcome, counts, message, columns, rows
struct db_row;     // one row of a result; lives in the result's memory
struct db_stmt;    // a statement with bound parameters; owned by its caller

// Result kinds.
inline constexpr int db_kind_none = 0;
inline constexpr int db_kind_insert = 1;
inline constexpr int db_kind_query = 2;
inline constexpr int db_kind_update = 3;
inline constexpr int db_kind_delete = 4;

// Message levels.
inline constexpr int db_level_none = 0;
inline constexpr int db_level_warning = 1;
inline constexpr int db_level_error = 2;
inline constexpr int db_level_fatal = 3;

// Sends sql as a statement without parameters and reads the whole reply, rows included.
// Returns the result (owned by the caller, freed with db_result_free), or null when no reply
// could be read (the connection is to be treated as lost). A server error is a result with
// ok 0. When the connection fails while rows stream, the rows so far are kept, the socket is
// closed and db_result_cut_short says so.
db_result* db_execute(db_conn* conn, const char* sql);

// A statement with up to db_stmt_max_params parameters; count 0.
inline constexpr int db_stmt_max_params = 100;
db_stmt* db_stmt_new(const char* sql);
void db_stmt_free(db_stmt* stmt);

// Parameter kinds: raw bytes travel as type 34 (BLOB), text as type 32 (CLOB).
inline constexpr int db_param_bytes = 0;
inline constexpr int db_param_text = 1;

// Stores a copy of length bytes as parameter index (length 0 is stored as one zero byte).
// REQUIRES: 0 <= index < db_stmt_max_params, each index bound once. Returns false otherwise.
bool db_stmt_bind(db_stmt* stmt, int index, const void* data, int length, int kind);

// How db_stmt_bind_file went.
enum class db_file_bind { ok, failed, too_large };

// Binds the contents of the open file fd as parameter index, read to its end: the length is
// what could be read (an empty file binds one zero byte). A regular file of more than 1 MiB is
// not held in memory: its bytes are read from it again as they are sent, and when it then ends
// elsewhere the exchange fails unfinished (see db_stmt_changed_param). Takes fd over in every
// case. failed: a read error or bad arguments; too_large: 2 GiB - 1 bytes or more.
db_file_bind db_stmt_bind_file(db_stmt* stmt, int index, int fd, int kind);

// Sends the statement with its parameters and reads the reply, as db_execute.
db_result* db_execute_params(db_conn* conn, db_stmt* stmt);

// After db_execute_params returned null: the parameter whose file no longer ended where it did
// when it was bound (the statement was cut off unfinished and not run), or -1.
int db_stmt_changed_param(const db_stmt* stmt);

// Sends sql as a statement without parameters and flushes; reads nothing (the caller reads the
// reply with the primitives of db_wire.h). Returns the connection, or null when the send failed.
db_conn* db_send_statement(db_conn* conn, const char* sql);

// Reads the reply of the statement that db_send_statement sent on conn, as db_execute reads it:
// the result (owned by the caller), or null when no reply could be read (the socket is closed
// then). Lets a caller send its next statement and use the last reply while the server works.
db_result* db_read_reply(db_conn* conn);

// Changes a login setting of an open connection by sending its SQL statement; the reply is
// dropped unread. name: "char_set", "iso_level", "time_zone", "lock_timeout" or "auto_commit".
// Returns 0.
int db_set_option(db_conn* conn, const char* name, const char* value);

// ---- reading a result (indexes are 0-based and not checked) ---------------------------------

int db_result_ok(const db_result* r);               // 1 = success, 0 after an error or fatal
const char* db_result_message(const db_result* r);  // last warning/error/fatal text, or null
int db_result_kind(const db_result* r);
int db_result_inserted(const db_result* r);
int db_result_updated(const db_result* r);
int db_result_deleted(const db_result* r);
int db_result_msg_level(const db_result* r);
int db_result_error_code(const db_result* r);
int db_result_row_count(const db_result* r);
int db_result_col_count(const db_result* r);
// True when the connection was lost while rows streamed: the rows received are kept.
bool db_result_cut_short(const db_result* r);
const char* db_result_col_name(const db_result* r, int col);
int db_result_col_type(const db_result* r, int col);
const char* db_result_col_type_name(const db_result* r, int col);  // static text, "" if none
int32_t db_result_col_type_mod(const db_result* r, int col);       // -1 when none
int32_t db_result_col_flags(const db_result* r, int col);          // bit 2 = NOT NULL
// The payload of the last "I" message, at most 24 bytes; *len receives its length.
const unsigned char* db_result_insert_key(const db_result* r, int* len);

// The next row, or null after the last one (and on every call after that).
db_row* db_result_next(db_result* r);
// Puts the cursor before the first row. Returns 0.
int db_result_rewind(db_result* r);

// The value's bytes, in host byte order for the converted types, followed by a zero byte.
const char* db_row_value(const db_row* row, int col);
int db_row_value_len(const db_row* row, int col);

// Frees the result with every column, message and value in it. Null is allowed.
void db_result_free(db_result* r);

// The display name of a type code, or "" for a code without one. Static text.
const char* db_type_name(int code);
