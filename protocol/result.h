// The result record of one statement's reply, its arena and its row runs; shared by the reply
// reader and the result accessors (and their tests). Nothing outside protocol/ includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

struct db_conn;
struct db_row;

inline constexpr int32_t arena_block_size = 65536;      // payload of a standard block
inline constexpr int32_t arena_dedicated_from = 32768;  // requests this large get their own block
inline constexpr int32_t arena_keep_free = 13107;  // a block with this much free or less is left
inline constexpr int insert_key_size = 24;

// The most rows a result holds: its row count is 32 bits. A reply with more is cut there like a
// lost connection. A variable so that a test can reach it; nothing else changes it.
inline int32_t result_row_bound = INT32_MAX;

// A row is one record in the arena, at any alignment: byte 0 is the width w of its offsets (1, 2
// or 4: the least that holds the record's size), then col_count + 1 offsets of w bytes each (host
// order, from the record's start), then every value's bytes, each followed by a zero byte. Value
// i starts at offset[i] and holds offset[i + 1] - offset[i] - 1 bytes; offset[col_count] is the
// record's size. A value of length 0 means no value in this row.
//
// Records follow one another in row runs: a run header in the arena, then its records end to
// end. The cursor walks a run record by record (each one's last offset leads to the next) and
// then follows the runs' links, so a row costs its record and nothing else.
inline constexpr size_t row_small_max = 0xff;     // records up to this size have 1-byte offsets
inline constexpr size_t row_medium_max = 0xffff;  // and up to this size 2-byte offsets

// The offset width of a record with col_count columns whose values take values_bytes, zero
// bytes included.
inline uint32_t row_width(size_t col_count, size_t values_bytes) {
    if (1 + (col_count + 1) + values_bytes <= row_small_max) return 1;
    if (1 + 2 * (col_count + 1) + values_bytes <= row_medium_max) return 2;
    return 4;
}
inline size_t row_record_size(size_t col_count, size_t values_bytes, uint32_t width) {
    return 1 + width * (col_count + 1) + values_bytes;
}

// Offset i of a record.
inline uint32_t row_offset(const db_row* row, int i) {
    const auto* p = reinterpret_cast<const unsigned char*>(row);
    if (p[0] == 1) return p[1 + i];
    if (p[0] == 2) {
        uint16_t v;
        std::memcpy(&v, p + 1 + 2 * i, 2);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, p + 1 + 4 * i, 4);
    return v;
}

struct row_run {
    row_run* next;
    size_t bytes;  // the records that follow this header
};
inline char* run_records(row_run* run) {
    return reinterpret_cast<char*>(run + 1);
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
    int32_t size;     // payload bytes following this header
    int32_t in_slab;  // 1 when the block lives in one of the result's slabs
    int32_t reserved;
};

// Large results take their standard blocks from 2 MiB slabs backed by huge pages: one page
// fault where 512 would be, for results of a hundred megabytes.
struct arena_slab {
    arena_slab* next;
    size_t bytes_used;  // from its start: its header and the blocks carved from it so far
};
inline constexpr size_t arena_slab_size = size_t(2) << 20;
inline constexpr int32_t arena_blocks_before_slabs = 16;

struct db_result {
    int32_t ok = 1;           // 0 after an error or fatal message
    int32_t done = 0;         // 1 once the reply was read to its end
    db_conn* conn = nullptr;  // not owned
    int32_t row_count = 0;
    int32_t col_count = 0;
    int32_t pos = -1;  // cursor; -1 = before the first row
    row_run* first_run = nullptr;
    row_run* last_run = nullptr;   // the run that takes the next row where it ends
    char* rows_end = nullptr;      // where the last run ends
    row_run* cur_run = nullptr;    // run of the cursor
    const char* cur_at = nullptr;  // record that the cursor returns next, in cur_run
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
    int32_t level = 0;  // 0 none, 1 warning, 2 error, 3 fatal
    int32_t error_code = 0;
    bool cut_short = false;  // the connection was lost while rows streamed
};

void* arena_alloc_slow(db_result* r, int32_t size);

// Returns size bytes from the result's arena, aligned to 8 bytes (for descriptors and texts), or
// null when memory is exhausted.
inline void* arena_alloc(db_result* r, int32_t size) {
    arena_block* cur = r->arena_cur;
    if (cur && size > 0 && size < arena_dedicated_from) {
        int32_t at = (cur->used + 7) & ~7;
        if (cur->size - at >= size) {
            cur->used = at + size;
            return reinterpret_cast<char*>(cur + 1) + at;
        }
    }
    return arena_alloc_slow(r, size);
}

char* result_add_row_slow(db_result* r, size_t size);

// Appends a row record of size bytes (as row_record_size gives) to the result and returns its
// place, to be filled by the caller before anything else is allocated; null when memory is
// exhausted. REQUIRES: row_count below result_row_bound, col_count above 0 (rows without columns
// are only counted: result_count_empty_row), size below INT32_MAX - 64.
inline char* result_add_row(db_result* r, size_t size) {
    arena_block* cur = r->arena_cur;
    if (cur) {
        char* free_at = reinterpret_cast<char*>(cur + 1) + cur->used;
        if (free_at == r->rows_end && size_t(cur->size - cur->used) >= size) {
            cur->used += int32_t(size);
            r->last_run->bytes += size;
            r->rows_end = free_at + size;
            r->row_count += 1;
            return free_at;
        }
    }
    return result_add_row_slow(r, size);
}

// A row of a result without columns holds nothing: it is counted, and every such row is one
// shared empty record. REQUIRES: row_count below result_row_bound.
inline void result_count_empty_row(db_result* r) {
    r->row_count += 1;
}
