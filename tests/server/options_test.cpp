// norvlite's command-line parser: defaults, the NAME:PASSWORD split, and refusals.
#include "server/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

bool parse(std::vector<const char*> args, srv_options& out, std::string& error) {
    return srv_parse_args(args, out, error);
}

TEST(srv_parse_args, defaults_to_port_5138_loopback_security_dir_and_user_norv) {
    srv_options o;
    std::string error;
    ASSERT_TRUE(parse({"--data", "d"}, o, error)) << error;
    EXPECT_EQ(o.data_dir, "d");
    EXPECT_EQ(o.port, 5138);
    EXPECT_EQ(o.listen_addr, "127.0.0.1");
    EXPECT_EQ(o.certs_dir, "security");
    ASSERT_EQ(o.users.size(), 1u);
    EXPECT_EQ(o.users[0].name, "norv");
    EXPECT_EQ(o.users[0].password, "norv");
}

TEST(srv_parse_args, splits_users_at_the_first_colon_and_drops_the_default) {
    srv_options o;
    std::string error;
    ASSERT_TRUE(parse({"--user", "ann:a:b'c", "--data=d", "--user=bob:", "--port=0", "--listen",
                       "0.0.0.0", "--certs", "c", "--login-timeout-ms", "250"},
                      o, error))
        << error;
    ASSERT_EQ(o.users.size(), 2u);
    EXPECT_EQ(o.users[0].name, "ann");
    EXPECT_EQ(o.users[0].password, "a:b'c");
    EXPECT_EQ(o.users[1].name, "bob");
    EXPECT_EQ(o.users[1].password, "");
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.listen_addr, "0.0.0.0");
    EXPECT_EQ(o.certs_dir, "c");
    EXPECT_EQ(o.login_timeout_ms, 250);
}

TEST(srv_parse_args, idle_limit_defaults_to_28800_and_fault_switches_to_off) {
    srv_options o;
    std::string error;
    ASSERT_TRUE(parse({"--data", "d"}, o, error)) << error;
    EXPECT_EQ(o.max_idle_time, 28800);
    EXPECT_EQ(o.drop_on, "");
    EXPECT_EQ(o.drop_after_rows, -1);
    ASSERT_TRUE(parse(
        {"--data", "d", "--max-idle-time", "1", "--drop-on=Select x", "--drop-after-rows", "0"}, o,
        error))
        << error;
    EXPECT_EQ(o.max_idle_time, 1);
    EXPECT_EQ(o.drop_on, "Select x");
    EXPECT_EQ(o.drop_after_rows, 0);
    ASSERT_TRUE(parse({"--data", "d", "--drop-after-rows", "9223372036854775807"}, o, error));
    EXPECT_EQ(o.drop_after_rows, 9223372036854775807LL);
}

TEST(srv_parse_args, load_sink_is_a_switch_without_a_value) {
    srv_options o;
    std::string error;
    ASSERT_TRUE(parse({"--data", "d"}, o, error)) << error;
    EXPECT_FALSE(o.load_sink);
    ASSERT_TRUE(parse({"--load-sink", "--data", "d"}, o, error)) << error;
    EXPECT_TRUE(o.load_sink);
    EXPECT_FALSE(parse({"--data", "d", "--load-sink=1"}, o, error));
}

TEST(srv_parse_args, the_login_load_and_garbage_fault_switches_default_to_off) {
    srv_options o;
    std::string error;
    ASSERT_TRUE(parse({"--data", "d"}, o, error)) << error;
    EXPECT_FALSE(o.drop_at_login);
    EXPECT_EQ(o.garbage_on, "");
    EXPECT_EQ(o.drop_in_load_batch, -1);
    EXPECT_FALSE(o.drop_at_load_handshake);
    EXPECT_EQ(o.load_delay_ms, 0);
    ASSERT_TRUE(
        parse({"--drop-at-login", "--data", "d", "--garbage-on", "Select 7",
               "--drop-in-load-batch=2", "--drop-at-load-handshake", "--load-delay-ms", "600000"},
              o, error))
        << error;
    EXPECT_TRUE(o.drop_at_login);
    EXPECT_EQ(o.garbage_on, "Select 7");
    EXPECT_EQ(o.drop_in_load_batch, 2);
    EXPECT_TRUE(o.drop_at_load_handshake);
    EXPECT_EQ(o.load_delay_ms, 600000);
}

TEST(srv_parse_args, refuses_missing_malformed_and_unknown_arguments) {
    const std::vector<std::vector<const char*>> bad = {
        {},
        {"--port", "1"},
        {"--data"},
        {"--data", ""},
        {"--data", "d", "--port", "65536"},
        {"--data", "d", "--port", "-1"},
        {"--data", "d", "--port", "12x"},
        {"--data", "d", "--port", ""},
        {"--data", "d", "--user", "nocolon"},
        {"--data", "d", "--user", ":pw"},
        {"--data", "d", "--user", "a:1", "--user", "a:2"},
        {"--data", "d", "--listen", "localhost"},
        {"--data", "d", "--listen", "192.168.0.256"},
        {"--data", "d", "--login-timeout-ms", "0"},
        {"--data", "d", "--max-idle-time", "0"},
        {"--data", "d", "--max-idle-time", "2147483648"},
        {"--data", "d", "--drop-on", ""},
        {"--data", "d", "--drop-after-rows", "-1"},
        {"--data", "d", "--drop-after-rows", "x"},
        {"--data", "d", "--drop-at-login=1"},
        {"--data", "d", "--drop-at-load-handshake=yes"},
        {"--data", "d", "--garbage-on", ""},
        {"--data", "d", "--garbage-on"},
        {"--data", "d", "--drop-in-load-batch", "0"},
        {"--data", "d", "--drop-in-load-batch", "-1"},
        {"--data", "d", "--load-delay-ms", "0"},
        {"--data", "d", "--load-delay-ms", "600001"},
        {"--data", "d", "--load-delay-ms", "1s"},
        {"--data", "d", "--verbose"},
        {"--data", "d", "extra"},
    };
    for (const auto& args : bad) {
        srv_options o;
        std::string error;
        EXPECT_FALSE(parse(args, o, error)) << (args.empty() ? "(none)" : args.back());
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
