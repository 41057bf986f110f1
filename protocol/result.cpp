// Result storage: a bump arena of 64 KiB blocks (large requests get blocks of their own), rows
// indexed in chunks of 1000, a forward cursor, the accessors and the one-call free.
#include "protocol/result.h"

#include <cstdlib>

#include "protocol/db.h"

namespace {

arena_block* new_block(int32_t size) {
    auto* b = static_cast<arena_block*>(std::malloc(sizeof(arena_block) + size_t(size)));
    if (!b) return nullptr;
    b->next = nullptr;
    b->used = 0;
    b->size = size;
    return b;
}

char* payload(arena_block* b) { return reinterpret_cast<char*>(b + 1); }

const db_value* values(const db_row* row) { return reinterpret_cast<const db_value*>(row); }

}  // namespace

void* arena_alloc(db_result* r, int32_t size) {
    if (size < 0) return nullptr;
    size = (size + 7) & ~7;
    if (size == 0) size = 8;
    if (size < arena_dedicated_from) {
        if (!r->arena_cur) {
            arena_block* b = new_block(arena_block_size);
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
            arena_block* b = new_block(arena_block_size);
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

bool result_append_row(db_result* r, db_value* row) {
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
    if (r->pos % row_chunk_rows == 0 && r->pos / row_chunk_rows != r->last_pos / row_chunk_rows)
        r->cur_chunk = r->last_pos < 0 ? r->first_chunk : r->cur_chunk->next;
    r->last_pos = r->pos;
    return reinterpret_cast<db_row*>(r->cur_chunk->rows[r->pos % row_chunk_rows]);
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
        std::free(b);
        b = next;
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

const char* db_row_value(const db_row* row, int col) { return values(row)[col].data; }
int db_row_value_len(const db_row* row, int col) { return values(row)[col].length; }
