// A small unsigned multiple-precision library over fixed arrays of 32-bit digits (least
// significant digit first, an explicit digit count on every call), and the public-key step that
// wraps the own-cipher channel's connection key and login text. Nothing here allocates.
#pragma once

#include <cstdint>

using mp_digit = uint32_t;
inline constexpr int mp_max_digits = 51;    // room of the temporaries (1632 bits)
inline constexpr int rsa_block_bytes = 32;  // one 256-bit number on the wire, little-endian
inline constexpr int rsa_digits = 8;

// a = x * y mod m, all of n digits. REQUIRES: 0 < n <= mp_max_digits, m != 0.
void mp_mod_multiply(mp_digit* a, const mp_digit* x, const mp_digit* y, const mp_digit* m, int n);

// y = x ^ e mod m, all of n digits, left to right one bit at a time. Returns 0, or -1 when n is 0
// or above mp_max_digits (y is not written). REQUIRES: m != 0.
int mp_mod_power(mp_digit* y, const mp_digit* x, const mp_digit* e, const mp_digit* m, int n);

// lower + (rand() / 32767.0) * upper, the C library's generator seeded from the clocks on the
// first call. Not for keys.
mp_digit mp_random_digit(mp_digit lower, mp_digit upper);

// Raises every 32-byte block of buf[0, length) to e modulo m in place (8-digit numbers, each
// block read as a little-endian integer); the last 0 to 31 bytes are copied into a zero-filled
// block, which is raised too and written as 32 bytes at its position, so buf needs
// (length / 32 + 1) * 32 bytes. Returns false, writing nothing, when cap is smaller than that or
// the modulus is zero.
bool rsa_encrypt_blocks(const mp_digit e[rsa_digits], const mp_digit m[rsa_digits],
                        unsigned char* buf, int length, int cap);
