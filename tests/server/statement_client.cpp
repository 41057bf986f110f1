// Logins, statement messages and log waits shared by the norvlite tests that talk to the built
// binary over raw sockets. The bytes are built here with be32 and be16, independently of the
// server's code.
#include "tests/server/statement_client.h"

#include <chrono>
#include <thread>

#include "tests/support/wire_bytes.h"

std::string statement_message(std::string_view sql, const std::vector<test_param>& params) {
    std::string m = "?" + be32(static_cast<uint32_t>(sql.size())) + std::string(sql) + '\0' +
                    be32(static_cast<uint32_t>(params.size()));
    for (const test_param& p : params)
        m += be16(0) + be16(1) + be16(p.type) + be32(static_cast<uint32_t>(p.bytes.size())) +
             p.bytes;
    return m;
}

test_socket clear_login(int port, std::string_view text) {
    test_socket s = connect_local(port);
    EXPECT_TRUE(send_bytes(s, text));
    EXPECT_EQ(recv_upto(s, 1, 3000), "K");
    return s;
}

bool log_has(const norvlite_server& server, std::string_view text, int wait_ms) {
    for (int i = 0; i < wait_ms / 10; ++i) {
        if (server.log().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

void norvlite_session_test::start(std::vector<std::string> extra) {
    std::vector<std::string> args = {"--data", dir.path + "/data", "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    ASSERT_TRUE(server.start(args, dir.path + "/server.log", error)) << error;
}
