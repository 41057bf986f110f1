// The own-cipher pieces of norvlite without the binary: the key pair and its wire layout, the
// text blocks and their unwrapping with a fixed key (blocks prepared and wrapped by the test's own
// code, and by the console's crypto library), and the channel's keystreams over a socket pair.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/mp.h"
#include "server/channel.h"
#include "server/own_cipher.h"
#include "server/own_cipher_key.h"
#include "server/wire.h"
#include "tests/server/own_cipher_client.h"

using namespace std::literals;

namespace {

// Two 128-bit primes with their top two bits set; their product is
// 0xae807ffd6c338c58908b49d0c015bbd347db28cc5e7dda14cb674ec9cfd74433.
constexpr std::string_view fixed_p = "C016CD7BD474C59DE2FC08D0FCDB1477";
constexpr std::string_view fixed_q = "E88FB6A0342E94EFEE21109A7A1BE925";
// A second fixed pair, for blocks wrapped for the wrong key.
constexpr std::string_view other_p = "E8DE86B654759166D802364F9ED22909";
constexpr std::string_view other_q = "DED3D6D51C74F670F69128815B0B011D";

struct key_free {
    void operator()(srv_cipher_key* k) const { srv_cipher_key_free(k); }
};
using key_ptr = std::unique_ptr<srv_cipher_key, key_free>;

key_ptr fixed_key(std::string_view p = fixed_p, std::string_view q = fixed_q) {
    std::string why;
    key_ptr k(srv_cipher_key_from_primes(p, q, why));
    EXPECT_TRUE(k) << why;
    return k;
}

std::string public_of(const srv_cipher_key* k) {
    std::string out(srv_cipher_public_size, '\0');
    srv_cipher_key_public(k, reinterpret_cast<unsigned char*>(out.data()));
    return out;
}

const unsigned char* bytes(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

std::string text_of_length(size_t n) {
    std::string t;
    for (size_t i = 0; i < n; ++i)
        t += static_cast<char>('a' + i % 26);
    return t;
}

// Feeds wire (a multiple of 32 bytes) block by block; returns the statuses in order.
std::vector<srv_unwrap_status> unwrap_all(const srv_cipher_key* k, srv_login_unwrap& u,
                                          std::string_view wire, std::string& why) {
    std::vector<srv_unwrap_status> got;
    for (size_t at = 0; at + 32 <= wire.size(); at += 32) {
        got.push_back(srv_unwrap_block(k, u, bytes(wire) + at, why));
        if (got.back() != srv_unwrap_status::more) break;
    }
    return got;
}

constexpr auto more = srv_unwrap_status::more;
constexpr auto done = srv_unwrap_status::done;
constexpr auto bad = srv_unwrap_status::bad;

TEST(srv_cipher_key_public, is_65537_then_the_product_of_the_primes_little_endian) {
    key_ptr k = fixed_key();
    std::string expected = "\x01\x00\x01"s + std::string(29, '\0');
    const char* modulus_be =
        "\xae\x80\x7f\xfd\x6c\x33\x8c\x58\x90\x8b\x49\xd0\xc0\x15\xbb\xd3"
        "\x47\xdb\x28\xcc\x5e\x7d\xda\x14\xcb\x67\x4e\xc9\xcf\xd7\x44\x33";
    expected += std::string(std::string_view(modulus_be, 32).rbegin(),
                            std::string_view(modulus_be, 32).rend());
    EXPECT_EQ(public_of(k.get()), expected);
}

TEST(srv_cipher_key_make, gives_fresh_256_bit_moduli_that_unwrap_what_their_public_key_wraps) {
    std::string why;
    key_ptr a(srv_cipher_key_make(why));
    key_ptr b(srv_cipher_key_make(why));
    ASSERT_TRUE(a && b) << why;
    std::string pa = public_of(a.get()), pb = public_of(b.get());
    EXPECT_EQ(pa.substr(0, 32), "\x01\x00\x01"s + std::string(29, '\0'));
    EXPECT_NE(pa.substr(32), pb.substr(32));
    for (const std::string& p : {pa, pb}) {
        // Bit 255 set: above every prepared block (a key block < 2^255, a full text block
        // < 0x0708 * 2^240, a last block with zero top bytes).
        EXPECT_TRUE(static_cast<unsigned char>(p[63]) & 0x80);
    }
    std::string plain = test_connection_key("pw") + test_spread_text(text_of_length(95));
    plain.replace(32 + 64, 32, std::string(30, '\xff') + "\x07\x07");  // the largest full block
    std::string wire = test_wrap_blocks(pa, plain);
    EXPECT_NE(wire, plain);
    for (size_t at = 0; at < plain.size(); at += 32) {
        unsigned char out[32];
        ASSERT_TRUE(srv_cipher_key_unwrap(a.get(), bytes(wire) + at, out)) << at;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 32), plain.substr(at, 32)) << at;
    }
}

TEST(srv_cipher_key_unwrap, refuses_blocks_at_or_above_the_modulus_and_zeroes_the_output) {
    key_ptr k = fixed_key();
    std::string modulus = public_of(k.get()).substr(32);
    unsigned char out[32];
    std::fill(std::begin(out), std::end(out), 0x55);
    EXPECT_FALSE(srv_cipher_key_unwrap(k.get(), bytes(std::string(32, '\xff')), out));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 32), std::string(32, '\0'));
    EXPECT_FALSE(srv_cipher_key_unwrap(k.get(), bytes(modulus), out));
    std::string below = modulus;
    below[0] = static_cast<char>(below[0] - 1);  // the low byte 0x33 becomes 0x32
    EXPECT_TRUE(srv_cipher_key_unwrap(k.get(), bytes(below), out));
    EXPECT_TRUE(srv_cipher_key_unwrap(k.get(), bytes(std::string(32, '\0')), out));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 32), std::string(32, '\0'));
}

TEST(srv_take_text_block, reads_full_and_last_blocks_and_calls_everything_else_garbage) {
    struct row {
        std::string block;
        srv_text_block kind;
        std::string text;
    };
    const std::string thirty = text_of_length(30);
    const std::vector<row> rows = {
        {thirty + "\x07\x07", srv_text_block::full, thirty},
        {std::string(32, '\0'), srv_text_block::last, ""},
        {"abc" + std::string(29, '\0'), srv_text_block::last, "abc"},
        {text_of_length(29) + std::string(3, '\0'), srv_text_block::last, text_of_length(29)},
        // A zero inside a full block, no zero byte, one filler byte, filler bytes elsewhere,
        // or bytes after the zero byte: no client lays a block out so.
        {text_of_length(10) + '\0' + text_of_length(19) + "\x07\x07", srv_text_block::garbage, ""},
        {thirty + "\x07\x08", srv_text_block::garbage, ""},
        {thirty + "\0\x07"s, srv_text_block::garbage, ""},
        {text_of_length(32), srv_text_block::garbage, ""},
        {"abc" + std::string(28, '\0') + "x", srv_text_block::garbage, ""},
        {"abc\0\0\x07\x07"s + std::string(25, '\0'), srv_text_block::garbage, ""},
    };
    for (const row& r : rows) {
        ASSERT_EQ(r.block.size(), 32u);
        std::string text = "before:";
        EXPECT_EQ(srv_take_text_block(bytes(r.block), text), r.kind) << r.block;
        EXPECT_EQ(text, "before:" + r.text) << r.block;
    }
}

TEST(srv_unwrap_block, recovers_a_60_character_text_sent_as_32_plus_96_bytes) {
    key_ptr k = fixed_key();
    const std::string text = text_of_length(60);
    const std::string key = test_connection_key("norv");
    const std::string plain = key + test_spread_text(text);
    ASSERT_EQ(plain.size(), 32u + 96u);
    EXPECT_EQ(plain.substr(32, 32), text.substr(0, 30) + "\x07\x07");
    EXPECT_EQ(plain.substr(64, 32), text.substr(30, 30) + "\x07\x07");
    EXPECT_EQ(plain.substr(96, 32), std::string(32, '\0'));

    srv_login_unwrap u;
    std::string why;
    EXPECT_EQ(unwrap_all(k.get(), u, test_wrap_blocks(public_of(k.get()), plain), why),
              (std::vector{more, more, more, done}))
        << why;
    EXPECT_EQ(u.text, text);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(u.key), 32), key);
    EXPECT_EQ(u.blocks, 4u);
}

TEST(srv_unwrap_block, recovers_texts_of_every_length_up_to_209_characters) {
    key_ptr k = fixed_key();
    const std::string pub = public_of(k.get());
    for (size_t n : {0u, 1u, 29u, 30u, 31u, 59u, 179u, 180u, 181u, 208u, 209u}) {
        const std::string text = text_of_length(n);
        const std::string wire =
            test_wrap_blocks(pub, test_connection_key("") + test_spread_text(text));
        srv_login_unwrap u;
        std::string why;
        std::vector<srv_unwrap_status> got = unwrap_all(k.get(), u, wire, why);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.back(), done) << n << ": " << why;
        EXPECT_EQ(got.size(), wire.size() / 32) << n;
        EXPECT_EQ(u.text, text) << n;
    }
    // The longest text fills the client's 256-byte buffer: the key block and seven text blocks.
    EXPECT_EQ(test_spread_text(text_of_length(srv_own_cipher_text_max)).size(),
              srv_own_cipher_text_blocks_max * 32);
    EXPECT_EQ(32 + srv_own_cipher_text_blocks_max * 32, 256u);
}

TEST(srv_unwrap_block, refuses_a_seventh_full_block_so_no_more_than_256_bytes_are_read) {
    key_ptr k = fixed_key();
    const std::string wire = test_wrap_blocks(
        public_of(k.get()), test_connection_key("x") + test_spread_text(text_of_length(210)));
    ASSERT_EQ(wire.size(), 32u * 9);
    srv_login_unwrap u;
    std::string why;
    EXPECT_EQ(unwrap_all(k.get(), u, wire, why),
              (std::vector{more, more, more, more, more, more, more, bad}));
    EXPECT_EQ(why, "no end of the login text within 209 characters");
}

TEST(srv_unwrap_block, keeps_the_password_mixed_key_and_refuses_a_key_block_with_its_top_bit) {
    key_ptr k = fixed_key();
    const std::string pub = public_of(k.get());
    // A key drawn as all 0x5a, mixed with "secret" in turn, top bit of byte 31 cleared.
    std::string key(32, '\x5a');
    const std::string password = "secret";
    for (size_t i = 0; i < 32; ++i)
        key[i] = static_cast<char>(key[i] ^ password[i % 6]);
    key[31] = static_cast<char>(key[31] & 0x7f);
    EXPECT_EQ(key.substr(0, 8), "\x29\x3f\x39\x28\x3f\x2e\x29\x3f");
    srv_login_unwrap u;
    std::string why;
    EXPECT_EQ(unwrap_all(k.get(), u, test_wrap_blocks(pub, key + test_spread_text("t")), why),
              (std::vector{more, done}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(u.key), 32), key);

    key[31] = static_cast<char>(0x80);  // top bit set, yet below the modulus (0xae80...)
    srv_login_unwrap top;
    EXPECT_EQ(unwrap_all(k.get(), top, test_wrap_blocks(pub, key + test_spread_text("t")), why),
              (std::vector{bad}));
    EXPECT_EQ(why, "the key block has its top bit set");
}

TEST(srv_unwrap_block, refuses_blocks_wrapped_for_another_key_or_above_the_modulus) {
    key_ptr k = fixed_key();
    key_ptr other = fixed_key(other_p, other_q);
    // Fixed bytes, so the wrong key's unwrapping is the same on every run.
    const std::string plain = std::string(32, '\x11') + test_spread_text(text_of_length(40));
    std::string why;
    for (size_t key_byte = 0; key_byte < 8; ++key_byte) {
        std::string p = plain;
        p[key_byte] = static_cast<char>(key_byte);
        srv_login_unwrap u;
        std::vector<srv_unwrap_status> got =
            unwrap_all(k.get(), u, test_wrap_blocks(public_of(other.get()), p), why);
        EXPECT_EQ(got.back(), bad) << key_byte;
        EXPECT_LE(got.size(), 2u) << key_byte;
    }

    srv_login_unwrap v;
    std::string high = test_wrap_blocks(public_of(k.get()), plain);
    high.replace(32, 32, std::string(32, '\xff'));
    EXPECT_EQ(unwrap_all(k.get(), v, high, why), (std::vector{more, bad}));
    EXPECT_EQ(why, "block 1 is not below the modulus");
}

TEST(srv_unwrap_block, unwraps_what_the_consoles_crypto_library_wraps) {
    key_ptr k = fixed_key();
    const std::string pub = public_of(k.get());
    mp_digit e[rsa_digits], m[rsa_digits];
    for (int i = 0; i < rsa_digits; ++i) {
        std::memcpy(&e[i], pub.data() + 4 * i, 4);  // this host is little-endian, as the wire
        std::memcpy(&m[i], pub.data() + 32 + 4 * i, 4);
    }
    for (size_t n : {60u, 61u, 209u}) {
        // The console's buffer: key block, the spread text, its zero byte; wrapped in place.
        const std::string text = text_of_length(n);
        std::string spread = test_spread_text(text);
        const size_t length = 32 + text.size() + 2 * (text.size() / 30) + 1;
        unsigned char buf[288] = {};
        const std::string key = test_connection_key("norv");
        std::memcpy(buf, key.data(), 32);
        std::memcpy(buf + 32, spread.data(), length - 32);
        ASSERT_TRUE(rsa_encrypt_blocks(e, m, buf, static_cast<int>(length), sizeof buf));
        const std::string wire(reinterpret_cast<char*>(buf), 32 + spread.size());
        srv_login_unwrap u;
        std::string why;
        EXPECT_EQ(unwrap_all(k.get(), u, wire, why).back(), done) << n << ": " << why;
        EXPECT_EQ(u.text, text) << n;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(u.key), 32), key) << n;
    }
}

// The server's end of an own-cipher channel on one side of a socket pair; the test's raw end on
// the other (blocking, so large writes wait for the reader).
struct cipher_pair {
    int fds[2] = {-1, -1};
    srv_channel ch;
    std::string key = test_connection_key("pair");
    cipher_pair() {
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
        fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) & ~O_NONBLOCK);
        ch.fd = fds[0];
        srv_channel_start_own_cipher(ch, bytes(key));
    }
    ~cipher_pair() {
        srv_channel_end(ch);
        for (int fd : fds) {
            if (fd >= 0) close(fd);
        }
    }
    // Reads exactly n raw bytes off the test's end.
    std::string take(size_t n) {
        std::string got(n, '\0');
        size_t have = 0;
        while (have < n) {
            ssize_t r = recv(fds[1], got.data() + have, n - have, 0);
            if (r <= 0) break;
            have += static_cast<size_t>(r);
        }
        got.resize(have);
        return got;
    }
    void put(std::string_view raw) {
        while (!raw.empty()) {
            ssize_t r = send(fds[1], raw.data(), raw.size(), MSG_NOSIGNAL);
            if (r <= 0) return;
            raw.remove_prefix(static_cast<size_t>(r));
        }
    }
};

std::string xor_of(std::string_view a, std::string_view b) {
    std::string out(a.size(), '\0');
    for (size_t i = 0; i < a.size(); ++i)
        out[i] = static_cast<char>(a[i] ^ b[i]);
    return out;
}

std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + seed) ^ (i >> 8));
    return s;
}

TEST(srv_channel_own_cipher, sends_in_wire_order_across_blocks_and_leaves_the_callers_bytes) {
    cipher_pair p;
    // Pieces that cross the 340-byte passes, the 3400-byte block change and the 64 KiB spans.
    const std::vector<std::string> pieces = {pattern(1, 1), pattern(3398, 2), pattern(2, 3),
                                             pattern(1, 4), pattern(150000, 5)};
    std::string clear;
    for (const std::string& s : pieces)
        clear += s;
    std::string raw;
    std::thread reader([&] { raw = p.take(clear.size()); });
    for (const std::string& s : pieces) {
        const std::string before = s;
        EXPECT_TRUE(srv_send_all(p.ch, s.data(), s.size(), srv_no_deadline));
        EXPECT_EQ(s, before);
    }
    reader.join();
    ASSERT_EQ(raw.size(), clear.size());
    EXPECT_EQ(raw, xor_of(clear, test_keystream(p.key, clear.size())));
}

TEST(srv_channel_own_cipher, deciphers_each_byte_once_whatever_pieces_it_arrives_and_is_read_in) {
    cipher_pair p;
    const std::string clear = pattern(12000, 9);
    const std::string raw = xor_of(clear, test_keystream(p.key, clear.size()));
    std::thread writer([&] {
        p.put(raw.substr(0, 1));
        p.put(raw.substr(1, 3400));
        p.put(raw.substr(3401));
    });
    std::string got;
    const std::vector<size_t> reads = {1, 7, 339, 3054, 1, 3400, 5000};
    for (size_t i = 0; got.size() < clear.size(); ++i) {
        char buf[8192];
        size_t want = std::min(reads[i % reads.size()], clear.size() - got.size());
        long n = srv_recv_some(p.ch, buf, want, std::chrono::steady_clock::now() + 5s);
        ASSERT_GT(n, 0);
        got.append(buf, static_cast<size_t>(n));
    }
    writer.join();
    EXPECT_EQ(got, clear);
}

TEST(srv_channel_own_cipher, reply_writer_keeps_buffered_and_direct_bytes_in_order) {
    cipher_pair p;
    srv_writer w;
    w.ch = &p.ch;
    const std::string big = pattern(100000, 7);  // large enough to skip the writer's buffer
    const std::string before = big;
    std::string raw;
    const size_t total = 5 + big.size() + 1;
    std::thread reader([&] { raw = p.take(total); });
    srv_put_message(w, 'M', "");
    srv_put(w, big.data(), big.size());
    srv_put_u8(w, 'K');
    EXPECT_TRUE(srv_flush(w));
    reader.join();
    EXPECT_EQ(big, before);
    EXPECT_EQ(xor_of(raw, test_keystream(p.key, raw.size())), "M\0\0\0\0"s + big + "K");
}

}  // namespace
