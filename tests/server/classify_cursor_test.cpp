// Classification of the cursor statements: names, the query of a declaration as the console
// builds it, row counts of a fetch and the refusals that answer with a usage text.
#include "server/classify.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using enum srv_stmt_kind;

constexpr std::string_view fetch_usage =
    "usage: fetch N from NAME, N from 1 to 2147483647; or fetch NAME";

TEST(srv_classify_cursor, declare_takes_the_name_and_the_query_after_for) {
    // The console's export: the statement as cut before its file marker, blanks kept.
    srv_stmt_class c = srv_classify("declare printf_cur1 cursor for select * from t ;  ");
    EXPECT_EQ(c.kind, declare_cursor);
    EXPECT_EQ(c.arg, "printf_cur1");
    EXPECT_EQ(c.query, "select * from t");

    c = srv_classify("DECLARE Cur_2  CURSOR\tFOR\n select 'a;b' as x, \"for\" from \"for\";;");
    EXPECT_EQ(c.kind, declare_cursor);
    EXPECT_EQ(c.arg, "Cur_2");
    EXPECT_EQ(c.query, "select 'a;b' as x, \"for\" from \"for\"");

    c = srv_classify("declare _c cursor for with r(i) as (select 1) select i from r");
    EXPECT_EQ(c.arg, "_c");
    EXPECT_EQ(c.query, "with r(i) as (select 1) select i from r");

    for (const char* text : {"declare c cursor for", "declare c cursor for ;", "declare c",
                             "declare c cursor select 1", "declare 1c cursor for select 1",
                             "declare c-d cursor for select 1", "declare cursor for select 1",
                             "declare c cursorfor select 1", "declare"}) {
        c = srv_classify(text);
        EXPECT_EQ(c.kind, bad_command) << text;
        EXPECT_EQ(c.arg, "usage: declare NAME cursor for QUERY") << text;
    }
    EXPECT_EQ(srv_classify("declared c cursor for select 1").kind, sql);
}

TEST(srv_classify_cursor, open_and_close_take_one_name) {
    srv_stmt_class c = srv_classify("open printf_cur1");
    EXPECT_EQ(c.kind, open_cursor);
    EXPECT_EQ(c.arg, "printf_cur1");
    c = srv_classify("  CLOSE  Printf_Cur1 ; ");
    EXPECT_EQ(c.kind, close_cursor);
    EXPECT_EQ(c.arg, "Printf_Cur1");
    EXPECT_EQ(srv_classify("open").arg, "usage: open NAME");
    EXPECT_EQ(srv_classify("open a b").arg, "usage: open NAME");
    EXPECT_EQ(srv_classify("close 'a'").arg, "usage: close NAME");
    EXPECT_EQ(srv_classify("open " + std::string(srv_cursor_name_max, 'x')).kind, open_cursor);
    EXPECT_EQ(srv_classify("open " + std::string(srv_cursor_name_max + 1, 'x')).kind, bad_command);
    EXPECT_EQ(srv_classify("opener x").kind, sql);
}

TEST(srv_classify_cursor, fetch_takes_a_row_count_from_1_or_means_one_row) {
    srv_stmt_class c = srv_classify("fetch 5000 from printf_cur1;");
    EXPECT_EQ(c.kind, fetch_cursor);
    EXPECT_EQ(c.arg, "printf_cur1");
    EXPECT_EQ(c.number, 5000);
    c = srv_classify("FETCH   2147483647  FROM  c");
    EXPECT_EQ(c.kind, fetch_cursor);
    EXPECT_EQ(c.number, 2147483647);
    c = srv_classify("fetch c");
    EXPECT_EQ(c.kind, fetch_cursor);
    EXPECT_EQ(c.arg, "c");
    EXPECT_EQ(c.number, 1);

    for (const char* text :
         {"fetch 0 from c", "fetch -1 from c", "fetch 2147483648 from c", "fetch 5 c",
          "fetch 5 from", "fetch 5from c", "fetch 5x from c", "fetch 1 from c d", "fetch",
          "fetch from c", "fetch 99999999999999999999 from c"}) {
        c = srv_classify(text);
        EXPECT_EQ(c.kind, bad_command) << text;
        EXPECT_EQ(c.arg, fetch_usage) << text;
    }
}

}  // namespace
