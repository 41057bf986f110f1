// The debug pipe of the built norvlite: "set debug_pipe on" answered with "K", then one raw line
// per statement of any session, in order, on every open pipe; a pipe that does not read never
// holds a session up and learns how many lines it lost; a closed pipe's writer ends; several
// sessions and pipes at once (run under ThreadSanitizer in that build, whose reports would show
// in the log and in the exit status).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/server/load_client.h"
#include "tests/server/own_cipher_client.h"
#include "tests/server/statement_client.h"
#include "tests/server/test_client.h"
#include "tests/support/process.h"
#include "tests/support/wire_bytes.h"

using namespace std::literals;

namespace {

size_t count_lines(std::string_view t) {
    size_t n = 0;
    for (char c : t)
        n += c == '\n';
    return n;
}

// Reads from a pipe until it holds lines lines (or timeout_ms passes without a byte).
std::string read_lines(const test_socket& s, size_t lines, int timeout_ms = 5000) {
    std::string got;
    while (count_lines(got) < lines) {
        std::string more = recv_upto(s, 1, timeout_ms);
        if (more.empty()) break;
        got += more + recv_upto(s, 65536, 0);
    }
    return got;
}

class norvlite_debug_pipe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        std::string error;
        ASSERT_TRUE(server.start({"--data", dir.path + "/data", "--port", "0"},
                                 dir.path + "/server.log", error))
            << error;
    }

    void TearDown() override {
        // A race or a leak ThreadSanitizer saw makes norvlite exit with a status other than 0.
        if (server.pid > 0) {
            EXPECT_EQ(server.stop(SIGTERM, 10000), 0) << server.log();
        }
        EXPECT_EQ(server.log().find("ThreadSanitizer"), std::string::npos) << server.log();
    }

    static bool login_on_socket(const test_socket& s) {
        return send_bytes(s, login_on) && recv_upto(s, 1, 3000) == "K";
    }

    test_socket login() {
        test_socket s = connect_local(server.port);
        EXPECT_TRUE(login_on_socket(s));
        return s;
    }

    test_socket open_pipe(std::string_view statement = "Set debug_pipe on;") {
        test_socket s = login();
        EXPECT_TRUE(send_bytes(s, statement_message(statement)));
        EXPECT_EQ(recv_upto(s, 1, 3000), "K");
        return s;
    }

    // A pipe whose receive buffer is small (set before the connection is made, so its window
    // stays small): when it does not read, its writer soon blocks.
    test_socket open_narrow_pipe() {
        test_socket pipe(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int small = 4096;
        EXPECT_EQ(setsockopt(pipe.fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(server.port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(connect(pipe.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        EXPECT_TRUE(login_on_socket(pipe));
        EXPECT_TRUE(send_bytes(pipe, statement_message("set debug_pipe on")));
        EXPECT_EQ(recv_upto(pipe, 1, 3000), "K");
        return pipe;
    }

    // Runs sql and reads its whole reply.
    static void ask(const test_socket& s, std::string_view sql) {
        const std::string reply = ask_statement(s, sql);
        ASSERT_FALSE(reply.empty()) << sql;
        ASSERT_EQ(statement_reply_length(reply), reply.size()) << sql;
    }

    temp_dir dir;
    norvlite_server server;
};

TEST_F(norvlite_debug_pipe, shows_each_statement_of_another_session_with_its_outcome_in_order) {
    test_socket pipe = open_pipe();  // connection 1
    test_socket s = login();         // connection 2
    ask(s, "create table t(a integer)");
    ask(s, "insert into t values (1), (2)");
    ask(s, "select a from t");
    ask(s, "selec 1");
    ask(s, "update t set a = a + 1\n where a > 1;");
    ask(s, "show auto_commit");
    const std::string long_select = "select '" + std::string(150, 'x') + "' as v";
    ask(s, long_select);
    load_outcome o =
        run_clear_load(s, load_statement_text("t"), load_batch({"7|", "x|y|"}) + load_end());
    ASSERT_TRUE(o.ended) << o.why;
    const std::string load_text = load_statement_text("t");
    EXPECT_EQ(read_lines(pipe, 8),
              "[session 2 norv@demo] create table t(a integer) -> ok\n"
              "[session 2 norv@demo] insert into t values (1), (2) -> 2 changed\n"
              "[session 2 norv@demo] select a from t -> 2 rows\n"
              "[session 2 norv@demo] selec 1 -> error near \"selec\": syntax error\n"
              "[session 2 norv@demo] update t set a = a + 1  where a > 1; -> 1 changed\n"
              "[session 2 norv@demo] show auto_commit -> 1 rows\n"
              "[session 2 norv@demo] " +
                  long_select.substr(0, 100) +
                  "... -> 1 rows\n"
                  "[session 2 norv@demo] " +
                  load_text.substr(0, 100) + "... -> 2 records, 1 bad\n");
    EXPECT_EQ(recv_upto(pipe, 1, 100), "");  // nothing else, not even its own statement
}

TEST_F(norvlite_debug_pipe, two_pipes_both_see_every_line_and_any_spelling_opens_one) {
    test_socket first = open_pipe("SET   DEBUG_PIPE   ON");   // connection 1
    test_socket second = open_pipe("set debug_pipe = on ;");  // connection 2
    test_socket s = login();                                  // connection 3
    ask(s, "create table t(a)");
    EXPECT_EQ(read_lines(first, 2),
              "[session 2 norv@demo] set debug_pipe = on ; -> ok\n"
              "[session 3 norv@demo] create table t(a) -> ok\n");
    EXPECT_EQ(read_lines(second, 1), "[session 3 norv@demo] create table t(a) -> ok\n");
}

TEST_F(norvlite_debug_pipe, set_debug_pipe_off_leaves_an_ordinary_connection) {
    test_socket pipe = open_pipe();
    test_socket s = login();
    ask(s, "set debug_pipe off");
    ask(s, "create table t(a)");
    EXPECT_EQ(read_lines(pipe, 2),
              "[session 2 norv@demo] set debug_pipe off -> ok\n"
              "[session 2 norv@demo] create table t(a) -> ok\n");
}

TEST_F(norvlite_debug_pipe, closing_the_pipe_ends_its_writer_and_sessions_go_on) {
    { test_socket pipe = open_pipe(); }
    EXPECT_TRUE(log_has(server, "conn 1 127.0.0.1:"));
    EXPECT_TRUE(log_has(server, ": debug pipe closed (closed by the client): 0 lines, 0 dropped"))
        << server.log();
    test_socket pipe = open_pipe();
    test_socket s = login();
    ask(s, "create table t(a)");
    EXPECT_EQ(read_lines(pipe, 1), "[session 3 norv@demo] create table t(a) -> ok\n");
    pipe = test_socket();
    EXPECT_TRUE(log_has(server, "debug pipe closed (closed by the client): 1 lines, 0 dropped"))
        << server.log();
}

TEST_F(norvlite_debug_pipe, a_pipe_that_does_not_read_holds_no_session_up_and_hears_of_its_losses) {
    test_socket pipe = open_narrow_pipe();
    test_socket s = login();
    const std::string table(150, 'q');
    const std::string sql = "select * from " + table;
    constexpr int statements = 5000;
    for (int i = 0; i < statements; ++i)
        ask(s, sql);  // every one answered while the pipe reads nothing

    std::string drained;
    for (;;) {
        std::string more = recv_upto(pipe, 1 << 20, 1000);
        if (more.empty()) break;
        drained += more;
    }
    const size_t marker = drained.find(" lines dropped]\n");
    ASSERT_NE(marker, std::string::npos) << count_lines(drained) << " lines, none dropped";
    const size_t open = drained.rfind('[', marker);
    ASSERT_NE(open, std::string::npos);
    const long long dropped = std::stoll(drained.substr(open + 1));
    EXPECT_GT(dropped, 0);
    // Every statement is either a line or counted among the dropped ones.
    EXPECT_EQ(static_cast<long long>(count_lines(drained)) - 1 + dropped, statements);
    EXPECT_TRUE(drained.starts_with("[session 2 norv@demo] " + sql.substr(0, 100)));
    // Once drained, the pipe gets lines again as they come.
    ask(s, "create table t(a)");
    EXPECT_EQ(read_lines(pipe, 1), "[session 2 norv@demo] create table t(a) -> ok\n");
}

TEST_F(norvlite_debug_pipe, shutdown_ends_a_pipe_whose_writer_is_blocked) {
    test_socket pipe = open_narrow_pipe();
    test_socket s = login();
    const std::string sql = "select * from " + std::string(150, 'q');
    for (int i = 0; i < 3000; ++i)
        ask(s, sql);
    EXPECT_EQ(server.stop(SIGTERM, 10000), 0) << server.log();
    EXPECT_NE(server.log().find("debug pipe closed (a write failed or stalled)"), std::string::npos)
        << server.log();
}

TEST_F(norvlite_debug_pipe, several_sessions_and_pipes_at_once_keep_each_sessions_order) {
    test_socket pipe_a = open_pipe();  // connection 1
    test_socket pipe_b = open_pipe();  // connection 2: pipe_a sees its statement
    EXPECT_EQ(read_lines(pipe_a, 1), "[session 2 norv@demo] Set debug_pipe on; -> ok\n");
    constexpr int sessions = 3, per_session = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < sessions; ++t) {
        threads.emplace_back([&, t] {
            test_socket s = login();
            for (int i = 0; i < per_session; ++i) {
                ask(s, "select " + std::to_string(t * 1000 + i));
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (const test_socket* pipe : {&pipe_a, &pipe_b}) {
        const std::string lines = read_lines(*pipe, sessions * per_session);
        ASSERT_EQ(count_lines(lines), static_cast<size_t>(sessions * per_session));
        EXPECT_EQ(lines.find("dropped"), std::string::npos);
        std::vector<int> last(sessions, -1);
        size_t at = 0;
        while (at < lines.size()) {
            const size_t end = lines.find('\n', at);
            const std::string line = lines.substr(at, end - at);
            const size_t sel = line.find("] select ");
            ASSERT_NE(sel, std::string::npos) << line;
            const int n = std::stoi(line.substr(sel + 9));
            EXPECT_GT(n % 1000, last[static_cast<size_t>(n / 1000)]) << line;
            last[static_cast<size_t>(n / 1000)] = n % 1000;
            EXPECT_TRUE(line.ends_with(" -> 1 rows")) << line;
            at = end + 1;
        }
        EXPECT_EQ(last, std::vector<int>(sessions, per_session - 1));
    }
}

TEST_F(norvlite_debug_pipe, a_pipe_opened_over_the_own_cipher_gets_its_lines_enciphered) {
    own_cipher_client c;
    ASSERT_TRUE(c.open(server.port)) << c.why;
    ASSERT_EQ(c.login(login_on, "norv"), "K") << c.why;
    ASSERT_TRUE(c.send(statement_message("set debug_pipe on;")));
    ASSERT_EQ(c.recv(1, 3000), "K");
    test_socket s = login();
    ask(s, "create table t(a)");
    const std::string line = "[session 2 norv@demo] create table t(a) -> ok\n";
    EXPECT_EQ(c.recv(line.size(), 3000), line);
}

}  // namespace
