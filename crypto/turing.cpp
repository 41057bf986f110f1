// The Turing keystream generator (key set-up with keyed S-boxes built once, register loading, 340
// bytes per generation call) and the own-cipher channel's rule on top of it: each generated block
// serves 3400 stream bytes, byte p taking block[p mod 340], applied over whole spans at a time.
#include "crypto/turing.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <utility>

#include "crypto/turing_tables.h"

namespace {

inline constexpr int reg_words = turing_register_words;
inline constexpr int max_key_bytes = 4 * turing_max_key_words;
inline constexpr int max_key_iv_bytes = 48;  // key and vector together fill at most 12 words
inline constexpr uint32_t length_word = 0x01020300;  // marks the register word after the key
inline constexpr int groups_per_gen = 17;  // each group steps the register 5 times, 5 words out
static_assert(groups_per_gen * 20 == turing_block_bytes);
// The runs of keystream_apply end at a 340-byte wrap; regeneration must fall on one of them.
static_assert(keystream_period % turing_block_bytes == 0);

// Byte i of w, counting from the most significant (i = 0) to the least (i = 3).
inline uint32_t byte_of(uint32_t w, int i) {
    return (w >> (24 - 8 * i)) & 0xFF;
}

inline uint32_t load_be(const unsigned char* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline void store_be(uint32_t w, unsigned char* p) {
    p[0] = static_cast<unsigned char>(w >> 24);
    p[1] = static_cast<unsigned char>(w >> 16);
    p[2] = static_cast<unsigned char>(w >> 8);
    p[3] = static_cast<unsigned char>(w);
}

// The unkeyed S-box function: each byte in turn, from the most significant, is replaced through
// the 8-bit permutation while the matching rotation of the 32-bit table disturbs the other three.
uint32_t fixed_s(uint32_t w) {
    for (int i = 0; i < 4; ++i) {
        uint32_t b = turing_sbox[byte_of(w, i)];
        uint32_t keep = ~(0xFF000000u >> (8 * i));
        w = ((w ^ std::rotl(turing_qbox[b], 8 * i)) & keep) | (b << (24 - 8 * i));
    }
    return w;
}

// The pseudo-Hadamard mixing over n words: the last word becomes the sum of all of them, and
// that sum is added to every other word.
void mix_words(uint32_t* w, int n) {
    if (n == 0) return;
    uint32_t sum = 0;
    for (int i = 0; i < n - 1; ++i)
        sum += w[i];
    w[n - 1] += sum;
    sum = w[n - 1];
    for (int i = 0; i < n - 1; ++i)
        w[i] += sum;
}

// The keyed S-box function: one lookup per byte, each byte in its own table.
inline uint32_t keyed_s(const turing_state* s, uint32_t w) {
    return s->s0[byte_of(w, 0)] ^ s->s1[byte_of(w, 1)] ^ s->s2[byte_of(w, 2)] ^
           s->s3[byte_of(w, 3)];
}

// One register step with its logical start at physical word z: the word leaving at the start is
// replaced by the feedback, which thereby becomes the newest word (logical 16 after the step).
template <int z>
inline void step(uint32_t* r) {
    uint32_t w = r[z % reg_words];
    r[z % reg_words] =
        r[(z + 15) % reg_words] ^ r[(z + 4) % reg_words] ^ (w << 8) ^ turing_multab[w >> 24];
}

// Logical register word i while the register starts at physical word z.
template <int z, int i>
inline uint32_t& at(uint32_t* r) {
    return r[(z + i) % reg_words];
}

// One group: step, filter five taps through the transform and the keyed S-boxes, step three
// times, add five later taps, write 20 bytes, step once more. Five steps per group and 17 groups
// per call bring the register's start back to physical word 0 at the end of each call.
template <int g>
inline void gen_group(const turing_state* s, uint32_t* r, unsigned char* out) {
    constexpr int z = 5 * g;
    step<z>(r);
    uint32_t a = at<z + 1, 16>(r);
    uint32_t b = at<z + 1, 13>(r);
    uint32_t c = at<z + 1, 6>(r);
    uint32_t d = at<z + 1, 1>(r);
    uint32_t e = at<z + 1, 0>(r);
    e += a + b + c + d;
    a += e, b += e, c += e, d += e;
    a = keyed_s(s, a);
    b = keyed_s(s, std::rotl(b, 8));
    c = keyed_s(s, std::rotl(c, 16));
    d = keyed_s(s, std::rotl(d, 24));
    e = keyed_s(s, e);
    e += a + b + c + d;
    a += e, b += e, c += e, d += e;
    step<z + 1>(r);
    step<z + 2>(r);
    step<z + 3>(r);
    a += at<z + 4, 14>(r);
    b += at<z + 4, 12>(r);
    c += at<z + 4, 8>(r);
    d += at<z + 4, 1>(r);
    e += at<z + 4, 0>(r);
    unsigned char* o = out + 20 * g;
    store_be(a, o);
    store_be(b, o + 4);
    store_be(c, o + 8);
    store_be(d, o + 12);
    store_be(e, o + 16);
    step<z + 4>(r);
}

template <int... g>
inline void gen_all(const turing_state* s, uint32_t* r, unsigned char* out,
                    std::integer_sequence<int, g...>) {
    (gen_group<g>(s, r, out), ...);
}

// dst[i] = src[i] ^ key[i] for i < n; dst may be src. Eight bytes at a time so that the compiler
// turns the runs into vector code.
inline void xor_run(unsigned char* dst, const unsigned char* src, const unsigned char* key,
                    size_t n) {
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        uint64_t d[4], k[4];
        std::memcpy(d, src + i, 32);
        std::memcpy(k, key + i, 32);
        for (int j = 0; j < 4; ++j)
            d[j] ^= k[j];
        std::memcpy(dst + i, d, 32);
    }
    for (; i < n; ++i)
        dst[i] = static_cast<unsigned char>(src[i] ^ key[i]);
}

// Walks n stream bytes in runs that end at the next 340-byte wrap, generating the next block each
// time the position reaches 3400.
void apply_stream(turing_state* s, unsigned char* dst, const unsigned char* src, size_t n) {
    assert(s->position >= 0 && s->position < keystream_period);
    int p = s->position;
    size_t done = 0;
    while (done < n) {
        int in_block = p % turing_block_bytes;
        size_t run = std::min(n - done, size_t(turing_block_bytes - in_block));
        xor_run(dst + done, src + done, s->block + in_block, run);
        done += run;
        p += static_cast<int>(run);
        if (p == keystream_period) {
            turing_gen(s, s->block);
            p = 0;
        }
    }
    s->position = p;
}

}  // namespace

void turing_key(turing_state* s, const unsigned char* key, int length) {
    // Keys of other lengths are cut rather than refused: at most 32 bytes, whole words only.
    length = std::clamp(length, 0, max_key_bytes) & ~3;
    s->key_len = 0;
    for (int i = 0; i < length; i += 4)
        s->key[s->key_len++] = fixed_s(load_be(key + i));
    mix_words(s->key, s->key_len);

    // Table b takes byte b of every key word; its entry keeps the last permutation output in
    // byte position b and the rotated table words elsewhere.
    uint32_t* tables[4] = {s->s0, s->s1, s->s2, s->s3};
    for (int b = 0; b < 4; ++b) {
        uint32_t keep = ~(0xFF000000u >> (8 * b));
        for (uint32_t j = 0; j < 256; ++j) {
            uint32_t w = 0;
            uint32_t k = j;
            for (int i = 0; i < s->key_len; ++i) {
                k = turing_sbox[byte_of(s->key[i], b) ^ k];
                w ^= std::rotl(turing_qbox[k], i + 8 * b);
            }
            tables[b][j] = (w & keep) | (k << (24 - 8 * b));
        }
    }
}

bool turing_iv(turing_state* s, const unsigned char* iv, int length) {
    if (length < 0 || length % 4 != 0 || length + 4 * s->key_len > max_key_iv_bytes) return false;
    if (length > 0 && iv == nullptr) return false;
    uint32_t* r = s->reg;
    int i = 0;
    for (int j = 0; j < length; j += 4)
        r[i++] = fixed_s(load_be(iv + j));
    for (int j = 0; j < s->key_len; ++j)
        r[i++] = s->key[j];
    r[i++] = uint32_t(s->key_len) << 4 | uint32_t(length / 4) | length_word;
    for (int j = 0; i < reg_words; ++i, ++j)
        r[i] = keyed_s(s, r[j] + r[i - 1]);
    mix_words(r, reg_words);
    return true;
}

int turing_gen(turing_state* s, unsigned char* out) {
    // A local register lets the compiler keep words in registers across the stores to out.
    uint32_t r[reg_words];
    std::memcpy(r, s->reg, sizeof r);
    gen_all(s, r, out, std::make_integer_sequence<int, groups_per_gen>{});
    std::memcpy(s->reg, r, sizeof r);
    return turing_block_bytes;
}

void keystream_init(turing_state* s, const unsigned char* key, int key_len) {
    turing_key(s, key, key_len);
    turing_iv(s, nullptr, 0);
    turing_gen(s, s->block);
    s->position = 0;
}

void keystream_apply(turing_state* s, unsigned char* data, size_t n) {
    apply_stream(s, data, data, n);
}

void keystream_apply_copy(turing_state* s, unsigned char* dst, const unsigned char* src, size_t n) {
    apply_stream(s, dst, src, n);
}
