// The debug monitor end to end: '#' starts a second connection that prints norvlite's debug
// pipe while the console goes on; '#' again stops it after the next output.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/e2e/harness.h"

class monitor_e2e : public norvlite_test {
protected:
    std::unique_ptr<console_session> console(const std::string& mode = "NSSL",
                                             const std::string& cwd = "") {
        auto s = start_norvsql_piped(login(mode), cwd);
        EXPECT_TRUE(s && s->expect("SQL> "));
        return s;
    }
    int count(const std::string& text, const std::string& what) {
        int n = 0;
        for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at)
            ++n;
        return n;
    }
};

TEST_F(monitor_e2e, hash_starts_the_monitor_and_hash_again_stops_it_after_the_next_output) {
    auto c = console();
    c->type("#\n");
    ASSERT_TRUE(c->expect("Debug monitor beging:\r\n")) << c->seen;
    c->type("select 4242 as n;\n");
    // The pipe's line and the rows come on two connections: either may be shown first.
    const size_t before_rows = c->consumed;
    ASSERT_TRUE(c->expect("4242 |")) << c->seen;
    ASSERT_TRUE(c->seen.find("select 4242 as n;", before_rows) != std::string::npos ||
                c->expect("select 4242 as n;"))
        << "the pipe shows the statement: " << c->seen;
    // Once the monitor is back in its receive, '#' stops it only after the next output arrives.
    // (Typed while the monitor is still between receives, '#' stops it at once.)
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    c->type("# and any text\n");
    ASSERT_TRUE(c->expect("SQL> "));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(count(c->seen, "Debug monitor stop."), 0) << "no stop before the next output";
    c->type("select 77 as n;\n");
    ASSERT_TRUE(c->expect("Debug monitor stop.\r\n")) << c->seen;
    size_t stop = c->seen.find("Debug monitor stop.");
    EXPECT_NE(c->seen.rfind("select 77 as n;", stop), std::string::npos)
        << "the pipe's line for the next statement comes before the stop: " << c->seen;
    c->type("select 78 as n;\n");
    ASSERT_TRUE(c->expect("78 |"));
    c->type("exit\n");
    EXPECT_EQ(c->finish(), 0);
    EXPECT_EQ(count(c->seen, "select 78 as n;"), 0) << "nothing printed after the stop";
}

TEST_F(monitor_e2e, an_unreachable_server_fails_each_time_it_is_tried) {
    auto c = console();
    server->proc.stop(SIGTERM, 5000);
    c->type("#\n");
    ASSERT_TRUE(c->expect("Create Debug Connect failed.\r\n")) << c->seen;
    c->type("#x\n");
    ASSERT_TRUE(c->expect("Create Debug Connect failed.\r\n")) << c->seen;
    c->type("exit\n");
    EXPECT_EQ(c->finish(), 0);
}

TEST_F(monitor_e2e, a_server_closing_the_pipe_stops_the_monitor_and_hash_starts_a_new_one) {
    auto c = console();
    c->type("#\n");
    ASSERT_TRUE(c->expect("Debug monitor beging:\r\n"));
    std::string same_port = port;
    server->proc.stop(SIGTERM, 5000);
    ASSERT_TRUE(c->expect("Debug monitor stop.\r\n")) << c->seen;
    server.reset();
    start({"--port", same_port});
    c->type("#\n");
    ASSERT_TRUE(c->expect("Debug monitor beging:\r\n")) << c->seen;
    c->type("exit\n");
    EXPECT_EQ(c->finish(), 0);
}

TEST_F(monitor_e2e, a_tls_console_opens_its_monitor_in_clear) {
    temp_dir cwd;
    ASSERT_FALSE(test_certs().empty());
    ASSERT_TRUE(install_client_certs(test_certs(), cwd.path, "driver"));
    server.reset();
    start({"--certs", test_certs()});
    auto c = console("tls", cwd.path);
    c->type("#\n");
    ASSERT_TRUE(c->expect("Debug monitor beging:\r\n")) << c->seen;
    c->type("exit\n");
    EXPECT_EQ(c->finish(), 0);
    std::string log = server->proc.log();
    EXPECT_EQ(count(log, "login accepted (TLS)"), 1) << log;
    EXPECT_EQ(count(log, "login accepted (clear)"), 1) << log;
}
