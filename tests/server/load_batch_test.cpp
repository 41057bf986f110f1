// A load's batches against good and malformed input: the header bounds, the record walk over
// bodies that lie about their records, the field split with and without a final separator, the
// stop record, and the batch reader over a real socket pair, including announced lengths that
// never arrive (the buffer must not grow with the announcement alone).
#include "server/load_batch.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/wire_bytes.h"

using namespace std::literals;

namespace {

std::string record(std::string_view bytes) {
    return be32(static_cast<uint32_t>(bytes.size())) + std::string(bytes);
}

std::vector<std::string> walk(std::string_view body, int32_t count, std::string* error = nullptr) {
    srv_record_walk w = srv_walk_records(body.data(), body.size(), count);
    std::vector<std::string> out;
    std::string_view rec;
    std::string why;
    for (;;) {
        switch (srv_next_record(w, rec, why)) {
            case srv_record_status::record:
                out.emplace_back(rec);
                continue;
            case srv_record_status::done:
                return out;
            case srv_record_status::malformed:
                if (error) *error = why;
                out.push_back("<malformed>");
                return out;
        }
    }
}

std::vector<std::string> fields(std::string_view rec, char sep = '|') {
    srv_field_walk w{rec, sep};
    std::vector<std::string> out;
    std::string_view f;
    while (srv_next_field(w, f))
        out.emplace_back(f);
    return out;
}

TEST(srv_load_check_header, bounds_the_count_and_the_body_length) {
    std::string why;
    EXPECT_TRUE(srv_load_check_header(2, 16, why));
    EXPECT_TRUE(srv_load_check_header(1, 4, why));  // one empty record
    EXPECT_TRUE(srv_load_check_header(1, srv_load_body_max, why));
    EXPECT_FALSE(srv_load_check_header(-1, 16, why));
    EXPECT_EQ(why, "batch record count -1");
    EXPECT_FALSE(srv_load_check_header(1, -16, why));
    EXPECT_FALSE(srv_load_check_header(1, srv_load_body_max + 1, why));
    EXPECT_FALSE(srv_load_check_header(3, 11, why));  // three prefixes need 12 bytes
    EXPECT_EQ(why, "batch of 3 records in a body of 11 bytes");
    EXPECT_FALSE(srv_load_check_header(INT32_MAX, srv_load_body_max, why));
    EXPECT_FALSE(srv_load_check_header(INT32_MIN, 0, why));
}

TEST(srv_next_record, walks_records_of_every_length_including_empty_ones) {
    const std::string body = record("1|a|") + record("") + record("2|b|") + record("\0|\n"s);
    EXPECT_EQ(walk(body, 4), (std::vector<std::string>{"1|a|", "", "2|b|", "\0|\n"s}));
}

TEST(srv_next_record, refuses_bodies_that_do_not_match_their_records) {
    std::string why;
    // A length past the end of the body.
    EXPECT_EQ(walk(record("abc").substr(0, 6), 1, &why).back(), "<malformed>");
    EXPECT_EQ(why, "record length 3 with 2 bytes left in the batch");
    // A negative length.
    EXPECT_EQ(walk(be32(0xffffffff) + "abcd", 1, &why).back(), "<malformed>");
    // Fewer records than announced, the body ending inside a prefix or exactly at a record.
    EXPECT_EQ(walk(record("ab") + "\0\0"s, 2, &why).back(), "<malformed>");
    EXPECT_EQ(walk(record("ab"), 2, &why).back(), "<malformed>");
    EXPECT_EQ(why, "a batch body ends before its 1 last records");
    // Bytes after the last announced record.
    EXPECT_EQ(walk(record("ab") + "x", 1, &why).back(), "<malformed>");
    EXPECT_EQ(why, "1 bytes after the last record of a batch");
    // A huge length never reads past the body.
    EXPECT_EQ(walk(be32(0x7fffffff) + "abcd", 1, &why).back(), "<malformed>");
}

TEST(srv_next_field, splits_at_the_separator_and_lets_a_final_one_end_the_last_field) {
    using v = std::vector<std::string>;
    EXPECT_EQ(fields("1|a|"), (v{"1", "a"}));
    EXPECT_EQ(fields("1|a"), (v{"1", "a"}));
    EXPECT_EQ(fields("1||"), (v{"1", ""}));
    EXPECT_EQ(fields("|a|"), (v{"", "a"}));
    EXPECT_EQ(fields("1|a|b||"), (v{"1", "a", "b", ""}));
    EXPECT_EQ(fields("|"), (v{""}));
    EXPECT_EQ(fields(""), (v{""}));
    EXPECT_EQ(fields("||"), (v{"", ""}));
    EXPECT_EQ(fields("1|a\r|"), (v{"1", "a\r"}));
    EXPECT_EQ(fields("1\0a,\0,"s, ','), (v{"1\0a"s, "\0"s}));
}

TEST(srv_is_stop_record, matches_the_stop_text_with_or_without_its_separator) {
    EXPECT_TRUE(srv_is_stop_record("#norvlite-stop#|", '|'));
    EXPECT_TRUE(srv_is_stop_record("#norvlite-stop#", '|'));
    EXPECT_FALSE(srv_is_stop_record("#norvlite-stop#||", '|'));
    EXPECT_FALSE(srv_is_stop_record("#norvlite-stop#,", '|'));
    EXPECT_FALSE(srv_is_stop_record("x#norvlite-stop#|", '|'));
}

// A reader over one end of a socket pair; the test writes to the other.
struct socket_pair_reader {
    int fds[2] = {-1, -1};
    srv_channel channel;
    srv_reader reader;
    socket_pair_reader() {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        channel.fd = fds[0];
        reader.ch = &channel;
    }
    ~socket_pair_reader() {
        close(fds[0]);
        if (fds[1] >= 0) close(fds[1]);
    }
    void send(std::string_view bytes) const {
        while (!bytes.empty()) {
            ssize_t n = write(fds[1], bytes.data(), bytes.size());
            if (n < 0 && errno == EAGAIN) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            ASSERT_GT(n, 0);
            bytes.remove_prefix(static_cast<size_t>(n));
        }
    }
    void hang_up() {
        close(fds[1]);
        fds[1] = -1;
    }
    srv_batch_status read(srv_load_buffer& body, int32_t& count, std::string& why,
                          int timeout_ms = 2000) {
        return srv_load_read_batch(
            reader, body, count,
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms), why);
    }
};

TEST(srv_load_read_batch, reads_batches_then_the_end_marker_and_keeps_the_buffer) {
    socket_pair_reader p;
    const std::string body = record("1|a|") + record("2|b|");
    p.send(be32(2) + be32(16) + body + be32(1) + be32(4) + record("") + be32(0) + "?next");
    srv_load_buffer buf;
    int32_t count = 0;
    std::string why;
    ASSERT_EQ(p.read(buf, count, why), srv_batch_status::batch);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(std::string(buf.data.get(), buf.size), body);
    const char* kept = buf.data.get();
    ASSERT_EQ(p.read(buf, count, why), srv_batch_status::batch);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(buf.size, 4u);
    EXPECT_EQ(buf.data.get(), kept);
    EXPECT_EQ(p.read(buf, count, why), srv_batch_status::end);
    // The end marker has no body: what follows is the next message, untouched.
    char next[5];
    ASSERT_EQ(srv_read_exact(p.reader, next, 5, srv_no_deadline), srv_recv_status::ok);
    EXPECT_EQ(std::string(next, 5), "?next");
}

TEST(srv_load_read_batch, reads_a_large_body_sent_in_pieces_exactly) {
    socket_pair_reader p;
    std::string rec(3 << 20, 'x');
    for (size_t i = 0; i < rec.size(); i += 4099)
        rec[i] = static_cast<char>('a' + i % 26);
    const std::string body = record(rec) + record("tail|");
    std::thread sender([&] {
        p.send(be32(2) + be32(static_cast<uint32_t>(body.size())));
        for (size_t at = 0; at < body.size(); at += 100000)
            p.send(std::string_view(body).substr(at, 100000));
        p.send(be32(0));
    });
    srv_load_buffer buf;
    int32_t count = 0;
    std::string why;
    EXPECT_EQ(p.read(buf, count, why), srv_batch_status::batch);
    EXPECT_EQ(std::string(buf.data.get(), buf.size), body);
    EXPECT_EQ(p.read(buf, count, why), srv_batch_status::end);
    sender.join();
}

TEST(srv_load_read_batch, refuses_bad_headers_before_reading_a_body) {
    srv_load_buffer buf;
    int32_t count = 0;
    std::string why;
    {
        socket_pair_reader p;
        p.send(be32(0xfffffffe));
        EXPECT_EQ(p.read(buf, count, why), srv_batch_status::malformed);  // -2 records
    }
    {
        socket_pair_reader p;
        p.send(be32(1) + be32(0x7fffffff));
        EXPECT_EQ(p.read(buf, count, why), srv_batch_status::malformed);
        EXPECT_EQ(buf.capacity, 0u);
    }
    {
        socket_pair_reader p;
        p.send(be32(5) + be32(8));
        EXPECT_EQ(p.read(buf, count, why), srv_batch_status::malformed);
    }
}

TEST(srv_load_read_batch, an_announced_body_that_never_comes_holds_only_what_arrived) {
    socket_pair_reader p;
    srv_load_buffer buf;
    int32_t count = 0;
    std::string why;
    p.send(be32(1) + be32(srv_load_body_max) + std::string(100, 'x'));
    p.hang_up();
    EXPECT_EQ(p.read(buf, count, why), srv_batch_status::closed);
    EXPECT_LE(buf.capacity, size_t{1} << 20);
}

TEST(srv_load_read_batch, a_silent_peer_fails_at_the_deadline_and_a_cut_one_is_closed) {
    srv_load_buffer buf;
    int32_t count = 0;
    std::string why;
    {
        socket_pair_reader p;
        p.send(be32(1));
        EXPECT_EQ(p.read(buf, count, why, 100), srv_batch_status::failed);
    }
    {
        socket_pair_reader p;
        p.send("\0\0"s);
        p.hang_up();
        EXPECT_EQ(p.read(buf, count, why), srv_batch_status::closed);
    }
}

}  // namespace
