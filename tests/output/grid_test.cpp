// The listing rules without the console: headings per page on the console and in the spool
// copy, pauses and the keys that end a listing, Ctrl+C, the spool copy ended after every
// row, NULL text and natural widths. (What the console's list_rows(result) prints through its
// record, its writer and the spool file is checked end to end: tests/e2e/display_e2e_test.cpp.)
#include "output/grid.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "protocol/db.h"
#include "tests/protocol/socket_pair.h"
#include "tests/support/wire_bytes.h"

namespace {

struct column_spec {
    std::string name;
    int type;
    int32_t mod;
};

// The reply of a query: its columns, then rows of values as the server sends them (an empty
// value is a NULL).
std::string query_reply(const std::vector<column_spec>& cols,
                        const std::vector<std::vector<std::string>>& rows) {
    std::string out = "A" + be32(uint32_t(cols.size()));
    for (const column_spec& c : cols)
        out += wire_text(c.name) + be32(uint32_t(c.type)) + be32(uint32_t(c.mod)) + be32(0);
    for (const auto& row : rows) {
        out += 'R';
        for (const std::string& v : row)
            out += wire_text(v);
    }
    return out + "K";
}

struct result_closer {
    void operator()(db_result* r) const { db_result_free(r); }
};
using result_ptr = std::unique_ptr<db_result, result_closer>;

// The result the reply reader makes of reply.
result_ptr decoded(const std::string& reply) {
    socket_pair sp;
    auto conn = sp.conn();
    std::thread server([&] {
        sp.send_peer(reply);
        plat_socket_shutdown_send(sp.peer);
    });
    result_ptr r(db_execute(conn.get(), "select 1"));
    server.join();
    return r;
}

// One text column "c" holding the given values, one per row.
result_ptr text_rows(const std::vector<std::string>& values) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& v : values)
        rows.push_back({v});
    return decoded(query_reply({{"c", 30, -1}}, rows));
}

const std::string rule =
    "------------------------------------------------------------------------------";

std::string heading(const std::string& names) {
    return "\r\n" + names + "\r\n" + rule + "\r\n";
}

// A listing's sinks that keep everything: the console text, the spool copy, the keys to give at
// the pauses, and the console text at the moment each key was read. A cancel request comes while
// a chosen row is listed (at its spool_begin, the one call at the start of every row).
struct recorder {
    std::string console, spool;
    int begun = 0, ended = 0;
    std::vector<int> no_spool_for_row;  // rows (from 1) without a spool copy
    std::vector<int> keys;              // given in turn; Enter once they are used up
    std::vector<std::string> console_at_key;
    int cancel_at_row = -1;  // the row (from 1) while which the cancel request comes
    std::atomic<bool> cancel{false};

    listing_io io(bool spooling = true) {
        listing_io out{};
        out.ctx = this;
        out.console = [](void* ctx, const char* data, size_t n) {
            static_cast<recorder*>(ctx)->console.append(data, n);
        };
        if (spooling) {
            out.spool_begin = [](void* ctx) {
                auto& self = *static_cast<recorder*>(ctx);
                if (++self.begun == self.cancel_at_row) self.cancel = true;
                for (int row : self.no_spool_for_row)
                    if (row == self.begun) return false;
                return true;
            };
        }
        out.spool_put = [](void* ctx, const char* data, size_t n) {
            static_cast<recorder*>(ctx)->spool.append(data, n);
        };
        out.spool_end = [](void* ctx) { ++static_cast<recorder*>(ctx)->ended; };
        out.key = [](void* ctx) {
            auto& self = *static_cast<recorder*>(ctx);
            self.console_at_key.push_back(self.console);
            size_t i = self.console_at_key.size() - 1;
            return i < self.keys.size() ? self.keys[i] : 13;
        };
        out.cancel = &cancel;
        return out;
    }
};

listing_options options(int32_t pagesize, bool pause = false) {
    return {.values = {"<NULL>", nullptr},
            .pagesize = pagesize,
            .heading = true,
            .show_type = false,
            .pause = pause,
            .desc_mode = false};
}

}  // namespace

TEST(list_rows, a_heading_starts_every_page_and_goes_to_the_spool_with_its_row) {
    result_ptr r = decoded(query_reply({{"n", 5, -1}, {"t.c", 30, -1}},
                                       {{be32(1), "a"}, {be32(2), "b"}, {be32(3), "c"}}));
    recorder rec;
    rec.no_spool_for_row = {3};  // the second page's first row has no spool copy
    list_rows(r.get(), options(2), rec.io());
    const std::string h = heading("n | c | ");
    EXPECT_EQ(rec.console, h + "1 | a|\r\n2 | b|\r\n" + h + "3 | c|\r\n");
    EXPECT_EQ(rec.spool, h + " 1 | a|\r\n 2 | b|\r\n") << "the heading goes with its row";
    EXPECT_EQ(rec.begun, 3);
    EXPECT_EQ(rec.ended, 2) << "every copy begun is ended";
    EXPECT_TRUE(rec.console_at_key.empty()) << "no pause unless asked";

    // One page more than the rows: a single heading; pagesize 0: one heading before all rows.
    for (int32_t pagesize : {4, 0}) {
        recorder all;
        list_rows(r.get(), options(pagesize), all.io());
        EXPECT_EQ(all.console, h + "1 | a|\r\n2 | b|\r\n3 | c|\r\n") << pagesize;
        EXPECT_EQ(all.spool, (pagesize ? h : "") + " 1 | a|\r\n 2 | b|\r\n 3 | c|\r\n")
            << "with pagesize 0 the heading is printed once, before the rows, and not spooled";
    }

    // Without headings nothing but rows, on every page.
    recorder bare;
    listing_options o = options(2);
    o.heading = false;
    list_rows(r.get(), o, bare.io(false));
    EXPECT_EQ(bare.console, "1 | a|\r\n2 | b|\r\n3 | c|\r\n");
    EXPECT_EQ(bare.begun, 0);
}

TEST(list_rows, an_empty_result_prints_its_heading_on_the_console_only) {
    result_ptr r = text_rows({});
    recorder rec;
    list_rows(r.get(), options(10, true), rec.io());
    EXPECT_EQ(rec.console, heading("c | "));
    EXPECT_EQ(rec.spool, "");
    EXPECT_EQ(rec.begun, 0);
    EXPECT_TRUE(rec.console_at_key.empty());

    recorder off;
    listing_options o = options(10);
    o.heading = false;
    list_rows(r.get(), o, off.io());
    EXPECT_EQ(off.console, "");
}

TEST(list_rows, a_pause_follows_each_full_page_and_q_or_escape_there_ends_the_listing) {
    result_ptr r = text_rows({"1", "2", "3", "4", "5"});
    const std::string h = heading("c | ");
    recorder rec;
    list_rows(r.get(), options(2, true), rec.io());
    ASSERT_EQ(rec.console_at_key.size(), 2u) << "after rows 2 and 4, not after the last row 5";
    EXPECT_EQ(rec.console_at_key[0], h + "1|\r\n2|") << "before the page's last line ends";
    EXPECT_EQ(rec.console_at_key[1], h + "1|\r\n2|\r\n" + h + "3|\r\n4|");
    EXPECT_EQ(rec.console, h + "1|\r\n2|\r\n" + h + "3|\r\n4|\r\n" + h + "5|\r\n");

    for (int key : {int('q'), int('Q'), 27}) {
        recorder quit;
        quit.keys = {key};
        list_rows(r.get(), options(2, true), quit.io());
        EXPECT_EQ(quit.console, h + "1|\r\n2|") << key;
        EXPECT_EQ(quit.spool, h + " 1|\r\n 2|") << key;
        EXPECT_EQ(quit.ended, 2) << "the copy of the row it ended in is ended";
    }

    recorder never;  // pagesize 0 never pauses, whatever B_PAUSE says
    list_rows(r.get(), options(0, true), never.io());
    EXPECT_TRUE(never.console_at_key.empty());
}

TEST(list_rows, a_cancel_request_ends_the_listing_after_its_row_and_is_cleared) {
    result_ptr r = text_rows({"1", "2", "3", "4"});
    recorder rec;
    rec.cancel_at_row = 2;
    list_rows(r.get(), options(0), rec.io());
    EXPECT_EQ(rec.console, heading("c | ") + "1|\r\n2|\r\n");
    EXPECT_EQ(rec.spool, " 1|\r\n 2|\r\n");
    EXPECT_EQ(rec.begun, 2);
    EXPECT_EQ(rec.ended, 2);
    EXPECT_FALSE(rec.cancel.load()) << "the next listing must not end at once";
}

TEST(list_rows, values_keep_their_natural_width_nulls_show_the_null_text_and_types_head) {
    result_ptr r = decoded(query_reply({{"n", 5, -1}, {"s%c", 30, 10}, {"p", 7, (10 << 16) | 2}},
                                       {{be32(7), "a", "1.5"},
                                        {"", "longer than the heading", ""},
                                        {be32(uint32_t(-12345)), "", "12345678.25"}}));
    recorder rec;
    listing_options o = options(0);
    o.values.null_text = "-";
    o.show_type = true;
    list_rows(r.get(), o, rec.io());
    EXPECT_EQ(rec.console, heading("n(INTEGER) | c(CHAR(10)) | p(NUMERIC(10,2)) | ") +
                               "7 | a| 1.5|\r\n"
                               "-| longer than the heading| -|\r\n"
                               "-12345 | -| 12345678.25|\r\n");
    EXPECT_EQ(rec.spool,
              " 7 | a| 1.5|\r\n -| longer than the heading| -|\r\n"
              " -12345 | -| 12345678.25|\r\n");
}
