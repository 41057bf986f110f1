// The result record of one statement's reply, its arena and its row chunks; shared by the reply
// reader and the result accessors (and their tests). Nothing outside protocol/ includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct db_conn;
struct db_row;

inline constexpr int32_t arena_block_size = 65536;    // payload of a standard block
inline constexpr int32_t arena_dedicated_from = 32768;  // requests this large get their own block
inline constexpr int32_t arena_keep_free = 13107;     // a block with this much free or less is left
inline constexpr int row_chunk_rows = 1000;
inline constexpr int insert_key_size = 24;

// The most rows a result holds: its row count is 32 bits. A reply with more is cut there like a
// lost connection. A variable so that a test can reach it; nothing else changes it.
inline int32_t result_row_bound = INT32_MAX;

// A row is one record in the arena: col_count + 1 offsets (uint32, from the row's start), then
// every value's bytes, each followed by a zero byte. Value i starts at offset[i] and holds
// offset[i + 1] - offset[i] - 1 bytes; a value of length 0 means no value in this row.
inline uint32_t* row_offsets(db_row* row) { return reinterpret_cast<uint32_t*>(row); }
inline const uint32_t* row_offsets(const db_row* row) {
    return reinterpret_cast<const uint32_t*>(row);
}

struct db_column {
    char* name;
    int32_t type;      // type code
    int32_t type_mod;  // precision and scale, or length, or -1
    int32_t flags;     // bit value 2 = NOT NULL
};

struct arena_block {
    arena_block* next;
    int32_t used;
    int32_t size;         // payload bytes following this header
    int32_t in_slab;      // 1 when the block lives in one of the result's slabs
    int32_t reserved;
};

// Large results take their standard blocks from 2 MiB slabs backed by huge pages: one page
// fault where 512 would be, for results of a hundred megabytes.
struct arena_slab {
    arena_slab* next;
    int32_t blocks_used;  // standard blocks carved from it so far
};
inline constexpr size_t arena_slab_size = size_t(2) << 20;
inline constexpr int32_t arena_blocks_before_slabs = 16;

struct row_chunk {
    row_chunk* prev;
    row_chunk* next;
    db_row* rows[row_chunk_rows];
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
    arena_slab* slabs = nullptr;       // slabs of standard blocks, newest first
    int32_t standard_blocks = 0;       // standard blocks allocated so far
    char* message = nullptr;           // last warning/error/fatal text, in message_text
    std::string message_text;          // only the last message is kept: earlier ones are freed
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

void* arena_alloc_slow(db_result* r, int32_t size);

// Returns size bytes from the result's arena (sizes are rounded up to 8 so that records stay
// aligned), or null when memory is exhausted.
inline void* arena_alloc(db_result* r, int32_t size) {
    arena_block* cur = r->arena_cur;
    if (cur && size > 0 && size < arena_dedicated_from) {
        int32_t rounded = (size + 7) & ~7;
        if (cur->size - cur->used >= rounded) {
            char* p = reinterpret_cast<char*>(cur + 1) + cur->used;
            cur->used += rounded;
            return p;
        }
    }
    return arena_alloc_slow(r, size);
}

bool result_append_row_slow(db_result* r, db_row* row);

// Appends a row (a row record in the arena). Returns false when memory is exhausted.
// REQUIRES: row_count below result_row_bound, col_count above 0 (rows without columns are only
// counted: result_count_empty_row).
inline bool result_append_row(db_result* r, db_row* row) {
    int32_t slot = r->row_count % row_chunk_rows;
    if (slot == 0) return result_append_row_slow(r, row);
    r->last_chunk->rows[slot] = row;
    r->row_count += 1;
    return true;
}

// A row of a result without columns holds nothing: it is counted, and every such row is one
// shared empty record. REQUIRES: row_count below result_row_bound.
inline void result_count_empty_row(db_result* r) { r->row_count += 1; }
