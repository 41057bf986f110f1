// The statement loop end to end: how lines become statements, what the console prints for each
// outcome, and how it survives a lost connection and the server's idle limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "tests/e2e/harness.h"

namespace {

const std::string& prompt = sql_prompt;

std::string ok_line(const char* what) {
    return std::string("\r\n") + what + "Use time:N ms.     \r\n";
}

// The first size() bytes of out, to compare with what they should be.
std::string head_of(const std::string& out, const std::string& expected) {
    return out.substr(0, expected.size());
}

// Opens a transaction holding one insert into a new table t; true once the prompt is back.
bool open_transaction(console_session& term) {
    term.type("create table t(a int);\nset auto_commit off\ninsert into t values(1);\n");
    return term.expect("Total 1 records effected.") && term.expect("SQL> ");
}

// What the last statement printed: from its prompt to the end.
std::string last_output(const console_session& term) {
    return term.seen.substr(term.seen.rfind("SQL> ", term.seen.size() - 10));
}

}  // namespace

class console_e2e : public norvlite_test {};

TEST_F(console_e2e, single_line_statements_run_at_the_end_of_their_line) {
    std::string out = session("commit\ngrant select on t to u\nLOADX\nwithdraw\n/x\n@file.sql\n");
    auto sent = received();
    // "show max_idle_time" comes first, from the login.
    ASSERT_GE(sent.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(sent.end() - 5, sent.end()),
              (std::vector<std::string>{"commit;", "grant select on t to u;", "LOADX;", "withdraw;",
                                        "/x;"}));
    const std::string committed = prompt + ok_line("Execute successful.") + prompt;
    EXPECT_EQ(head_of(out, committed), committed);
    EXPECT_EQ(out.substr(out.size() - 2 * prompt.size()), prompt + prompt) << "@ does nothing";
}

TEST_F(console_e2e, multi_line_statements_wait_for_a_semicolon) {
    std::string out = session("select 1\n;\nselect *\nfrom dual;\nSelect 2;\nselect;\n");
    auto sent = received();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(
        std::vector<std::string>(sent.end() - 4, sent.end()),
        (std::vector<std::string>{"select 1;", "select *\nfrom dual;", "Select 2;", "select;"}));
    EXPECT_EQ(head_of(out, prompt + "2    "), prompt + "2    ") << "the first line waits";
}

TEST_F(console_e2e, blocks_run_only_with_the_slash_line) {
    std::string out = session("begin\nnull;\n\nend;\n/\n");
    const std::string waits = prompt + "2    3    4    5    ";
    EXPECT_EQ(head_of(out, waits), waits) << "every line up to the slash waits";
    EXPECT_EQ(received().back(), "begin\nnull;\n\nend;");
}

TEST_F(console_e2e, create_headers_open_blocks_or_wait_for_a_semicolon) {
    std::string out = session(
        "create or replace procedure p\nbody;\n/\n"
        "create table t(a int)\n;\n"
        "create or replace view v as select 1;\n"
        "create\nor\nreplace procedure q\n/\n"
        "create or\nremove x\n"
        "create or replace table z;\n");
    auto sent = received();
    ASSERT_GE(sent.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(sent.end() - 4, sent.end()),
              (std::vector<std::string>{
                  "create or replace procedure p\nbody;", "create table t(a int);",
                  "create or replace view v as select 1;", "create\nor\nreplace procedure q;"}));
    EXPECT_NE(out.find(prompt + "2    unknown command" + prompt), std::string::npos) << out;
    EXPECT_NE(out.find(prompt + "replace type unknown\r\n" + prompt), std::string::npos) << out;
    EXPECT_NE(out.find(prompt + "2    3    4    "), std::string::npos) << out;
}

TEST_F(console_e2e, a_blank_line_drops_the_statement_and_slash_runs_it_again) {
    std::string out = session("select *\n\n/\nclbuff\n/\n");
    EXPECT_EQ(received().back(), "select *;");
    EXPECT_NE(out.find(prompt + "nothing in the buffer\r\n" + prompt), std::string::npos) << out;
    const std::string dropped = prompt + "2    " + prompt;
    EXPECT_EQ(head_of(out, dropped), dropped) << "the blank line ends the statement silently";
}

TEST_F(console_e2e, refused_lines_print_their_messages_and_send_nothing) {
    std::string line(8192, 'x');
    std::string out = session(
        "prepare s as select ':x' from dual;\nprepare s as select :x;\nnotify x\nAnalyze\n" +
        std::string(25, 'a') + "\n" + line + "\nselect ' x'  ;;  ;\n");
    std::string expected = prompt + "Error: near \"prepare\": syntax error\r\n\r\n" + prompt +
                           "控制台暂时不支持带参数的prepare语句\n" + prompt + "不支持此功能\n" +
                           prompt + "不支持此功能\n" + prompt + "ERROR：不支持的功能\\r\n" +
                           prompt + "over max linesize" + prompt;
    EXPECT_EQ(out.substr(0, expected.size()), expected);
    auto sent = received();
    EXPECT_EQ(sent.back(), "select ' x';") << "trailing ';' and blanks become one ';'";
    EXPECT_EQ(sent[sent.size() - 2], "prepare s as select ':x' from dual;");
}

TEST_F(console_e2e, a_statement_larger_than_the_buffer_is_refused_whole) {
    std::string lines = "select\n";
    std::string chunk(7000, 'x');
    for (int i = 0; i < 90; ++i)
        lines += "'" + chunk + "' ||\n";
    lines += "'end';\nselect 7;\n";
    std::string out = session(lines);
    EXPECT_NE(out.find("Statement too long: at most 599998 bytes; it was not run.\r\n"),
              std::string::npos);
    EXPECT_EQ(received().back(), "select 7;");
}

TEST_F(console_e2e, outcomes_print_counts_messages_and_time) {
    std::string out = session(
        "create table t(a int);\ninsert into t values(1);\nupdate t set a = 2 where a = 5;\n"
        "delete from t;\nnorvlite warning 'careful'\nnorvlite error 'no'\nnorvlite fatal 'gone'\n"
        "norvlite notice 'hello'\nselect * from nowhere;\nset show_use_time off\n"
        "insert into t values(2);\n");
    std::string expected =
        prompt + ok_line("Execute successful.") + prompt +
        ok_line("Total 1 records effected.\r\n") + prompt +
        ok_line("Total 0 records effected.\r\n") + prompt +
        ok_line("Total 1 records effected.\r\n") + prompt + ok_line("Execute successful.") +
        "Warnning: careful\r\n\r\n" + prompt + "Error: no\r\n\r\n" + prompt +
        "Fatal: gone\r\n\r\n" + prompt + "hello\r\n" + ok_line("Execute successful.") + prompt +
        "Error: no such table: nowhere\r\n\r\n" + prompt + "SHOW_USE_TIME OFF\r\n" + prompt +
        "\r\nTotal 1 records effected.\r\n" + prompt;
    EXPECT_EQ(out, expected);
}

TEST_F(console_e2e, a_lost_connection_reconnects_and_retries_the_statement_once) {
    server.reset();
    start({"--drop-on", "select 42"});
    std::string out = session("select 42 as n;\nselect 43 as n;\n");
    std::string listing =
        "\r\nn | \r\n"
        "------------------------------------------------------------------------------\r\n";
    EXPECT_EQ(out, prompt + "Net disconnect,reconnect.\r\n\r\nConnect ok.\r\n" + listing +
                       "42 |\r\n\r\nTotal 1 records.\r\nUse time:N ms.     \r\n" + prompt +
                       listing + "43 |\r\n\r\nTotal 1 records.\r\nUse time:N ms.     \r\n" +
                       prompt);
}

TEST_F(console_e2e, the_open_transaction_is_replayed_after_a_reconnect) {
    server.reset();
    start({"--drop-on", "select count"});
    std::string out = session(
        "create table t(a int);\nset auto_commit off\ninsert into t values(1);\n"
        "INSERT INTO t values(2);\nselect count(*) as c from t;\nrollback;\n"
        "select count(*) as c from t;\n");
    // The dropped count runs again on the new connection after the two inserts were replayed,
    // and the rollback still undoes both: the new login kept auto-commit off.
    EXPECT_NE(out.find("Net disconnect,reconnect.\r\n\r\nConnect ok.\r\n"), std::string::npos);
    auto c_is = [&](const std::string& n, size_t from) {
        return out.find("\r\n" + n + " |\r\n", from);
    };
    size_t first = c_is("2", 0);
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_NE(c_is("0", first), std::string::npos) << out;
    auto sent = received();
    int inserts = 0;
    for (const std::string& s : sent)
        inserts += s.find("values(1)") != std::string::npos;
    EXPECT_EQ(inserts, 2) << "the first insert was sent once and replayed once";
}

TEST_F(console_e2e, after_rollback_nothing_is_replayed) {
    server.reset();
    start({"--drop-on", "select count"});
    std::string out = session(
        "create table t(a int);\nset auto_commit off\ninsert into t values(1);\nrollback;\n"
        "select count(*) as c from t;\n");
    EXPECT_NE(out.find("\r\n0 |\r\n"), std::string::npos) << out;
    int inserts = 0;
    for (const std::string& s : received())
        inserts += s.find("values(1)") != std::string::npos;
    EXPECT_EQ(inserts, 1);
}

TEST_F(console_e2e, a_row_stream_cut_short_says_so_and_the_next_statement_reconnects) {
    server.reset();
    start({"--drop-after-rows", "2"});
    std::string out = session(
        "create table t(a int);\ninsert into t values(1),(2),(3),(4);\nselect a from t;\nselect 5 "
        "as a;\n");
    std::string listing =
        "\r\na | \r\n"
        "------------------------------------------------------------------------------\r\n";
    EXPECT_NE(
        out.find(listing +
                 "1 |\r\n2 |\r\n\r\nConnection lost after 2 records: the result is "
                 "incomplete.\r\nUse time:N ms.     \r\n" +
                 prompt + "Net disconnect,reconnect.\r\n\r\nConnect ok.\r\n" + listing + "5 |\r\n"),
        std::string::npos)
        << out;
}

TEST_F(console_e2e, the_idle_limit_reconnects_before_the_next_statement) {
    // The console's clock is moved past the server's limit; the server keeps its connection, so
    // only the console's own reckoning can make it reconnect.
    server.reset();
    start({"--max-idle-time", "600"});
    test_clock clock;
    auto term = start_norvsql_piped(login(), "", {clock.env()});
    ASSERT_NE(term, nullptr);
    ASSERT_TRUE(term->expect("SQL> "));
    ASSERT_TRUE(open_transaction(*term)) << term->seen;
    clock.advance_seconds(590);
    term->type("select 1 as one;\n");
    ASSERT_TRUE(term->expect("Total 1 records.")) << term->seen;
    EXPECT_EQ(last_output(*term).find("Connect ok."), std::string::npos)
        << "590 s of 600 since the insert: " << last_output(*term);
    ASSERT_TRUE(term->expect("SQL> "));
    // 600 s since the last statement: the limit has passed.
    clock.advance_seconds(600);
    term->type("select count(*) as c from t;\n");
    ASSERT_TRUE(term->expect("Total 1 records.")) << term->seen;
    std::string tail = last_output(*term);
    EXPECT_NE(tail.find("Connect ok.\r\n\r\nc | "), std::string::npos) << tail;
    EXPECT_NE(tail.find("\r\n1 |\r\n"), std::string::npos) << "the insert was replayed: " << tail;
    // The reconnect came before the statement, not after it failed on the stale connection.
    EXPECT_EQ(tail.find("Net disconnect"), std::string::npos) << tail;
    term->type("exit\n");
    EXPECT_EQ(term->finish(), 0);
    std::vector<std::string> got = received();
    EXPECT_EQ(std::count(got.begin(), got.end(), "select count(*) as c from t;"), 1);
    EXPECT_EQ(std::count(got.begin(), got.end(), "insert into t values(1);"), 2) << "replayed once";
}

TEST_F(console_e2e, a_failed_reconnect_leaves_nothing_pending_and_the_next_statement_runs_itself) {
    auto term = start_norvsql_piped(login());
    ASSERT_NE(term, nullptr);
    ASSERT_TRUE(term->expect("SQL> "));
    std::string same_port = port;
    server->proc.stop(SIGTERM, 5000);
    term->type("insert into t values(1);\n");
    ASSERT_TRUE(
        term->expect("Net disconnect,reconnect.\r\n\r\nConnect failed.\r\nReconnect "
                     "failed\r\nThe statement was not run.\r\n\r\nSQL> "))
        << term->seen;
    start({"--port", same_port});  // a new server, with a database of its own
    // No connection: the new statement connects first and then runs itself.
    term->type("create table t(a int);\n");
    ASSERT_TRUE(term->expect("Execute successful.")) << term->seen;
    ASSERT_TRUE(term->expect("SQL> "));
    EXPECT_EQ(normalise_use_time(last_output(*term)),
              "SQL> Connect ok.\r\n\r\nExecute successful.Use time:N ms.     \r\n\r\nSQL> ");
    term->type("select count(*) as c from t;\n");
    ASSERT_TRUE(term->expect("Total 1 records.")) << term->seen;
    EXPECT_NE(last_output(*term).find("\r\n0 |\r\n"), std::string::npos) << term->seen;
    term->type("exit\n");
    EXPECT_EQ(term->finish(), 0);
    std::vector<std::string> got = received();
    EXPECT_EQ(std::count(got.begin(), got.end(), "insert into t values(1);"), 0);
    EXPECT_EQ(std::count(got.begin(), got.end(), "create table t(a int);"), 1);
}

TEST_F(console_e2e, a_failed_reconnect_that_drops_an_open_transaction_drops_its_retry_too) {
    auto term = start_norvsql_piped(login());
    ASSERT_NE(term, nullptr);
    ASSERT_TRUE(term->expect("SQL> "));
    ASSERT_TRUE(open_transaction(*term)) << term->seen;
    std::string same_port = port;
    server->proc.stop(SIGTERM, 5000);
    term->type("insert into t values(2);\n");
    ASSERT_TRUE(term->expect("Connect failed.\r\nReconnect failed\r\n")) << term->seen;
    ASSERT_TRUE(term->expect("SQL> "));
    start({"--port", same_port});
    term->type("reconnect\n");
    ASSERT_TRUE(term->expect("Connect ok.\r\nreconnected...\r\n")) << term->seen;
    term->type("exit\n");
    EXPECT_EQ(term->finish(), 0);
    for (const std::string& s : received())
        EXPECT_EQ(s.find("insert into t"), std::string::npos) << s;
}

TEST_F(console_e2e, a_stopped_server_gives_reconnect_failed_and_the_console_goes_on) {
    auto term = start_norvsql_piped(login());
    ASSERT_NE(term, nullptr);
    ASSERT_TRUE(term->expect("SQL> "));
    server->proc.stop(SIGTERM, 5000);
    term->type("select 1;\n");
    ASSERT_TRUE(
        term->expect("Net disconnect,reconnect.\r\n\r\nConnect failed.\r\nReconnect failed\r\n"))
        << term->seen;
    ASSERT_TRUE(term->expect("SQL> "));
    term->type("reconnect\n");
    ASSERT_TRUE(term->expect("Connect failed.\r\nReconnect failed\r\n")) << term->seen;
    start();  // a new server, on another port: still unreachable
    term->type("select 1;\n");
    ASSERT_TRUE(term->expect("Connect failed.\r\nReconnect failed\r\n")) << term->seen;
    term->type("exit\n");
    EXPECT_EQ(term->finish(), 0);
}
