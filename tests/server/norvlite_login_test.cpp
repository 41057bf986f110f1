// The built norvlite against plain sockets and an OpenSSL client: the verdict byte of clear and
// TLS logins, the database file a login creates, peers that misbehave, and a clean stop.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>
#include <thread>

#include "tests/server/statement_client.h"
#include "tests/server/test_client.h"
#include "tests/support/process.h"

namespace fs = std::filesystem;
using namespace std::literals;

namespace {

constexpr std::string_view good_login = login_off;

// How long a test waits for a line in the server's log.
constexpr int log_wait_ms = 2000;

class norvlite_clear_login : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        data = dir.path + "/data";  // does not exist yet: the server creates it
        std::string error;
        ASSERT_TRUE(server.start(
            {"--data", data, "--port", "0", "--user", "norv:norv", "--user", "ann:it's:x",
             "--login-timeout-ms", "300", "--certs", dir.path + "/no-certs"},
            dir.path + "/server.log", error))
            << error;
    }

    // Sends text on a fresh connection and returns the verdict byte; a refusal that leaves the
    // connection open is marked.
    std::string login_reply(std::string_view text) {
        test_socket s = connect_local(server.port);
        EXPECT_TRUE(send_bytes(s, text));
        std::string reply = recv_upto(s, 1, 3000);
        if (reply != "K" && !closed_within(s, 3000)) reply += " (left open)";
        return reply;
    }

    temp_dir dir;
    std::string data;
    norvlite_server server;
};

TEST_F(norvlite_clear_login, good_login_gets_K_and_creates_the_database_file) {
    test_socket s = connect_local(server.port);
    ASSERT_TRUE(send_bytes(s, good_login));
    EXPECT_EQ(recv_upto(s, 1, 3000), "K");
    EXPECT_TRUE(fs::exists(data + "/demo.db"));
    // The session stays open after the verdict and answers statement messages.
    ASSERT_TRUE(send_bytes(s, "?\0\0\0\x11norvlite fatal ''\0\0\0\0\0"sv));
    EXPECT_EQ(recv_upto(s, 6, 3000), "F\0\0\0\0K"sv);
    EXPECT_FALSE(closed_within(s, 200));
}

TEST_F(norvlite_clear_login, password_with_quote_and_colon_and_every_optional_field_gets_K) {
    EXPECT_EQ(login_reply("login database = a.b-c_9 user='ann' password='it's:x' encryptor = 'e'"
                          " char_set = 'UTF8' time_zone = '+08:00' iso_level = 'read committed'"
                          " lock_timeout = 30 auto_commit = 'on' version = '202'"),
              "K");
    EXPECT_TRUE(fs::exists(data + "/a.b-c_9.db"));
}

TEST_F(norvlite_clear_login, login_text_split_over_several_sends_is_read_to_its_end) {
    test_socket s = connect_local(server.port);
    ASSERT_TRUE(send_bytes(s, good_login.substr(0, 3)));  // shorter than a channel marker
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(send_bytes(s, good_login.substr(3, 40)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(send_bytes(s, good_login.substr(43)));
    EXPECT_EQ(recv_upto(s, 1, 3000), "K");
}

TEST_F(norvlite_clear_login, bad_credentials_get_E_and_the_connection_closes) {
    for (std::string_view text : {
             "login database = demo user='norv' password='nor' auto_commit = 'off' version = '202'",
             "login database = demo user='norv' password='norvx' auto_commit = 'off' version = "
             "'202'",
             "login database = demo user='nobody' password='norv' auto_commit = 'off' version = "
             "'202'",
             "login database = demo user='ann' password='it's' auto_commit = 'off' version = '202'",
         }) {
        EXPECT_EQ(login_reply(text), "E") << text;
    }
    EXPECT_FALSE(fs::exists(data + "/demo.db"));
    EXPECT_TRUE(log_has(server, "wrong password for user 'norv'", log_wait_ms));
    EXPECT_TRUE(log_has(server, "unknown user 'nobody'", log_wait_ms));
}

TEST_F(norvlite_clear_login, database_names_outside_the_data_directory_are_refused) {
    for (std::string name : {"../x"s, ".."s, ".hidden"s, "a/b"s, "a\\b"s, "/etc/passwd"s, "a..b"s,
                             std::string(65, 'd')}) {
        std::string text = "login database = " + name +
                           " user='norv' password='norv' auto_commit = 'off' version = '202'";
        EXPECT_EQ(login_reply(text), "E") << name;
    }
    EXPECT_FALSE(fs::exists(dir.path + "/x.db"));
    EXPECT_FALSE(fs::exists(data + "/a"));
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(data))
        ++files;
    EXPECT_EQ(files, 0u);
}

TEST_F(norvlite_clear_login, silent_peer_is_refused_and_closed_after_the_login_time_out) {
    test_socket s = connect_local(server.port);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(recv_upto(s, 1, 3000), "E");
    EXPECT_TRUE(closed_within(s, 3000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST_F(norvlite_clear_login, garbage_is_refused_whether_it_stops_short_or_runs_on) {
    EXPECT_EQ(login_reply("hello there"), "E");  // stops: the time-out ends it
    std::string flood(1000, 'x');
    test_socket s = connect_local(server.port);
    send_bytes(s, flood);  // runs on past any login text: refused at the limit
    EXPECT_EQ(recv_upto(s, 1, 3000), "E");
    EXPECT_TRUE(closed_within(s, 3000));
    // A text that ends like a login but is not one.
    EXPECT_EQ(login_reply("login database = demo version = '202'"), "E");
    EXPECT_EQ(login_reply("login database = de\0mo user='norv' password='norv' "
                          "auto_commit = 'off' version = '202'"sv),
              "E");
}

TEST_F(norvlite_clear_login, own_cipher_marker_gets_the_public_key_then_silence_is_dropped) {
    test_socket s = connect_local(server.port);
    ASSERT_TRUE(send_bytes(s, "~ssl~"));
    EXPECT_EQ(recv_upto(s, 65, 3000).size(), 64u);  // exponent and modulus, then no verdict
    EXPECT_TRUE(closed_within(s, 3000));
    EXPECT_TRUE(log_has(server, "dropped before login: own-cipher handshake", log_wait_ms));
}

TEST_F(norvlite_clear_login, tls_without_certificate_files_is_dropped_but_clear_still_works) {
    std::string why;
    EXPECT_EQ(tls_login(server.port, dir.path, "driver", good_login, why), "");
    EXPECT_EQ(why, "no 2 bytes after the marker");
    EXPECT_TRUE(log_has(server, "TLS unavailable: cannot load server certificate", log_wait_ms))
        << server.log();
    EXPECT_EQ(login_reply(good_login), "K");
}

class norvlite_tls_login : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        certs_dir = new temp_dir;
        std::string output;
        certs_made = run_program({REPO_ROOT "/scripts/gen-certs", certs_dir->path + "/c"}, output,
                                 60000) == 0;
        if (!certs_made) std::fprintf(stderr, "gen-certs failed:\n%s", output.c_str());
    }
    static void TearDownTestSuite() {
        delete certs_dir;
        certs_dir = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(certs_made);
        certs = certs_dir->path + "/c";
        std::string error;
        ASSERT_TRUE(server.start(
            {"--data", dir.path, "--port", "0", "--login-timeout-ms", "2000", "--certs", certs},
            dir.path + "/server.log", error))
            << error;
    }

    static temp_dir* certs_dir;
    static bool certs_made;
    temp_dir dir;
    std::string certs;
    norvlite_server server;
};

temp_dir* norvlite_tls_login::certs_dir = nullptr;
bool norvlite_tls_login::certs_made = false;

TEST_F(norvlite_tls_login, good_client_certificate_gets_K_over_tls) {
    std::string why;
    EXPECT_EQ(tls_login(server.port, certs, "driver", good_login, why), "K") << why;
    EXPECT_TRUE(fs::exists(dir.path + "/demo.db"));
    EXPECT_TRUE(log_has(server, "login accepted (TLS)", log_wait_ms)) << server.log();
}

TEST_F(norvlite_tls_login, wrong_password_over_tls_gets_E) {
    std::string why;
    EXPECT_EQ(tls_login(server.port, certs, "driver",
                        "login database = demo user='norv' password='x' auto_commit = 'on' "
                        "version = '202'",
                        why),
              "E");
}

TEST_F(norvlite_tls_login, revoked_or_missing_client_certificate_is_refused) {
    std::string why;
    EXPECT_EQ(tls_login(server.port, certs, "revoked", good_login, why), "");
    EXPECT_TRUE(log_has(server, "certificate revoked", log_wait_ms)) << server.log();
    EXPECT_EQ(tls_login(server.port, certs, "", good_login, why), "");
    EXPECT_FALSE(fs::exists(dir.path + "/demo.db"));
    // The server is still there for a good client.
    EXPECT_EQ(tls_login(server.port, certs, "driver", good_login, why), "K") << why;
}

TEST_F(norvlite_tls_login, silent_or_garbage_peer_after_the_marker_is_dropped) {
    test_socket silent = connect_local(server.port);
    ASSERT_TRUE(send_bytes(silent, "~tls~"));
    EXPECT_EQ(recv_upto(silent, 2, 3000).size(), 2u);
    test_socket garbage = connect_local(server.port);
    ASSERT_TRUE(send_bytes(garbage, "~tls~"));
    EXPECT_EQ(recv_upto(garbage, 2, 3000).size(), 2u);
    ASSERT_TRUE(send_bytes(garbage, std::string(300, 'g')));
    EXPECT_TRUE(closed_within(garbage, 1000));
    EXPECT_TRUE(closed_within(silent, 3000));  // at the 1 s login time-out
    EXPECT_TRUE(log_has(server, "TLS handshake timed out", log_wait_ms)) << server.log();
}

TEST_F(norvlite_tls_login, sigterm_with_a_tls_session_open_exits_0) {
    tls_client c;
    ASSERT_TRUE(c.open(server.port, certs, "driver")) << c.why;
    ASSERT_EQ(c.login(good_login), "K") << c.why;
    EXPECT_EQ(server.stop(SIGTERM, 5000), 0) << server.log();
    EXPECT_TRUE(closed_within(c.sock, 1000));
}

TEST(norvlite_stop, sigterm_and_sigint_end_the_server_with_status_0_despite_open_connections) {
    for (int sig : {SIGTERM, SIGINT}) {
        temp_dir dir;
        norvlite_server server;
        std::string error;
        ASSERT_TRUE(
            server.start({"--data", dir.path, "--port", "0"}, dir.path + "/server.log", error))
            << error;
        test_socket logged_in = connect_local(server.port);
        ASSERT_TRUE(send_bytes(logged_in, good_login));
        ASSERT_EQ(recv_upto(logged_in, 1, 3000), "K");
        test_socket mid_login = connect_local(server.port);  // default 10 s login time-out
        ASSERT_TRUE(send_bytes(mid_login, "login database"));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));

        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(server.stop(sig, 5000), 0) << sig;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        EXPECT_TRUE(closed_within(logged_in, 1000));
        EXPECT_TRUE(closed_within(mid_login, 1000));
        EXPECT_TRUE(log_has(server, "stopped", log_wait_ms)) << server.log();
    }
}

TEST(norvlite_command_line, bad_arguments_exit_2_with_usage_on_stderr_and_help_exits_0) {
    std::string output;
    EXPECT_EQ(run_program({NORVLITE_BIN, "--port", "0"}, output, 5000), 2) << output;
    EXPECT_NE(output.find("--data DIR is required\nusage: norvlite"), std::string::npos) << output;
    output.clear();
    EXPECT_EQ(run_program({NORVLITE_BIN, "--help"}, output, 5000), 0);
    EXPECT_NE(output.find("norv with password norv"), std::string::npos) << output;
}

}  // namespace
