// The load statement read from its text: the three forms the console builds byte for byte, blank
// runs and letter case, the table name's forms, the separator literal and the optional clauses,
// and every text that must be refused with a reason.
#include "server/load_statement.h"

#include <gtest/gtest.h>

#include <string>

namespace {

srv_load_statement parsed(std::string_view text) {
    srv_load_statement l;
    std::string why;
    EXPECT_TRUE(srv_parse_load_statement(text, l, why)) << text << ": " << why;
    return l;
}

std::string refusal(std::string_view text) {
    srv_load_statement l;
    std::string why;
    EXPECT_FALSE(srv_parse_load_statement(text, l, why)) << text;
    EXPECT_FALSE(why.empty()) << text;
    return why;
}

TEST(srv_parse_load_statement, reads_the_three_modes_as_the_console_spaces_them) {
    srv_load_statement l = parsed(
        "LOAD TABLE t         FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY '|' "
        " PARALLEL 1,1 ;");
    EXPECT_EQ(l.mode, srv_load_mode::insert);
    EXPECT_EQ(l.table, "t");
    EXPECT_EQ(l.table_text, "t");
    EXPECT_TRUE(l.schema.empty());
    EXPECT_EQ(l.separator, '|');
    EXPECT_FALSE(l.reindex);
    EXPECT_EQ(l.use_mode, 0);
    EXPECT_EQ(l.parallel_insert, 1);
    EXPECT_EQ(l.parallel_parse, 1);

    l = parsed(
        "LOAD APPEND TABLE orders  FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY "
        "',' WITH REINDEX USE MODE 3  PARALLEL 4,2 ;");
    EXPECT_EQ(l.mode, srv_load_mode::append);
    EXPECT_EQ(l.table, "orders");
    EXPECT_EQ(l.separator, ',');
    EXPECT_TRUE(l.reindex);
    EXPECT_EQ(l.use_mode, 3);
    EXPECT_EQ(l.parallel_insert, 4);
    EXPECT_EQ(l.parallel_parse, 2);

    l = parsed(
        "LOAD REPLACE TABLE s.orders FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY "
        "'\t' USE MODE -7  PARALLEL -1,0 ;");
    EXPECT_EQ(l.mode, srv_load_mode::replace);
    EXPECT_EQ(l.schema, "s");
    EXPECT_EQ(l.table, "orders");
    EXPECT_EQ(l.table_text, "s.orders");
    EXPECT_EQ(l.separator, '\t');
    EXPECT_EQ(l.use_mode, -7);
    EXPECT_EQ(l.parallel_insert, -1);
    EXPECT_EQ(l.parallel_parse, 0);
}

TEST(srv_parse_load_statement, takes_any_case_any_blank_runs_and_no_or_several_semicolons) {
    srv_load_statement l = parsed(
        "  load\treplace  table\n T from stream   records delimited by newline fields "
        "terminated by ';';;");
    EXPECT_EQ(l.mode, srv_load_mode::replace);
    EXPECT_EQ(l.table, "T");
    EXPECT_EQ(l.separator, ';');
    l = parsed("Load Table t From Stream Records Delimited By Newline Fields Terminated By 'x'");
    EXPECT_EQ(l.separator, 'x');
    l = parsed(
        "LOAD TABLE t FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY '|' "
        "parallel 2 , 3 with reindex");
    EXPECT_EQ(l.parallel_insert, 2);
    EXPECT_EQ(l.parallel_parse, 3);
    EXPECT_TRUE(l.reindex);
}

TEST(srv_parse_load_statement, reads_quoted_table_names_and_any_separator_byte) {
    constexpr std::string_view rest =
        " FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY '|'  PARALLEL 1,1 ;";
    srv_load_statement l = parsed("LOAD TABLE \"My \"\"Table\"\"\"" + std::string(rest));
    EXPECT_EQ(l.table, "My \"Table\"");
    EXPECT_EQ(l.table_text, "\"My \"\"Table\"\"\"");
    l = parsed("LOAD TABLE main.\"order\"" + std::string(rest));
    EXPECT_EQ(l.schema, "main");
    EXPECT_EQ(l.table, "order");
    l = parsed("LOAD TABLE [s x].`t``u`" + std::string(rest));
    EXPECT_EQ(l.schema, "s x");
    EXPECT_EQ(l.table, "t`u");

    const std::string head =
        "LOAD TABLE t FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS "
        "TERMINATED BY ";
    EXPECT_EQ(parsed(head + "' '  PARALLEL 1,1 ;").separator, ' ');
    EXPECT_EQ(parsed(head + "'''  PARALLEL 1,1 ;").separator, '\'');
    EXPECT_EQ(parsed(head + "'\xa6';").separator, '\xa6');
}

TEST(srv_parse_load_statement, refuses_a_separator_that_is_not_one_character) {
    const std::string head =
        "LOAD TABLE t FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS "
        "TERMINATED BY ";
    EXPECT_EQ(refusal(head + "'ab'  PARALLEL 1,1 ;"),
              "a load separator is one character between quotes, not 'ab'");
    EXPECT_EQ(refusal(head + "''  PARALLEL 1,1 ;"),
              "a load separator is one character between quotes, not ''");
    EXPECT_EQ(refusal(head + "|  PARALLEL 1,1 ;"),
              "a load separator is one character between quotes, not |");
    EXPECT_EQ(refusal(head), "a load separator is one character between quotes, not nothing");
    refusal(head + "'|'x PARALLEL 1,1");
    refusal(head + "''''");
    refusal(head + "'\xc2\xa6'");  // two bytes
}

TEST(srv_parse_load_statement, refuses_broken_statements_with_a_reason) {
    refusal("LOAD");
    refusal("LOADS TABLE t FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY '|'");
    refusal(
        "LOAD UPDATE TABLE t FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY '|'");
    EXPECT_EQ(refusal("LOAD TABLE  FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY "
                      "'|'"),
              "usage: LOAD [APPEND|REPLACE] TABLE name FROM STREAM RECORDS DELIMITED BY NEWLINE "
              "FIELDS TERMINATED BY 'c' [WITH REINDEX] [USE MODE n] [PARALLEL a,b]");
    refusal("LOAD TABLE \"t FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY '|'");
    refusal("LOAD TABLE s. FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY '|'");
    refusal("LOAD TABLE \"\" FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY '|'");
    refusal("LOAD TABLE t FROM FILE RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY '|'");
    const std::string head =
        "LOAD TABLE t FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS "
        "TERMINATED BY '|' ";
    EXPECT_EQ(refusal(head + "PARALLEL 1"), "unexpected text in a load statement: PARALLEL 1");
    refusal(head + "PARALLEL 1,x");
    refusal(head + "PARALLEL 1,1 PARALLEL 1,1");
    refusal(head + "USE MODE PARALLEL 1,1");
    refusal(head + "USE MODE 99999999999");
    refusal(head + "WITH");
    refusal(head + "WITH REINDEX WITH REINDEX");
    refusal(head + "PARALLEL 1,1 ; garbage");
}

TEST(srv_is_load_statement, knows_the_word_load_alone) {
    EXPECT_TRUE(srv_is_load_statement("LOAD TABLE t"));
    EXPECT_TRUE(srv_is_load_statement("  load"));
    EXPECT_FALSE(srv_is_load_statement("loader"));
    EXPECT_FALSE(srv_is_load_statement("select load"));
}

}  // namespace
