// The statement message reader over a real socket pair: good messages with and without
// parameters, every malformed field, a cut at every byte, and the idle and message time limits.
// Messages are spelled byte by byte here, independently of any encoder.
#include "server/statement_message.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "tests/support/wire_bytes.h"
using namespace std::literals;

namespace {

std::string param(uint16_t type, std::string_view bytes) {
    return be16(0) + be16(1) + be16(type) + be32(static_cast<uint32_t>(bytes.size())) +
           std::string(bytes);
}

// A socket pair: the test writes into feed, the reader reads the non-blocking other end.
struct pipe_peer {
    int fds[2] = {-1, -1};
    srv_channel ch;
    srv_reader r;
    pipe_peer() {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        ch.fd = fds[0];
        r.ch = &ch;
        // The feeding end blocks, so a write larger than the socket buffer simply waits.
        fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) & ~O_NONBLOCK);
    }
    ~pipe_peer() {
        for (int fd : fds) {
            if (fd >= 0) close(fd);
        }
    }
    void feed(std::string_view bytes) {
        while (!bytes.empty()) {
            ssize_t n = send(fds[1], bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0) {
                ADD_FAILURE() << "feed failed";
                return;
            }
            bytes.remove_prefix(static_cast<size_t>(n));
        }
    }
    void end() {
        close(fds[1]);
        fds[1] = -1;
    }
    srv_message_status read(srv_statement& out, std::string& why,
                            const srv_message_limits& limits = {},
                            std::chrono::milliseconds wait = std::chrono::seconds(5)) {
        return srv_read_statement(r, out, limits, std::chrono::steady_clock::now() + wait, wait,
                                  why);
    }
};

// "?", text "select ?, ?" with one text and one byte parameter.
std::string two_param_message() {
    return "?"s + be32(11) + "select ?, ?" + '\0' + be32(2) + param(32, "abc") +
           param(34, "\x00\xff"sv);
}

TEST(srv_read_statement, reads_a_message_without_parameters) {
    pipe_peer p;
    p.feed("?\x00\x00\x00\x08select 1\x00\x00\x00\x00\x00"sv);
    srv_statement m;
    std::string why;
    ASSERT_EQ(p.read(m, why), srv_message_status::ok) << why;
    EXPECT_EQ(m.text, "select 1");
    EXPECT_TRUE(m.params.empty());
}

TEST(srv_read_statement, reads_text_and_byte_parameters_and_a_second_message_in_the_same_send) {
    pipe_peer p;
    p.feed(two_param_message() + "?"s + be32(0) + '\0' + be32(1) + param(32, ""));
    srv_statement m;
    std::string why;
    ASSERT_EQ(p.read(m, why), srv_message_status::ok) << why;
    EXPECT_EQ(m.text, "select ?, ?");
    ASSERT_EQ(m.params.size(), 2u);
    EXPECT_EQ(m.params[0].type, srv_param_type_text);
    EXPECT_EQ(m.params[0].bytes, "abc");
    EXPECT_EQ(m.params[1].type, srv_param_type_bytes);
    EXPECT_EQ(m.params[1].bytes, "\x00\xff"sv);
    ASSERT_EQ(p.read(m, why), srv_message_status::ok) << why;
    EXPECT_EQ(m.text, "");
    ASSERT_EQ(m.params.size(), 1u);
    EXPECT_EQ(m.params[0].bytes, "");
}

TEST(srv_read_statement, a_message_cut_at_any_byte_is_malformed_and_none_at_all_is_closed) {
    const std::string full = two_param_message();
    for (size_t cut = 0; cut < full.size(); ++cut) {
        pipe_peer p;
        p.feed(full.substr(0, cut));
        p.end();
        srv_statement m;
        std::string why;
        srv_message_status st = p.read(m, why);
        if (cut == 0) {
            EXPECT_EQ(st, srv_message_status::closed);
        } else {
            EXPECT_EQ(st, srv_message_status::malformed) << cut;
            EXPECT_NE(why.find("cut short"), std::string::npos) << cut << ": " << why;
        }
    }
}

struct bad_case {
    std::string bytes;
    std::string reason;  // part of why
};

TEST(srv_read_statement, wrong_fields_and_exceeded_bounds_end_the_message_before_any_payload) {
    const std::string text = "?"s + be32(1) + "x" + '\0';
    const bad_case cases[] = {
        {"!"s + be32(1), "letter 0x21"},
        {"?"s + be32(0xffffffff), "text length -1"},
        {"?"s + be32((64u << 20) + 1), "text length 67108865"},
        {"?"s + be32(1) + "x" + 'y', "no zero byte"},
        {text + be32(0xffffffff), "parameter count -1"},
        {text + be32(101), "parameter count 101"},
        {text + be32(1) + be16(1) + be16(1) + be16(32) + be32(0), "header is not 0, 1"},
        {text + be32(1) + be16(0) + be16(0) + be16(32) + be32(0), "header is not 0, 1"},
        {text + be32(1) + be16(0) + be16(1) + be16(33) + be32(0), "type 33, not 32 or 34"},
        {text + be32(1) + be16(0) + be16(1) + be16(32) + be32(0x80000000), "length -2147483648"},
        {text + be32(1) + be16(0) + be16(1) + be16(34) + be32((1u << 30) + 1), "length 1073741825"},
    };
    for (const bad_case& c : cases) {
        pipe_peer p;
        p.feed(c.bytes);  // the connection stays open: the reader must not wait for more
        srv_statement m;
        std::string why;
        EXPECT_EQ(p.read(m, why), srv_message_status::malformed) << c.reason;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.reason << " / " << why;
    }
}

TEST(srv_read_statement, bounds_are_inclusive_and_announced_bytes_are_not_trusted) {
    // 100 parameters are fine.
    std::string hundred = "?"s + be32(1) + "x" + '\0' + be32(100);
    for (int i = 0; i < 100; ++i)
        hundred += param(32, "p");
    pipe_peer p;
    p.feed(hundred);
    srv_statement m;
    std::string why;
    ASSERT_EQ(p.read(m, why), srv_message_status::ok) << why;
    EXPECT_EQ(m.params.size(), 100u);
    // A parameter announcing exactly 1 GiB passes the bound; as the bytes never come, the
    // message ends cut short after the first slice, without a gigabyte being held.
    pipe_peer q;
    q.feed("?"s + be32(1) + "x" + '\0' + be32(1) + be16(0) + be16(1) + be16(34) + be32(1u << 30) +
           "abc");
    q.end();
    EXPECT_EQ(q.read(m, why), srv_message_status::malformed);
    EXPECT_NE(why.find("cut short in a parameter"), std::string::npos) << why;
    EXPECT_LT(m.params.at(0).bytes.capacity(), size_t{4} << 20);
}

TEST(srv_read_statement, parameters_beyond_the_total_bound_are_refused) {
    srv_message_limits small;
    small.max_param = 10;
    small.max_params_total = 15;
    pipe_peer p;
    p.feed("?"s + be32(1) + "x" + '\0' + be32(2) + param(34, "0123456789") + be16(0) + be16(1) +
           be16(34) + be32(6));
    srv_statement m;
    std::string why;
    EXPECT_EQ(p.read(m, why, small), srv_message_status::malformed);
    EXPECT_NE(why.find("parameters exceed 15 bytes in all"), std::string::npos) << why;
    pipe_peer q;
    q.feed("?"s + be32(1) + "x" + '\0' + be32(1) + param(34, "01234567890"));
    EXPECT_EQ(q.read(m, why, small), srv_message_status::malformed);
    EXPECT_NE(why.find("length 11 outside 0..10"), std::string::npos) << why;
}

TEST(srv_read_statement, silence_ends_at_the_idle_deadline_and_a_stalled_message_at_its_time) {
    pipe_peer p;
    srv_statement m;
    std::string why;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(p.read(m, why, {}, std::chrono::milliseconds(100)), srv_message_status::idle);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(90));
    EXPECT_LT(waited, std::chrono::seconds(2));

    p.feed("?\x00\x00"sv);
    EXPECT_EQ(p.read(m, why, {}, std::chrono::milliseconds(100)), srv_message_status::malformed);
    EXPECT_NE(why.find("time-out"), std::string::npos) << why;
}

}  // namespace
