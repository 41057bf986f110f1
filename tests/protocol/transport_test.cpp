// The sender's gathering thresholds and the receivers' behaviour, over a real socket pair.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "protocol/conn.h"
#include "protocol/db_wire.h"
#include "tests/protocol/socket_pair.h"

namespace {

std::string filled(size_t n, char ch) {
    return std::string(n, ch);
}

void queue(db_conn* c, const std::string& bytes) {
    ASSERT_TRUE(db_run_exchange(c, [&] { put_bytes(c, bytes.data(), int(bytes.size())); }));
}

}  // namespace

TEST(put_bytes, copies_up_to_2048_bytes_and_sends_2049_directly) {
    socket_pair sp;
    auto c = sp.conn();
    queue(c.get(), filled(2048, 'a'));
    EXPECT_EQ(c->send_len, 2048);
    EXPECT_EQ(sp.drain(), "");

    socket_pair sp2;
    auto c2 = sp2.conn();
    queue(c2.get(), filled(2049, 'b'));
    EXPECT_EQ(c2->send_len, 0);
    EXPECT_EQ(sp2.drain(), filled(2049, 'b'));
}

TEST(put_bytes, appends_below_8192_and_flushes_first_at_8192) {
    socket_pair sp;
    auto c = sp.conn();
    for (int i = 0; i < 4; ++i)
        queue(c.get(), filled(2000, char('0' + i)));
    queue(c.get(), filled(191, 'x'));
    EXPECT_EQ(c->send_len, 8191);
    EXPECT_EQ(sp.drain(), "");

    socket_pair sp2;
    auto c2 = sp2.conn();
    for (int i = 0; i < 4; ++i)
        queue(c2.get(), filled(2000, char('0' + i)));
    queue(c2.get(), filled(192, 'y'));
    EXPECT_EQ(c2->send_len, 192);
    EXPECT_EQ(sp2.drain(),
              filled(2000, '0') + filled(2000, '1') + filled(2000, '2') + filled(2000, '3'));
    db_flush(c2.get());
    EXPECT_EQ(c2->send_len, 0);
    EXPECT_EQ(sp2.drain(), filled(192, 'y'));
}

TEST(put_bytes, a_direct_block_follows_the_queued_bytes_in_order) {
    socket_pair sp;
    auto c = sp.conn();
    queue(c.get(), "head");
    queue(c.get(), filled(5000, 'z'));
    EXPECT_EQ(sp.drain(), "head" + filled(5000, 'z'));
}

TEST(put_int32, queues_big_endian) {
    socket_pair sp;
    auto c = sp.conn();
    ASSERT_TRUE(db_run_exchange(c.get(), [&] {
        put_int32(c.get(), 0x01020304);
        put_int32(c.get(), -2);
        put_int16(c.get(), 0x0506);
    }));
    db_flush(c.get());
    EXPECT_EQ(sp.drain(), std::string("\x01\x02\x03\x04\xff\xff\xff\xfe\x05\x06", 10));
}

TEST(db_put_bytes, a_send_on_a_closed_connection_ends_the_exchange) {
    socket_pair sp;
    auto c = sp.conn();
    db_close_socket(c.get());
    std::string big = filled(4000, 'q');
    EXPECT_FALSE(db_run_exchange(c.get(), [&] { db_put_bytes(c.get(), big.data(), 4000); }));
}

TEST(db_recv_exact, reads_integers_and_bytes_across_receives) {
    socket_pair sp;
    auto c = sp.conn();
    std::string payload = filled(100000, 'v');  // larger than the read-ahead
    sp.send_peer(std::string("\x00\x00\x00\x2a", 4) + "L");
    int32_t n = 0;
    int letter = 0;
    std::string got(payload.size(), '\0');
    std::thread writer([&] { sp.send_peer(payload + "tail"); });
    bool ok = db_run_exchange(c.get(), [&] {
        n = get_int32(c.get());
        letter = get_byte(c.get());
        db_recv_exact(c.get(), got.data(), int(got.size()));
    });
    writer.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(n, 42);
    EXPECT_EQ(letter, 'L');
    EXPECT_EQ(got, payload);
    char tail[4];
    EXPECT_TRUE(db_run_exchange(c.get(), [&] { db_recv_exact(c.get(), tail, 4); }));
    EXPECT_EQ(std::string(tail, 4), "tail");
}

TEST(db_recv_exact, a_peer_closing_in_the_middle_of_a_text_ends_the_exchange) {
    socket_pair sp;
    auto c = sp.conn();
    sp.send_peer(std::string("\x00\x00\x00\x0a", 4) + "abcd");  // 10 bytes announced, 4 sent
    sp.close_peer();
    char text[10];
    int32_t len = -1;
    bool ok = db_run_exchange(c.get(), [&] {
        len = get_int32(c.get());
        db_recv_exact(c.get(), text, len);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(len, 10);
    // Later receives fail as well instead of waiting.
    EXPECT_FALSE(db_run_exchange(c.get(), [&] { get_byte(c.get()); }));
}

TEST(db_recv_raw, serves_read_ahead_bytes_first_then_reports_the_close) {
    socket_pair sp;
    auto c = sp.conn();
    sp.send_peer("Kdebug line\n");
    ASSERT_TRUE(db_run_exchange(c.get(), [&] { EXPECT_EQ(get_byte(c.get()), 'K'); }));
    char buf[64];
    int n = db_recv_raw(c.get(), buf, sizeof buf);
    EXPECT_EQ(std::string(buf, size_t(n)), "debug line\n");
    sp.close_peer();
    EXPECT_LE(db_recv_raw(c.get(), buf, sizeof buf), 0);
}

TEST(db_idle_check, tells_a_clean_connection_from_stray_bytes_and_a_close_without_blocking) {
    socket_pair sp;
    auto c = sp.conn();
    EXPECT_EQ(db_idle_check(c.get()), db_idle_clean);
    // A reply read up to its "K", with a byte after it in the read-ahead.
    sp.send_peer("KE");
    ASSERT_TRUE(db_run_exchange(c.get(), [&] { EXPECT_EQ(get_byte(c.get()), 'K'); }));
    EXPECT_EQ(db_idle_check(c.get()), db_idle_stray);
    ASSERT_TRUE(db_run_exchange(c.get(), [&] { EXPECT_EQ(get_byte(c.get()), 'E'); }));
    EXPECT_EQ(db_idle_check(c.get()), db_idle_clean);
    // Bytes waiting on the socket are looked at, not taken.
    sp.send_peer("K");
    EXPECT_EQ(db_idle_check(c.get()), db_idle_stray);
    EXPECT_EQ(db_idle_check(c.get()), db_idle_stray);
    ASSERT_TRUE(db_run_exchange(c.get(), [&] { EXPECT_EQ(get_byte(c.get()), 'K'); }));
    EXPECT_EQ(db_idle_check(c.get()), db_idle_clean);
    sp.close_peer();
    EXPECT_EQ(db_idle_check(c.get()), db_idle_closed);
    db_close_socket(c.get());
    EXPECT_EQ(db_idle_check(c.get()), db_idle_closed);
    EXPECT_EQ(db_idle_check(nullptr), db_idle_closed);
}
