// The quote rules of the console's marker scan and the case-insensitive word comparison.
#include "text/scan.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

constexpr size_t npos = std::string_view::npos;

}  // namespace

TEST(find_unquoted, skips_markers_inside_single_quotes) {
    EXPECT_EQ(find_unquoted("a EXECEND b", "EXECEND"), 2u);
    EXPECT_EQ(find_unquoted("'EXECEND' EXECEND", "EXECEND"), 10u);
    EXPECT_EQ(find_unquoted("'it''s EXECEND'", "EXECEND"), npos);
    EXPECT_EQ(find_unquoted("EXECEN", "EXECEND"), npos);
}

TEST(find_unquoted, a_doubled_quote_stays_inside_the_literal) {
    EXPECT_EQ(find_unquoted("select 'a'';' ; x", ";"), 14u);
    EXPECT_EQ(find_unquoted("'' >#f", ">#"), 3u) << "an empty literal closes at once";
    EXPECT_EQ(find_unquoted("'a''b' <%f", "<"), 7u);
}

TEST(find_unquoted, an_unterminated_quote_hides_the_rest_of_the_text) {
    EXPECT_EQ(find_unquoted("select 'x >#f", ">#"), npos);
    EXPECT_EQ(find_unquoted("'a' 'b >$e", ">$"), npos);
    EXPECT_EQ(find_unquoted("insert ':x'':y", ":"), npos);
}

TEST(find_unquoted, finds_a_marker_at_either_end_and_never_a_cut_one) {
    EXPECT_EQ(find_unquoted(">%f", ">%"), 0u);
    EXPECT_EQ(find_unquoted("select 1 >#", ">#"), 9u);
    EXPECT_EQ(find_unquoted("select 1 >", ">#"), npos);
    EXPECT_EQ(find_unquoted("'x'>#", ">#"), 3u) << "right after the closing quote";
    EXPECT_EQ(find_unquoted("", ";"), npos);
}

TEST(after_last_unquoted, is_just_after_the_last_semicolon_outside_quotes) {
    EXPECT_EQ(after_last_unquoted("a; b; c", ';'), 5u);
    EXPECT_EQ(after_last_unquoted("a; 'b;' c", ';'), 2u);
    EXPECT_EQ(after_last_unquoted("a; 'b'';' c;", ';'), 12u) << "at the very end";
    EXPECT_EQ(after_last_unquoted(";x", ';'), 1u) << "at the very start";
    EXPECT_EQ(after_last_unquoted("a; 'b; c", ';'), 2u) << "an open quote hides the rest";
    EXPECT_EQ(after_last_unquoted("'a;' 'b;'", ';'), npos);
    EXPECT_EQ(after_last_unquoted("", ';'), npos);
}

TEST(same_word, compares_ascii_letters_in_either_case_and_nothing_else) {
    EXPECT_TRUE(same_word("Pagesize", "PAGESIZE"));
    EXPECT_TRUE(same_word("show_type", "SHOW_TYPE"));
    EXPECT_TRUE(same_word("", ""));
    EXPECT_FALSE(same_word("PAGESIZ", "PAGESIZE"));
    EXPECT_FALSE(same_word("PAGESIZES", "PAGESIZE"));
    // '@' and '`', '[' and '{', '^' and '~' differ by the same bit as a letter's cases.
    EXPECT_FALSE(same_word("@", "`"));
    EXPECT_FALSE(same_word("[", "{"));
    EXPECT_FALSE(same_word("^", "~"));
    EXPECT_FALSE(same_word("\xc3\xa9", "\xc3\x89")) << "bytes past ASCII compare as they are";
}

TEST(starts_with_nocase, is_a_prefix_in_either_case) {
    EXPECT_TRUE(starts_with_nocase("TablDr_x", "TABLDR"));
    EXPECT_TRUE(starts_with_nocase("deleted", "delete"));
    EXPECT_TRUE(starts_with_nocase("abc", ""));
    EXPECT_FALSE(starts_with_nocase("TABL", "TABLDR"));
    EXPECT_FALSE(starts_with_nocase(" delete", "delete"));
}
