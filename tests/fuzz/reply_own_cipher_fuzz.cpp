// Fuzz target: the reply reader on the own-cipher channel. Both keystreams of the connection
// start from one fixed connection key, as after a handshake; the input is what the server means
// to send, enciphered here with the server's own sending keystream before it is written.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "crypto/turing.h"
#include "tests/fuzz/reply_peer.h"

namespace {

// A fixed 32-byte connection key (top bit of the last byte clear, as the handshake makes it).
const unsigned char connection_key[32] = {
    0x4e, 0x6f, 0x72, 0x76, 0x44, 0x42, 0x20, 0x66, 0x75, 0x7a, 0x7a, 0x20, 0x6b, 0x65, 0x79, 0x21,
    0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10,
};

// Keystream set-up is the costly part; it is done once and copied for every input.
const turing_state& initial_state() {
    static const turing_state s = [] {
        turing_state t{};
        keystream_init(&t, connection_key, sizeof connection_key);
        return t;
    }();
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reply_fuzz_init();
    socket_pair sp;
    socket_pair::conn_ptr conn = sp.conn();
    conn->send_ks = std::make_unique<turing_state>(initial_state());
    conn->recv_ks = std::make_unique<turing_state>(initial_state());
    turing_state server_send = initial_state();
    std::vector<unsigned char> wire(data, data + size);
    keystream_apply(&server_send, wire.data(), wire.size());
    execute_against(sp, conn.get(), wire.data(), wire.size());
    return 0;
}
