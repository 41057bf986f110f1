// Fuzz target: the own-cipher handshake facing an arbitrary server. Input: the public key the
// server sends (64 bytes: exponent, modulus), then the verdict and a reply, enciphered here with
// the connection key; a fixed random generator makes that key the same for every run.
#define OPENSSL_SUPPRESS_DEPRECATED  // RAND_set_rand_method: the one way to fix RAND_bytes
#include <openssl/rand.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "crypto/turing.h"
#include "protocol/conn.h"
#include "protocol/db_wire.h"
#include "tests/fuzz/reply_peer.h"

namespace {

inline constexpr int public_key_bytes = 64;
inline constexpr int login_text_room = 210;  // the own cipher's longest login text and its zero
inline constexpr unsigned char fixed_random_byte = 0xa5;
const char password[] = "fuzz-pw";

int fixed_bytes(unsigned char* buf, int num) {
    std::memset(buf, fixed_random_byte, size_t(num));
    return 1;
}
int fixed_status() {
    return 1;
}

const RAND_METHOD fixed_method = {nullptr, fixed_bytes, nullptr,
                                  nullptr, fixed_bytes, fixed_status};

// The connection key the handshake derives from the fixed generator and the password.
void connection_key(unsigned char key[32]) {
    size_t pw_len = std::strlen(password);
    for (int i = 0; i < 32; ++i)
        key[i] = fixed_random_byte ^ static_cast<unsigned char>(password[i % pw_len]);
    key[31] &= 0x7f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        RAND_set_rand_method(&fixed_method);
        return true;
    }();
    (void)ready;
    reply_fuzz_init();

    char auth_str[auth_str_size];
    int text_len = db_build_login_text(auth_str, login_text_room, "fuzzdb", "fuzzer", password,
                                       nullptr, "GBK", nullptr, nullptr, 0, 1);

    std::vector<unsigned char> wire(data, data + size);
    if (wire.size() > size_t(public_key_bytes)) {
        unsigned char key[32];
        connection_key(key);
        turing_state server_send{};
        keystream_init(&server_send, key, sizeof key);
        keystream_apply(&server_send, wire.data() + public_key_bytes,
                        wire.size() - public_key_bytes);
    }

    static std::string printed;
    printed.clear();
    socket_pair sp;
    socket_pair::conn_ptr conn = sp.conn();
    peer_write(sp.peer, wire.data(), wire.size());
    con_set_capture(&printed);
    int verdict = -1;
    bool ok = db_run_exchange(conn.get(), [&] {
        verdict = db_own_cipher_handshake(conn.get(), password, auth_str, text_len);
    });
    if (ok && verdict == 'K') {
        db_result* r = db_execute(conn.get(), "select 1");
        walk_result(r);
    }
    con_set_capture(nullptr);
    return 0;
}
