// The login text byte for byte, and db_connect's refusal of a text that does not fit.
#include <gtest/gtest.h>

#include <string>

#include "platform/console.h"
#include "platform/sockets.h"
#include "platform/system.h"
#include "protocol/conn.h"

namespace {

std::string login_text(const char* db, const char* user, const char* pw, const char* encryptor,
                       const char* char_set, const char* time_zone, const char* iso_level,
                       int lock_timeout, int auto_commit) {
    char auth_str[auth_str_size];
    int n = db_build_login_text(auth_str, auth_str_size, db, user, pw, encryptor, char_set,
                                time_zone, iso_level, lock_timeout, auto_commit);
    if (n < 0) return "<too long>";
    EXPECT_EQ(auth_str[n], '\0');
    return std::string(auth_str, size_t(n));
}

}  // namespace

TEST(db_build_login_text, minimal_text_with_auto_commit_off) {
    EXPECT_EQ(login_text("emp", "scott", "tiger", nullptr, nullptr, nullptr, nullptr, 0, 0),
              "login database = emp user='scott' password='tiger' auto_commit = 'off' "
              "version = '202'");
}

TEST(db_build_login_text, lock_timeout_only_when_positive) {
    EXPECT_EQ(login_text("d", "u", "p", nullptr, nullptr, nullptr, nullptr, 30, 1),
              "login database = d user='u' password='p' lock_timeout = 30 auto_commit = 'on' "
              "version = '202'");
    EXPECT_EQ(login_text("d", "u", "p", nullptr, nullptr, nullptr, nullptr, -5, 1),
              "login database = d user='u' password='p' auto_commit = 'on' version = '202'");
}

TEST(db_build_login_text, optional_fields_in_order_and_values_unescaped) {
    EXPECT_EQ(login_text("d", "u", "it's", "enc", "GBK", "+08:00", "serializable", 7, 1),
              "login database = d user='u' password='it's' encryptor = 'enc' char_set = 'GBK' "
              "time_zone = '+08:00' iso_level = 'serializable' lock_timeout = 7 "
              "auto_commit = 'on' version = '202'");
}

TEST(db_build_login_text, refuses_a_text_that_leaves_no_room_for_its_zero_byte) {
    const std::string fixed =
        "login database =  user='u' password='' auto_commit = 'on' version = '202'";
    std::string db_fit(255 - fixed.size(), 'd');
    std::string db_over = db_fit + "d";
    EXPECT_EQ(login_text(db_fit.c_str(), "u", "", nullptr, nullptr, nullptr, nullptr, 0, 1).size(),
              255u);
    EXPECT_EQ(login_text(db_over.c_str(), "u", "", nullptr, nullptr, nullptr, nullptr, 0, 1),
              "<too long>");
}

TEST(db_connect, refuses_an_over_long_login_text_without_connecting) {
    uint16_t port = 0;
    int lsock = plat_socket_listen_loopback(port);
    ASSERT_GE(lsock, 0);

    std::string out;
    con_set_capture(&out);
    std::string user(300, 'u');
    db_conn* c = db_connect("NSSL", "127.0.0.1", port, "db", user.c_str(), "pw", nullptr, "GBK",
                            nullptr, nullptr, 0, 1, 0, 0);
    con_set_capture(nullptr);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(out, "Login text too long: at most 255 characters\r\n");
    EXPECT_EQ(plat_wait_fd(lsock, plat_wait_in, 100), plat_timed_out) << "a connection was opened";
    plat_socket_close(lsock);
}
