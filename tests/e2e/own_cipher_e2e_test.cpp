// The own-cipher channel end to end: login in "ssl" mode and a listing that crosses several
// keystream blocks, byte for byte the same as over the clear channel.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/harness.h"

class own_cipher_e2e : public norvlite_test {
protected:
    void SetUp() override {
        ASSERT_FALSE(test_certs().empty()) << "scripts/gen-certs failed";
        // The own cipher sets up the TLS context too, so the console needs its certificates.
        ASSERT_TRUE(install_client_certs(test_certs(), cwd.path, "driver"));
        start({"--certs", test_certs()});
    }
    run_result console(const std::string& mode, const std::string& password,
                       const std::string& input) {
        return run_norvsql({mode, "127.0.0.1", port, "demo", "norv", password}, input, cwd.path);
    }
    temp_dir cwd;
};

TEST_F(own_cipher_e2e, a_listing_is_the_same_as_over_the_clear_channel) {
    // About 20 KB of rows: several 3400-byte keystream periods in the reply.
    std::string setup =
        "create table t(a int, b varchar(200));\n"
        "insert into t with recursive c(x) as (select 1 union all select x + 1 from c where "
        "x < 200) select x, 'row ' || x || ' ' || printf('%.80c', '*') from c;\n";
    run_result made = console("NSSL", "norv", setup + "exit\n");
    ASSERT_EQ(made.status, 0);
    std::string query = "set pagesize 0\nselect a, b from t;\nexit\n";
    run_result clear = console("NSSL", "norv", query);
    run_result own = console("ssl", "norv", query);
    run_result upper = console("SSL", "norv", query);
    EXPECT_EQ(own.status, 0);
    ASSERT_NE(clear.out.find("Total 200 records."), std::string::npos) << clear.out;
    EXPECT_EQ(normalise_use_time(own.out), normalise_use_time(clear.out));
    EXPECT_EQ(normalise_use_time(upper.out), normalise_use_time(clear.out));
    EXPECT_NE(server->proc.log().find("login accepted (own cipher)"), std::string::npos)
        << server->proc.log();
}

TEST_F(own_cipher_e2e, a_wrong_password_restarts_the_login_cycle) {
    run_result r = console("ssl", "wrong", "");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, banner + banner + "Please input server URL:");
}
