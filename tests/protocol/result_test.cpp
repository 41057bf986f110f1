// Result storage: the arena's block choices, row chunks and the cursor across chunk borders.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol/db.h"
#include "protocol/result.h"

namespace {

int block_count(const db_result* r) {
    int n = 0;
    for (const arena_block* b = r->arena_head; b; b = b->next) ++n;
    return n;
}

// A one-column row holding i.
db_row* row_numbered(db_result* r, int i) {
    auto* row = static_cast<char*>(arena_alloc(r, 8 + 5));
    uint32_t off[2] = {8, 8 + 5};
    std::memcpy(row, off, sizeof off);
    std::memcpy(row + 8, &i, sizeof i);
    row[12] = '\0';
    return reinterpret_cast<db_row*>(row);
}

int number_of(const db_row* row) {
    int i;
    std::memcpy(&i, db_row_value(row, 0), sizeof i);
    return i;
}

}  // namespace

TEST(arena_alloc, a_large_request_gets_its_own_block_and_small_ones_stay_in_the_current) {
    auto* rp = new db_result;
    db_result& r = *rp;
    char* first = static_cast<char*>(arena_alloc(&r, 16));
    arena_block* standard = r.arena_cur;
    char* big = static_cast<char*>(arena_alloc(&r, 40000));
    EXPECT_EQ(r.arena_head->size, 40000);  // the dedicated block leads the list
    EXPECT_EQ(r.arena_cur, standard);
    char* small = static_cast<char*>(arena_alloc(&r, 10));
    EXPECT_EQ(small, first + 16);
    EXPECT_NE(big, nullptr);
    db_result_free(rp);
}

TEST(arena_alloc, a_request_that_does_not_fit_goes_by_the_free_space_left) {
    auto* rp = new db_result;
    db_result& r = *rp;
    arena_alloc(&r, 24000);
    arena_alloc(&r, 21536);  // 20000 bytes free in the current block
    arena_block* standard = r.arena_cur;
    ASSERT_EQ(standard->size - standard->used, 20000);
    arena_alloc(&r, 30000);
    EXPECT_EQ(r.arena_cur, standard) << "more than 13107 free: a dedicated block";
    EXPECT_EQ(r.arena_head->size, 30000);

    arena_alloc(&r, 7000);  // 13000 free now
    ASSERT_EQ(standard->size - standard->used, 13000);
    arena_alloc(&r, 30000);
    EXPECT_NE(r.arena_cur, standard) << "13107 or less free: a new standard block";
    EXPECT_EQ(r.arena_cur->size, arena_block_size);
    EXPECT_EQ(r.arena_cur->used, 30000);
    EXPECT_EQ(standard->next, r.arena_cur);
    EXPECT_EQ(block_count(&r), 3);
    db_result_free(rp);
}

TEST(db_result_next, crosses_chunks_stops_at_the_end_and_rewinds) {
    auto* r = new db_result;
    r->col_count = 1;
    EXPECT_EQ(db_result_next(r), nullptr) << "an empty result has no rows";
    db_result_rewind(r);
    for (int i = 0; i < 2500; ++i) ASSERT_TRUE(result_append_row(r, row_numbered(r, i)));
    // A chunk holds rows 0 to 999; row 1000 opens the next one.
    ASSERT_NE(r->first_chunk->next, nullptr);
    EXPECT_EQ(number_of(r->first_chunk->rows[999]), 999);
    EXPECT_EQ(number_of(r->first_chunk->next->rows[0]), 1000);
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 2500; ++i) {
            db_row* row = db_result_next(r);
            ASSERT_NE(row, nullptr) << i;
            ASSERT_EQ(number_of(row), i);
        }
        EXPECT_EQ(db_result_next(r), nullptr);
        EXPECT_EQ(db_result_next(r), nullptr);
        EXPECT_EQ(db_result_rewind(r), 0);
    }
    db_result_free(r);
}

TEST(db_type_name, names_codes_and_gives_empty_text_otherwise) {
    EXPECT_STREQ(db_type_name(5), "INTEGER");
    EXPECT_STREQ(db_type_name(12), "TIME WITH TIME ZONE");
    EXPECT_STREQ(db_type_name(44), "STREM");
    EXPECT_STREQ(db_type_name(45), "ROWID");
    for (int code : {31, 35, 40, 41, 42, 43, -1, 46, 1000}) EXPECT_STREQ(db_type_name(code), "");
}

TEST(arena_alloc, a_large_result_takes_standard_blocks_from_slabs_and_frees_them) {
    auto* r = new db_result;
    r->col_count = 1;
    std::string big(4000, 'v');
    for (int i = 0; i < 2000; ++i) {  // about 8 MB: well past the heap blocks
        auto* row = static_cast<char*>(arena_alloc(r, int32_t(8 + big.size() + 1)));
        ASSERT_NE(row, nullptr);
        uint32_t off[2] = {8, uint32_t(8 + big.size() + 1)};
        std::memcpy(row, off, sizeof off);
        std::memcpy(row + 8, big.data(), big.size());
        row[8 + big.size()] = char('0' + i % 10);
        ASSERT_TRUE(result_append_row(r, reinterpret_cast<db_row*>(row)));
    }
    EXPECT_NE(r->slabs, nullptr);
    EXPECT_GT(r->standard_blocks, arena_blocks_before_slabs);
    int i = 0;
    while (db_row* row = db_result_next(r)) {
        ASSERT_EQ(db_row_value_len(row, 0), int(big.size()));
        ASSERT_EQ(db_row_value(row, 0)[big.size()], char('0' + i % 10));
        ++i;
    }
    EXPECT_EQ(i, 2000);
    db_result_free(r);
}
