// The own-cipher handshake and the enciphered channel against a scripted server on a socket
// pair. The server of this test holds a fixed key pair (exponent 3) and unwraps every block it
// receives, so the layout of the prepared blocks can be read byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

#include "crypto/mp.h"
#include "crypto/turing.h"
#include "platform/console.h"
#include "protocol/conn.h"
#include "protocol/db.h"
#include "tests/protocol/socket_pair.h"
#include "tests/support/wire_bytes.h"

namespace {

std::string recv_n(int fd, size_t n) {
    std::string got(n, '\0');
    size_t at = 0;
    while (at < n) {
        long r = plat_socket_recv(fd, got.data() + at, n - at);
        if (r <= 0) return got.substr(0, at);
        at += size_t(r);
    }
    return got;
}

void send_all(int fd, const std::string& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
        long w = plat_socket_send(fd, bytes.data() + at, bytes.size() - at);
        if (w <= 0) return;
        at += size_t(w);
    }
}

// The test server's key pair: exponent 3, a 256-bit modulus of two 128-bit primes, and the
// private exponent (digits least significant first).
const mp_digit test_modulus[rsa_digits] = {0x325a604d, 0x646e7489, 0xde7c6208, 0x57de470f,
                                           0x43617b75, 0x9e96fc08, 0xe28b81ea, 0xc6f7d02d};
const mp_digit test_private[rsa_digits] = {0x182a1313, 0xd4e26e8c, 0x08599eea, 0xb78c3473,
                                           0x8240fcf7, 0x1464a805, 0xec5d0147, 0x84a53573};

std::string wire_number(const mp_digit* digits) {
    std::string bytes;
    for (int i = 0; i < rsa_digits; ++i)
        for (int b = 0; b < 4; ++b)
            bytes += char(digits[i] >> (8 * b));
    return bytes;
}

// What the server sends after "~ssl~": exponent, then modulus, each 32 little-endian bytes.
std::string test_public_key() {
    const mp_digit three[rsa_digits] = {3};
    return wire_number(three) + wire_number(test_modulus);
}

// The blocks as the client prepared them: every 32-byte block raised to the private exponent.
std::string unwrapped(const std::string& wrapped) {
    std::string out;
    for (size_t at = 0; at + 32 <= wrapped.size(); at += 32) {
        mp_digit x[rsa_digits] = {}, y[rsa_digits];
        for (int i = 0; i < 32; ++i)
            x[i / 4] |= mp_digit(uint8_t(wrapped[at + i])) << (8 * (i % 4));
        mp_mod_power(y, x, test_private, test_modulus, rsa_digits);
        out += wire_number(y);
    }
    return out;
}

std::string enciphered(turing_state& ks, std::string bytes) {
    keystream_apply(&ks, reinterpret_cast<unsigned char*>(bytes.data()), bytes.size());
    return bytes;
}

}  // namespace

TEST(db_spread_login_text, puts_30_text_bytes_and_two_sevens_in_every_full_block) {
    unsigned char buf[224] = {};
    std::string text(61, 't');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char('A' + i % 26);
    std::memcpy(buf, text.data(), text.size());
    EXPECT_EQ(db_spread_login_text(buf, int(text.size())), 65);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 30), text.substr(0, 30));
    EXPECT_EQ(buf[30], 7);
    EXPECT_EQ(buf[31], 7);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf + 32), 30), text.substr(30, 30));
    EXPECT_EQ(buf[62], 7);
    EXPECT_EQ(buf[63], 7);
    EXPECT_EQ(buf[64], text[60]);
    EXPECT_EQ(buf[65], 0);
}

TEST(db_own_cipher_handshake, wraps_key_and_text_and_enciphers_everything_after) {
    socket_pair sp;
    auto conn = sp.conn();
    const std::string text(60, 'x');  // a 60-character login text: 32 + 96 bytes on the wire
    const std::string password = "pw";
    std::string hello, wrapped, statement;
    std::thread server([&] {
        hello = recv_n(sp.peer, 5);
        send_all(sp.peer, test_public_key());
        wrapped = unwrapped(recv_n(sp.peer, 128));
        turing_state in{}, out{};
        keystream_init(&in, reinterpret_cast<const unsigned char*>(wrapped.data()), 32);
        keystream_init(&out, reinterpret_cast<const unsigned char*>(wrapped.data()), 32);
        send_all(sp.peer, enciphered(out, "K"));
        // A statement, then a reply of more than 3400 bytes so the keystream moves to its next
        // block in both directions.
        std::string sql = "select big";
        std::string expected =
            "?" + be32(uint32_t(sql.size())) + sql + std::string(1, '\0') + be32(0);
        statement = enciphered(in, recv_n(sp.peer, expected.size()));
        std::string reply =
            "A" + be32(1) + wire_text("V") + be32(30) + be32(uint32_t(-1)) + be32(0);
        for (int i = 0; i < 40; ++i)
            reply += "R" + wire_text(std::string(100, char('a' + i % 26)));
        reply += "K";
        send_all(sp.peer, enciphered(out, reply));
    });
    int verdict = -1;
    bool ok = db_run_exchange(conn.get(), [&] {
        verdict =
            db_own_cipher_handshake(conn.get(), password.c_str(), text.c_str(), int(text.size()));
    });
    ASSERT_TRUE(ok);
    EXPECT_EQ(verdict, 'K');
    db_result* r = db_execute(conn.get(), "select big");
    server.join();

    EXPECT_EQ(hello, "~ssl~");
    ASSERT_EQ(wrapped.size(), 128u);
    EXPECT_EQ(wrapped[31] & 0x80, 0) << "the key's top bit is cleared";
    for (int block = 0; block < 2; ++block) {
        EXPECT_EQ(wrapped.substr(32 + 32 * block, 30), std::string(30, 'x'));
        EXPECT_EQ(wrapped.substr(32 + 32 * block + 30, 2), "\x07\x07");
    }
    EXPECT_EQ(wrapped.substr(96), std::string(32, '\0')) << "the last block holds the zero byte";
    EXPECT_EQ(conn->server_exponent[0], 3u);
    EXPECT_EQ(conn->server_modulus[7], test_modulus[7]);
    EXPECT_EQ(statement, "?" + be32(10) + "select big" + std::string(1, '\0') + be32(0));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(db_result_row_count(r), 40);
    int i = 0;
    while (db_row* row = db_result_next(r)) {
        EXPECT_EQ(std::string(db_row_value(row, 0)), std::string(100, char('a' + i % 26))) << i;
        ++i;
    }
    db_result_free(r);
}

TEST(db_own_cipher_handshake, the_verdict_is_deciphered_before_it_is_read) {
    socket_pair sp;
    auto conn = sp.conn();
    std::thread server([&] {
        recv_n(sp.peer, 5);
        send_all(sp.peer, test_public_key());
        std::string wrapped = unwrapped(recv_n(sp.peer, 64));  // key block and one text block
        turing_state out{};
        keystream_init(&out, reinterpret_cast<const unsigned char*>(wrapped.data()), 32);
        send_all(sp.peer, enciphered(out, "E"));
    });
    int verdict = 0;
    bool ok = db_run_exchange(
        conn.get(), [&] { verdict = db_own_cipher_handshake(conn.get(), "", "short text", 10); });
    server.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(verdict, 'E');
}

TEST(db_own_cipher_handshake, a_public_key_that_cannot_protect_the_login_is_refused_unsent) {
    // Exponent 1 would put the connection key and the password on the wire as they are; an even
    // modulus or one below 2^128 can be factored. Only "~ssl~" may have gone out.
    const mp_digit one[rsa_digits] = {1};
    const mp_digit three[rsa_digits] = {3};
    mp_digit even[rsa_digits];
    std::copy(test_modulus, test_modulus + rsa_digits, even);
    even[0] ^= 1;
    const mp_digit small[rsa_digits] = {0xfffffffb, 0xffffffff, 0xffffffff, 0xffffffff};
    const struct {
        std::string key, why;
    } cases[] = {
        {wire_number(one) + wire_number(test_modulus), "exponent below 3"},
        {wire_number(three) + wire_number(even), "even modulus"},
        {wire_number(three) + wire_number(small), "modulus below 2^128"},
    };
    for (const auto& c : cases) {
        socket_pair sp;
        auto conn = sp.conn();
        sp.send_peer(c.key);
        plat_socket_shutdown_send(sp.peer);  // no verdict ever comes
        std::string printed;
        con_set_capture(&printed);
        int verdict = 0;
        bool ok = db_run_exchange(conn.get(), [&] {
            verdict = db_own_cipher_handshake(conn.get(), "secret-pw", "login text", 10);
        });
        con_set_capture(nullptr);
        EXPECT_TRUE(ok) << c.why;
        EXPECT_EQ(verdict, -1) << c.why;
        EXPECT_EQ(sp.drain(), "~ssl~") << c.why;
        EXPECT_EQ(printed,
                  "The server's public key is refused (" + c.why + "): the login is not sent.\r\n");
    }
}
