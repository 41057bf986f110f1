// The text of a streamed load as the console builds it, read into a plain record:
//   LOAD [APPEND|REPLACE] TABLE t FROM STREAM RECORDS DELIMITED BY NEWLINE
//        FIELDS TERMINATED BY 'c' [WITH REINDEX] [USE MODE n] [PARALLEL a,b] [;]
// Pure functions over the text, without I/O; server/load.cpp runs the exchange that follows.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class srv_load_mode {
    insert,   // LOAD TABLE: adds rows
    append,   // LOAD APPEND TABLE: adds rows, like insert
    replace,  // LOAD REPLACE TABLE: empties the table in the load's first transaction
};

struct srv_load_statement {
    srv_load_mode mode = srv_load_mode::insert;
    std::string schema;           // empty: SQLite's search order (temp, main, attached)
    std::string table;            // the name, unquoted
    std::string table_text;       // the name as written, for messages and the log
    char separator = '|';         // the one byte between the quotes of FIELDS TERMINATED BY
    bool reindex = false;         // WITH REINDEX: accepted, nothing to do on SQLite
    int32_t use_mode = 0;         // USE MODE n: accepted and ignored; 0 without the clause
    int32_t parallel_insert = 1;  // PARALLEL a,b: a; accepted and ignored
    int32_t parallel_parse = 1;   // PARALLEL a,b: b; accepted and ignored
};

// True when text is meant as a load: its first word is LOAD (any case). Pure; any thread.
bool srv_is_load_statement(std::string_view text);

// Reads text into out. Words in any case, blank runs of any length between them, the clauses
// WITH REINDEX, USE MODE and PARALLEL each at most once and in any order after the separator,
// trailing blanks and ';' ignored. The table is [schema.]name, each part bare or quoted with
// "..." (a doubled quote standing for one), `...` or [...]. Returns false with a one-line reason
// in why, such as "a load separator is one character between quotes, not 'ab'". Pure; any
// thread.
bool srv_parse_load_statement(std::string_view text, srv_load_statement& out, std::string& why);
