// LOAD ... FROM STREAM against the built norvlite, driven by a raw client that sends the data on
// one thread while it reads the replies on another: records split into fields, rows the table
// refuses answered with "W" while the good ones land, REPLACE and APPEND, the stop record,
// refusals, malformed batches ending the connection, the sink, and loads over the own cipher and
// TLS.
#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <string>

#include "tests/server/load_client.h"
#include "tests/server/own_cipher_client.h"
#include "tests/server/statement_client.h"
#include "tests/server/test_client.h"
#include "tests/support/process.h"
#include "tests/support/wire_bytes.h"

using namespace std::literals;

namespace {

uint32_t be32_at(std::string_view b, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) << 24 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3]));
}

// The first column of the first row of a reply ("A", descriptors, "R"..., "K"), "<E: text>",
// "<none>" for no row, or "<partial>" while the reply is not whole.
std::string first_value(std::string_view reply) {
    auto fits = [&](size_t at, size_t n) { return at <= reply.size() && n <= reply.size() - at; };
    if (reply.empty() || reply.back() != 'K') return "<partial>";
    if (reply.starts_with("E") && fits(1, 4) && fits(5, be32_at(reply, 1))) {
        return "<E: " + std::string(reply.substr(5, be32_at(reply, 1))) + ">";
    }
    if (!reply.starts_with("A") || !fits(1, 4)) return "<bad reply>";
    size_t at = 5;
    const uint32_t columns = be32_at(reply, 1);
    for (uint32_t i = 0; i < columns; ++i) {
        if (!fits(at, 4)) return "<partial>";
        at += 4 + size_t{be32_at(reply, at)} + 12;
    }
    if (!fits(at, 5) || reply[at] != 'R') return "<none>";
    if (!fits(at + 5, be32_at(reply, at + 1))) return "<partial>";
    return std::string(reply.substr(at + 5, be32_at(reply, at + 1)));
}

// Sends sql and returns the first value of its reply (read until the closing "K").
std::string query(const test_socket& s, std::string_view sql) {
    EXPECT_TRUE(send_bytes(s, statement_message(sql)));
    std::string got;
    for (int i = 0; i < 3000 && first_value(got) == "<partial>"; ++i)
        got += recv_upto(s, 1, 1000);
    return first_value(got);
}

class norvlite_load : public norvlite_session_test {
protected:
    // Runs sql and expects a bare "K".
    static void run(const test_socket& s, std::string_view sql) {
        EXPECT_TRUE(send_bytes(s, statement_message(sql)));
        std::string reply = recv_upto(s, 1, 3000);
        reply += recv_upto(s, 1, 20);  // nothing may follow
        EXPECT_EQ(reply, "K") << sql;
    }
};

TEST_F(norvlite_load, lf_records_land_with_their_fields_split_at_the_separator) {
    start();
    test_socket s = login();
    run(s, "create table t(id integer, name text)");
    const std::string batch = load_batch({"1|a|", "2|b|"});
    // Count 2, body length 16: the batch the console makes of "1|a\n2|b\n".
    EXPECT_EQ(batch, be32(2) + be32(16) + be32(4) + "1|a|" + be32(4) + "2|b|");
    load_outcome o = run_clear_load(s, load_statement_text("t"), batch + load_end());
    ASSERT_TRUE(o.accepted) << o.why << o.refusal;
    EXPECT_TRUE(o.ended) << o.why;
    EXPECT_TRUE(o.replies.empty());
    EXPECT_EQ(query(s, "select group_concat(id || typeof(id) || ':' || name, ',') from t"),
              "1integer:a,2integer:b");
    EXPECT_TRUE(log_has(server, "load into t: 2 records, 0 bad")) << server.log();
    // The connection goes on with statements.
    EXPECT_EQ(query(s, "select count(*) from t"), "\0\0\0\0\0\0\0\x02"s);
}

TEST_F(norvlite_load, empty_fields_are_null_and_a_last_field_may_run_to_the_record_end) {
    start();
    test_socket s = login();
    run(s, "create table t(a integer, b text, c text)");
    load_outcome o = run_clear_load(
        s, load_statement_text("t", ','),
        load_batch({"1,,x,", "2,y,z", ",,,"}) + load_batch({"4,\r,w\r,"}) + load_end());
    ASSERT_TRUE(o.ended) << o.why;
    EXPECT_TRUE(o.replies.empty()) << o.replies[0].text;
    EXPECT_EQ(query(s,
                    "select group_concat(coalesce(a, 'N') || '/' || coalesce(b, 'N') || '/' || "
                    "coalesce(c, 'N'), ' ') from t"),
              "1/N/x 2/y/z N/N/N 4/\r/w\r");
}

TEST_F(norvlite_load, refused_rows_answer_W_with_the_record_and_the_good_ones_land) {
    start();
    test_socket s = login();
    run(s, "create table t(a integer not null unique, b text check(length(b) < 4))");
    load_outcome o =
        run_clear_load(s, load_statement_text("t"),
                       load_batch({"1|ok|", "2|ok|extra|", "|x|", "4|long|", "1|dup|", "6|ok|"}) +
                           load_batch({"7|ok|", "8"}) + load_end());
    ASSERT_TRUE(o.ended) << o.why;
    EXPECT_EQ(o.replies, (std::vector<load_reply>{
                             {'W', "record 2: 3 fields, table t has 2: 2|ok|extra\n"},
                             {'W', "record 3: NOT NULL constraint failed: t.a: |x\n"},
                             {'W', "record 4: CHECK constraint failed: length(b) < 4: 4|long\n"},
                             {'W', "record 5: UNIQUE constraint failed: t.a: 1|dup\n"},
                             {'W', "record 8: 1 fields, table t has 2: 8\n"},
                         }));
    EXPECT_EQ(query(s, "select group_concat(a, ',') from t"), "1,6,7");
    EXPECT_TRUE(log_has(server, "load into t: 8 records, 5 bad")) << server.log();

    run(s, "create table st(a integer, b text) strict");
    o = run_clear_load(s, load_statement_text("st"),
                       load_batch({"abc|x|", "5|x|", std::string(300, 'z') + "|y|"}) + load_end());
    ASSERT_TRUE(o.ended) << o.why;
    ASSERT_EQ(o.replies.size(), 2u);
    EXPECT_EQ(o.replies[0].text,
              "record 1: cannot store TEXT value in INTEGER column st.a: abc|x\n");
    EXPECT_EQ(o.replies[1].text, "record 3: cannot store TEXT value in INTEGER column st.a: " +
                                     std::string(200, 'z') + "...\n");
    EXPECT_EQ(query(s, "select group_concat(a) from st"), "5");
}

TEST_F(norvlite_load, replace_empties_the_table_first_and_append_and_insert_add) {
    start();
    test_socket s = login();
    run(s, "create table t(a integer, b text)");
    EXPECT_TRUE(send_bytes(s, statement_message("insert into t values (1, 'x'), (2, 'y')")));
    EXPECT_EQ(recv_upto(s, 27, 3000).back(), 'K');
    auto load = [&](int mode, std::string data) {
        load_outcome o = run_clear_load(s, load_statement_text("t", '|', mode), data + load_end());
        EXPECT_TRUE(o.ended) << o.why << o.refusal;
        EXPECT_TRUE(o.replies.empty());
    };
    load(2, load_batch({"9|z|"}) + load_batch({"10|w|"}));
    EXPECT_EQ(query(s, "select group_concat(a) from t"), "9,10");
    load(1, load_batch({"11|v|"}));
    load(0, load_batch({"12|u|"}));
    EXPECT_EQ(query(s, "select group_concat(a) from t"), "9,10,11,12");
    load(2, "");
    EXPECT_EQ(query(s, "select count(*) from t"), "\0\0\0\0\0\0\0\0"s);
}

TEST_F(norvlite_load, the_stop_record_answers_E_and_nothing_after_it_lands) {
    start();
    test_socket s = login();
    run(s, "create table t(a integer, b text)");
    load_outcome o = run_clear_load(s, load_statement_text("t"),
                                    load_batch({"1|a|", "2|b|", "#norvlite-stop#|", "4|d|"}) +
                                        load_batch({"5|e|", "x"}) + load_end());
    ASSERT_TRUE(o.ended) << o.why;
    EXPECT_EQ(o.replies, (std::vector<load_reply>{{'E', "load stopped at record 3"}}));
    EXPECT_EQ(query(s, "select group_concat(a) from t"), "1,2");
    EXPECT_TRUE(log_has(server, "load into t: 6 records, 0 bad, stopped: load stopped at record 3"))
        << server.log();
}

TEST_F(norvlite_load, refusals_send_E_then_K_and_the_connection_goes_on) {
    start();
    test_socket s = login();
    load_outcome o = run_clear_load(s, load_statement_text("nosuch"), "");
    EXPECT_FALSE(o.accepted);
    EXPECT_EQ(o.refusal, "no such table: nosuch");
    EXPECT_EQ(o.after_refusal, 'K');
    o = run_clear_load(s, load_statement_text("nosuch.t"), "");
    EXPECT_EQ(o.refusal, "unknown database 'nosuch'");
    run(s, "create table t(a)");
    o = run_clear_load(s,
                       "LOAD TABLE t FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED BY "
                       "'ab'  PARALLEL 1,1 ;",
                       "");
    EXPECT_EQ(o.refusal, "a load separator is one character between quotes, not 'ab'");
    EXPECT_EQ(o.after_refusal, 'K');
    run(s, "create view v as select a from t");
    o = run_clear_load(s, load_statement_text("v"), "");
    EXPECT_EQ(o.refusal, "cannot modify v because it is a view");
    EXPECT_EQ(query(s, "select 'still here'"), "still here");
}

TEST_F(norvlite_load, a_load_commits_what_the_connection_had_open_and_then_each_batch) {
    start();
    test_socket a = login(login_off);
    test_socket b = login(login_on);
    run(a, "create table t(a integer)");
    EXPECT_TRUE(send_bytes(a, statement_message("insert into t values (1)")));
    EXPECT_EQ(recv_upto(a, 14, 3000).back(), 'K');
    load_outcome o = run_clear_load(a, load_statement_text("t"), load_batch({"2|"}) + load_end());
    ASSERT_TRUE(o.ended) << o.why;
    EXPECT_EQ(query(b, "select group_concat(a) from t"), "1,2");
}

TEST_F(norvlite_load, thousands_of_refused_rows_flow_back_while_the_data_is_still_coming) {
    start();
    test_socket s = login();
    run(s, "create table t(a integer, b text)");
    std::string data;
    std::vector<std::string> records(1000, "only one field|");
    for (int i = 0; i < 30; ++i)
        data += load_batch(records);
    data += load_end();
    load_outcome o = run_clear_load(s, load_statement_text("t"), data, 20000);
    ASSERT_TRUE(o.ended) << o.why;
    ASSERT_EQ(o.replies.size(), 30000u);
    EXPECT_EQ(o.replies.back().text, "record 30000: 1 fields, table t has 2: only one field\n");
}

TEST_F(norvlite_load, many_records_in_many_batches_are_counted_exactly) {
    start();
    test_socket s = login();
    run(s, "create table t(a integer, b text)");
    std::string data;
    long long expected_sum = 0;
    for (int batch = 0; batch < 20; ++batch) {
        std::vector<std::string> records;
        for (int i = 0; i < 5000; ++i) {
            const int n = batch * 5000 + i;
            expected_sum += n;
            records.push_back(std::to_string(n) + "|row " + std::to_string(n) + "|");
        }
        data += load_batch(records);
    }
    load_outcome o = run_clear_load(s, load_statement_text("t"), data + load_end(), 20000);
    ASSERT_TRUE(o.ended) << o.why;
    EXPECT_TRUE(o.replies.empty());
    EXPECT_EQ(query(s, "select count(*) || ' ' || sum(a) || ' ' || count(distinct b) from t"),
              "100000 " + std::to_string(expected_sum) + " 100000");
}

TEST_F(norvlite_load, malformed_batches_end_the_connection_with_a_log_line_and_keep_no_row) {
    start();
    test_socket other = login();
    run(other, "create table t(a integer, b text)");
    const std::string bad_batches[] = {
        be32(1) + be32(8) + be32(9) + "1|a|",        // record longer than the body
        be32(0xffffffff),                            // negative count
        be32(1) + be32(0x7fffffff),                  // body past the bound
        be32(2) + be32(8) + be32(4) + "1|a|",        // fewer records than counted
        be32(1) + be32(9) + be32(4) + "1|a|" + "x",  // bytes after the last record
    };
    for (const std::string& bad : bad_batches) {
        test_socket s = login();
        load_outcome o = run_clear_load(s, load_statement_text("t"),
                                        load_batch({"1|good|"}) + bad + load_end(), 3000);
        EXPECT_TRUE(o.accepted);
        EXPECT_FALSE(o.ended);
        EXPECT_TRUE(closed_within(s, 3000));
    }
    EXPECT_TRUE(log_has(server,
                        "closed on a bad load batch after 1 records: record length 9 with "
                        "4 bytes left in the batch"))
        << server.log();
    EXPECT_TRUE(log_has(server, "batch record count -1")) << server.log();
    EXPECT_TRUE(log_has(server, "batch body length 2147483647")) << server.log();
    // Each first batch was committed; nothing of a malformed one was.
    EXPECT_EQ(query(other, "select count(*) || ' ' || count(distinct b) from t"), "5 1");
}

TEST_F(norvlite_load, the_sink_counts_records_and_bytes_without_a_table) {
    start({"--load-sink"});
    test_socket s = login();
    load_outcome o = run_clear_load(
        s, load_statement_text("no_such_table"),
        load_batch({"1|a|", "", "22|bb|"}) + load_batch({std::string(100000, 'x')}) + load_end());
    ASSERT_TRUE(o.ended) << o.why << o.refusal;
    EXPECT_TRUE(o.replies.empty());
    EXPECT_TRUE(log_has(server, "load sink: 4 records, 100010 bytes")) << server.log();
    EXPECT_TRUE(log_has(server, "load into no_such_table: 4 records, 0 bad")) << server.log();
    // The statement is still read: a bad one is refused.
    o = run_clear_load(s, "LOAD TABLE x", "");
    EXPECT_EQ(o.after_refusal, 'K');
    EXPECT_FALSE(o.refusal.empty());
}

TEST_F(norvlite_load, a_load_runs_through_the_own_cipher) {
    start();
    {
        test_socket s = login();
        run(s, "create table t(a integer, b text)");
    }
    own_cipher_client c;
    ASSERT_TRUE(c.open(server.port)) << c.why;
    ASSERT_EQ(c.login(login_on, "norv"), "K") << c.why;
    ASSERT_TRUE(c.send(statement_message(load_statement_text("t"))));
    ASSERT_EQ(c.recv(1, 3000), "K");
    ASSERT_TRUE(c.send(std::string(8, '\0')));
    ASSERT_EQ(c.recv(8, 3000), std::string(8, '\0'));
    std::vector<std::string> records;
    for (int i = 0; i < 3000; ++i)
        records.push_back(std::to_string(i) + "|" + std::string(20, 'c') + "|");
    records.push_back("x|");
    ASSERT_TRUE(c.send(load_batch(records) + load_end()));
    const std::string w = "record 3001: 1 fields, table t has 2: x\n";
    EXPECT_EQ(c.recv(5 + w.size() + 1, 5000), "W" + wire_text(w) + "K");
    ASSERT_TRUE(c.send(statement_message("select count(*) || '' from t")));
    std::string reply;
    while (first_value(reply) == "<partial>") {
        std::string more = c.recv(1, 3000);
        if (more.empty()) break;
        reply += more;
    }
    EXPECT_EQ(first_value(reply), "3000");
}

class norvlite_tls_load : public norvlite_load {
protected:
    void SetUp() override {
        norvlite_load::SetUp();
        std::string output;
        ASSERT_EQ(run_program({REPO_ROOT "/scripts/gen-certs", dir.path + "/certs"}, output, 60000),
                  0)
            << output;
        start({"--certs", dir.path + "/certs"});
    }
};

bool tls_write(tls_client& c, std::string_view bytes) {
    return SSL_write(c.ssl, bytes.data(), static_cast<int>(bytes.size())) ==
           static_cast<int>(bytes.size());
}

std::string tls_read(tls_client& c, size_t n) {
    std::string got(n, '\0');
    size_t have = 0;
    while (have < n) {
        size_t r = 0;
        if (SSL_read_ex(c.ssl, got.data() + have, n - have, &r) != 1) break;
        have += r;
    }
    got.resize(have);
    return got;
}

TEST_F(norvlite_tls_load, a_load_runs_through_tls) {
    {
        test_socket s = login();
        run(s, "create table t(a integer, b text)");
    }
    tls_client c;
    ASSERT_TRUE(c.open(server.port, dir.path + "/certs", "driver")) << c.why;
    ASSERT_EQ(c.login(login_on), "K") << c.why;
    ASSERT_TRUE(tls_write(c, statement_message(load_statement_text("t"))));
    ASSERT_EQ(tls_read(c, 1), "K");
    ASSERT_TRUE(tls_write(c, std::string(8, '\0')));
    ASSERT_EQ(tls_read(c, 8), std::string(8, '\0'));
    ASSERT_TRUE(tls_write(c, load_batch({"1|a|", "2|b|", "bad|"}) + load_end()));
    const std::string w = "record 3: 1 fields, table t has 2: bad\n";
    EXPECT_EQ(tls_read(c, 5 + w.size() + 1), "W" + wire_text(w) + "K");
    ASSERT_TRUE(tls_write(c, statement_message("select group_concat(a) from t")));
    std::string reply;
    while (first_value(reply) == "<partial>") {
        std::string more = tls_read(c, 1);
        if (more.empty()) break;
        reply += more;
    }
    EXPECT_EQ(first_value(reply), "1,2");
}

}  // namespace
