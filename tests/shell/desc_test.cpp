// DESC name checking, and the folder listing of script files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "shell/desc.h"
#include "shell/script_files.h"
#include "tests/support/process.h"

namespace {

const std::string joined =
    "\ndescCommand uses the error, the correct usage：desc [schemaname.]tablename[;]\n";
const std::string spaced =
    "\ndesc Command uses the error, the correct usage：desc [schemaname.]tablename[;]\n";
const std::string spaced_crlf =
    "\ndesc Command uses the error, the correct usage：desc [schemaname.]tablename[;]\r\n";

std::string message_of(const char* text) {
    return desc_parse(text).message;
}

}  // namespace

TEST(desc_parse, accepts_plain_and_quoted_names_and_measures_the_table_part) {
    for (const char* ok : {" emp", " scott.emp", "\t\"my table\"", " \"s\".\"t x\"", " s.\"t\"",
                           " \"s\".t", " e_1"}) {
        desc_parse_result r = desc_parse(ok);
        EXPECT_EQ(r.message, "") << ok;
        EXPECT_FALSE(r.empty);
    }
    EXPECT_EQ(desc_parse(" scott.emp").last_part_len, 3);
    EXPECT_EQ(desc_parse(" \"a\".\"t x\"").last_part_len, 3);
    EXPECT_TRUE(desc_parse(" \"a\".\"b\"").both_quoted);
    EXPECT_FALSE(desc_parse(" a.\"b\"").both_quoted);
    EXPECT_TRUE(desc_parse("   ").empty);
}

TEST(desc_parse, refuses_bad_symbols_quotes_and_lengths) {
    EXPECT_EQ(message_of(" 1emp"), "Unexpected symbol:1\r\n");
    EXPECT_EQ(message_of(" emp$"), "Unexpected symbol:$\r\n");
    EXPECT_EQ(message_of(" s.1t"), "Unexpected symbol:1\r\n");
    EXPECT_EQ(message_of(" \"emp"), "Double quotation marks do not match\r\n");
    EXPECT_EQ(message_of(" \"em\tp\""), "Double quotation marks do not match\r\n");
    EXPECT_EQ(message_of((" " + std::string(255, 'e')).c_str()), "");
    EXPECT_EQ(message_of((" " + std::string(256, 'e')).c_str()), "Character too many\r\n");
    EXPECT_EQ(message_of((" \"" + std::string(256, 'e') + "\"").c_str()), "Character too many\r\n");
}

TEST(desc_parse, text_after_the_name_gives_the_usage_form_of_the_name) {
    EXPECT_EQ(message_of(" emp x"), joined);
    EXPECT_EQ(message_of(" \"s\".\"t\" x"), joined);
    EXPECT_EQ(message_of(" \"t\" x"), spaced);
    EXPECT_EQ(message_of(" \"s\".t x"), spaced);
    EXPECT_EQ(message_of(" s.t x"), spaced);
    EXPECT_EQ(message_of(" s.\"t\" x"), spaced_crlf);
}

TEST(list_directory, lists_every_file_of_the_tree_once_also_through_links_back_up) {
    temp_dir dir;
    std::filesystem::create_directories(dir.path + "/sub/deeper");
    for (const char* name : {"/top.sql", "/sub/a.sql", "/sub/deeper/b.sql"})
        std::ofstream(dir.path + name) << "select 1;";
    std::vector<std::string> expected{dir.path + "/sub/a.sql", dir.path + "/sub/deeper/b.sql",
                                      dir.path + "/top.sql"};
    auto listed = [&] {
        std::vector<std::string> files;
        list_directory(dir.path, files);
        std::sort(files.begin(), files.end());  // each folder's order is the file system's
        return files;
    };
    EXPECT_EQ(listed(), expected);
    // Two links back to the top: followed blindly they would list the tree without end.
    std::error_code ec;
    std::filesystem::create_directory_symlink("../..", dir.path + "/sub/deeper/up", ec);
    if (ec) GTEST_SKIP() << "no folder links here: " << ec.message();
    std::filesystem::create_directory_symlink("..", dir.path + "/sub/up2");
    EXPECT_EQ(listed(), expected);
}
