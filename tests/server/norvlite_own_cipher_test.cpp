// The built norvlite over the own-cipher channel, driven by the test's own client: the public key
// in clear, logins accepted and refused with the verdict enciphered, statements and replies of
// many keystream blocks both ways matching the clear channel's bytes, and handshakes that go
// wrong dropped with a log line and no hang.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/server/own_cipher_client.h"
#include "tests/server/statement_client.h"
#include "tests/server/test_client.h"
#include "tests/support/process.h"
#include "tests/support/wire_bytes.h"

using namespace std::literals;

namespace {

// How long a test waits for a line in the server's log.
constexpr int log_wait_ms = 3000;

// A password that makes user max's login text exactly 209 characters, the most the channel
// carries.
const std::string long_password(130, 'p');

std::string login_text(std::string_view user, std::string_view password) {
    return "login database = demo user='" + std::string(user) + "' password='" +
           std::string(password) + "' auto_commit = 'on' version = '202'";
}

class norvlite_own_cipher : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path.empty());
        std::string error;
        ASSERT_TRUE(server.start(
            {"--data", dir.path + "/data", "--port", "0", "--user", "norv:norv", "--user",
             "max:" + long_password, "--login-timeout-ms", "1000", "--certs", dir.path + "/none"},
            dir.path + "/server.log", error))
            << error;
    }

    // A logged-in own-cipher connection.
    void login(own_cipher_client& c, std::string_view text = login_on,
               std::string_view password = "norv") {
        ASSERT_TRUE(c.open(server.port)) << c.why;
        ASSERT_EQ(c.login(text, password), "K") << c.why << "\n" << server.log();
    }

    // Sends sql on a clear connection and returns a reply of expected_size bytes and whatever
    // runs on past it.
    std::string clear_reply(std::string_view sql, size_t expected_size) {
        test_socket s = clear_login(server.port);
        EXPECT_TRUE(send_bytes(s, statement_message(sql)));
        std::string got = recv_upto(s, expected_size, 5000);
        return got + recv_upto(s, 1, 50);
    }

    static std::string cipher_reply(own_cipher_client& c, std::string_view sql,
                                    size_t expected_size) {
        EXPECT_TRUE(c.send(statement_message(sql)));
        std::string got = c.recv(expected_size, 5000);
        return got + c.recv(1, 50);
    }

    // Sends raw bytes after "~ssl~" and the public key; true when the server then closes the
    // connection without a verdict within timeout_ms.
    bool dropped_after(std::string_view raw, int timeout_ms) {
        own_cipher_client c;
        EXPECT_TRUE(c.open(server.port)) << c.why;
        EXPECT_TRUE(send_bytes(c.sock, raw));
        return recv_upto(c.sock, 1, timeout_ms).empty() && closed_within(c.sock, 100);
    }

    temp_dir dir;
    norvlite_server server;
};

TEST_F(norvlite_own_cipher, sends_one_256_bit_key_per_process_in_clear_after_the_marker) {
    own_cipher_client a, b;
    ASSERT_TRUE(a.open(server.port)) << a.why;
    ASSERT_TRUE(b.open(server.port)) << b.why;
    EXPECT_EQ(a.public_key.substr(0, 32), "\x01\x00\x01"s + std::string(29, '\0'));
    EXPECT_TRUE(static_cast<unsigned char>(a.public_key[63]) & 0x80);
    EXPECT_EQ(a.public_key, b.public_key);

    temp_dir other_dir;
    norvlite_server other;
    std::string error;
    ASSERT_TRUE(other.start({"--data", other_dir.path, "--port", "0"},
                            other_dir.path + "/server.log", error))
        << error;
    own_cipher_client c;
    ASSERT_TRUE(c.open(other.port)) << c.why;
    EXPECT_NE(c.public_key.substr(32), a.public_key.substr(32));
}

TEST_F(norvlite_own_cipher, accepts_a_login_with_the_verdict_enciphered_by_the_first_key_byte) {
    own_cipher_client c;
    ASSERT_TRUE(c.open(server.port)) << c.why;
    const std::string key = test_connection_key("norv");
    ASSERT_TRUE(
        send_bytes(c.sock, test_wrap_blocks(c.public_key, key + test_spread_text(login_on))));
    const std::string raw = recv_upto(c.sock, 1, 3000);
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0] ^ test_keystream(key, 1)[0], 'K');
    EXPECT_TRUE(
        log_has(server, "login accepted (own cipher): user 'norv', database 'demo'", log_wait_ms))
        << server.log();
    EXPECT_TRUE(std::filesystem::exists(dir.path + "/data/demo.db"));
}

TEST_F(norvlite_own_cipher, accepts_the_longest_login_text_of_209_characters) {
    const std::string text = login_text("max", long_password);
    ASSERT_EQ(text.size(), 209u);
    own_cipher_client c;
    login(c, text, long_password);
    const std::string reply = "A\0\0\0\x01\0\0\0\x01n\0\0\0\x06\xff\xff\xff\xff\0\0\0\0"s + "R" +
                              be32(8) + be32(0) + be32(1) + "K";
    EXPECT_EQ(cipher_reply(c, "select 1 as n;", reply.size()), reply);
}

TEST_F(norvlite_own_cipher,
       statements_and_replies_of_many_keystream_blocks_match_the_clear_channel) {
    own_cipher_client c;
    login(c);
    // A statement of over 3400 bytes and its reply of over 3400 bytes, then an insert whose
    // reply holds 300 "I" messages, then a listing of about 40 KB: the keystream positions of both
    // ends must stay together across every block and every exchange.
    const std::string big = std::string(4000, 'z');
    const std::string big_reply =
        "A\0\0\0\x01\0\0\0\x01v\0\0\0\x1e\xff\xff\xff\xff\0\0\0\0"s + "R" + be32(4000) + big + "K";
    EXPECT_EQ(cipher_reply(c, "select '" + big + "' as v;", big_reply.size()), big_reply);
    EXPECT_EQ(cipher_reply(c, "create table t(id integer, v varchar(100));", 1), "K");
    std::string inserted;
    for (uint32_t i = 1; i <= 300; ++i)
        inserted += "I" + be32(8) + be32(0) + be32(i);
    inserted += "K";
    EXPECT_EQ(cipher_reply(c,
                           "insert into t with recursive c(i) as (select 1 union all select i + 1 "
                           "from c where i < 300) select i, printf('%0100d', i) from c;",
                           inserted.size()),
              inserted);
    const std::string listing = "select id, v from t order by id;";
    const size_t listing_size = 5 + (4 + 2 + 12) + (4 + 1 + 12) + 300 * (1 + 4 + 4 + 4 + 100) + 1;
    const std::string clear = clear_reply(listing, listing_size);
    ASSERT_EQ(clear.size(), listing_size);
    EXPECT_EQ(cipher_reply(c, listing, listing_size), clear);
    // Still in step afterwards, both ways.
    EXPECT_EQ(cipher_reply(c, "norvlite notice 'still here'", 16), "M\0\0\0\x0astill hereK"s);
}

TEST_F(norvlite_own_cipher, wrong_password_and_unknown_user_get_an_enciphered_E_and_a_close) {
    for (auto [user, password] : {std::pair{"norv"sv, "nor"sv}, std::pair{"nobody"sv, "norv"sv}}) {
        own_cipher_client c;
        ASSERT_TRUE(c.open(server.port)) << c.why;
        EXPECT_EQ(c.login(login_text(user, password), password), "E") << user;
        EXPECT_TRUE(closed_within(c.sock, 3000)) << user;
    }
    EXPECT_TRUE(
        log_has(server, "login refused (own cipher): wrong password for user 'norv'", log_wait_ms))
        << server.log();
    EXPECT_TRUE(log_has(server, "login refused (own cipher): unknown user 'nobody'", log_wait_ms));
    // A text that unwraps cleanly but is no login text is refused the same way.
    own_cipher_client c;
    ASSERT_TRUE(c.open(server.port)) << c.why;
    EXPECT_EQ(c.login("hello there", "norv"), "E");
    EXPECT_FALSE(std::filesystem::exists(dir.path + "/data/demo.db"));
}

TEST_F(norvlite_own_cipher, garbage_after_the_marker_is_dropped_without_a_verdict_or_a_hang) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(dropped_after(std::string(256, '\xff'), 3000));  // not below the modulus
    EXPECT_TRUE(
        log_has(server, "own-cipher handshake: block 0 is not below the modulus", log_wait_ms));
    std::string noise(300, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>(i * 37 + 11);
    noise[31] = 0x10;  // below any modulus: it unwraps, to nothing a client makes
    noise[63] = 0x10;
    EXPECT_TRUE(dropped_after(noise, 3000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // no wait for the time-out

    // Short: a key block and half a text block, then silence until the login time-out.
    own_cipher_client c;
    ASSERT_TRUE(c.open(server.port)) << c.why;
    const std::string wrapped =
        test_wrap_blocks(c.public_key, test_connection_key("norv") + test_spread_text(login_on));
    EXPECT_TRUE(dropped_after(wrapped.substr(0, 48), 3000));
    EXPECT_TRUE(
        log_has(server, "login blocks not complete (closed or late) after 1 of them", log_wait_ms));
    // Nothing at all after the marker.
    EXPECT_TRUE(dropped_after("", 3000));
    EXPECT_TRUE(log_has(server, "after 0 of them", log_wait_ms));
}

TEST_F(norvlite_own_cipher, a_text_without_its_end_within_209_characters_is_dropped) {
    own_cipher_client c;
    ASSERT_TRUE(c.open(server.port)) << c.why;
    const std::string text = login_text("max", long_password + "p");  // 210 characters
    const std::string wire =
        test_wrap_blocks(c.public_key, test_connection_key("") + test_spread_text(text));
    ASSERT_TRUE(send_bytes(c.sock, wire));
    EXPECT_EQ(recv_upto(c.sock, 1, 3000), "");
    EXPECT_TRUE(closed_within(c.sock, 100));
    EXPECT_TRUE(log_has(server, "no end of the login text within 209 characters", log_wait_ms))
        << server.log();
}

}  // namespace
