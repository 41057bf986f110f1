// The built norvlite's cursors and catalogue queries from a raw socket client, replies spelled
// byte by byte: batches across the end of a query, errors, cursors living through other
// statements and transactions, the end of a connection, IMP's existence queries and the column
// descriptors of DESC's "limit 0" query.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/statement_client.h"
#include "tests/server/test_client.h"
#include "tests/support/process.h"
#include "tests/support/wire_bytes.h"

using namespace std::literals;

namespace {

std::string message(char letter, const std::string& text) {
    return letter + wire_text(text);
}

std::string error(const std::string& text) {
    return message('E', text) + "K";
}

std::string column(const std::string& name, int32_t type, int32_t type_mod, int32_t flags) {
    return wire_text(name) + be32(static_cast<uint32_t>(type)) +
           be32(static_cast<uint32_t>(type_mod)) + be32(static_cast<uint32_t>(flags));
}

// Descriptors of t(id integer not null, name varchar(10)).
const std::string t_head = "A" + be32(2) + column("id", 5, -1, 2) + column("name", 30, 10, 0);

// Row id of t: (id, 'n' || id).
std::string t_row(uint32_t id) {
    return "R" + be32(4) + be32(id) + wire_text("n" + std::to_string(id));
}

std::string t_rows(uint32_t first, uint32_t last) {
    std::string out;
    for (uint32_t id = first; id <= last; ++id)
        out += t_row(id);
    return out;
}

std::string inserted(uint32_t first, uint32_t last) {
    std::string out;
    for (uint32_t id = first; id <= last; ++id)
        out += "I" + be32(8) + be32(0) + be32(id);
    return out + "K";
}

std::string count_reply(uint32_t n) {
    return "A" + be32(1) + column("count(*)", 6, -1, 0) + "R" + be32(8) + be32(0) + be32(n) + "K";
}

// Fills t(id, name) with rows 1..n.
std::string fill_t(uint32_t n) {
    return "create table t(id integer not null, name varchar(10)); insert into t select i, 'n' || "
           "i from (with recursive c(i) as (select 1 union all select i + 1 from c where i < " +
           std::to_string(n) + ") select i from c)";
}

class norvlite_cursors : public norvlite_session_test {
protected:
    // Sends sql and compares the reply with expected; a byte beyond it fails the comparison.
    static void expect_reply(const test_socket& s, std::string_view sql,
                             const std::string& expected,
                             const std::vector<test_param>& params = {}) {
        ASSERT_TRUE(send_bytes(s, statement_message(sql, params)));
        std::string got = recv_upto(s, expected.size(), 5000);
        EXPECT_EQ(got + recv_upto(s, 1, 50), expected) << sql;
    }

    // Times the log holds text, after waiting (3 s at most) for it to hold it at least min times.
    int log_count(std::string_view text, int min = 1) {
        int n = 0;
        for (int i = 0; i < 300; ++i) {
            const std::string log = server.log();
            n = 0;
            for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
                ++n;
            if (n >= min) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return n;
    }

    // Descriptors the server holds open; waits (3 s at most) for the number to reach want.
    int open_files(int want = -1) {
        int n = 0;
        for (int i = 0; i < 300; ++i) {
            std::error_code ec;
            n = 0;
            for (auto it = std::filesystem::directory_iterator(
                     "/proc/" + std::to_string(server.pid) + "/fd", ec);
                 !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
                ++n;
            if (want < 0 || n == want) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return n;
    }

    // The server's descriptors open on files whose path holds name, once that count is want
    // (or after three seconds).
    int open_links_to(const std::string& name, int want) {
        int n = 0;
        for (int i = 0; i < 300; ++i) {
            std::error_code ec;
            n = 0;
            for (auto it = std::filesystem::directory_iterator(
                     "/proc/" + std::to_string(server.pid) + "/fd", ec);
                 !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
                std::error_code link_ec;
                auto target = std::filesystem::read_symlink(it->path(), link_ec);
                n += !link_ec && target.string().find(name) != std::string::npos;
            }
            if (want < 0 || n == want) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return n;
    }
};

TEST_F(norvlite_cursors, twelve_rows_fetched_five_at_a_time_come_as_5_5_2_then_none) {
    start();
    test_socket s = login();
    expect_reply(s, fill_t(12), inserted(1, 12));
    expect_reply(s, "declare printf_cur1 cursor for select id, name from t order by id ", "K");
    expect_reply(s, "open printf_cur1", "K");
    expect_reply(s, "fetch 5 from printf_cur1;", t_head + t_rows(1, 5) + "K");
    expect_reply(s, "fetch 5 from printf_cur1;", t_head + t_rows(6, 10) + "K");
    expect_reply(s, "fetch 5 from printf_cur1;", t_head + t_rows(11, 12) + "K");
    expect_reply(s, "fetch 5 from printf_cur1;", t_head + "K");
    expect_reply(s, "fetch 5 from printf_cur1;", t_head + "K");  // stays at the end
    expect_reply(s, "close printf_cur1", "K");
    expect_reply(s, "fetch 5 from printf_cur1", error("cursor 'printf_cur1' is not declared"));

    EXPECT_EQ(log_count("fetch 5 from printf_cur1: 5 rows", 2), 2) << server.log();
    EXPECT_EQ(log_count("fetch 5 from printf_cur1: 2 rows"), 1);
    EXPECT_EQ(log_count("fetch 5 from printf_cur1: 0 rows", 2), 2);
    EXPECT_EQ(log_count(": fetch ", 5), 5);  // the refused fetch is no fetch
}

TEST_F(norvlite_cursors, a_batch_that_ends_on_the_last_row_is_followed_by_an_empty_one) {
    start();
    test_socket s = login();
    expect_reply(s, fill_t(10), inserted(1, 10));
    expect_reply(s, "declare c cursor for select * from t", "K");
    expect_reply(s, "open c", "K");
    expect_reply(s, "fetch 5 from c", t_head + t_rows(1, 5) + "K");
    expect_reply(s, "fetch 5 from c", t_head + t_rows(6, 10) + "K");
    expect_reply(s, "fetch 5 from c", t_head + "K");
    // Opening again starts over; "fetch NAME" is one row; names ignore case.
    expect_reply(s, "OPEN C", "K");
    expect_reply(s, "fetch C", t_head + t_row(1) + "K");
    expect_reply(s, "fetch 2147483647 from c", t_head + t_rows(2, 10) + "K");
    expect_reply(s, "Close c", "K");
}

TEST_F(norvlite_cursors, unknown_unopened_and_bad_cursors_answer_e_and_the_connection_goes_on) {
    start();
    test_socket s = login();
    expect_reply(s, fill_t(3), inserted(1, 3));
    expect_reply(s, "fetch 5 from nope", error("cursor 'nope' is not declared"));
    expect_reply(s, "open nope", error("cursor 'nope' is not declared"));
    expect_reply(s, "close nope", error("cursor 'nope' is not declared"));
    expect_reply(s, "declare c cursor for select * from nosuch", error("no such table: nosuch"));
    expect_reply(s, "declare c cursor for selec 1", error("near \"selec\": syntax error"));
    expect_reply(s, "declare c cursor for select 1 as x; select 2",
                 error("a cursor's query is one statement"));
    expect_reply(s, "declare c cursor for delete from t",
                 error("a cursor's query returns rows and only reads"));
    expect_reply(s, "declare c cursor for insert into t values(9, 'x') returning id",
                 error("a cursor's query returns rows and only reads"));
    expect_reply(s, "declare c cursor for -- nothing", error("cursor 'c' has no query"));
    expect_reply(s, "declare c cursor for", error("usage: declare NAME cursor for QUERY"));
    expect_reply(s, "fetch 0 from c",
                 error("usage: fetch N from NAME, N from 1 to 2147483647; or fetch NAME"));
    // None of those declared anything, so the name is free.
    expect_reply(s, "declare c cursor for select * from t", "K");
    expect_reply(s, "declare C cursor for select 1", error("cursor 'C' is already declared"));
    expect_reply(s, "fetch 1 from c", error("cursor 'c' is not open"));
    expect_reply(s, "open c", "K");
    expect_reply(s, "fetch 1 from c", t_head + t_row(1) + "K");
    expect_reply(s, "select count(*) from t", count_reply(3));
    EXPECT_EQ(log_count("fetch 1 from c: 1 rows"), 1);
}

TEST_F(norvlite_cursors, an_error_among_rows_stops_the_cursor_until_it_is_opened_again) {
    start();
    test_socket s = login();
    expect_reply(s,
                 "declare bad cursor for select abs(x) as v from (select 1 as x union all "
                 "select -9223372036854775808)",
                 "K");
    expect_reply(s, "open bad", "K");
    const std::string head = "A" + be32(1) + column("v", 6, -1, 0);
    const std::string one = "R" + be32(8) + be32(0) + be32(1);
    expect_reply(s, "fetch 5 from bad", head + one + message('E', "[1] integer overflow") + "K");
    expect_reply(s, "fetch 5 from bad", error("cursor 'bad' is not open"));
    expect_reply(s, "open bad", "K");
    expect_reply(s, "fetch 1 from bad", head + one + "K");
    expect_reply(s, "fetch 1 from bad", error("integer overflow"));  // before any row
    EXPECT_EQ(log_count("fetch 1 from bad: 0 rows, then failed: integer overflow"), 1)
        << server.log();
}

TEST_F(norvlite_cursors, messages_of_a_row_travel_with_it_and_parameters_stay_bound) {
    start();
    test_socket s = login();
    expect_reply(s, fill_t(12), inserted(1, 12));
    // The parameter's bytes must live as long as the cursor: the message buffer is reused.
    expect_reply(s, "declare p cursor for select id, name from t where id > ? order by id", "K",
                 {{32, "9"}});
    expect_reply(s, "select count(*) from t where id > ?", count_reply(0), {{32, "99"}});
    expect_reply(s, "open p", "K");
    expect_reply(s, "fetch 2 from p", t_head + t_rows(10, 11) + "K");
    expect_reply(s, "fetch 2 from p", t_head + t_row(12) + "K");

    expect_reply(s, "declare w cursor for select norv_warn(id, 'row ' || id) as x from t", "K");
    expect_reply(s, "open w", "K");
    const std::string head = "A" + be32(1) + column("x", 6, -1, 0);
    expect_reply(s, "fetch 2 from w",
                 head + message('W', "row 1") + "R" + be32(8) + be32(0) + be32(1) +
                     message('W', "row 2") + "R" + be32(8) + be32(0) + be32(2) + "K");
    expect_reply(s, "fetch 1 from w",
                 head + message('W', "row 3") + "R" + be32(8) + be32(0) + be32(3) + "K");
}

TEST_F(norvlite_cursors, cursors_live_through_other_statements_with_auto_commit_on) {
    start();
    test_socket s = login();
    expect_reply(s, fill_t(12), inserted(1, 12));
    expect_reply(s, "create table u(x integer)", "K");
    expect_reply(s, "declare a cursor for select id, name from t order by id", "K");
    expect_reply(s, "declare b cursor for select id, name from t order by id desc", "K");
    expect_reply(s, "open a", "K");
    expect_reply(s, "open b", "K");
    expect_reply(s, "fetch 3 from a", t_head + t_rows(1, 3) + "K");
    expect_reply(s, "insert into u values(1)", "I" + be32(8) + be32(0) + be32(1) + "K");
    expect_reply(s, "fetch 1 from b", t_head + t_row(12) + "K");
    expect_reply(s, "update u set x = 2", "U" + be32(1) + "K");
    expect_reply(s, "create table v(y)", "K");
    expect_reply(s, "select count(*) from u where x = 2", count_reply(1));
    expect_reply(s, "begin", "K");
    expect_reply(s, "fetch 3 from a", t_head + t_rows(4, 6) + "K");
    expect_reply(s, "commit", "K");
    expect_reply(s, "fetch 3 from a", t_head + t_rows(7, 9) + "K");
    // SQLite drops no table while a statement of the connection is in the middle of reading.
    expect_reply(s, "drop table v", error("database table is locked"));
    expect_reply(s, "close b", "K");
    expect_reply(s, "fetch 3 from a", t_head + t_rows(10, 12) + "K");  // not yet at the end
    expect_reply(s, "drop table v", error("database table is locked"));
    expect_reply(s, "fetch 5 from a", t_head + "K");
    expect_reply(s, "drop table v", "K");  // a is exhausted: it reads no more
    // Another connection sees the writes, and may write itself once the cursors are done.
    test_socket other = login();
    expect_reply(other, "insert into u values(3)", "I" + be32(8) + be32(0) + be32(2) + "K");
}

TEST_F(norvlite_cursors, a_cursor_works_inside_the_implicit_transaction_until_it_is_closed) {
    start();
    test_socket s = login(login_off);
    test_socket other = login();
    expect_reply(s, fill_t(6), inserted(1, 6));  // CREATE ends its transaction: committed
    expect_reply(s, "create table u(x integer)", "K");
    expect_reply(s, "insert into t values(7, 'n7')", "I" + be32(8) + be32(0) + be32(7) + "K");
    expect_reply(s, "insert into t values(8, 'n8')", "I" + be32(8) + be32(0) + be32(8) + "K");
    expect_reply(s, "declare c cursor for select id, name from t order by id", "K");
    expect_reply(s, "open c", "K");
    expect_reply(s, "fetch 2 from c", t_head + t_rows(1, 2) + "K");
    expect_reply(s, "insert into u values(1)", "I" + be32(8) + be32(0) + be32(1) + "K");
    expect_reply(s, "fetch 2 from c", t_head + t_rows(3, 4) + "K");
    expect_reply(s, "commit", "K");
    expect_reply(s, "fetch 2 from c", t_head + t_rows(5, 6) + "K");
    expect_reply(s, "insert into u values(2)", "I" + be32(8) + be32(0) + be32(2) + "K");
    expect_reply(s, "rollback", "K");
    expect_reply(s, "fetch 1 from c", t_head + t_row(7) + "K");
    expect_reply(s, "set auto commit on", "K");
    expect_reply(s, "fetch 5 from c", t_head + t_row(8) + "K");
    expect_reply(s, "close c", "K");
    expect_reply(other, "select count(*) from t", count_reply(8));
    expect_reply(other, "select count(*) from u", count_reply(1));

    // Opened on a fresh connection with auto-commit off: the open begins the transaction, the
    // connection's uncommitted rows are read, and the cursor reads on after COMMIT.
    test_socket fresh = login(login_off);
    expect_reply(fresh, "delete from t where id > 2", "D" + be32(6) + "K");
    expect_reply(fresh, "declare c cursor for select id, name from t order by id", "K");
    expect_reply(fresh, "open c", "K");
    expect_reply(other, "select count(*) from t", count_reply(8));
    expect_reply(fresh, "fetch 1 from c", t_head + t_row(1) + "K");
    expect_reply(fresh, "commit", "K");
    expect_reply(fresh, "fetch 5 from c", t_head + t_row(2) + "K");
    expect_reply(fresh, "fetch 5 from c", t_head + "K");
    expect_reply(other, "select count(*) from t", count_reply(2));
}

TEST_F(norvlite_cursors, cursors_end_with_their_connection_and_free_the_database) {
    start();
    const int baseline = open_files();
    test_socket b = login();
    expect_reply(b, fill_t(12), inserted(1, 12));
    {
        test_socket a = login(login_off);
        expect_reply(a, "insert into t values(13, 'n13')",
                     "I" + be32(8) + be32(0) + be32(13) + "K");
        expect_reply(a, "declare c1 cursor for select id, name from t order by id", "K");
        expect_reply(a, "declare c2 cursor for select id from t", "K");
        expect_reply(a, "open c1", "K");
        expect_reply(a, "fetch 3 from c1", t_head + t_rows(1, 3) + "K");
    }  // closed in the middle of c1, its transaction open
    EXPECT_EQ(log_count("open transaction rolled back"), 1) << server.log();
    EXPECT_EQ(log_count("disconnected"), 1);
    // A database handle closes only once its statements are finalised: with both connections
    // gone, every file the server opened for them is closed again.
    b = test_socket();
    EXPECT_EQ(open_files(baseline), baseline);
    b = login();
    // The table is as the rollback left it.
    expect_reply(b, "insert into t values(13, 'n13')", "I" + be32(8) + be32(0) + be32(13) + "K");
    expect_reply(b, "select count(*) from t", count_reply(13));
    // Cursor names belong to their connection.
    expect_reply(b, "fetch 1 from c1", error("cursor 'c1' is not declared"));
    expect_reply(b, "declare c1 cursor for select id from t", "K");
    expect_reply(b, "open c1", "K");
    expect_reply(b, "fetch 1 from c1",
                 "A" + be32(1) + column("id", 5, -1, 2) + "R" + be32(4) + be32(1) + "K");
    // A server stopping with the cursor in the middle ends cleanly (and, under the leak
    // checker, with nothing left behind).
    EXPECT_EQ(server.stop(SIGTERM, 5000), 0) << server.log();
}

TEST_F(norvlite_cursors, use_of_another_database_closes_the_cursors) {
    start();
    test_socket s = login();
    expect_reply(s, fill_t(3), inserted(1, 3));
    expect_reply(s, "declare c cursor for select * from t", "K");
    expect_reply(s, "open c", "K");
    expect_reply(s, "fetch 1 from c", t_head + t_row(1) + "K");
    EXPECT_GT(open_links_to("/demo.db", -1), 0);
    expect_reply(s, "use other", "K");
    EXPECT_EQ(open_links_to("/demo.db", 0), 0) << "the old database is closed";
    EXPECT_GT(open_links_to("/other.db", -1), 0) << "the new one is open";
    expect_reply(s, "fetch 1 from c", error("cursor 'c' is not declared"));
    expect_reply(s, "use demo", "K");
    expect_reply(s, "insert into t values(4, 'n4')", "I" + be32(8) + be32(0) + be32(4) + "K");
    EXPECT_EQ(log_count("cannot", 0), 0) << server.log();
}

TEST_F(norvlite_cursors, batches_larger_than_the_reply_buffer_stream_whole) {
    start();
    test_socket s = login();
    // 20000 rows of 60 bytes: each batch of 5000 is some 300 KB, far beyond one reply buffer.
    ASSERT_TRUE(send_bytes(
        s,
        statement_message("create table big(id integer, pad char(50)); insert into big select i, "
                          "printf('%050d', i) from (with recursive c(i) as (select 1 union all "
                          "select i + 1 from c where i < 20000) select i from c)")));
    EXPECT_EQ(recv_upto(s, 20000 * 13 + 1, 10000).size(), 20000u * 13 + 1);
    expect_reply(s, "declare printf_cur1 cursor for select id, pad from big order by id", "K");
    expect_reply(s, "open printf_cur1", "K");
    const std::string head = "A" + be32(2) + column("id", 5, -1, 0) + column("pad", 30, 50, 0);
    for (uint32_t batch = 0; batch < 4; ++batch) {
        std::string expected = head;
        for (uint32_t id = batch * 5000 + 1; id <= batch * 5000 + 5000; ++id) {
            std::string pad = std::to_string(id);
            expected +=
                "R" + be32(4) + be32(id) + wire_text(std::string(50 - pad.size(), '0') + pad);
        }
        expect_reply(s, "fetch 5000 from printf_cur1;", expected + "K");
    }
    expect_reply(s, "fetch 5000 from printf_cur1;", head + "K");
    expect_reply(s, "close printf_cur1", "K");
    EXPECT_EQ(log_count("fetch 5000 from printf_cur1: 5000 rows", 4), 4);
    EXPECT_EQ(log_count("fetch 5000 from printf_cur1: 0 rows"), 1);
}

TEST_F(norvlite_cursors, drop_after_rows_counts_the_rows_of_one_fetch) {
    start({"--drop-after-rows", "3"});
    test_socket s = login();
    expect_reply(s, fill_t(12), inserted(1, 12));
    expect_reply(s, "declare c cursor for select id, name from t order by id", "K");
    expect_reply(s, "open c", "K");
    expect_reply(s, "fetch 2 from c", t_head + t_rows(1, 2) + "K");
    expect_reply(s, "fetch 2 from c", t_head + t_rows(3, 4) + "K");
    ASSERT_TRUE(send_bytes(s, statement_message("fetch 5 from c")));
    EXPECT_EQ(recv_upto(s, 10000, 3000), t_head + t_rows(5, 7));
    EXPECT_TRUE(closed_within(s, 3000));
    EXPECT_EQ(log_count("fault: connection dropped after 3 rows"), 1);
}

TEST_F(norvlite_cursors, imp_existence_queries_count_tables_by_name_and_schema) {
    start();
    test_socket s = login();
    expect_reply(s, "create table Emp(id integer); create view v as select 1", "K");
    auto plain = [](const std::string& table) {
        return "select count(*) from sys_tables where db_id=current_db_id and "
               "upper(table_name)=upper('" +
               table + "') and schema_id=current_schemaid";
    };
    auto qualified = [](const std::string& schema, const std::string& table) {
        return "select count(*) from sys_tables where db_id=current_db_id and "
               "upper(table_name)=upper('" +
               table +
               "') and schema_id=(select schema_id from sys_schemas where db_id=current_db_id "
               "and upper(schema_name)=upper('" +
               schema + "'))";
    };
    expect_reply(s, plain("emp"), count_reply(1));
    expect_reply(s, plain("EMP"), count_reply(1));
    expect_reply(s, plain("t"), count_reply(0));
    expect_reply(s, plain("v"), count_reply(0));
    expect_reply(s, qualified("main", "emp"), count_reply(1));
    expect_reply(s, qualified("Main", "eMp"), count_reply(1));
    expect_reply(s, qualified("scott", "emp"), count_reply(0));
    // A table made after login shows at once.
    expect_reply(s, "create table t(x)", "K");
    expect_reply(s, plain("T"), count_reply(1));
}

TEST_F(norvlite_cursors, limit_0_queries_describe_columns_without_rows) {
    start();
    test_socket s = login();
    expect_reply(s,
                 "create table emp(id integer not null, pay numeric(10,2), name char(20) not "
                 "null, note varchar, born date, x); insert into emp values(1, 2.5, 'a', 'b', "
                 "'2000-01-01', 3); create table \"t x\"(\"a b\" nchar(5) not null)",
                 "K");
    const std::string emp = "A" + be32(6) + column("id", 5, -1, 2) +
                            column("pay", 7, (10 << 16) | 2, 0) + column("name", 30, 20, 2) +
                            column("note", 30, -1, 0) + column("born", 10, -1, 0) +
                            column("x", 30, -1, 0) + "K";
    expect_reply(s, "select * from  emp limit 0", emp);
    expect_reply(s, "select * from  main.emp limit 0", emp);
    expect_reply(s, "select * from  MAIN.EMP limit 0", emp);
    expect_reply(s, "select * from  \"t x\" limit 0",
                 "A" + be32(1) + column("a b", 31, 5, 2) + "K");
    expect_reply(s, "select * from  \"main\".\"t x\" limit 0",
                 "A" + be32(1) + column("a b", 31, 5, 2) + "K");
    expect_reply(s, "select * from  scott.emp limit 0", error("no such table: scott.emp"));
}

}  // namespace
