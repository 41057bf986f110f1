// The own-cipher key pair with OpenSSL's BIGNUM: prime making, the private exponent and the
// unwrapping of a client's blocks. BIGNUM rather than crypto/mp.h, because the server needs prime
// generation, a modular inverse and a constant-time exponentiation with a secret exponent, which
// OpenSSL keeps well; the numbers on the wire are the same 32-byte little-endian integers.
#include "server/own_cipher_key.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

inline constexpr int prime_bits = 128;  // two of them make the 256-bit modulus
inline constexpr int modulus_bits = 256;
inline constexpr unsigned long public_exponent = 65537;
inline constexpr int make_attempts = 64;  // a pair fails only when 65537 divides p-1 or q-1

struct bn_free {
    void operator()(BIGNUM* b) const { BN_clear_free(b); }
};
struct bn_ctx_free {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using bn_ptr = std::unique_ptr<BIGNUM, bn_free>;
using bn_ctx_ptr = std::unique_ptr<BN_CTX, bn_ctx_free>;

bn_ptr bn_new() {
    return bn_ptr(BN_new());
}

std::mutex shared_mutex;
srv_cipher_key* shared_key = nullptr;  // guarded by shared_mutex; lives until release

}  // namespace

struct srv_cipher_key {
    bn_ptr modulus;
    bn_ptr private_exponent;  // BN_FLG_CONSTTIME: unwrapping does not leak it through timing
    unsigned char public_bytes[srv_cipher_public_size];  // exponent, modulus as sent
};

namespace {

// The key pair of p and q, or null with why set.
srv_cipher_key* key_of_primes(const BIGNUM* p, const BIGNUM* q, BN_CTX* ctx, std::string& why) {
    if (BN_cmp(p, q) == 0) {
        why = "the two primes are equal";
        return nullptr;
    }
    bn_ptr m = bn_new(), e = bn_new(), p1 = bn_new(), q1 = bn_new(), phi = bn_new();
    if (!m || !e || !p1 || !q1 || !phi || !BN_mul(m.get(), p, q, ctx) ||
        !BN_set_word(e.get(), public_exponent) || !BN_sub(p1.get(), p, BN_value_one()) ||
        !BN_sub(q1.get(), q, BN_value_one()) || !BN_mul(phi.get(), p1.get(), q1.get(), ctx)) {
        why = "out of memory";
        return nullptr;
    }
    if (BN_num_bits(m.get()) != modulus_bits) {
        why = "the modulus is not 256 bits";
        return nullptr;
    }
    bn_ptr d(BN_mod_inverse(nullptr, e.get(), phi.get(), ctx));
    if (!d) {
        why = "65537 has no inverse for these primes";
        return nullptr;
    }
    BN_set_flags(d.get(), BN_FLG_CONSTTIME);
    auto* k = new srv_cipher_key{std::move(m), std::move(d), {}};
    if (BN_bn2lebinpad(e.get(), k->public_bytes, srv_cipher_block_size) < 0 ||
        BN_bn2lebinpad(k->modulus.get(), k->public_bytes + srv_cipher_block_size,
                       srv_cipher_block_size) < 0) {
        delete k;
        why = "cannot lay out the public key";
        return nullptr;
    }
    return k;
}

}  // namespace

srv_cipher_key* srv_cipher_key_make(std::string& why) {
    bn_ctx_ptr ctx(BN_CTX_new());
    bn_ptr p = bn_new(), q = bn_new();
    if (!ctx || !p || !q) {
        why = "out of memory";
        return nullptr;
    }
    // OpenSSL sets the top two bits of every prime it makes, so p * q >= (3/4 * 2^128)^2 > 2^255:
    // the product has its bit 255 set. key_of_primes checks it all the same.
    for (int attempt = 0; attempt < make_attempts; ++attempt) {
        if (!BN_generate_prime_ex2(p.get(), prime_bits, 0, nullptr, nullptr, nullptr, ctx.get()) ||
            !BN_generate_prime_ex2(q.get(), prime_bits, 0, nullptr, nullptr, nullptr, ctx.get())) {
            why = "prime generation failed";
            return nullptr;
        }
        if (srv_cipher_key* k = key_of_primes(p.get(), q.get(), ctx.get(), why)) return k;
    }
    return nullptr;
}

srv_cipher_key* srv_cipher_key_from_primes(std::string_view p_hex, std::string_view q_hex,
                                           std::string& why) {
    bn_ctx_ptr ctx(BN_CTX_new());
    BIGNUM* p_raw = nullptr;
    BIGNUM* q_raw = nullptr;
    const std::string p_text(p_hex), q_text(q_hex);
    int p_len = BN_hex2bn(&p_raw, p_text.c_str());
    int q_len = BN_hex2bn(&q_raw, q_text.c_str());
    bn_ptr p(p_raw), q(q_raw);
    if (!ctx || p_len != static_cast<int>(p_text.size()) ||
        q_len != static_cast<int>(q_text.size())) {
        why = "the primes are not hexadecimal numbers";
        return nullptr;
    }
    return key_of_primes(p.get(), q.get(), ctx.get(), why);
}

void srv_cipher_key_free(srv_cipher_key* k) {
    delete k;
}

void srv_cipher_key_public(const srv_cipher_key* k, unsigned char out[srv_cipher_public_size]) {
    std::copy(k->public_bytes, k->public_bytes + srv_cipher_public_size, out);
}

bool srv_cipher_key_unwrap(const srv_cipher_key* k, const unsigned char in[srv_cipher_block_size],
                           unsigned char out[srv_cipher_block_size]) {
    std::fill(out, out + srv_cipher_block_size, 0);
    bn_ctx_ptr ctx(BN_CTX_secure_new());
    bn_ptr x(BN_lebin2bn(in, srv_cipher_block_size, nullptr));
    bn_ptr y = bn_new();
    if (!ctx || !x || !y) return false;
    if (BN_cmp(x.get(), k->modulus.get()) >= 0) return false;
    if (!BN_mod_exp(y.get(), x.get(), k->private_exponent.get(), k->modulus.get(), ctx.get())) {
        return false;
    }
    return BN_bn2lebinpad(y.get(), out, srv_cipher_block_size) == srv_cipher_block_size;
}

const srv_cipher_key* srv_cipher_key_shared(std::string& why) {
    std::lock_guard lock(shared_mutex);
    if (!shared_key) shared_key = srv_cipher_key_make(why);
    return shared_key;
}

void srv_cipher_key_release_shared() {
    std::lock_guard lock(shared_mutex);
    srv_cipher_key_free(shared_key);
    shared_key = nullptr;
}

void srv_wipe(void* p, size_t n) {
    OPENSSL_cleanse(p, n);
}
