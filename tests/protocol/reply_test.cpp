// The statement message and the reply reader against a scripted peer: the reply bytes are
// written by hand here (independently of the client's encoders), the bytes the client sent are
// compared literally.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "platform/system.h"
#include "protocol/conn.h"
#include "protocol/db.h"
#include "protocol/result.h"
#include "tests/protocol/socket_pair.h"
#include "tests/support/wire_bytes.h"

namespace {

std::string text(const std::string& s) {
    return wire_text(s);
}
std::string column(const std::string& name, int type, int type_mod = -1, int flags = 0) {
    return text(name) + be32(type) + be32(type_mod) + be32(flags);
}
std::string value(const std::string& bytes) {
    return be32(int32_t(bytes.size())) + bytes;
}

// Runs sql against a peer that has already written reply (and then stops writing).
struct exchange {
    socket_pair sp;
    socket_pair::conn_ptr conn = sp.conn();
    std::string sent;     // what the client sent
    std::string printed;  // what the client printed
    db_result* result = nullptr;

    exchange(const std::string& reply, const char* sql = "select 1") {
        sp.send_peer(reply);
        plat_socket_shutdown_send(sp.peer);
        con_set_capture(&printed);
        result = db_execute(conn.get(), sql);
        con_set_capture(nullptr);
        sent = sp.drain();
    }
    ~exchange() { db_result_free(result); }
};

const std::string select_header = "A" + be32(1) + column("N", 5);

// Runs a statement against a peer that writes reply from a thread (it may not fit the socket).
db_result* execute_streamed(const std::string& reply) {
    socket_pair sp;
    auto conn = sp.conn();
    std::thread server([&] {
        sp.send_peer(reply);
        plat_socket_shutdown_send(sp.peer);
    });
    db_result* r = db_execute(conn.get(), "select 1");
    server.join();
    return r;
}

// The memory a result holds: its arena blocks (rows included) and the message.
size_t held_bytes(const db_result* r) {
    size_t n = r->message_text.capacity();
    for (const arena_block* b = r->arena_head; b; b = b->next)
        n += sizeof *b + size_t(b->size);
    return n;
}

}  // namespace

TEST(db_execute, sends_the_statement_message_byte_for_byte) {
    exchange x("K", "select 1");
    EXPECT_EQ(x.sent, std::string("?\0\0\0\x08select 1\0\0\0\0\0", 18));
    ASSERT_NE(x.result, nullptr);
    EXPECT_EQ(db_result_ok(x.result), 1);
    EXPECT_EQ(db_result_kind(x.result), db_kind_none);
}

TEST(db_execute, a_query_of_zero_rows_has_its_columns_and_no_row) {
    exchange x("A" + be32(2) + column("ID", 5, -1, 2) + column("NAME", 30, 20) + "K");
    ASSERT_NE(x.result, nullptr);
    EXPECT_EQ(db_result_kind(x.result), db_kind_query);
    EXPECT_EQ(db_result_ok(x.result), 1);
    EXPECT_EQ(db_result_row_count(x.result), 0);
    EXPECT_EQ(db_result_col_count(x.result), 2);
    EXPECT_STREQ(db_result_col_name(x.result, 1), "NAME");
    EXPECT_EQ(db_result_col_type_mod(x.result, 1), 20);
    EXPECT_EQ(db_result_col_flags(x.result, 0), 2);
    EXPECT_STREQ(db_result_col_type_name(x.result, 0), "INTEGER");
    EXPECT_EQ(db_result_next(x.result), nullptr);
    EXPECT_FALSE(db_result_cut_short(x.result));
}

TEST(db_execute, counts_add_up_and_set_the_kind) {
    exchange u("U" + be32(3) + "U" + be32(4) + "K");
    EXPECT_EQ(db_result_updated(u.result), 7);
    EXPECT_EQ(db_result_kind(u.result), db_kind_update);
    exchange d("D" + be32(2) + "K");
    EXPECT_EQ(db_result_deleted(d.result), 2);
    EXPECT_EQ(db_result_kind(d.result), db_kind_delete);
    // An insert key longer than the 24-byte area is read whole and kept cut.
    exchange i("I" + value("12345678") + "I" + value(std::string(30, 'k')) + "K");
    EXPECT_EQ(db_result_inserted(i.result), 2);
    EXPECT_EQ(db_result_kind(i.result), db_kind_insert);
    int len = 0;
    const unsigned char* key = db_result_insert_key(i.result, &len);
    EXPECT_EQ(len, 24);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(key), 24), std::string(24, 'k'));
}

TEST(db_execute, messages_outside_rows_set_level_and_ok) {
    exchange e("E" + text("no such table") + "K");
    EXPECT_EQ(db_result_ok(e.result), 0);
    EXPECT_EQ(db_result_msg_level(e.result), db_level_error);
    EXPECT_STREQ(db_result_message(e.result), "no such table");
    EXPECT_EQ(db_result_kind(e.result), db_kind_none);
    exchange w("W" + text("careful") + "K");
    EXPECT_EQ(db_result_ok(w.result), 1);
    EXPECT_EQ(db_result_msg_level(w.result), db_level_warning);
    exchange f("F" + text("[99] gone") + "K");
    EXPECT_EQ(db_result_ok(f.result), 0);
    EXPECT_EQ(db_result_msg_level(f.result), db_level_fatal);
    EXPECT_STREQ(db_result_message(f.result), "[99] gone") << "outside rows the text stays whole";
    EXPECT_EQ(db_result_error_code(f.result), 0);
    // A row set after an error sets ok back.
    exchange ea("E" + text("x") + select_header + "K");
    EXPECT_EQ(db_result_ok(ea.result), 1);
    // A warning before the rows stays with the result.
    exchange wa("W" + text("early") + select_header + "R" + value(be32(1)) + "K");
    EXPECT_EQ(db_result_ok(wa.result), 1);
    EXPECT_EQ(db_result_msg_level(wa.result), db_level_warning);
    EXPECT_STREQ(db_result_message(wa.result), "early");
    EXPECT_EQ(db_result_row_count(wa.result), 1);
}

TEST(db_execute, messages_among_rows_clear_ok_and_carry_a_bracketed_code) {
    exchange w(select_header + "R" + value(be32(1)) + "W" + text("[1234]  row skipped") + "R" +
               value(be32(2)) + "K");
    ASSERT_NE(w.result, nullptr);
    EXPECT_EQ(db_result_ok(w.result), 0);
    EXPECT_EQ(db_result_msg_level(w.result), db_level_warning);
    EXPECT_EQ(db_result_error_code(w.result), -1234);
    EXPECT_STREQ(db_result_message(w.result), "row skipped");
    EXPECT_EQ(db_result_row_count(w.result), 2);
    // A code of ten digits wraps instead of overflowing.
    exchange big(select_header + "E" + text("[2147483648] bad") + "K");
    EXPECT_EQ(db_result_error_code(big.result), INT32_MIN);
    EXPECT_STREQ(db_result_message(big.result), "bad");
    exchange e(select_header + "E" + text("[12 not a code") + "K");
    EXPECT_EQ(db_result_error_code(e.result), 0);
    EXPECT_STREQ(db_result_message(e.result), "[12 not a code");
}

TEST(db_execute, notices_and_function_output_are_printed_not_stored) {
    exchange m("M" + text("hello") + "O" + be32(7) + be32(0) + "O" + be32(7) + value("dropped") +
               select_header + "M" + text("among rows") + "$" + be32(0));
    ASSERT_NE(m.result, nullptr);
    EXPECT_EQ(m.printed, "hello\r\nfunction return NONE\namong rows\r\n");
    EXPECT_EQ(db_result_message(m.result), nullptr);
}

TEST(db_execute, values_are_converted_to_host_order_by_type_code) {
    std::string point =
        std::string("\x3f\xf8\0\0\0\0\0\0", 8) + std::string("\xc0\0\0\0\0\0\0\0", 8);
    std::string box;
    for (double d : {1.0, 2.0, 3.0, 4.0}) {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        for (int s = 56; s >= 0; s -= 8)
            box += char(bits >> s);
    }
    exchange x("A" + be32(5) + column("S", 4) + column("I", 5) + column("P", 36) + column("B", 37) +
               column("E", 5) + "R" + value("\x01\x02") + value("\xff\xff\xff\xfe") + value(point) +
               value(box) + value("") + "K");
    db_row* row = db_result_next(x.result);
    ASSERT_NE(row, nullptr);
    int16_t s;
    std::memcpy(&s, db_row_value(row, 0), 2);
    EXPECT_EQ(s, 258);
    int32_t i;
    std::memcpy(&i, db_row_value(row, 1), 4);
    EXPECT_EQ(i, -2);
    double p[2], b[4];
    std::memcpy(p, db_row_value(row, 2), 16);
    std::memcpy(b, db_row_value(row, 3), 32);
    EXPECT_EQ(p[0], 1.5);
    EXPECT_EQ(p[1], -2.0);
    EXPECT_EQ(b[0], 1.0);
    EXPECT_EQ(b[3], 4.0);
    // A zero-length value is an empty text, not converted.
    EXPECT_EQ(db_row_value_len(row, 4), 0);
    EXPECT_STREQ(db_row_value(row, 4), "");
}

TEST(db_execute, a_nested_result_set_is_read_and_dropped) {
    exchange x(select_header + "R" + value(be32(1)) + "A" + be32(2) + column("X", 30) +
               column("Y", 30) + "R" + value("a") + value("bb") + "R" + value("c") + value("") +
               "R" + value(be32(2)) + "K");
    ASSERT_NE(x.result, nullptr);
    EXPECT_EQ(db_result_col_count(x.result), 1);
    EXPECT_EQ(db_result_row_count(x.result), 1) << "the row after the nested set ends it";
}

TEST(db_execute_params, sends_text_then_count_and_parameters_with_empty_as_one_zero_byte) {
    socket_pair sp;
    auto conn = sp.conn();
    sp.send_peer("K");
    db_stmt* stmt = db_stmt_new("insert into t values(?,?)");
    ASSERT_TRUE(db_stmt_bind(stmt, 0, "abc", 3, db_param_text));
    ASSERT_TRUE(db_stmt_bind(stmt, 1, "", 0, db_param_bytes));
    EXPECT_FALSE(db_stmt_bind(stmt, 100, "x", 1, db_param_bytes));
    db_result* r = db_execute_params(conn.get(), stmt);
    ASSERT_NE(r, nullptr);
    std::string sql = "insert into t values(?,?)";
    EXPECT_EQ(sp.drain(), "?" + be32(int32_t(sql.size())) + sql + std::string(1, '\0') + be32(2) +
                              be16(0) + be16(1) + be16(32) + be32(3) + "abc" + be16(0) + be16(1) +
                              be16(34) + be32(1) + std::string(1, '\0'));
    db_result_free(r);
    db_stmt_free(stmt);
}

TEST(db_execute, a_lost_connection_while_rows_stream_keeps_the_rows_and_says_so) {
    exchange x(select_header + "R" + value(be32(1)) + "R" + be32(4) + std::string(2, '\0'));
    ASSERT_NE(x.result, nullptr);
    EXPECT_TRUE(db_result_cut_short(x.result));
    EXPECT_EQ(db_result_row_count(x.result), 1);
    EXPECT_EQ(x.conn->sock, closed_socket) << "the reader closes the socket";
}

TEST(db_execute, malformed_lengths_and_counts_fail_the_exchange) {
    for (const std::string& reply : {"E" + be32(-1) + "x", "E" + be32(0x7fffffff), "A" + be32(-3),
                                     "A" + be32(2000000000), "A" + be32(1) + text("N").substr(0, 4),
                                     "O" + be32(0) + be32(0x7fffffff), "I" + be32(-5)}) {
        exchange x(reply);
        EXPECT_EQ(x.result, nullptr) << ::testing::PrintToString(reply);
    }
    // A bad value length among rows (negative, or over the 1 GiB bound) ends the stream like a
    // lost connection.
    for (int32_t bad : {-7, 0x7fffffff}) {
        exchange x(select_header + "R" + be32(bad));
        ASSERT_NE(x.result, nullptr) << bad;
        EXPECT_TRUE(db_result_cut_short(x.result)) << bad;
        EXPECT_EQ(db_result_row_count(x.result), 0) << bad;
    }
}

TEST(db_execute, a_reply_broken_among_rows_leaves_nothing_for_the_next_statement) {
    socket_pair sp;
    auto conn = sp.conn();
    // The bytes after the bad length arrive with it, in the same read.
    sp.send_peer(select_header + "R" + value(be32(1)) + "R" + be32(-1) + "E" + text("stale") + "K");
    db_result* r = db_execute(conn.get(), "select 1");
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(db_result_cut_short(r));
    EXPECT_EQ(db_result_row_count(r), 1);
    db_result_free(r);
    db_result* next = db_execute(conn.get(), "commit");
    EXPECT_EQ(next, nullptr) << "the rest of the broken reply answered a statement never sent";
    db_result_free(next);
}

TEST(db_execute, a_reply_cut_at_any_byte_gives_null_or_a_flagged_partial_result) {
    const std::string header = "W" + text("w") + "A" + be32(2) + column("A", 5) + column("B", 30);
    const std::string reply = header + "R" + value(std::string("\0\0\0\7", 4)) + value("seven") +
                              "M" + text("m") + "R" + value(std::string("\0\0\0\x08", 4)) +
                              value("") + "$" + be32(2);
    for (size_t cut = 0; cut < reply.size(); ++cut) {
        exchange x(reply.substr(0, cut));
        if (cut < header.size()) {
            EXPECT_EQ(x.result, nullptr) << "cut at " << cut;
        } else {
            ASSERT_NE(x.result, nullptr) << "cut at " << cut;
            EXPECT_TRUE(db_result_cut_short(x.result)) << "cut at " << cut;
            EXPECT_LE(db_result_row_count(x.result), 2);
        }
    }
    exchange whole(reply);
    ASSERT_NE(whole.result, nullptr);
    EXPECT_FALSE(db_result_cut_short(whole.result));
    EXPECT_EQ(db_result_row_count(whole.result), 2);
}

TEST(db_set_option, sends_each_setting_as_its_statement_and_keeps_it) {
    socket_pair sp;
    auto conn = sp.conn();
    for (int i = 0; i < 5; ++i)
        sp.send_peer("K");
    db_set_option(conn.get(), "char_set", "utf8");
    db_set_option(conn.get(), "iso_level", "serializable");
    db_set_option(conn.get(), "time_zone", "+08:00");
    db_set_option(conn.get(), "lock_timeout", "30");
    db_set_option(conn.get(), "auto_commit", "off");
    db_set_option(conn.get(), "auto_commit", "maybe");  // nothing happens
    db_set_option(conn.get(), "time_zone", nullptr);    // dropped, nothing sent
    db_set_option(conn.get(), "colour", "red");         // unknown: nothing
    auto message = [](const std::string& sql) {
        return "?" + be32(int32_t(sql.size())) + sql + std::string(1, '\0') + be32(0);
    };
    EXPECT_EQ(sp.drain(), message("set client_encoding to 'utf8'") +
                              message("set transaction isolation  'serializable'") +
                              message("set time zone '+08:00'") +
                              message("set lock_timeout to 30") + message("set auto commit off"));
    EXPECT_EQ(conn->lock_timeout, 30);
    EXPECT_EQ(conn->auto_commit, 0);
    EXPECT_EQ(*conn->char_set, "utf8");
    EXPECT_FALSE(conn->time_zone.has_value());
}

TEST(db_execute, a_value_of_several_receive_pieces_arrives_whole) {
    socket_pair sp;
    auto conn = sp.conn();
    std::string big(size_t(3) << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char('a' + i % 23);
    const std::string reply =
        "A" + be32(2) + column("B", 30) + column("C", 30) + "R" + value(big) + value("c") + "K";
    std::thread server([&] {
        sp.send_peer(reply);
        plat_socket_shutdown_send(sp.peer);
    });
    db_result* r = db_execute(conn.get(), "select b, c");
    server.join();
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(db_result_cut_short(r));
    db_row* row = db_result_next(r);
    ASSERT_NE(row, nullptr);
    ASSERT_EQ(db_row_value_len(row, 0), int(big.size()));
    EXPECT_TRUE(std::string(db_row_value(row, 0), big.size()) == big);
    EXPECT_STREQ(db_row_value(row, 1), "c");
    db_result_free(r);
}

TEST(db_execute, many_messages_hold_the_memory_of_the_last_one_only) {
    const std::string big(64 << 10, 'w');
    std::string reply;
    for (int i = 0; i < 400; ++i) {
        if (i == 200) reply += select_header + "R" + value(be32(1));  // outside rows, then among
        reply += "W" + text(big + std::to_string(i));
    }
    db_result* r = execute_streamed(reply + "K");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(db_result_row_count(r), 1);
    EXPECT_EQ(db_result_message(r), big + "399");
    EXPECT_LT(held_bytes(r), 3 * big.size()) << "400 messages of 64 KiB came, one is shown";
    db_result_free(r);
}

TEST(db_execute, a_result_stops_at_its_row_bound_and_rows_without_columns_cost_nothing) {
    std::string rows = select_header;
    for (int i = 0; i < 1600; ++i)
        rows += "R" + value(be32(uint32_t(i)));
    result_row_bound = 1500;
    db_result* r = execute_streamed(rows + "K");
    result_row_bound = INT32_MAX;
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(db_result_row_count(r), 1500);
    EXPECT_TRUE(db_result_cut_short(r)) << "the rows past the bound are not in the result";
    int32_t expected = 0, v;
    while (db_row* row = db_result_next(r)) {
        std::memcpy(&v, db_row_value(row, 0), 4);
        ASSERT_EQ(v, expected++);
    }
    EXPECT_EQ(expected, 1500);
    db_result_free(r);

    r = execute_streamed("A" + be32(0) + std::string(100000, 'R') + "K");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(db_result_row_count(r), 100000);
    EXPECT_EQ(r->first_run, nullptr);
    EXPECT_LT(held_bytes(r), size_t(100000)) << "one byte came for each row";
    for (expected = 0; db_result_next(r); ++expected) {
    }
    EXPECT_EQ(expected, 100000);
    db_result_free(r);
}

TEST(db_execute_params, a_file_is_sent_as_it_was_bound_or_not_at_all) {
    const std::string path = std::filesystem::temp_directory_path().string() + "/norv_param_" +
                             std::to_string(plat_process_id());
    struct remover {
        const std::string& path;
        ~remover() { std::filesystem::remove(path); }
    } remove_at_end{path};
    std::string bytes((size_t(3) << 20) + 5, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 % 251);
    const std::string sql = "insert into t values(?)";
    const std::string message = "?" + be32(uint32_t(sql.size())) + sql + std::string(1, '\0') +
                                be32(1) + be16(0) + be16(1) + be16(34) +
                                be32(uint32_t(bytes.size())) + bytes;
    // Unchanged, shorter or longer by the time it is sent: only a file as long as it was when it
    // was bound goes out; otherwise the message stays unfinished and the server runs nothing.
    for (long long change : {0LL, -(1LL << 20), 1LL}) {
        std::ofstream(path, std::ios::binary) << bytes;
        socket_pair sp;
        auto conn = sp.conn();
        db_stmt* stmt = db_stmt_new(sql.c_str());
        ASSERT_EQ(db_stmt_bind_file(stmt, 0, open_for_reading(path.c_str()), db_param_bytes),
                  db_file_bind::ok);
        std::filesystem::resize_file(path, bytes.size() + size_t(change));
        std::string got;
        std::thread peer([&] {
            char buf[65536];
            for (long n;
                 got.size() < message.size() && (n = plat_socket_recv(sp.peer, buf, 65536)) > 0;)
                got.append(buf, size_t(n));
            if (got.size() == message.size())
                sp.send_peer(got == message ? std::string("K") : "E" + text("bad") + "K");
        });
        db_result* r = db_execute_params(conn.get(), stmt);
        conn.reset();
        plat_socket_close(sp.client);  // the peer sees the end
        sp.client = -1;
        peer.join();
        EXPECT_EQ(r != nullptr, change == 0) << change;
        EXPECT_EQ(db_stmt_changed_param(stmt), change == 0 ? -1 : 0) << change;
        EXPECT_EQ(got.size() < message.size(), change != 0) << change;
        EXPECT_EQ(got.substr(0, 200), message.substr(0, 200)) << change;
        db_result_free(r);
        db_stmt_free(stmt);
    }
}
