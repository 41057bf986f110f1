// Keyword tables and the CREATE header recognition, as pure functions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/keywords.h"

TEST(is_unsupported_keyword, matches_whole_words_in_any_case) {
    for (const char* w : {"notify", "Analyze", "LOAD", "abort_trans", "TRACE", "rename"})
        EXPECT_TRUE(is_unsupported_keyword(w)) << w;
    for (const char* w : {"LOADX", "LOA", "notify;", "select", ""})
        EXPECT_FALSE(is_unsupported_keyword(w)) << w;
}

TEST(multiline_keyword_index, finds_the_table_position_of_whole_words) {
    EXPECT_EQ(multiline_keyword_index("select"), 3);
    EXPECT_EQ(multiline_keyword_index("Select"), 3);
    EXPECT_EQ(multiline_keyword_index("CREATE"), 0);
    EXPECT_EQ(multiline_keyword_index("prepare"), 19);
    EXPECT_EQ(multiline_keyword_index("withdraw"), -1);
    EXPECT_EQ(multiline_keyword_index("grant"), -1);
    EXPECT_EQ(multiline_keyword_index("commit"), -1);
}

namespace {

struct scan_step {
    std::string line;
    bool first_line;
};

// Feeds lines to one recognition; returns the last outcome and the message.
header_outcome scan(const std::vector<scan_step>& steps, std::string* message = nullptr) {
    create_header h;
    header_outcome out = header_outcome::need_more;
    std::string msg;
    for (const scan_step& s : steps) {
        out = create_header_scan(h, s.line, s.first_line, "create", msg);
        if (out != header_outcome::need_more) break;
    }
    if (message) *message = msg;
    return out;
}

}  // namespace

TEST(create_header_scan, block_types_open_a_block_with_or_without_or_replace) {
    for (const char* t : {"procedure p", "PACKAGE x", "proc", "type t", "Function f", "trigger"}) {
        EXPECT_EQ(scan({{std::string(" ") + t, true}}), header_outcome::block) << t;
        EXPECT_EQ(scan({{std::string(" or replace ") + t, true}}), header_outcome::block) << t;
    }
    EXPECT_EQ(scan({{" table t(a int)", true}}), header_outcome::ordinary);
    EXPECT_EQ(scan({{" or replace view v as select 1;", true}}), header_outcome::ordinary);
}

TEST(create_header_scan, carries_the_header_across_lines) {
    EXPECT_EQ(scan({{"", true}, {"or", false}, {"replace procedure p", false}}),
              header_outcome::block);
    EXPECT_EQ(scan({{" or", true}, {"  replace", false}, {"\tfunction f", false}}),
              header_outcome::block);
    EXPECT_EQ(scan({{"", true}}), header_outcome::need_more);
}

TEST(create_header_scan, force_opens_a_block_only_on_the_first_line) {
    EXPECT_EQ(scan({{" or replace force view v", true}}), header_outcome::block);
    std::string msg;
    EXPECT_EQ(scan({{" or replace", true}, {"force view v", false}}, &msg),
              header_outcome::dropped);
    EXPECT_EQ(msg, "replace type unknown\r\n");
}

TEST(create_header_scan, unknown_words_give_their_messages_and_line_ends) {
    std::string msg;
    EXPECT_EQ(scan({{" or remove x", true}}, &msg), header_outcome::dropped);
    EXPECT_EQ(msg, "unknown command\r\n");
    EXPECT_EQ(scan({{" or", true}, {"remove x", false}}, &msg), header_outcome::dropped);
    EXPECT_EQ(msg, "unknown command");
    EXPECT_EQ(scan({{"", true}, {"or remove", false}}, &msg), header_outcome::dropped);
    EXPECT_EQ(msg, "unknown command\r\n");
    EXPECT_EQ(scan({{" or replace table t", true}}, &msg), header_outcome::dropped);
    EXPECT_EQ(msg, "replace type unknown\r\n");
}

TEST(create_header_scan, over_long_words_are_refused_by_position) {
    std::string w21(21, 'x'), w20(20, 'y');
    std::string msg;
    EXPECT_EQ(scan({{" " + w20, true}}, &msg), header_outcome::ordinary) << "20 fit after CREATE";
    EXPECT_EQ(scan({{" " + w21, true}}, &msg), header_outcome::dropped);
    EXPECT_EQ(msg, "create object type create is unknown");
    EXPECT_EQ(scan({{"", true}, {w21, false}}, &msg), header_outcome::dropped);
    EXPECT_EQ(msg, "create object type create is unknown\r\n");
    EXPECT_EQ(scan({{" or " + w20, true}}, &msg), header_outcome::dropped);
    EXPECT_EQ(msg, "create object type create is unknown");
    EXPECT_EQ(scan({{" or replace", true}, {w20, false}}, &msg), header_outcome::dropped);
    EXPECT_EQ(msg, "create object type create is unknown");
}
