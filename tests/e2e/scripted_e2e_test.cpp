// The console run from a script: exit statuses, ON_ERROR_STOP, and the lone --help and --version.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/e2e/harness.h"
#include "tests/support/process.h"

namespace {

bool was_sent(const std::vector<std::string>& sent, const std::string& text) {
    return std::find(sent.begin(), sent.end(), text) != sent.end();
}

}  // namespace

class scripted_e2e : public norvlite_test {};

TEST_F(scripted_e2e, on_error_stop_ends_after_the_first_failed_statement_with_status_3) {
    run_result r = run_norvsql(login(),
                               "show on_error_stop\nset on_error_stop on\ncreate table t(a int);\n"
                               "insert into nosuch values(1);\ninsert into t values(2);\nexit\n");
    EXPECT_EQ(r.status, 3);
    std::string out = after_login(r.out);
    EXPECT_EQ(out.substr(0, 51),
              sql_prompt + "on_error_stop off\r\n" + sql_prompt + "ON_ERROR_STOP ON\r\n");
    ASSERT_GE(out.size(), 4u);
    EXPECT_EQ(out.substr(out.size() - 4), "\r\n\r\n");
    EXPECT_NE(out.rfind("Error: "), std::string::npos) << out;
    EXPECT_EQ(out.find("insert into t"), std::string::npos);
    auto sent = received();
    EXPECT_TRUE(was_sent(sent, "insert into nosuch values(1);"));
    EXPECT_FALSE(was_sent(sent, "insert into t values(2);")) << "nothing after the failure";
}

TEST_F(scripted_e2e, without_on_error_stop_a_failure_goes_on_and_exit_gives_0) {
    run_result r = run_norvsql(login(),
                               "set on_error_stop on\nreset on_error_stop\nselect * from nosuch;\n"
                               "set on_error_stop maybe\nselect 7;\n");
    EXPECT_EQ(r.status, 0);
    std::string out = after_login(r.out);
    EXPECT_NE(out.find("on_error_stop off\r\n"), std::string::npos);
    EXPECT_NE(out.find("ON_ERROR_STOP must be ON or OFF\r\n"), std::string::npos);
    EXPECT_TRUE(was_sent(received(), "select 7;"));
}

TEST_F(scripted_e2e, a_failed_statement_of_a_script_file_is_named_with_its_file) {
    temp_dir cwd;
    write_file(cwd.path + "/run.sql",
               "EXECBEGIN\nselect * from nosuch\nEXECEND\nEXECBEGIN\nselect 8\nEXECEND\n");
    setenv("NORVSQL_ON_ERROR_STOP", "1", 1);
    run_result r = run_norvsql(login(), "execfile run.sql\nselect 9;\n", cwd.path);
    unsetenv("NORVSQL_ON_ERROR_STOP");
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find("Error in run.sql: "), std::string::npos) << r.out;
    auto sent = received();
    EXPECT_FALSE(was_sent(sent, "select 8")) << "the file stops at its failed statement";
    EXPECT_FALSE(was_sent(sent, "select 9;"));
}

// Client commands whose statement loses its reply (USE here; the loader check, "$" and IMP take
// the same road) count as failures: the console reconnects and stops.
TEST_F(scripted_e2e, on_error_stop_ends_after_a_client_command_lost_its_reply) {
    server.reset();
    start({"--drop-on", "use main"});
    run_result r = run_norvsql(login(), "set on_error_stop on\nuse main;\nselect 5;\n");
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("Connect ok.\r\n"), std::string::npos) << r.out;
    EXPECT_FALSE(was_sent(received(), "select 5;"));
}

TEST_F(scripted_e2e, end_of_input_after_a_login_ends_with_0_also_at_a_later_login_prompt) {
    run_result r = run_norvsql(login(), "login\n127.0.0.1\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Please input server port:"), std::string::npos);
}

TEST(command_line_e2e, lone_help_and_version_print_and_end_with_0_other_counts_as_before) {
    for (const char* flag : {"--help", "-h"}) {
        run_result r = run_norvsql({flag}, "");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: norvsql MODE ADDRESS PORT DATABASE USER PASSWORD", 0), 0u);
        EXPECT_NE(r.out.find("security/"), std::string::npos);
        EXPECT_NE(r.out.find("Type HELP at the prompt"), std::string::npos);
    }
    run_result v = run_norvsql({"--version"}, "");
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, "norvsql V1.2.1\n");
    run_result two = run_norvsql({"--help", "x"}, "");
    EXPECT_EQ(two.status, 2);
    EXPECT_EQ(two.out, banner + "Please input server URL:");
}
