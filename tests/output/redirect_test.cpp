// Finding the file markers of a statement and cutting it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "output/redirect.h"

namespace {

struct scanned {
    std::string text;
    redirections r;
    explicit scanned(const char* statement) : text(statement) {
        r = scan_redirections(text.data());
    }
    std::string statement() const { return text.c_str(); }
};

}  // namespace

TEST(scan_redirections, cuts_output_markers_and_keeps_blanks_in_names) {
    scanned a("select a from t >% out file.txt");
    EXPECT_EQ(a.statement(), "select a from t ");
    EXPECT_STREQ(a.r.tfilename, "out file.txt");
    scanned b("select * from t >$  e.txt");
    EXPECT_STREQ(b.r.efilename, "e.txt");
    scanned c("select c >#x.bin");
    EXPECT_STREQ(c.r.btfilename, "x.bin");
    EXPECT_EQ(c.statement(), "select c ");
}

TEST(scan_redirections, the_parameter_list_starts_before_the_first_angle) {
    scanned a("insert into t values(?, ?) ; <% a.txt <# b.bin");
    EXPECT_EQ(a.statement(), "insert into t values(?, ?) ");
    EXPECT_STREQ(a.r.sfilename, " <% a.txt <# b.bin");
    scanned b("insert into t values(?)  <$ x");
    EXPECT_STREQ(b.r.bifilename, " <$ x");
    // Only the first '<' counts: a comparison ends the search.
    scanned c("select * from t where a < 5 <% x");
    EXPECT_FALSE(c.r.any());
    // A '<' too near the start has no room for the cut.
    scanned d("<% x");
    EXPECT_FALSE(d.r.any());
}

TEST(scan_redirections, markers_inside_quotes_are_text) {
    scanned a("insert into t values('a>%b', '<#')");
    EXPECT_FALSE(a.r.any());
    EXPECT_EQ(a.statement(), "insert into t values('a>%b', '<#')");
    scanned b("select 'x>$y' >$ f.txt");
    EXPECT_STREQ(b.r.efilename, "f.txt");
    EXPECT_EQ(b.statement(), "select 'x>$y' ");
}
