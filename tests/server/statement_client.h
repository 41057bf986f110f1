// The raw client's logins and statements for the norvlite tests: the console's login texts, the
// statement message spelled from the wire layout, a clear login that expects its "K", a bounded
// wait for a line in the server's log, and a fixture that starts norvlite for such tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/server/test_client.h"
#include "tests/support/process.h"

// The console's login texts for user norv into database demo, auto-commit on and off.
inline constexpr std::string_view login_on =
    "login database = demo user='norv' password='norv' auto_commit = 'on' version = '202'";
inline constexpr std::string_view login_off =
    "login database = demo user='norv' password='norv' auto_commit = 'off' version = '202'";

// One parameter of a statement message.
struct test_param {
    uint16_t type;  // 32 text, 34 bytes
    std::string bytes;
};

// The statement message as the console sends it: "?", the text, a zero byte, the parameter
// count and the parameters.
std::string statement_message(std::string_view sql, const std::vector<test_param>& params = {});

// Connects to 127.0.0.1:port and sends text; expects (as a test failure otherwise) the send to go
// through and "K" to come within 3 s. Returns the socket either way.
test_socket clear_login(int port, std::string_view text = login_on);

// True once the server's log holds text, looked for every 10 ms for wait_ms at most. The server
// writes a line just after the bytes it sends, so a test that has read them may have to wait.
bool log_has(const norvlite_server& server, std::string_view text, int wait_ms = 5000);

// A temporary directory and a norvlite over it that the test starts, with its own arguments,
// before it logs in on clear sockets.
class norvlite_session_test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir.path.empty()); }

    // Starts norvlite on dir/data and any free port, extra after those arguments.
    void start(std::vector<std::string> extra = {});

    // A clear connection logged in with text (see clear_login).
    test_socket login(std::string_view text = login_on) { return clear_login(server.port, text); }

    temp_dir dir;
    norvlite_server server;
};
