// Result storage: a bump arena of 64 KiB blocks (large requests get blocks of their own), rows
// stored end to end in runs, a forward cursor that walks them, the accessors and the one-call
// free.
#include "protocol/result.h"

#include <algorithm>
#include <cstdlib>

#include "platform/memory.h"
#include "protocol/db.h"

namespace {

inline constexpr size_t slab_header = 64;
inline constexpr size_t standard_block_bytes = sizeof(arena_block) + size_t(arena_block_size);
// The room at a slab's end that is still made a (shorter) block of its own.
inline constexpr size_t slab_tail_min = size_t(arena_dedicated_from);

arena_block* init_block(void* mem, int32_t size, int32_t in_slab) {
    auto* b = static_cast<arena_block*>(mem);
    b->next = nullptr;
    b->used = 0;
    b->size = size;
    b->in_slab = in_slab;
    b->reserved = 0;
    return b;
}

arena_block* new_block(int32_t size) {
    void* mem = std::malloc(sizeof(arena_block) + size_t(size));
    return mem ? init_block(mem, size, 0) : nullptr;
}

// A standard block: from the heap for the first few, then from the result's slabs.
arena_block* new_standard_block(db_result* r) {
    r->standard_blocks += 1;
    if (r->standard_blocks <= arena_blocks_before_slabs) return new_block(arena_block_size);
    arena_slab* slab = r->slabs;
    if (!slab || arena_slab_size - slab->bytes_used < sizeof(arena_block) + slab_tail_min) {
        void* mem = plat_alloc_slab(arena_slab_size);
        if (!mem) return new_block(arena_block_size);
        slab = static_cast<arena_slab*>(mem);
        slab->next = r->slabs;
        slab->bytes_used = slab_header;
        r->slabs = slab;
    }
    // The slab's last block takes what is left of it, so that no slab ends in unused room.
    size_t bytes = std::min(standard_block_bytes, arena_slab_size - slab->bytes_used);
    char* at = reinterpret_cast<char*>(slab) + slab->bytes_used;
    slab->bytes_used += bytes;
    return init_block(at, int32_t(bytes - sizeof(arena_block)), 1);
}

char* payload(arena_block* b) {
    return reinterpret_cast<char*>(b + 1);
}

// Places size bytes at the given alignment (1 or 8) by the block rules: in the current block
// when they fit; otherwise in a new standard block, which becomes current, when the current one
// has a fifth or less left; otherwise, and for 32 KiB or more, in a block of their own at the
// head of the list, the current block staying current.
char* arena_place(db_result* r, size_t size, size_t align) {
    if (size < size_t(arena_dedicated_from)) {
        if (!r->arena_cur) {
            arena_block* b = new_standard_block(r);
            if (!b) return nullptr;
            b->next = r->arena_head;
            r->arena_head = r->arena_cur = b;
        }
        arena_block* cur = r->arena_cur;
        size_t at = (size_t(cur->used) + align - 1) & ~(align - 1);
        if (at + size <= size_t(cur->size)) {
            cur->used = int32_t(at + size);
            return payload(cur) + at;
        }
        if (cur->size - cur->used <= arena_keep_free) {
            arena_block* b = new_standard_block(r);
            if (!b) return nullptr;
            b->next = cur->next;
            cur->next = b;
            r->arena_cur = b;
            b->used = int32_t(size);
            return payload(b);
        }
    }
    if (size > size_t(INT32_MAX)) return nullptr;
    arena_block* b = new_block(int32_t(size));
    if (!b) return nullptr;
    b->used = int32_t(size);
    b->next = r->arena_head;
    r->arena_head = b;
    return payload(b);
}

}  // namespace

void* arena_alloc_slow(db_result* r, int32_t size) {
    if (size < 0) return nullptr;
    return arena_place(r, size_t(size), 8);
}

// The row does not follow the last run where it lies: it opens a run of its own.
char* result_add_row_slow(db_result* r, size_t size) {
    char* at = arena_place(r, sizeof(row_run) + size, alignof(row_run));
    if (!at) return nullptr;
    auto* run = reinterpret_cast<row_run*>(at);
    run->next = nullptr;
    run->bytes = size;
    if (r->last_run) {
        r->last_run->next = run;
    } else {
        r->first_run = r->cur_run = run;
        r->cur_at = run_records(run);
    }
    r->last_run = run;
    r->rows_end = run_records(run) + size;
    r->row_count += 1;
    return run_records(run);
}

db_row* db_result_next(db_result* r) {
    if (r->pos >= r->row_count - 1) {
        r->pos = r->row_count;
        return nullptr;
    }
    r->pos += 1;
    if (r->col_count == 0) {
        // The one record of every row without columns: its offset table ends at once.
        static const unsigned char empty_row[2] = {1, 2};
        return reinterpret_cast<db_row*>(const_cast<unsigned char*>(empty_row));
    }
    if (r->cur_at == run_records(r->cur_run) + r->cur_run->bytes) {
        r->cur_run = r->cur_run->next;
        r->cur_at = run_records(r->cur_run);
    }
    auto* row = reinterpret_cast<db_row*>(const_cast<char*>(r->cur_at));
    r->cur_at += row_offset(row, r->col_count);
    return row;
}

int db_result_rewind(db_result* r) {
    r->pos = -1;
    r->cur_run = r->first_run;
    r->cur_at = r->first_run ? run_records(r->first_run) : nullptr;
    return 0;
}

void db_result_free(db_result* r) {
    if (!r) return;
    for (arena_block* b = r->arena_head; b;) {
        arena_block* next = b->next;
        if (!b->in_slab) std::free(b);
        b = next;
    }
    for (arena_slab* s = r->slabs; s;) {
        arena_slab* next = s->next;
        plat_free_slab(s);
        s = next;
    }
    delete r;
}

int db_result_ok(const db_result* r) {
    return r->ok;
}
const char* db_result_message(const db_result* r) {
    return r->message;
}
int db_result_kind(const db_result* r) {
    return r->kind;
}
int db_result_inserted(const db_result* r) {
    return r->inserted;
}
int db_result_updated(const db_result* r) {
    return r->updated;
}
int db_result_deleted(const db_result* r) {
    return r->deleted;
}
int db_result_msg_level(const db_result* r) {
    return r->level;
}
int db_result_error_code(const db_result* r) {
    return r->error_code;
}
int db_result_row_count(const db_result* r) {
    return r->row_count;
}
int db_result_col_count(const db_result* r) {
    return r->col_count;
}
bool db_result_cut_short(const db_result* r) {
    return r->cut_short;
}
const char* db_result_col_name(const db_result* r, int col) {
    return r->columns[col].name;
}
int db_result_col_type(const db_result* r, int col) {
    return r->columns[col].type;
}
const char* db_result_col_type_name(const db_result* r, int col) {
    return db_type_name(r->columns[col].type);
}
int32_t db_result_col_type_mod(const db_result* r, int col) {
    return r->columns[col].type_mod;
}
int32_t db_result_col_flags(const db_result* r, int col) {
    return r->columns[col].flags;
}

const unsigned char* db_result_insert_key(const db_result* r, int* len) {
    if (len) *len = r->insert_key_len;
    return r->insert_key;
}

const char* db_row_value(const db_row* row, int col) {
    return reinterpret_cast<const char*>(row) + row_offset(row, col);
}

int db_row_value_len(const db_row* row, int col) {
    return static_cast<int>(row_offset(row, col + 1) - row_offset(row, col) - 1);
}
