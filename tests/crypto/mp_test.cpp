// Tests of the multiple-precision library: modular products and powers against values worked by
// hand, against known primes, and against a slow bit-serial reference written here; the digit
// source; and the block layout and capacity check of the public-key step.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "crypto/mp.h"

namespace {

using num = std::vector<mp_digit>;

// --- A slow reference: one bit at a time, on n + 1 digits so that doubling cannot overflow. ---

int compare(const num& a, const num& b) {
    for (size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

void subtract_in_place(num& a, const num& b) {
    uint64_t borrow = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        uint64_t d = uint64_t(a[i]) - b[i] - borrow;
        a[i] = mp_digit(d);
        borrow = d >> 63;
    }
}

void add_in_place(num& a, const num& b) {
    uint64_t carry = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        uint64_t s = uint64_t(a[i]) + b[i] + carry;
        a[i] = mp_digit(s);
        carry = s >> 32;
    }
}

num widen(const num& a) {
    num w = a;
    w.push_back(0);
    return w;
}

bool bit(const num& a, size_t i) {
    return (a[i / 32] >> (i % 32)) & 1;
}

// x mod m: shift x in bit by bit, subtracting m whenever the running value reaches it.
num ref_reduce(const num& x, const num& m) {
    num r(m.size() + 1, 0);
    num mw = widen(m);
    for (size_t i = x.size() * 32; i-- > 0;) {
        add_in_place(r, r);
        r[0] |= bit(x, i);
        if (compare(r, mw) >= 0) subtract_in_place(r, mw);
    }
    r.pop_back();
    return r;
}

// x * y mod m by doubling and adding.
num ref_mod_multiply(const num& x, const num& y, const num& m) {
    num xr = widen(ref_reduce(x, m));
    num mw = widen(m);
    num r(m.size() + 1, 0);
    for (size_t i = y.size() * 32; i-- > 0;) {
        add_in_place(r, r);
        if (compare(r, mw) >= 0) subtract_in_place(r, mw);
        if (bit(y, i)) {
            add_in_place(r, xr);
            if (compare(r, mw) >= 0) subtract_in_place(r, mw);
        }
    }
    r.pop_back();
    return r;
}

// x ^ e mod m, right to left (the library goes left to right).
num ref_mod_power(const num& x, const num& e, const num& m) {
    num result(m.size(), 0);
    result[0] = 1;
    result = ref_reduce(result, m);
    num base = ref_reduce(x, m);
    for (size_t i = 0; i < e.size() * 32; ++i) {
        if (bit(e, i)) result = ref_mod_multiply(result, base, m);
        base = ref_mod_multiply(base, base, m);
    }
    return result;
}

// Digits that make divisions hard (all ones, a lone top bit, zero) mixed with random ones.
num random_num(std::mt19937& rng, int n) {
    static const mp_digit edges[] = {0, 1, 0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 0xFFFFFFFE};
    num a(static_cast<size_t>(n));
    for (auto& d : a)
        d = rng() % 3 == 0 ? edges[rng() % std::size(edges)] : mp_digit(rng());
    return a;
}

num mod_multiply(const num& x, const num& y, const num& m) {
    num a(m.size(), 0xDEADBEEF);
    mp_mod_multiply(a.data(), x.data(), y.data(), m.data(), int(m.size()));
    return a;
}

num mod_power(const num& x, const num& e, const num& m) {
    num y(m.size(), 0xDEADBEEF);
    EXPECT_EQ(mp_mod_power(y.data(), x.data(), e.data(), m.data(), int(m.size())), 0);
    return y;
}

// 2^255 - 19 and 2^256 - 2^32 - 977 are prime, so a^(p-1) = 1 and a^p = a for 0 < a < p.
const num p25519 = {0xFFFFFFED, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF,
                    0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x7FFFFFFF};
const num pk1 = {0xFFFFFC2F, 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFF,
                 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};

num minus_one(num p) {
    p[0] -= 1;  // the low digits above end in neither 0 nor 1
    return p;
}

TEST(mp_mod_multiply, small_values_worked_by_hand) {
    EXPECT_EQ(mod_multiply({7}, {8}, {5}), num({1}));
    EXPECT_EQ(mod_multiply({0xFFFFFFFF}, {0xFFFFFFFF}, {0xFFFFFFFF}), num({0}));
    EXPECT_EQ(mod_multiply({0xFFFFFFFF}, {0xFFFFFFFF}, {0xFFFFFFFE}), num({1}));
    // 2^32 * 2^32 = 2^64, and 2^32 = -1 modulo 2^32 + 1.
    EXPECT_EQ(mod_multiply({0, 1}, {0, 1}, {1, 1}), num({1, 0}));
    // A product below the modulus is the product.
    EXPECT_EQ(mod_multiply({3, 0, 0}, {5, 0, 0}, {0, 0, 1}), num({15, 0, 0}));
}

TEST(mp_mod_multiply, adds_the_divisor_back_when_the_quotient_digit_is_one_too_large) {
    // (2^127 - 2^95) mod (2^95 + 1): the quotient digit guessed from the top digits is 2^32 - 1,
    // one more than the true 2^32 - 2; the remainder is 2^95 - 2^32 + 2.
    num u = {0, 0, 0x80000000, 0x7FFFFFFF};
    num one = {1, 0, 0, 0};
    num m = {1, 0, 0x80000000, 0};
    EXPECT_EQ(mod_multiply(u, one, m), num({2, 0xFFFFFFFF, 0x7FFFFFFF, 0}));
}

TEST(mp_mod_multiply, corrects_a_quotient_digit_guess_that_is_two_too_large) {
    // (2^95 - 2^64) mod (2^63 + 2^32 - 1): the top digits guess 2^32 - 2 against the true
    // 2^32 - 4; the remainder is 2^34 + 2^32 - 4.
    num u = {0, 0, 0x7FFFFFFF};
    num one = {1, 0, 0};
    num m = {0xFFFFFFFF, 0x80000000, 0};
    EXPECT_EQ(mod_multiply(u, one, m), num({0xFFFFFFFC, 4, 0}));
}

TEST(mp_mod_multiply, cuts_a_quotient_digit_guess_that_does_not_fit_a_digit) {
    // (2^95 + 2^64 - 2^33) mod (2^63 + 2^32 - 1): equal top digits guess 2^32; the quotient is
    // 2^32 - 1 and the remainder 2^63 - 1.
    num u = {0, 0xFFFFFFFE, 0x80000000};
    num one = {1, 0, 0};
    num m = {0xFFFFFFFF, 0x80000000, 0};
    EXPECT_EQ(mod_multiply(u, one, m), num({0xFFFFFFFF, 0x7FFFFFFF, 0}));
}

TEST(mp_mod_multiply, equals_the_bit_serial_reference_for_many_sizes) {
    std::mt19937 rng(12345);
    for (int n : {1, 2, 3, 4, 8, 17, 51}) {
        for (int round = 0; round < (n > 8 ? 20 : 300); ++round) {
            num x = random_num(rng, n);
            num y = random_num(rng, n);
            num m = random_num(rng, n);
            // Moduli of every significant length, top digit with and without its top bit.
            for (int i = int(rng() % unsigned(n)) + 1; i < n; ++i)
                m[size_t(i)] = 0;
            if (std::all_of(m.begin(), m.end(), [](mp_digit d) { return d == 0; })) {
                m[0] = 3;
            }
            ASSERT_EQ(mod_multiply(x, y, m), ref_mod_multiply(x, y, m))
                << "n=" << n << " round=" << round;
        }
    }
}

TEST(mp_mod_multiply, the_result_may_overwrite_an_operand) {
    num x = {0x12345678, 0x9ABCDEF0, 0x0FEDCBA9};
    num y = {0x11111111, 0x22222222, 0x33333333};
    num m = {0xFFFFFFF1, 0xFFFFFFFF, 0x7FFFFFFF};
    num want = ref_mod_multiply(x, y, m);
    num a = x;
    mp_mod_multiply(a.data(), a.data(), y.data(), m.data(), 3);
    EXPECT_EQ(a, want);
    a = y;
    mp_mod_multiply(a.data(), x.data(), a.data(), m.data(), 3);
    EXPECT_EQ(a, want);
}

TEST(mp_mod_power, small_values_worked_by_hand) {
    EXPECT_EQ(mod_power({4}, {13}, {497}), num({445}));
    EXPECT_EQ(mod_power({2}, {10}, {1000}), num({24}));
    EXPECT_EQ(mod_power({3}, {5}, {7}), num({5}));  // 243 = 34 * 7 + 5
    // 561 is a Carmichael number: 7^560 = 1 modulo 561.
    EXPECT_EQ(mod_power({7}, {560}, {561}), num({1}));
    // 2^31 - 1 is prime.
    EXPECT_EQ(mod_power({123456789}, {0x7FFFFFFE}, {0x7FFFFFFF}), num({1}));
    // 2^64 mod (2^32 + 1) = 1, in two digits with a two-digit exponent.
    EXPECT_EQ(mod_power({2, 0}, {64, 0}, {1, 1}), num({1, 0}));
    // An exponent whose only set bit is in a higher digit: 2^(2^32) mod 1000003.
    EXPECT_EQ(mod_power({2, 0}, {0, 1}, {1000003, 0}), ref_mod_power({2, 0}, {0, 1}, {1000003, 0}));
}

TEST(mp_mod_power, fermat_holds_for_256_bit_primes) {
    std::mt19937 rng(99);
    for (const num& p : {p25519, pk1}) {
        for (int round = 0; round < 4; ++round) {
            num a = random_num(rng, 8);
            a[7] &= 0x3FFFFFFF;  // below both primes
            a[0] |= 1;           // and not zero
            EXPECT_EQ(mod_power(a, minus_one(p), p), num({1, 0, 0, 0, 0, 0, 0, 0}));
            EXPECT_EQ(mod_power(a, p, p), a);
        }
    }
}

TEST(mp_mod_power, equals_the_right_to_left_reference_on_256_bit_values) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 30; ++round) {
        num x = random_num(rng, 8);
        num e = random_num(rng, 8);
        num m = random_num(rng, 8);
        m[7] |= 0x80000000;
        if (round % 3 == 0) e = {65537, 0, 0, 0, 0, 0, 0, 0};
        EXPECT_EQ(mod_power(x, e, m), ref_mod_power(x, e, m)) << round;
    }
}

TEST(mp_mod_power, exponent_1_leaves_a_value_below_the_modulus_unchanged) {
    num x = {0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10,
             0x11121314, 0x15161718, 0x191A1B1C, 0x07071D1E};
    num one = {1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(mod_power(x, one, pk1), x);
}

TEST(mp_mod_power, a_digit_count_of_0_or_above_the_room_returns_minus_1_and_writes_nothing) {
    mp_digit y[mp_max_digits + 1] = {0xAAAAAAAA};
    mp_digit x[mp_max_digits + 1] = {5};
    mp_digit e[mp_max_digits + 1] = {3};
    mp_digit m[mp_max_digits + 1] = {7};
    EXPECT_EQ(mp_mod_power(y, x, e, m, 0), -1);
    EXPECT_EQ(y[0], 0xAAAAAAAAu);
    EXPECT_EQ(mp_mod_power(y, x, e, m, mp_max_digits + 1), -1);
    EXPECT_EQ(y[0], 0xAAAAAAAAu);
    EXPECT_EQ(mp_mod_power(y, x, e, m, mp_max_digits), 0);
    EXPECT_EQ(y[0], 6u);  // 125 mod 7
}

TEST(mp_mod_power, an_exponent_of_0_gives_1) {
    EXPECT_EQ(mod_power({5, 5}, {0, 0}, {7, 7}), num({1, 0}));
    EXPECT_EQ(mod_power({5}, {0}, {1}), num({0}));
}

TEST(mp_mod_power, the_result_may_overwrite_the_base) {
    num x = {123456789, 0, 0, 0, 0, 0, 0, 0};
    num want = ref_mod_power(x, {65537, 0, 0, 0, 0, 0, 0, 0}, p25519);
    num e = {65537, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(mp_mod_power(x.data(), x.data(), e.data(), p25519.data(), 8), 0);
    EXPECT_EQ(x, want);
}

TEST(mp_random_digit, a_range_of_0_gives_the_lower_bound) {
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(mp_random_digit(0, 0), 0u);
        ASSERT_EQ(mp_random_digit(42, 0), 42u);
    }
}

TEST(mp_random_digit, stays_between_lower_and_lower_plus_upper) {
    bool varied = false;
    mp_digit first = mp_random_digit(1000, 500);
    for (int i = 0; i < 5000; ++i) {
        mp_digit d = mp_random_digit(1000, 500);
        ASSERT_GE(d, 1000u);
        ASSERT_LE(d, 1500u);
        varied |= d != first;
    }
    EXPECT_TRUE(varied);
}

TEST(mp_random_digit, spreads_over_the_whole_32_bit_range) {
    bool low = false;
    bool high = false;
    for (int i = 0; i < 5000; ++i) {
        mp_digit d = mp_random_digit(0, 0xFFFFFFFF);
        low |= d < 0x40000000;
        high |= d >= 0xC0000000;
    }
    EXPECT_TRUE(low);
    EXPECT_TRUE(high);
}

// --- The public-key step ---

void store_le(const num& x, unsigned char* p) {
    for (size_t i = 0; i < x.size(); ++i) {
        for (int b = 0; b < 4; ++b)
            p[4 * i + size_t(b)] = static_cast<unsigned char>(x[i] >> (8 * b));
    }
}

const num exponent_1 = {1, 0, 0, 0, 0, 0, 0, 0};
const num exponent_3 = {3, 0, 0, 0, 0, 0, 0, 0};

TEST(rsa_encrypt_blocks, a_64_byte_buffer_is_two_full_blocks_and_an_all_zero_block) {
    unsigned char buf[96];
    for (int i = 0; i < 64; ++i)
        buf[i] = static_cast<unsigned char>(i + 1);
    buf[31] &= 0x7F;
    std::memset(buf + 64, 0xCC, 32);
    unsigned char before[96];
    std::memcpy(before, buf, sizeof buf);
    ASSERT_TRUE(rsa_encrypt_blocks(exponent_1.data(), pk1.data(), buf, 64, 96));
    EXPECT_EQ(0, std::memcmp(buf, before, 64));  // exponent 1: blocks below the modulus stay
    for (int i = 64; i < 96; ++i)
        EXPECT_EQ(buf[i], 0) << i;
}

TEST(rsa_encrypt_blocks, refuses_a_buffer_without_room_for_the_last_block) {
    unsigned char buf[96] = {1, 2, 3};
    unsigned char before[96];
    std::memcpy(before, buf, sizeof buf);
    EXPECT_FALSE(rsa_encrypt_blocks(exponent_3.data(), pk1.data(), buf, 64, 95));
    EXPECT_FALSE(rsa_encrypt_blocks(exponent_3.data(), pk1.data(), buf, 70, 64));
    EXPECT_FALSE(rsa_encrypt_blocks(exponent_3.data(), pk1.data(), buf, 0, 31));
    EXPECT_FALSE(rsa_encrypt_blocks(exponent_3.data(), pk1.data(), buf, -1, 96));
    EXPECT_FALSE(rsa_encrypt_blocks(exponent_3.data(), pk1.data(), buf, INT_MAX, INT_MAX));
    EXPECT_EQ(0, std::memcmp(buf, before, sizeof buf));
    EXPECT_TRUE(rsa_encrypt_blocks(exponent_3.data(), pk1.data(), buf, 63, 64));
}

TEST(rsa_encrypt_blocks, reads_each_block_as_a_little_endian_number) {
    unsigned char buf[32] = {2};
    buf[4] = 1;  // 2 + 2^32
    ASSERT_TRUE(rsa_encrypt_blocks(exponent_3.data(), pk1.data(), buf, 31, 32));
    // (2^32 + 2)^3 = 2^96 + 6 * 2^64 + 12 * 2^32 + 8
    unsigned char want[32] = {8, 0, 0, 0, 12, 0, 0, 0, 6, 0, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(buf, want, 32));
}

TEST(rsa_encrypt_blocks, pads_the_tail_with_zeros_and_raises_every_block) {
    std::mt19937 rng(5);
    const int length = 32 * 3 + 7;
    unsigned char buf[128];
    for (auto& b : buf)
        b = static_cast<unsigned char>(rng());
    unsigned char original[128];
    std::memcpy(original, buf, sizeof buf);
    num m = random_num(rng, 8);
    m[7] |= 0xF0000000;
    num e = {65537, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(rsa_encrypt_blocks(e.data(), m.data(), buf, length, 128));
    for (int k = 0; k < 4; ++k) {
        unsigned char block[32] = {};
        std::memcpy(block, original + 32 * k, k < 3 ? 32 : 7);
        num x(8);
        for (int i = 0; i < 8; ++i) {
            x[size_t(i)] = mp_digit(block[4 * i]) | mp_digit(block[4 * i + 1]) << 8 |
                           mp_digit(block[4 * i + 2]) << 16 | mp_digit(block[4 * i + 3]) << 24;
        }
        unsigned char want[32];
        store_le(ref_mod_power(x, e, m), want);
        EXPECT_EQ(0, std::memcmp(buf + 32 * k, want, 32)) << "block " << k;
    }
}

TEST(rsa_encrypt_blocks, refuses_a_zero_modulus) {
    unsigned char buf[32] = {1};
    num zero(8, 0);
    EXPECT_FALSE(rsa_encrypt_blocks(exponent_3.data(), zero.data(), buf, 1, 32));
    EXPECT_EQ(buf[0], 1);
}

}  // namespace
