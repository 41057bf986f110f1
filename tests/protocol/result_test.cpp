// Result storage: the arena's block choices, rows of every offset width, rows across run and
// block borders, the cursor with rewind, and what a result costs beside its reply.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "protocol/db.h"
#include "protocol/result.h"
#include "protocol/type_codes.h"
#include "tests/protocol/socket_pair.h"
#include "tests/support/wire_bytes.h"

namespace {

int block_count(const db_result* r) {
    int n = 0;
    for (const arena_block* b = r->arena_head; b; b = b->next)
        ++n;
    return n;
}

std::string column(const std::string& name, int type) {
    return wire_text(name) + be32(uint32_t(type)) + be32(uint32_t(-1)) + be32(0);
}

// The reply of a query whose rows are the given values (one vector per row), every column a
// VARCHAR.
std::string text_reply(size_t cols, const std::vector<std::vector<std::string>>& rows) {
    std::string out = "A" + be32(uint32_t(cols));
    for (size_t c = 0; c < cols; ++c)
        out += column("C" + std::to_string(c), 30);
    for (const auto& row : rows) {
        out += 'R';
        for (const std::string& v : row)
            out += wire_text(v);
    }
    return out + "K";
}

// Decodes reply as db_execute reads it from a server (written from a thread: it may not fit the
// socket).
db_result* decode(const std::string& reply) {
    socket_pair sp;
    auto conn = sp.conn();
    std::thread server([&] {
        sp.send_peer(reply);
        plat_socket_shutdown_send(sp.peer);
    });
    db_result* r = db_execute(conn.get(), "select 1");
    server.join();
    return r;
}

std::string value_of(const db_row* row, int col) {
    return std::string(db_row_value(row, col), size_t(db_row_value_len(row, col)));
}

// Every row of r, read through the cursor, against rows; the zero byte after each value too.
void expect_rows(db_result* r, const std::vector<std::vector<std::string>>& rows) {
    size_t i = 0;
    while (db_row* row = db_result_next(r)) {
        ASSERT_LT(i, rows.size());
        for (size_t c = 0; c < rows[i].size(); ++c) {
            ASSERT_EQ(db_row_value_len(row, int(c)), int(rows[i][c].size())) << i << "," << c;
            ASSERT_TRUE(value_of(row, int(c)) == rows[i][c]) << i << "," << c;
            ASSERT_EQ(db_row_value(row, int(c))[rows[i][c].size()], '\0') << i << "," << c;
        }
        ++i;
    }
    EXPECT_EQ(i, rows.size());
}

std::string filled(size_t n, size_t seed) {
    std::string s(n, '\0');
    for (size_t k = 0; k < n; ++k)
        s[k] = char('a' + (k * 7 + seed) % 26);
    return s;
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

TEST(db_type_name, names_codes_and_gives_empty_text_otherwise) {
    EXPECT_STREQ(db_type_name(5), "INTEGER");
    EXPECT_STREQ(db_type_name(12), "TIME WITH TIME ZONE");
    EXPECT_STREQ(db_type_name(44), "STREM");
    EXPECT_STREQ(db_type_name(45), "ROWID");
    for (int code : {31, 35, 40, 41, 42, 43, -1, db_type_code_count, 1000})
        EXPECT_STREQ(db_type_name(code), "");
}

TEST(result_rows, values_read_back_whole_on_both_sides_of_each_offset_width) {
    // Records of one value are 1 + 2 * width + n + 1 bytes: those of 255 bytes or less have
    // 1-byte offsets, those of 65535 or less 2-byte ones. A second, empty column puts the last
    // offset past the first value; a third column starts after it.
    std::vector<std::vector<std::string>> one, three;
    for (size_t n :
         {0, 1, 249, 250, 251, 252, 253, 254, 65527, 65528, 65529, 65530, 65531, 65532}) {
        one.push_back({filled(n, n)});
        three.push_back({filled(n, n + 1), "", filled(n % 5, n)});
        three.push_back({"", filled(n, n + 2), "z"});
    }
    for (auto* rows : {&one, &three}) {
        db_result* r = decode(text_reply((*rows)[0].size(), *rows));
        ASSERT_NE(r, nullptr);
        EXPECT_FALSE(db_result_cut_short(r));
        ASSERT_EQ(db_result_row_count(r), int(rows->size()));
        expect_rows(r, *rows);
        db_result_free(r);
    }
}

TEST(result_rows, many_rows_of_mixed_sizes_cross_run_and_block_borders_and_rewind) {
    // Narrow rows fill standard blocks; a row of 32 KiB or more goes to a block of its own and
    // the rows after it continue in the current block; a row that does not fit the little room
    // left opens a new block.
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < 6000; ++i) {
        size_t n = i % 997 == 3 ? 40000 + i : i % 301 == 7 ? 12000 + i : i % 5 == 0 ? 0 : i % 40;
        rows.push_back({std::to_string(i), filled(n, i)});
    }
    db_result* r = decode(text_reply(2, rows));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(db_result_row_count(r), 6000);
    for (int pass = 0; pass < 2; ++pass) {
        expect_rows(r, rows);
        EXPECT_EQ(db_result_next(r), nullptr) << "after the last row";
        EXPECT_EQ(db_result_next(r), nullptr) << "and on every call after";
        EXPECT_EQ(db_result_rewind(r), 0);
    }
    // Rewound half-way through, it starts again at the first row.
    for (int i = 0; i < 3000; ++i)
        ASSERT_NE(db_result_next(r), nullptr);
    db_result_rewind(r);
    db_row* first = db_result_next(r);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(value_of(first, 0), "0");
    db_result_free(r);

    r = decode(text_reply(1, {}));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(db_result_next(r), nullptr) << "an empty result has no rows";
    db_result_rewind(r);
    EXPECT_EQ(db_result_next(r), nullptr);
    db_result_free(r);
}

TEST(result_rows, a_large_result_takes_standard_blocks_from_slabs_and_frees_them) {
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < 2000; ++i)
        rows.push_back({filled(4000, i)});  // about 8 MB
    db_result* r = decode(text_reply(1, rows));
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r->slabs, nullptr);
    EXPECT_GT(r->standard_blocks, arena_blocks_before_slabs);
    expect_rows(r, rows);
    db_result_free(r);
}

TEST(result_rows, narrow_rows_hold_less_memory_than_their_reply) {
    // 100,000 rows of an integer and an 8-byte text: 21 reply bytes a row.
    std::string reply = "A" + be32(2) + column("ID", 5) + column("NAME", 30);
    for (uint32_t i = 0; i < 100000; ++i)
        reply += "R" + wire_text(be32(i)) + wire_text(filled(8, i));
    reply += "K";
    db_result* r = decode(reply);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(db_result_row_count(r), 100000);
    size_t held = 0;
    for (const arena_block* b = r->arena_head; b; b = b->next)
        held += sizeof *b + size_t(b->size);
    EXPECT_LT(held, reply.size());
    uint32_t expected = 0;
    while (db_row* row = db_result_next(r)) {
        uint32_t v;
        ASSERT_EQ(db_row_value_len(row, 0), 4);
        std::memcpy(&v, db_row_value(row, 0), 4);
        ASSERT_EQ(v, expected);
        ASSERT_TRUE(value_of(row, 1) == filled(8, expected));
        ++expected;
    }
    EXPECT_EQ(expected, 100000u);
    db_result_free(r);
}
