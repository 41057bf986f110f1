// Result storage: a bump arena of 64 KiB blocks (large requests get blocks of their own), rows
// indexed in chunks of 1000, a forward cursor, the accessors and the one-call free.
#include "protocol/result.h"

#include <sys/mman.h>

#include <cstdlib>

#include "protocol/db.h"

namespace {

inline constexpr size_t slab_header = 64;
inline constexpr size_t standard_block_bytes = sizeof(arena_block) + size_t(arena_block_size);
inline constexpr int32_t blocks_per_slab =
    int32_t((arena_slab_size - slab_header) / standard_block_bytes);

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
    if (!slab || slab->blocks_used == blocks_per_slab) {
        void* mem = std::aligned_alloc(arena_slab_size, arena_slab_size);
        if (!mem) return new_block(arena_block_size);
        madvise(mem, arena_slab_size, MADV_HUGEPAGE);  // a hint; plain pages work as well
        slab = static_cast<arena_slab*>(mem);
        slab->next = r->slabs;
        slab->blocks_used = 0;
        r->slabs = slab;
    }
    char* at = reinterpret_cast<char*>(slab) + slab_header +
               size_t(slab->blocks_used) * standard_block_bytes;
    slab->blocks_used += 1;
    return init_block(at, arena_block_size, 1);
}

char* payload(arena_block* b) { return reinterpret_cast<char*>(b + 1); }


}  // namespace

void* arena_alloc_slow(db_result* r, int32_t size) {
    if (size < 0) return nullptr;
    size = (size + 7) & ~7;
    if (size == 0) size = 8;
    if (size < arena_dedicated_from) {
        if (!r->arena_cur) {
            arena_block* b = new_standard_block(r);
            if (!b) return nullptr;
            r->arena_cur = b;
            if (!r->arena_head) r->arena_head = b;
            else {
                b->next = r->arena_head;
                r->arena_head = b;
            }
        }
        arena_block* cur = r->arena_cur;
        int32_t free_bytes = cur->size - cur->used;
        if (free_bytes >= size) {
            char* p = payload(cur) + cur->used;
            cur->used += size;
            return p;
        }
        if (free_bytes <= arena_keep_free) {
            arena_block* b = new_standard_block(r);
            if (!b) return nullptr;
            b->next = cur->next;
            cur->next = b;
            r->arena_cur = b;
            b->used = size;
            return payload(b);
        }
    }
    arena_block* b = new_block(size);
    if (!b) return nullptr;
    b->used = size;
    b->next = r->arena_head;
    r->arena_head = b;
    return payload(b);
}

bool result_append_row_slow(db_result* r, db_row* row) {
    if (r->row_count % row_chunk_rows == 0) {
        auto* chunk = static_cast<row_chunk*>(std::malloc(sizeof(row_chunk)));
        if (!chunk) return false;
        chunk->prev = r->last_chunk;
        chunk->next = nullptr;
        if (!r->first_chunk) {
            r->first_chunk = r->last_chunk = r->cur_chunk = chunk;
        } else {
            r->last_chunk->next = chunk;
            r->last_chunk = chunk;
        }
    }
    r->last_chunk->rows[r->row_count % row_chunk_rows] = row;
    r->row_count += 1;
    return true;
}

db_row* db_result_next(db_result* r) {
    if (r->pos >= r->row_count - 1) {
        r->pos = r->row_count;
        return nullptr;
    }
    r->pos += 1;
    if (r->col_count == 0) {
        // The one record of every row without columns: its offset table ends at once.
        static const uint32_t empty_row[1] = {4};
        return reinterpret_cast<db_row*>(const_cast<uint32_t*>(empty_row));
    }
    if (r->pos % row_chunk_rows == 0 && r->pos / row_chunk_rows != r->last_pos / row_chunk_rows)
        r->cur_chunk = r->last_pos < 0 ? r->first_chunk : r->cur_chunk->next;
    r->last_pos = r->pos;
    return r->cur_chunk->rows[r->pos % row_chunk_rows];
}

int db_result_rewind(db_result* r) {
    r->pos = -1;
    r->last_pos = -1;
    r->cur_chunk = r->first_chunk;
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
        std::free(s);
        s = next;
    }
    for (row_chunk* c = r->first_chunk; c;) {
        row_chunk* next = c->next;
        std::free(c);
        c = next;
    }
    delete r;
}

int db_result_ok(const db_result* r) { return r->ok; }
const char* db_result_message(const db_result* r) { return r->message; }
int db_result_kind(const db_result* r) { return r->kind; }
int db_result_inserted(const db_result* r) { return r->inserted; }
int db_result_updated(const db_result* r) { return r->updated; }
int db_result_deleted(const db_result* r) { return r->deleted; }
int db_result_msg_level(const db_result* r) { return r->level; }
int db_result_error_code(const db_result* r) { return r->error_code; }
int db_result_row_count(const db_result* r) { return r->row_count; }
int db_result_col_count(const db_result* r) { return r->col_count; }
bool db_result_cut_short(const db_result* r) { return r->cut_short; }
const char* db_result_col_name(const db_result* r, int col) { return r->columns[col].name; }
int db_result_col_type(const db_result* r, int col) { return r->columns[col].type; }
const char* db_result_col_type_name(const db_result* r, int col) {
    return db_type_name(r->columns[col].type);
}
int32_t db_result_col_type_mod(const db_result* r, int col) { return r->columns[col].type_mod; }
int32_t db_result_col_flags(const db_result* r, int col) { return r->columns[col].flags; }

const unsigned char* db_result_insert_key(const db_result* r, int* len) {
    if (len) *len = r->insert_key_len;
    return r->insert_key;
}

const char* db_row_value(const db_row* row, int col) {
    return reinterpret_cast<const char*>(row) + row_offsets(row)[col];
}

int db_row_value_len(const db_row* row, int col) {
    const uint32_t* off = row_offsets(row);
    return static_cast<int>(off[col + 1] - off[col] - 1);
}
