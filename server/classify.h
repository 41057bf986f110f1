// What norvlite does with a statement text: the statements it answers itself (the console's
// own SHOW and SET statements and norvlite's message statements), and the few SQL statements
// whose transaction handling differs. Pure functions over the text, without I/O.
//
// Statements answered by norvlite (words in any case, blanks free, trailing ';' ignored):
//   show NAME                            one row with the setting, or "E" for an unknown NAME
//   set auto commit on|off               (also set auto_commit ...)
//   set client_encoding [to|=] VALUE     VALUE quoted ('...', '' for a quote) or bare
//   set time zone [to|=] VALUE
//   set transaction isolation [level] VALUE
//   set lock_timeout [to|=] N
//   set session authorization VALUE
//   use NAME                             switch the connection to database NAME
//   norvlite notice|warning|error|fatal 'TEXT'   reply "M", "W", "E" or "F" with TEXT, then "K"
//   norvlite output ['TEXT']             reply "O" (0, TEXT or nothing), then "K"
//   declare NAME cursor for QUERY        the connection's cursors (server/cursor.h); NAME is a
//   open NAME                            letter or '_' and then letters, digits and '_', at most
//   fetch N from NAME | fetch NAME       srv_cursor_name_max bytes; N from 1 to INT32_MAX
//   close NAME
//   set debug_pipe [to|=] on|off         turn the connection into a debug pipe
//   (server/debug_pipe.h) load ...                             a streamed load (server/load.h);
//   query: the whole text
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class srv_stmt_kind {
    sql,                  // for SQLite
    begin,                // BEGIN ...: SQL, and no implicit BEGIN before it
    commit,               // COMMIT or END [TRANSACTION|WORK] and nothing else
    rollback,             // ROLLBACK [TRANSACTION|WORK] and nothing else
    ddl,                  // CREATE, ALTER, DROP: ends an open transaction when auto-commit is off
    no_transaction,       // VACUUM, ATTACH, DETACH: never inside an implicit transaction
    show,                 // arg: the name, lower case, blanks as '_'
    set_auto_commit,      // flag: on
    set_client_encoding,  // arg
    set_time_zone,        // arg
    set_isolation,        // arg
    set_lock_timeout,     // number
    set_session_authorization,  // arg
    use_database,               // arg: the database name
    norvlite_message,           // letter ('M', 'W', 'E', 'F') and arg
    norvlite_output,            // flag: arg given; arg
    declare_cursor,             // arg: the name as written; query: the text after "for"
    open_cursor,                // arg: the name
    fetch_cursor,               // arg: the name; number: rows to send at most (1 without N)
    close_cursor,               // arg: the name
    set_debug_pipe,             // flag: on
    load_stream,                // query: the statement text, without trailing blanks and ';'
    bad_command,  // a statement of the list above with a wrong argument; arg: the reason
};

struct srv_stmt_class {
    srv_stmt_kind kind = srv_stmt_kind::sql;
    std::string arg;
    char letter = 0;
    bool flag = false;
    int64_t number = 0;
    std::string query;  // declare_cursor: the cursor's query, without trailing blanks and ';';
                        // load_stream: the whole statement
};

inline constexpr size_t srv_cursor_name_max = 128;

// Classifies text (a whole statement message text). Pure; any thread.
srv_stmt_class srv_classify(std::string_view text);

// text without its leading blanks, ';' and SQL comments ("-- ...", "/* ... */").
std::string_view srv_skip_trivia(std::string_view text);

// The first word of text after trivia, lower-cased (letters, digits, '_'), at most 32 bytes.
std::string srv_first_word(std::string_view text);
