// The login cycle end to end: norvsql against norvlite over clear and TLS channels, prompts,
// validation and the restart of the cycle after a failed connect.
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "tests/e2e/harness.h"

namespace {

const std::string url_prompts = "Please input server URL:Please input server port:";
const std::string all_prompts = url_prompts +
                                "Please input database name:Please input user name:"
                                "Please input password:";

std::string connected(int port, const std::string& db = "demo", const std::string& user = "norv") {
    return "\r\nConnect to 127.0.0.1:" + std::to_string(port) + " " + db + " " + user +
           " \r\nConnect ok.\r\n";
}

const std::string& prompt = sql_prompt;

}  // namespace

class login_e2e : public norvlite_test {};

TEST_F(login_e2e, clear_login_from_the_command_line_prints_banner_and_connect_lines) {
    run_result r = run_norvsql({"NSSL", "127.0.0.1", port, "demo", "norv", "norv"}, "exit\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner + connected(server->port) + prompt);
}

TEST_F(login_e2e, five_or_eight_arguments_are_ignored_and_all_four_prompts_appear) {
    std::string typed = "127.0.0.1\n" + port + "\ndemo\nnorv\nnorv\nexit\n";
    for (auto args : {std::vector<std::string>{"NSSL", "127.0.0.1", port, "demo", "norv"},
                      std::vector<std::string>{"NSSL", "127.0.0.1", port, "demo", "norv", "norv",
                                               "enc", "extra"}}) {
        run_result r = run_norvsql(args, typed);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, banner + all_prompts + "****\n" + connected(server->port) + prompt);
    }
}

TEST_F(login_e2e, a_wrong_password_restarts_the_cycle_and_asks_for_everything) {
    std::string typed = "127.0.0.1\n" + port + "\ndemo\nnorv\nnorv\nexit\n";
    run_result r = run_norvsql({"NSSL", "127.0.0.1", port, "demo", "norv", "wrong"}, typed);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner + banner + all_prompts + "****\n" + connected(server->port) + prompt);
}

TEST_F(login_e2e, keys_past_the_longest_password_are_dropped_and_a_long_port_word_is_read_whole) {
    // 63 password characters, then more keys on the same line: they are not the next input.
    std::string typed = "127.0.0.1\n" + std::string(31, '0') + port + "\ndemo\nnorv\n" +
                        std::string(63, 'p') + "Zselect 3;\n" + "127.0.0.1\n" + port +
                        "\ndemo\nnorv\nnorv\nexit\n";
    run_result r = run_norvsql({}, typed);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner + all_prompts + std::string(63, '*') + "\n" + banner + all_prompts +
                         "****\n" + connected(server->port) + prompt);
    std::string log = server->proc.log();
    EXPECT_NE(log.find("wrong password"), std::string::npos)
        << "the long port word reached the server: " << log;
    EXPECT_EQ(log.find("select 3"), std::string::npos) << log;
}

TEST_F(login_e2e, a_host_name_or_bad_port_gives_url_set_error_and_the_prompts) {
    for (auto args : {std::vector<std::string>{"NSSL", "server1", port, "demo", "norv", "norv"},
                      std::vector<std::string>{"NSSL", "192.168.0.256", port, "d", "u", "p"},
                      std::vector<std::string>{"NSSL", "127.0.0.1", "x", "d", "u", "p"},
                      std::vector<std::string>{"NSSL", "127.0.0.1", "70000", "d", "u", "p"}}) {
        run_result r = run_norvsql(args, "");
        EXPECT_EQ(r.status, 2) << "input ended before any login succeeded";
        EXPECT_EQ(r.out, banner + "URL set error \r\n" + banner + "Please input server URL:");
    }
}

TEST_F(login_e2e, end_of_input_at_any_prompt_before_a_login_ends_with_status_2) {
    for (const std::string& typed :
         std::vector<std::string>{"", "127.0.0.1\n", "127.0.0.1\n" + port + "\ndemo\nnorv\n",
                                  "127.0.0.1\n" + port + "\ndemo\nnorv\nno"}) {
        run_result r = run_norvsql({}, typed);
        EXPECT_EQ(r.status, 2) << typed;
        EXPECT_EQ(r.out.find("Connect ok."), std::string::npos);
    }
}

TEST_F(login_e2e, mixed_case_mode_words_are_not_secure) {
    // "Ssl" and "SSL " are not secure mode words: the console logs in on a clear channel.
    for (const char* mode : {"Ssl", "SSL ", "Tls"}) {
        run_result r = run_norvsql({mode, "127.0.0.1", port, "demo", "norv", "norv"}, "exit\n");
        EXPECT_EQ(r.out, banner + connected(server->port) + prompt) << mode;
    }
    std::string log = server->proc.log();
    int clear = 0;
    for (size_t at = 0; (at = log.find("login accepted (clear)", at)) != std::string::npos; ++at)
        ++clear;
    EXPECT_EQ(clear, 3) << log;
}

class tls_login_e2e : public norvlite_test {
protected:
    void SetUp() override {
        ASSERT_FALSE(test_certs().empty()) << "scripts/gen-certs failed";
        start({"--certs", test_certs()});
    }
};

TEST_F(tls_login_e2e, tls_login_with_the_driver_certificate_connects) {
    temp_dir cwd;
    ASSERT_TRUE(install_client_certs(test_certs(), cwd.path, "driver"));
    run_result r =
        run_norvsql({"tls", "127.0.0.1", port, "demo", "norv", "norv", "enc"}, "exit\n", cwd.path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner + connected(server->port) + prompt);
}

TEST_F(tls_login_e2e, a_revoked_certificate_or_wrong_password_restarts_the_cycle) {
    temp_dir revoked;
    ASSERT_TRUE(install_client_certs(test_certs(), revoked.path, "revoked"));
    run_result r =
        run_norvsql({"TLS", "127.0.0.1", port, "demo", "norv", "norv"}, "", revoked.path);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.find("Connect ok."), std::string::npos);
    EXPECT_NE(r.out.find(banner + "Please input server URL:"), std::string::npos) << r.out;

    temp_dir good;
    ASSERT_TRUE(install_client_certs(test_certs(), good.path, "driver"));
    r = run_norvsql({"tls", "127.0.0.1", port, "demo", "norv", "bad"}, "", good.path);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, banner + banner + "Please input server URL:");
}

TEST_F(tls_login_e2e, missing_certificate_files_print_their_message) {
    temp_dir empty;
    run_result r = run_norvsql({"tls", "127.0.0.1", port, "demo", "norv", "norv"}, "", empty.path);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out,
              banner + "Load CA certificate file failed" + banner + "Please input server URL:");
}

TEST_F(login_e2e, on_a_terminal_the_password_shows_stars_only_and_backspace_erases_one) {
    NORV_NATIVE_CONSOLE_ONLY("needs a pseudo-terminal");
    auto term = start_norvsql_pty({});
    ASSERT_NE(term, nullptr);
    ASSERT_TRUE(term->expect("Please input server URL:"));
    term->type("127.0.0.1\r");
    ASSERT_TRUE(term->expect("Please input server port:"));
    term->type(port + "\r");
    ASSERT_TRUE(term->expect("Please input database name:"));
    term->type("demo\r");
    ASSERT_TRUE(term->expect("Please input user name:"));
    term->type("norv\r");
    ASSERT_TRUE(term->expect("Please input password:"));
    term->type("norx\x7fv\r");                               // the terminal's Backspace is DEL
    ASSERT_TRUE(term->expect("Connect ok.")) << term->seen;  // the terminal adds its own CR
    size_t from = term->seen.find("Please input password:");
    std::string shown = term->seen.substr(from, term->seen.find("Connect to") - from);
    EXPECT_EQ(shown.find("nor"), std::string::npos) << "the password was echoed";
    EXPECT_NE(shown.find("****\b \b*"), std::string::npos) << shown;
    ASSERT_TRUE(term->expect("SQL> "));
    term->type("exit\r");
    EXPECT_EQ(term->finish(), 0);
}

namespace {

// Waits up to timeout_ms for the console to switch its terminal's echo off.
bool echo_goes_off(const console_session& term, int timeout_ms = 5000) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
        long modes = term.terminal_modes();
        if (modes >= 0 && !(modes & ECHO)) return true;
        usleep(10000);
    }
    return false;
}

constexpr long line_modes = ECHO | ICANON | ISIG;

}  // namespace

TEST_F(login_e2e, a_pasted_password_never_shows_and_the_terminal_is_restored_on_every_way_out) {
    NORV_NATIVE_CONSOLE_ONLY("needs a pseudo-terminal");
    auto term = start_norvsql_pty({});
    ASSERT_NE(term, nullptr);
    const long cooked = term->terminal_modes() & line_modes;
    ASSERT_EQ(cooked, line_modes);
    // From the address prompt to the user name.
    auto up_to_user = [&](const std::string& user_keys) {
        term->type("127.0.0.1\r");
        ASSERT_TRUE(term->expect("Please input server port:"));
        term->type(port + "\r");
        ASSERT_TRUE(term->expect("Please input database name:"));
        term->type("demo\r");
        ASSERT_TRUE(term->expect("Please input user name:"));
        term->type(user_keys);
    };
    // Ctrl+S after the user name: the terminal holds the console's output, so the password is
    // pasted while the console is still writing its prompt. Echo must already be off then.
    ASSERT_TRUE(term->expect("Please input server URL:"));
    up_to_user("norv\x13\r");
    EXPECT_TRUE(echo_goes_off(*term)) << "the prompt is written with echo on";
    term->paste("Zq7X5\r");  // a wrong password, in one write
    term->type("\x11");      // Ctrl+Q: the output goes on
    ASSERT_TRUE(term->expect("Please input server URL:")) << term->seen;  // refused: again
    const std::string shown = term->seen.substr(term->seen.find("Please input user name:"));
    for (char c : std::string("Zq7X5"))
        EXPECT_EQ(shown.find(c), std::string::npos) << shown;
    EXPECT_NE(shown.find("Please input password:*****\r\n"), std::string::npos) << shown;
    EXPECT_EQ(term->terminal_modes() & line_modes, cooked) << "restored after Enter";

    // A signal in the middle of the entry: the terminal is restored before the console ends.
    up_to_user("norv\r");
    ASSERT_TRUE(term->expect("Please input password:"));
    term->type("ab");
    ASSERT_TRUE(term->expect("**"));
    EXPECT_EQ(term->terminal_modes() & line_modes, 0) << "keys are read without echo or lines";
    kill(term->pid, SIGTERM);
    EXPECT_EQ(term->finish(), 143);
    EXPECT_FALSE(term->signalled) << "the console ended by itself";
    EXPECT_EQ(term->terminal_modes() & line_modes, cooked) << "restored on SIGTERM";
}
