// The login text parser, the completeness check of a clear login text, and the database-name
// rule: the texts the console builds, quotes inside values, and everything short of a login.
#include "server/login_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::literals;

srv_login_text parse_ok(std::string_view text) {
    srv_login_text out;
    const char* reason = "";
    EXPECT_TRUE(srv_parse_login_text(text, out, &reason)) << text << ": " << reason;
    return out;
}

bool parses(std::string_view text) {
    srv_login_text out;
    const char* reason = "";
    return srv_parse_login_text(text, out, &reason);
}

TEST(srv_parse_login_text, reads_the_plain_text_with_a_quote_in_the_password) {
    srv_login_text t = parse_ok(
        "login database = demo user='norv' password='it's' auto_commit = 'off' version = '202'");
    EXPECT_EQ(t.database, "demo");
    EXPECT_EQ(t.user, "norv");
    EXPECT_EQ(t.password, "it's");
    EXPECT_FALSE(t.auto_commit);
    EXPECT_EQ(t.version, 202);
    EXPECT_FALSE(t.encryptor || t.char_set || t.time_zone || t.iso_level || t.lock_timeout);
}

TEST(srv_parse_login_text, reads_every_optional_field_in_order) {
    srv_login_text t = parse_ok(
        "login database = db1 user='u' password='p' encryptor = 'aes' char_set = 'GBK'"
        " time_zone = '+08:00' iso_level = 'read committed' lock_timeout = 30"
        " auto_commit = 'on' version = '202'");
    EXPECT_EQ(t.password, "p");
    EXPECT_EQ(t.encryptor, "aes");
    EXPECT_EQ(t.char_set, "GBK");
    EXPECT_EQ(t.time_zone, "+08:00");
    EXPECT_EQ(t.iso_level, "read committed");
    EXPECT_EQ(t.lock_timeout, 30);
    EXPECT_TRUE(t.auto_commit);
}

TEST(srv_parse_login_text, reads_a_subset_of_optional_fields) {
    srv_login_text t = parse_ok(
        "login database = d user='u' password='' time_zone = 'UTC' lock_timeout = 5"
        " auto_commit = 'on' version = '7'");
    EXPECT_EQ(t.password, "");
    EXPECT_FALSE(t.encryptor || t.char_set || t.iso_level);
    EXPECT_EQ(t.time_zone, "UTC");
    EXPECT_EQ(t.lock_timeout, 5);
    EXPECT_EQ(t.version, 7);
}

TEST(srv_parse_login_text, keeps_values_that_contain_quotes_and_look_like_fields) {
    // The earliest quote followed by a field name would leave " auto_commit" unparsable after
    // "lock_timeout = 5'", so the password runs on to the next candidate.
    srv_login_text t = parse_ok(
        "login database = d user='u' password='x' lock_timeout = 5' auto_commit = 'on'"
        " version = '202'");
    EXPECT_EQ(t.password, "x' lock_timeout = 5");
    EXPECT_FALSE(t.lock_timeout);

    t = parse_ok(
        "login database = d user='o'neil' password=''' char_set = 'it's'"
        " auto_commit = 'off' version = '202'");
    EXPECT_EQ(t.user, "o'neil");
    EXPECT_EQ(t.password, "'");
    EXPECT_EQ(t.char_set, "it's");
}

TEST(srv_parse_login_text, refuses_missing_or_malformed_pieces) {
    for (std::string_view text : {
             "",
             "hello",
             "login database = ",
             "LOGIN database = d user='u' password='p' auto_commit = 'on' version = '202'",
             "login database = d password='p' auto_commit = 'on' version = '202'",
             "login database = d user='u' auto_commit = 'on' version = '202'",
             "login database = d user='u' password='p' version = '202'",
             "login database = d user='u' password='p' auto_commit = 'on'",
             "login database = d user='u' password='p' auto_commit = 'yes' version = '202'",
             "login database = d user='u' password='p' auto_commit = 'on' version = ''",
             "login database = d user='u' password='p' auto_commit = 'on' version = '2x2'",
             "login database = d user='u' password='p' auto_commit = 'on' version = '202",
             "login database = d user='u' password='p' auto_commit = 'on' version = '202' ",
             "login database = d user='u' password='p' auto_commit = 'on' version = '99999999999'",
             "login database = d user='u' password='p' lock_timeout =  auto_commit = 'on' "
             "version = '202'",
             "login database = d user='u' password='p' lock_timeout = 99999999999 "
             "auto_commit = 'on' version = '202'",
             "login database = d user='u' password='p auto_commit = 'on' version = '202'",
         }) {
        EXPECT_FALSE(parses(text)) << text;
    }
}

TEST(srv_parse_login_text, refuses_every_truncation_of_a_full_text) {
    const std::string full =
        "login database = db1 user='u' password='p' encryptor = 'e' char_set = 'c'"
        " time_zone = 't' iso_level = 'i' lock_timeout = 30 auto_commit = 'on' version = '202'";
    ASSERT_TRUE(parses(full));
    for (size_t n = 0; n < full.size(); ++n) {
        EXPECT_FALSE(parses(std::string_view(full).substr(0, n))) << n;
        EXPECT_FALSE(srv_login_text_complete(std::string_view(full).substr(0, n))) << n;
    }
    EXPECT_TRUE(srv_login_text_complete(full));
}

TEST(srv_login_text_complete, needs_the_version_piece_with_digits_at_the_end) {
    EXPECT_TRUE(srv_login_text_complete(" version = '202'"));
    EXPECT_TRUE(srv_login_text_complete("garbage version = '1'"));
    EXPECT_FALSE(srv_login_text_complete(" version = ''"));
    EXPECT_FALSE(srv_login_text_complete(" version = '20x'"));
    EXPECT_FALSE(srv_login_text_complete("version = '202'"));
    EXPECT_FALSE(srv_login_text_complete("'"));
    EXPECT_FALSE(srv_login_text_complete(""));
}

TEST(srv_valid_database_name, allows_plain_file_names_only) {
    const std::string longest(64, 'n');
    for (std::string_view ok : {"demo"sv, "a"sv, "A.b-c_9"sv, "x."sv, std::string_view(longest)}) {
        EXPECT_TRUE(srv_valid_database_name(ok)) << ok;
    }
    const std::string too_long(65, 'n');
    for (std::string_view bad :
         {""sv, "."sv, ".."sv, "../x"sv, ".x"sv, "a..b"sv, "a/b"sv, "a\\b"sv, "/abs"sv, "a b"sv,
          "a\tb"sv, "\xc3\xa9"sv, "x'y"sv, "a\0b"sv, std::string_view(too_long)}) {
        EXPECT_FALSE(srv_valid_database_name(bad)) << bad;
    }
}

}  // namespace
