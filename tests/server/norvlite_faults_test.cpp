// norvlite's fault switches against the built binary, over raw sockets: where each one cuts the
// exchange, that it fires once per run and logs it, and what the database holds afterwards.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "tests/server/load_client.h"
#include "tests/server/statement_client.h"
#include "tests/server/test_client.h"
#include "tests/support/wire_bytes.h"

using namespace std::literals;

namespace {

constexpr int log_wait_ms = 3000;

// The value of a one-row, one-BIGINT-column reply ("A", one descriptor, "R" 8 bytes, "K"), or
// -1 when the reply is not of that form.
long long single_bigint(std::string_view reply) {
    if (reply.size() < 14 || reply[0] != 'A' || reply.back() != 'K') return -1;
    std::string_view row = reply.substr(reply.size() - 14, 13);
    if (row.substr(0, 5) != "R\0\0\0\x08"sv) return -1;
    long long v = 0;
    for (char c : row.substr(5))
        v = v << 8 | static_cast<unsigned char>(c);
    return v;
}

long long rows_in_t(int port) {
    test_socket s = clear_login(port);
    return single_bigint(ask_statement(s, "select count(*) from t"));
}

// The garbage pattern as the switch's help describes it, computed here on its own.
std::string documented_garbage() {
    std::string bytes;
    uint32_t x = 0x6e6f7276;
    for (int i = 0; i < 100; ++i) {
        x = x * 1103515245u + 12345u;
        bytes += static_cast<char>(x >> 24);
    }
    return bytes;
}

// Sends a load statement and takes the "K", leaving the connection at the int64 exchange.
void begin_load(const test_socket& s) {
    ASSERT_TRUE(send_bytes(s, statement_message(load_statement_text("t"))));
    ASSERT_EQ(recv_upto(s, 1, 3000), "K");
}

class norvlite_faults : public norvlite_session_test {
protected:
    void create_t() {
        test_socket s = login();
        EXPECT_EQ(ask_statement(s, "create table t(a integer, b text)"), "K");
    }
};

TEST_F(norvlite_faults, drop_at_login_closes_after_the_first_login_text_without_a_verdict) {
    start({"--drop-at-login"});
    test_socket s = connect_local(server.port);
    ASSERT_TRUE(send_bytes(s, login_on));
    EXPECT_EQ(recv_upto(s, 1, 3000), "");
    EXPECT_TRUE(closed_within(s, 1000));
    EXPECT_TRUE(log_has(server, "fault: connection dropped after the login text, without a verdict",
                        log_wait_ms))
        << server.log();
    test_socket t = login();  // fired once: the next login is answered
    EXPECT_EQ(single_bigint(ask_statement(t, "select 7")), 7);
}

TEST_F(norvlite_faults,
       garbage_on_answers_the_first_matching_statement_with_the_pattern_then_closes) {
    start({"--garbage-on", "Select 7"});
    test_socket s = login();
    EXPECT_EQ(single_bigint(ask_statement(s, "select 6")), 6);
    ASSERT_TRUE(send_bytes(s, statement_message("SELECT 7")));
    const std::string garbage = recv_upto(s, 1000, 3000);
    EXPECT_EQ(garbage, documented_garbage());
    EXPECT_EQ(garbage.substr(0, 8), "\x77\x05\x77\xd8\x04\xab\xad\x58"s);
    EXPECT_TRUE(closed_within(s, 1000));
    EXPECT_TRUE(log_has(
        server, "fault: 100 garbage bytes sent for a statement containing 'Select 7'", log_wait_ms))
        << server.log();
    test_socket t = login();
    EXPECT_EQ(single_bigint(ask_statement(t, "select 7")), 7);
}

TEST_F(norvlite_faults, drop_in_load_batch_keeps_the_batches_before_it_and_fires_once) {
    start({"--drop-in-load-batch", "2"});
    create_t();
    {
        test_socket s = login();
        load_outcome o = run_clear_load(
            s, load_statement_text("t"),
            load_batch({"1|a|", "2|b|"}) + load_batch({"3|c|"}) + load_batch({"4|d|"}) + load_end(),
            3000);
        EXPECT_TRUE(o.accepted) << o.why;
        EXPECT_FALSE(o.ended) << "no closing K after the drop";
        EXPECT_TRUE(o.replies.empty());
    }
    EXPECT_TRUE(
        log_has(server, "fault: connection dropped in load batch 2 after 2 records", log_wait_ms))
        << server.log();
    EXPECT_EQ(rows_in_t(server.port), 2);  // batch 1 was committed, batch 2 never began
    test_socket s = login();
    load_outcome o = run_clear_load(
        s, load_statement_text("t"),
        load_batch({"5|e|"}) + load_batch({"6|f|"}) + load_batch({"7|g|"}) + load_end());
    EXPECT_TRUE(o.ended) << o.why;
    EXPECT_EQ(rows_in_t(server.port), 5);
}

TEST_F(norvlite_faults, drop_in_load_batch_counts_batches_within_each_load) {
    start({"--drop-in-load-batch", "2"});
    create_t();
    {
        // One batch only: the load ends before a second batch, and the switch stays armed.
        test_socket s = login();
        load_outcome o =
            run_clear_load(s, load_statement_text("t"), load_batch({"1|a|"}) + load_end());
        EXPECT_TRUE(o.ended) << o.why;
    }
    {
        test_socket s = login();
        load_outcome o =
            run_clear_load(s, load_statement_text("t"),
                           load_batch({"2|b|"}) + load_batch({"3|c|"}) + load_end(), 3000);
        EXPECT_FALSE(o.ended);
    }
    EXPECT_TRUE(
        log_has(server, "fault: connection dropped in load batch 2 after 1 records", log_wait_ms))
        << server.log();
    EXPECT_EQ(rows_in_t(server.port), 2);
}

TEST_F(norvlite_faults, drop_at_load_handshake_closes_before_answering_the_int64) {
    start({"--drop-at-load-handshake"});
    create_t();
    {
        test_socket s = login();
        begin_load(s);
        ASSERT_TRUE(send_bytes(s, std::string(8, '\0')));
        EXPECT_EQ(recv_upto(s, 8, 3000), "");
        EXPECT_TRUE(closed_within(s, 1000));
    }
    EXPECT_TRUE(
        log_has(server, "fault: connection dropped at a load's int64 exchange", log_wait_ms))
        << server.log();
    EXPECT_EQ(rows_in_t(server.port), 0);
    test_socket s = login();
    load_outcome o =
        run_clear_load(s, load_statement_text("t"), load_batch({"1|a|", "2|b|"}) + load_end());
    EXPECT_TRUE(o.ended) << o.why;
    EXPECT_EQ(rows_in_t(server.port), 2);
}

TEST_F(norvlite_faults, load_delay_pauses_after_every_batch_and_loses_nothing) {
    start({"--load-delay-ms", "250"});
    create_t();
    test_socket s = login();
    const auto began = std::chrono::steady_clock::now();
    load_outcome o = run_clear_load(
        s, load_statement_text("t"),
        load_batch({"1|a|"}) + load_batch({"2|b|"}) + load_batch({"3|c|", "4|d|"}) + load_end());
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_TRUE(o.ended) << o.why;
    EXPECT_GE(took, std::chrono::milliseconds(750));
    EXPECT_EQ(rows_in_t(server.port), 4);
    EXPECT_TRUE(log_has(server, "fault: load paused 250 ms after each batch", log_wait_ms));
    const std::string log = server.log();
    EXPECT_EQ(log.find("load paused"), log.rfind("load paused")) << "logged once per load";
}

TEST_F(norvlite_faults, switches_left_off_change_nothing) {
    start();
    create_t();
    test_socket s = login();
    load_outcome o = run_clear_load(s, load_statement_text("t"),
                                    load_batch({"1|a|"}) + load_batch({"2|b|"}) + load_end());
    EXPECT_TRUE(o.ended) << o.why;
    EXPECT_EQ(rows_in_t(server.port), 2);
    EXPECT_EQ(server.log().find("fault:"), std::string::npos) << server.log();
}

}  // namespace
