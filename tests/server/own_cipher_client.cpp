// The test-side own-cipher client: key, block layout and wrapping with OpenSSL's BIGNUM, and the
// keystream rule spelled out byte by byte. Every wait is bounded by the socket helpers.
#include "tests/server/own_cipher_client.h"

#include <openssl/bn.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t block = 32;
constexpr size_t chars_per_block = 30;

unsigned char* bytes(std::string& s) {
    return reinterpret_cast<unsigned char*>(s.data());
}
const unsigned char* bytes(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

}  // namespace

std::string test_connection_key(std::string_view password) {
    std::string key(block, '\0');
    if (RAND_bytes(bytes(key), static_cast<int>(block)) != 1) return "";
    for (size_t i = 0; i < block && !password.empty(); ++i)
        key[i] = static_cast<char>(key[i] ^ password[i % password.size()]);
    key[block - 1] = static_cast<char>(key[block - 1] & 0x7f);
    return key;
}

std::string test_spread_text(std::string_view text) {
    std::string out;
    size_t full = text.size() / chars_per_block;
    for (size_t j = 0; j < full; ++j)
        out += std::string(text.substr(j * chars_per_block, chars_per_block)) + "\x07\x07";
    out += std::string(text.substr(full * chars_per_block)) + '\0';
    out.resize((out.size() + block - 1) / block * block, '\0');
    return out;
}

std::string test_wrap_blocks(std::string_view public_key, std::string_view plain) {
    BN_CTX* ctx = BN_CTX_new();
    BIGNUM* e = BN_lebin2bn(bytes(public_key), block, nullptr);
    BIGNUM* m = BN_lebin2bn(bytes(public_key) + block, block, nullptr);
    BIGNUM* x = BN_new();
    std::string out(plain.size(), '\0');
    for (size_t at = 0; at + block <= plain.size(); at += block) {
        BN_lebin2bn(bytes(plain) + at, block, x);
        BN_mod_exp(x, x, e, m, ctx);
        BN_bn2lebinpad(x, bytes(out) + at, block);
    }
    BN_free(x);
    BN_free(m);
    BN_free(e);
    BN_CTX_free(ctx);
    return out;
}

std::string test_keystream(std::string_view key, size_t n) {
    auto s = std::make_unique<turing_state>();
    turing_key(s.get(), bytes(key), static_cast<int>(key.size()));
    turing_iv(s.get(), nullptr, 0);
    unsigned char gen[turing_block_bytes];
    std::string out;
    for (size_t p = 0; p < n; ++p) {
        if (p % 3400 == 0) turing_gen(s.get(), gen);
        out += static_cast<char>(gen[p % 3400 % 340]);
    }
    return out;
}

bool own_cipher_client::open(int port) {
    sock = connect_local(port);
    if (sock.fd < 0 || !send_bytes(sock, "~ssl~")) {
        why = "connect or marker failed";
        return false;
    }
    public_key = recv_upto(sock, 2 * block, 5000);
    if (public_key.size() != 2 * block) {
        why = "no 64-byte public key after the marker";
        return false;
    }
    return true;
}

std::string own_cipher_client::login(std::string_view text, std::string_view password,
                                     std::string_view key_override) {
    key = key_override.empty() ? test_connection_key(password) : std::string(key_override);
    if (!send_bytes(sock, test_wrap_blocks(public_key, key + test_spread_text(text)))) {
        why = "login send failed";
        return "";
    }
    send_state = std::make_unique<turing_state>();
    recv_state = std::make_unique<turing_state>();
    keystream_init(send_state.get(), bytes(std::string_view(key)), static_cast<int>(key.size()));
    keystream_init(recv_state.get(), bytes(std::string_view(key)), static_cast<int>(key.size()));
    std::string verdict = recv(1, 5000);
    if (verdict.empty()) why = "no verdict";
    return verdict;
}

bool own_cipher_client::send(std::string_view clear) {
    std::string wire(clear);
    keystream_apply(send_state.get(), bytes(wire), wire.size());
    return send_bytes(sock, wire);
}

std::string own_cipher_client::recv(size_t max, int timeout_ms) {
    std::string got = recv_upto(sock, max, timeout_ms);
    keystream_apply(recv_state.get(), bytes(got), got.size());
    return got;
}
