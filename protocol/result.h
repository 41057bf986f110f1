// The result record of one statement's reply, its arena and its row chunks; shared by the reply
// reader and the result accessors (and their tests). Nothing outside protocol/ includes this.
#pragma once

#include <cstdint>

struct db_conn;

inline constexpr int32_t arena_block_size = 65536;    // payload of a standard block
inline constexpr int32_t arena_dedicated_from = 32768;  // requests this large get their own block
inline constexpr int32_t arena_keep_free = 13107;     // a block with this much free or less is left
inline constexpr int row_chunk_rows = 1000;
inline constexpr int insert_key_size = 24;

struct db_value {
    int32_t length;  // bytes of the value; 0 = no value in this row
    char* data;      // length bytes and a zero byte, in the result's arena
};

struct db_column {
    char* name;
    int32_t type;      // type code
    int32_t type_mod;  // precision and scale, or length, or -1
    int32_t flags;     // bit value 2 = NOT NULL
};

struct arena_block {
    arena_block* next;
    int32_t used;
    int32_t size;  // payload bytes following this header
};

struct row_chunk {
    row_chunk* prev;
    row_chunk* next;
    db_value* rows[row_chunk_rows];
};

struct db_result {
    int32_t ok = 1;       // 0 after an error or fatal message
    int32_t done = 0;     // 1 once the reply was read to its end
    db_conn* conn = nullptr;  // not owned
    int32_t row_count = 0;
    int32_t col_count = 0;
    int32_t last_pos = -1;  // row whose chunk is the cursor chunk; -1 = none
    int32_t pos = -1;       // cursor; -1 = before the first row
    row_chunk* first_chunk = nullptr;
    row_chunk* last_chunk = nullptr;
    row_chunk* cur_chunk = nullptr;
    db_column* columns = nullptr;  // col_count descriptors, in the arena
    arena_block* arena_head = nullptr;
    arena_block* arena_cur = nullptr;  // block that small requests are carved from
    char* message = nullptr;           // last warning/error/fatal text, in the arena
    int32_t kind = 0;
    int32_t inserted = 0;
    int32_t updated = 0;
    int32_t deleted = 0;
    unsigned char insert_key[insert_key_size] = {};
    int32_t insert_key_len = 0;
    int32_t stop = 0;   // stop request; stays 0, every result is complete when handed out
    int32_t level = 0;  // 0 none, 1 warning, 2 error, 3 fatal
    int32_t error_code = 0;
    bool cut_short = false;  // the connection was lost while rows streamed
};

// Returns size bytes from the result's arena (sizes are rounded up to 8 so that records stay
// aligned), or null when memory is exhausted.
void* arena_alloc(db_result* r, int32_t size);

// Appends a row (col_count values in the arena). Returns false when memory is exhausted.
bool result_append_row(db_result* r, db_value* row);
