// Modular multiplication and exponentiation over fixed arrays of 32-bit digits, the clock-seeded
// digit source, and the public-key step that wraps the own-cipher login in 32-byte blocks. All
// temporaries are fixed local arrays.
#include "crypto/mp.h"

#include <bit>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

inline constexpr int max_product_digits = 2 * mp_max_digits;
inline constexpr uint64_t digit_base = uint64_t(1) << 32;
// The digit formula scales by 32767.0, so draws are cut to 15 bits: a wider C library generator
// would otherwise carry the result past lower + upper.
inline constexpr int rand_range_max = 32767;

// Number of digits of a[0, n) up to and including the highest non-zero one.
int significant_digits(const mp_digit* a, int n) {
    while (n > 0 && a[n - 1] == 0)
        --n;
    return n;
}

// t[0, 2n) = x * y, schoolbook.
void multiply(mp_digit* t, const mp_digit* x, const mp_digit* y, int n) {
    std::memset(t, 0, sizeof(mp_digit) * size_t(2 * n));
    for (int i = 0; i < n; ++i) {
        uint64_t carry = 0;
        for (int j = 0; j < n; ++j) {
            uint64_t p = uint64_t(x[i]) * y[j] + t[i + j] + carry;
            t[i + j] = mp_digit(p);
            carry = p >> 32;
        }
        t[i + n] = mp_digit(carry);
    }
}

// r[0, vn) = u[0, un) mod v[0, vn), where v[vn - 1] != 0. Long division with both numbers shifted
// left until the divisor's top bit is set, so that the quotient digit guessed from the top two
// digits of the running remainder is at most two too large; the guess is first corrected
// against the divisor's second digit, and a remaining excess shows as a borrow and is added back.
void remainder(mp_digit* r, const mp_digit* u, int un, const mp_digit* v, int vn) {
    if (un < vn) {
        std::memcpy(r, u, sizeof(mp_digit) * size_t(un));
        std::memset(r + un, 0, sizeof(mp_digit) * size_t(vn - un));
        return;
    }
    if (vn == 1) {
        uint64_t rem = 0;
        for (int i = un - 1; i >= 0; --i)
            rem = ((rem << 32) | u[i]) % v[0];
        r[0] = mp_digit(rem);
        return;
    }

    int shift = std::countl_zero(v[vn - 1]);
    mp_digit vs[mp_max_digits];
    mp_digit us[max_product_digits + 1];
    for (int i = vn - 1; i > 0; --i) {
        vs[i] = (v[i] << shift) | (shift ? v[i - 1] >> (32 - shift) : 0);
    }
    vs[0] = v[0] << shift;
    us[un] = shift ? u[un - 1] >> (32 - shift) : 0;
    for (int i = un - 1; i > 0; --i) {
        us[i] = (u[i] << shift) | (shift ? u[i - 1] >> (32 - shift) : 0);
    }
    us[0] = u[0] << shift;

    const uint64_t v_top = vs[vn - 1];
    const uint64_t v_next = vs[vn - 2];
    for (int j = un - vn; j >= 0; --j) {
        uint64_t top = (uint64_t(us[j + vn]) << 32) | us[j + vn - 1];
        uint64_t qhat = top / v_top;
        uint64_t rhat = top % v_top;
        while (qhat >= digit_base || qhat * v_next > ((rhat << 32) | us[j + vn - 2])) {
            --qhat;
            rhat += v_top;
            if (rhat >= digit_base) break;
        }

        // us[j, j + vn] -= qhat * vs; a difference below zero wraps and sets the top bit.
        uint64_t carry = 0;
        uint64_t borrow = 0;
        for (int i = 0; i < vn; ++i) {
            uint64_t p = qhat * vs[i] + carry;
            carry = p >> 32;
            uint64_t d = uint64_t(us[i + j]) - (p & 0xFFFFFFFF) - borrow;
            us[i + j] = mp_digit(d);
            borrow = d >> 63;
        }
        uint64_t d = uint64_t(us[j + vn]) - carry - borrow;
        us[j + vn] = mp_digit(d);

        if (d >> 63) {  // the guess was one too large: add the divisor back
            uint64_t c = 0;
            for (int i = 0; i < vn; ++i) {
                uint64_t s = uint64_t(us[i + j]) + vs[i] + c;
                us[i + j] = mp_digit(s);
                c = s >> 32;
            }
            us[j + vn] = mp_digit(us[j + vn] + c);
        }
    }

    for (int i = 0; i < vn - 1; ++i) {
        r[i] = (us[i] >> shift) | (shift ? us[i + 1] << (32 - shift) : 0);
    }
    r[vn - 1] = us[vn - 1] >> shift;
}

// Seeds the generator from the processor clock and the time of day, then skips as many draws as
// the low byte of the first draw says.
bool seed_generator() {
    std::srand(static_cast<unsigned>(std::clock() + std::time(nullptr)));
    int skip = std::rand() & 0xFF;
    for (int i = 0; i < skip; ++i)
        std::rand();
    return true;
}

void load_block(mp_digit* x, const unsigned char* p) {
    for (int i = 0; i < rsa_digits; ++i) {
        x[i] = mp_digit(p[4 * i]) | mp_digit(p[4 * i + 1]) << 8 | mp_digit(p[4 * i + 2]) << 16 |
               mp_digit(p[4 * i + 3]) << 24;
    }
}

void store_block(const mp_digit* x, unsigned char* p) {
    for (int i = 0; i < rsa_digits; ++i) {
        for (int b = 0; b < 4; ++b)
            p[4 * i + b] = static_cast<unsigned char>(x[i] >> (8 * b));
    }
}

}  // namespace

void mp_mod_multiply(mp_digit* a, const mp_digit* x, const mp_digit* y, const mp_digit* m, int n) {
    assert(n > 0 && n <= mp_max_digits);
    int mn = significant_digits(m, n);
    assert(mn > 0);
    mp_digit t[max_product_digits];
    multiply(t, x, y, n);
    mp_digit r[mp_max_digits];
    remainder(r, t, significant_digits(t, 2 * n), m, mn);
    // Written last, so that a may be x or y.
    std::memcpy(a, r, sizeof(mp_digit) * size_t(mn));
    std::memset(a + mn, 0, sizeof(mp_digit) * size_t(n - mn));
}

int mp_mod_power(mp_digit* y, const mp_digit* x, const mp_digit* e, const mp_digit* m, int n) {
    if (n <= 0 || n > mp_max_digits) return -1;
    mp_digit t[mp_max_digits] = {};
    int digit = significant_digits(e, n) - 1;
    if (digit < 0) {
        // x^0 is 1, reduced: only a modulus of 1 leaves 0.
        t[0] = significant_digits(m, n) == 1 && m[0] == 1 ? 0 : 1;
        std::memcpy(y, t, sizeof(mp_digit) * size_t(n));
        return 0;
    }

    mp_digit mask = 0x80000000;
    while ((e[digit] & mask) == 0)
        mask >>= 1;
    // The leading bit is x itself, taken as it is; every later bit squares and reduces.
    std::memcpy(t, x, sizeof(mp_digit) * size_t(n));
    for (;;) {
        mask >>= 1;
        if (mask == 0) {
            if (--digit < 0) break;
            mask = 0x80000000;
        }
        mp_mod_multiply(t, t, t, m, n);
        if (e[digit] & mask) mp_mod_multiply(t, t, x, m, n);
    }
    // Written last, so that y may be x.
    std::memcpy(y, t, sizeof(mp_digit) * size_t(n));
    return 0;
}

mp_digit mp_random_digit(mp_digit lower, mp_digit upper) {
    static const bool seeded = seed_generator();
    (void)seeded;
    int r = std::rand() & rand_range_max;
    auto spread = static_cast<uint64_t>(double(r) / double(rand_range_max) * double(upper));
    return static_cast<mp_digit>(lower + spread);
}

bool rsa_encrypt_blocks(const mp_digit e[rsa_digits], const mp_digit m[rsa_digits],
                        unsigned char* buf, int length, int cap) {
    if (length < 0) return false;
    int full = length / rsa_block_bytes;
    if (cap < (int64_t(full) + 1) * rsa_block_bytes) return false;
    // A zero modulus can only come from a broken or hostile server; there is no residue to send.
    if (significant_digits(m, rsa_digits) == 0) return false;

    mp_digit x[rsa_digits];
    mp_digit y[rsa_digits];
    for (int k = 0; k < full; ++k) {
        unsigned char* block = buf + k * rsa_block_bytes;
        load_block(x, block);
        mp_mod_power(y, x, e, m, rsa_digits);
        store_block(y, block);
    }
    unsigned char last[rsa_block_bytes] = {};
    unsigned char* tail = buf + full * rsa_block_bytes;
    std::memcpy(last, tail, size_t(length - full * rsa_block_bytes));
    load_block(x, last);
    mp_mod_power(y, x, e, m, rsa_digits);
    store_block(y, tail);
    return true;
}
