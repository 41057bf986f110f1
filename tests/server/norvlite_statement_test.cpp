// The built norvlite answering statement messages from a raw socket client. Requests and the
// expected replies are spelled out byte by byte here, so a mistake made alike in an encoder and
// a decoder cannot hide: create, insert, select, update and delete, errors, parameters,
// transactions with auto-commit off, the console's own statements, the message statements,
// messages among rows, the idle limit and the fault switches.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/server/statement_client.h"
#include "tests/server/test_client.h"
#include "tests/support/process.h"
#include "tests/support/wire_bytes.h"

using namespace std::literals;

namespace {

// How long a test waits for a line in the server's log.
constexpr int log_wait_ms = 3000;

// A message reply: letter, int32 length, text.
std::string message(char letter, std::string_view text) {
    return letter + be32(static_cast<uint32_t>(text.size())) + std::string(text);
}

// A one-column "A" for a column without declared type holding an integer: BIGINT.
std::string count_reply(uint32_t n) {
    return "A\0\0\0\x01"s + "\0\0\0\x01"s + "n" + "\0\0\0\x06\xff\xff\xff\xff\0\0\0\0"s +
           "R\0\0\0\x08\0\0\0\0"s + be32(n) + "K";
}

class norvlite_statements : public norvlite_session_test {
protected:
    // Sends sql and returns the reply, read until expected_size bytes have come (or 3 s pass);
    // a byte beyond that is appended too, so a reply that runs on fails the comparison.
    static std::string ask(const test_socket& s, std::string_view sql, size_t expected_size,
                           const std::vector<test_param>& params = {}) {
        EXPECT_TRUE(send_bytes(s, statement_message(sql, params)));
        std::string got = recv_upto(s, expected_size, 3000);
        return got + recv_upto(s, 1, 50);
    }

    static void expect_reply(const test_socket& s, std::string_view sql, std::string_view expected,
                             const std::vector<test_param>& params = {}) {
        EXPECT_EQ(ask(s, sql, expected.size(), params), expected) << sql;
    }
};

TEST_F(norvlite_statements, create_insert_select_update_delete_reply_byte_for_byte) {
    start();
    test_socket s = login();
    expect_reply(s, "create table t(id integer not null, name varchar(10), price numeric(8,2));",
                 "K");
    expect_reply(s, "insert into t values (1, 'pen', '1.5'), (2, 'ink', null);",
                 "I\0\0\0\x08\0\0\0\0\0\0\0\x01"
                 "I\0\0\0\x08\0\0\0\0\0\0\0\x02"
                 "K"sv);
    expect_reply(s, "select id, name, price from t order by id;",
                 "A\0\0\0\x03"
                 "\0\0\0\x02"
                 "id\0\0\0\x05\xff\xff\xff\xff\0\0\0\x02"
                 "\0\0\0\x04"
                 "name\0\0\0\x1e\0\0\0\x0a\0\0\0\0"
                 "\0\0\0\x05"
                 "price\0\0\0\x07\0\x08\0\x02\0\0\0\0"
                 "R\0\0\0\x04\0\0\0\x01\0\0\0\x03"
                 "pen\0\0\0\x04"
                 "1.50"
                 "R\0\0\0\x04\0\0\0\x02\0\0\0\x03"
                 "ink\0\0\0\0"
                 "K"sv);
    expect_reply(s, "update t set price = 2 where id = 2;", "U\0\0\0\x01K"sv);
    expect_reply(s, "update t set price = 3 where id = 9;", "U\0\0\0\0K"sv);
    expect_reply(s, "delete from t;", "D\0\0\0\x02K"sv);
    expect_reply(s, "select id from t;",
                 "A\0\0\0\x01\0\0\0\x02"
                 "id\0\0\0\x05\xff\xff\xff\xff\0\0\0\x02K"sv);
}

TEST_F(norvlite_statements, errors_carry_sqlite_messages_and_end_a_multi_statement_text) {
    start();
    test_socket s = login();
    expect_reply(s, "select nosuch;", message('E', "no such column: nosuch") + "K");
    expect_reply(s, "selec 1", message('E', "near \"selec\": syntax error") + "K");
    // Every statement of a text runs; the last one answers.
    expect_reply(s,
                 "create table m(a integer primary key); insert into m values(1);\n"
                 "insert into m values(7); -- done",
                 "I\0\0\0\x08\0\0\0\0\0\0\0\x07K"sv);
    expect_reply(s, "insert into m values(3); insert into m values(1); insert into m values(4)",
                 message('E', "UNIQUE constraint failed: m.a") + "K");
    expect_reply(s, "select count(*) as n from m", count_reply(3));
    // Rows already sent: the error code travels in brackets.
    expect_reply(s, "select abs(x) as v from (select 1 as x union all select -9223372036854775808)",
                 "A\0\0\0\x01\0\0\0\x01v\0\0\0\x06\xff\xff\xff\xff\0\0\0\0"
                 "R\0\0\0\x08\0\0\0\0\0\0\0\x01"s +
                     message('E', "[1] integer overflow") + "K");
    expect_reply(s, "", "K");
}

TEST_F(norvlite_statements, parameters_bind_in_order_as_text_and_bytes) {
    start();
    test_socket s = login();
    expect_reply(s, "create table p(a clob, b blob, c varchar(4))", "K");
    // The console sends an empty text as one zero byte; it is stored as ''.
    expect_reply(s, "insert into p values(?, ?, ?)", "I\0\0\0\x08\0\0\0\0\0\0\0\x01K"sv,
                 {{32, "it's"}, {34, "\x00\xff"s}, {32, "\0"s}});
    expect_reply(s, "select a, b, length(c) as n from p where a = ?",
                 "A\0\0\0\x03"
                 "\0\0\0\x01"
                 "a\0\0\0\x20\xff\xff\xff\xff\0\0\0\0"
                 "\0\0\0\x01"
                 "b\0\0\0\x22\xff\xff\xff\xff\0\0\0\0"
                 "\0\0\0\x01"
                 "n\0\0\0\x06\xff\xff\xff\xff\0\0\0\0"
                 "R\0\0\0\x04it's\0\0\0\x02\x00\xff\0\0\0\x08\0\0\0\0\0\0\0\0K"sv,
                 {{32, "it's"}});
}

TEST_F(norvlite_statements, auto_commit_off_keeps_changes_private_until_commit) {
    start();
    test_socket a = login(login_off);
    test_socket b = login(login_on);
    expect_reply(a, "create table t(x integer)", "K");  // ends its transaction at once
    expect_reply(b, "select count(*) as n from t", count_reply(0));
    expect_reply(a, "insert into t values(1)", "I\0\0\0\x08\0\0\0\0\0\0\0\x01K"sv);
    expect_reply(b, "select count(*) as n from t", count_reply(0));
    expect_reply(a, "commit;", "K");
    expect_reply(b, "select count(*) as n from t", count_reply(1));
    expect_reply(a, "insert into t values(2)", "I\0\0\0\x08\0\0\0\0\0\0\0\x02K"sv);
    expect_reply(a, "select count(*) as n from t", count_reply(2));
    expect_reply(a, "ROLLBACK", "K");
    expect_reply(a, "select count(*) as n from t", count_reply(1));
    expect_reply(a, "rollback", "K");  // nothing open: nothing to end
    expect_reply(b, "commit", "K");
    // Switching auto-commit on commits what is open.
    expect_reply(a, "insert into t values(3)", "I\0\0\0\x08\0\0\0\0\0\0\0\x02K"sv);
    expect_reply(b, "select count(*) as n from t", count_reply(1));
    expect_reply(a, "set auto commit on", "K");
    expect_reply(b, "select count(*) as n from t", count_reply(2));
    // And off again from the statement.
    expect_reply(b, "SET AUTO COMMIT OFF;", "K");
    expect_reply(b, "delete from t", "D\0\0\0\x02K"sv);
    expect_reply(a, "select count(*) as n from t", count_reply(2));
}

TEST_F(norvlite_statements, closing_with_an_open_transaction_rolls_it_back) {
    start();
    test_socket b = login(login_on);
    expect_reply(b, "create table t(x)", "K");
    {
        test_socket a = login(login_off);
        expect_reply(a, "insert into t values(1)", "I\0\0\0\x08\0\0\0\0\0\0\0\x01K"sv);
    }
    EXPECT_TRUE(log_has(server, "open transaction rolled back", log_wait_ms)) << server.log();
    expect_reply(b, "insert into t values(5)", "I\0\0\0\x08\0\0\0\0\0\0\0\x01K"sv);
    expect_reply(b, "select count(*) as n from t", count_reply(1));
}

TEST_F(norvlite_statements, the_consoles_own_statements_are_answered) {
    start({"--max-idle-time", "600"});
    test_socket s = login();
    expect_reply(s, "show max_idle_time",
                 "A\0\0\0\x01\0\0\0\x0dmax_idle_time\0\0\0\x05\xff\xff\xff\xff\0\0\0\0"
                 "R\0\0\0\x04\0\0\x02\x58K"sv);
    expect_reply(s, "SELECT * FROM DUAL;",
                 "A\0\0\0\x01\0\0\0\x05"
                 "dummy\0\0\0\x1e\xff\xff\xff\xff\0\0\0\0R\0\0\0\x01XK"sv);
    expect_reply(s, "create table b(x); create table a(x)", "K");
    expect_reply(s, "select table_name from dba_tables;",
                 "A\0\0\0\x01\0\0\0\x0atable_name\0\0\0\x1e\xff\xff\xff\xff\0\0\0\0"
                 "R\0\0\0\x01"
                 "aR\0\0\0\x01"
                 "bK"sv);
    expect_reply(s, "Set session authorization 'ann';", "K");
    expect_reply(s, "set client_encoding to 'GBK'", "K");
    expect_reply(s, "set time zone '+08:00'", "K");
    expect_reply(s, "set transaction isolation  'read committed'", "K");
    expect_reply(s, "set lock_timeout to 30", "K");
    expect_reply(s, "show client_encoding",
                 "A\0\0\0\x01\0\0\0\x0f"
                 "client_encoding\0\0\0\x1e\xff\xff\xff\xff\0\0\0\0R\0\0\0\x03GBKK"sv);
    expect_reply(s, "show lock_timeout;",
                 "A\0\0\0\x01\0\0\0\x0clock_timeout\0\0\0\x05\xff\xff\xff\xff\0\0\0\0"
                 "R\0\0\0\x04\0\0\0\x1eK"sv);
    expect_reply(s, "show session_authorization",
                 "A\0\0\0\x01\0\0\0\x15session_authorization\0\0\0\x1e\xff\xff\xff\xff\0\0\0\0"
                 "R\0\0\0\x03"
                 "annK"sv);
    expect_reply(s, "show no_such_thing", message('E', "unknown setting 'no_such_thing'") + "K");
    expect_reply(s, "set auto commit perhaps",
                 message('E', "set auto commit needs on or off") + "K");
    // The views are the connection's own: the database file holds only the user's tables.
    expect_reply(s, "select count(*) as n from sqlite_schema", count_reply(2));
}

TEST_F(norvlite_statements, norvlite_statements_and_functions_send_every_message_letter) {
    start();
    test_socket s = login();
    expect_reply(s, "norvlite notice 'hello'", message('M', "hello") + "K");
    expect_reply(s, "norvlite warning 'careful';", message('W', "careful") + "K");
    expect_reply(s, "norvlite error 'bad'", message('E', "bad") + "K");
    expect_reply(s, "norvlite fatal 'it''s over'", message('F', "it's over") + "K");
    expect_reply(s, "norvlite output", "O\0\0\0\0\0\0\0\0K"sv);
    expect_reply(s, "norvlite output 'abc'",
                 "O\0\0\0\0\0\0\0\x03"
                 "abcK"sv);
    expect_reply(s, "norvlite shout 'x'",
                 message('E',
                         "norvlite statements: norvlite notice|warning|error|fatal 'text', "
                         "norvlite output ['text']") +
                     "K");
    // Messages queued by a row go out just before it; outside rows, before the end.
    expect_reply(s, "select norv_warn(x, 'w' || x) as x from (select 1 as x union all select 2)",
                 "A\0\0\0\x01\0\0\0\x01x\0\0\0\x06\xff\xff\xff\xff\0\0\0\0"s + message('W', "w1") +
                     "R\0\0\0\x08\0\0\0\0\0\0\0\x01"s + message('W', "w2") +
                     "R\0\0\0\x08\0\0\0\0\0\0\0\x02"s + "K");
    expect_reply(
        s, "select 1 as x where norv_error(0, 'e')",
        "A\0\0\0\x01\0\0\0\x01x\0\0\0\x1e\xff\xff\xff\xff\0\0\0\0"s + message('E', "e") + "K");
    expect_reply(s, "create table t(a); insert into t values(norv_notice(5, 'n'))",
                 message('M', "n") + "I\0\0\0\x08\0\0\0\0\0\0\0\x01K"s);
    expect_reply(s, "select norv_fatal('f') as x",
                 "A\0\0\0\x01\0\0\0\x01x\0\0\0\x1e\xff\xff\xff\xff\0\0\0\0"s + message('F', "f") +
                     "R\0\0\0\0K"s);
}

TEST_F(norvlite_statements, a_bad_message_closes_the_connection_with_a_log_line) {
    start();
    test_socket s = login();
    ASSERT_TRUE(send_bytes(s, "X"));
    EXPECT_TRUE(closed_within(s, 3000));
    EXPECT_TRUE(
        log_has(server, "closed on a bad message: unknown message letter 0x58", log_wait_ms));
    test_socket t = login();
    ASSERT_TRUE(send_bytes(t, "?\xff\xff\xff\xff"sv));
    EXPECT_TRUE(closed_within(t, 3000));
    EXPECT_TRUE(log_has(server, "text length -1 outside 0..67108864", log_wait_ms)) << server.log();
    test_socket u = login();  // still serving
    expect_reply(u, "norvlite output", "O\0\0\0\0\0\0\0\0K"sv);
}

TEST_F(norvlite_statements, an_idle_connection_is_closed_after_the_limit_but_not_before) {
    start({"--max-idle-time", "1"});
    test_socket s = login();
    auto start_time = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    expect_reply(s, "show max_idle_time",
                 "A\0\0\0\x01\0\0\0\x0dmax_idle_time\0\0\0\x05\xff\xff\xff\xff\0\0\0\0"
                 "R\0\0\0\x04\0\0\0\x01K"sv);
    // 1.2 s after login, but 0.6 s after the statement: still open.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    expect_reply(s, "norvlite output", "O\0\0\0\0\0\0\0\0K"sv);
    EXPECT_TRUE(closed_within(s, 3000));
    EXPECT_GE(std::chrono::steady_clock::now() - start_time, std::chrono::milliseconds(2100));
    EXPECT_TRUE(log_has(server, "closed after 1 s without a statement", log_wait_ms))
        << server.log();
}

TEST_F(norvlite_statements, drop_on_closes_at_the_first_matching_statement_only) {
    start({"--drop-on", "Boom"});
    test_socket s = login();
    expect_reply(s, "create table t(a)", "K");
    ASSERT_TRUE(send_bytes(s, statement_message("insert into t values('BOOM')")));
    EXPECT_EQ(recv_upto(s, 1, 3000), "");
    EXPECT_TRUE(closed_within(s, 1000));
    EXPECT_TRUE(
        log_has(server, "fault: connection dropped at a statement containing 'Boom'", log_wait_ms));
    test_socket t = login();
    expect_reply(t, "select count(*) as n from t", count_reply(0));  // it never ran
    expect_reply(t, "insert into t values('boom')", "I\0\0\0\x08\0\0\0\0\0\0\0\x01K"sv);
}

TEST_F(norvlite_statements, drop_after_rows_sends_that_many_rows_then_closes_once) {
    start({"--drop-after-rows", "2"});
    test_socket s = login();
    expect_reply(s, "create table t(a smallint); insert into t values(1),(2),(3)",
                 "I\0\0\0\x08\0\0\0\0\0\0\0\x01"
                 "I\0\0\0\x08\0\0\0\0\0\0\0\x02"
                 "I\0\0\0\x08\0\0\0\0\0\0\0\x03K"sv);
    const std::string head =
        "A\0\0\0\x01\0\0\0\x01"
        "a\0\0\0\x04\xff\xff\xff\xff\0\0\0\0"s;
    const std::string rows[] = {"R\0\0\0\x02\0\x01"s, "R\0\0\0\x02\0\x02"s, "R\0\0\0\x02\0\x03"s};
    ASSERT_TRUE(send_bytes(s, statement_message("select a from t order by a")));
    EXPECT_EQ(recv_upto(s, 1000, 3000), head + rows[0] + rows[1]);  // then the close
    EXPECT_TRUE(log_has(server, "fault: connection dropped after 2 rows", log_wait_ms));
    test_socket t = login();
    expect_reply(t, "select a from t order by a", head + rows[0] + rows[1] + rows[2] + "K");
}

TEST_F(norvlite_statements, a_client_gone_in_the_middle_of_a_large_result_ends_only_its_thread) {
    start();
    {
        test_socket s = login();
        std::string ids;
        for (uint32_t id = 1; id <= 200; ++id)
            ids += "I\0\0\0\x08\0\0\0\0"s + be32(id);
        expect_reply(s,
                     "create table big(v blob); insert into big select zeroblob(100000) "
                     "from (with recursive c(i) as (select 1 union all select i + 1 from c "
                     "where i < 200) select i from c)",
                     ids + "K");
        ASSERT_TRUE(send_bytes(s, statement_message("select v from big")));
        EXPECT_EQ(recv_upto(s, 1000, 3000).size(), 1000u);
    }  // closed with some 20 MB unread
    EXPECT_TRUE(log_has(server, "client gone during a reply", log_wait_ms)) << server.log();
    test_socket t = login();
    expect_reply(t, "select count(*) as n from big", count_reply(200));
}

}  // namespace
