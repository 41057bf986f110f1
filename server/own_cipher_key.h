// norvlite's 256-bit key pair of the own-cipher channel: made once per process at the first
// "~ssl~", handed to clients in clear, and used to unwrap each 32-byte block a client sends.
// OpenSSL stays inside server/own_cipher_key.cpp; callers see only the opaque srv_cipher_key.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr size_t srv_cipher_block_size = 32;  // one 256-bit number, little-endian
inline constexpr size_t srv_cipher_public_size = 2 * srv_cipher_block_size;  // exponent, modulus

struct srv_cipher_key;

// Makes a fresh key pair: public exponent 65537, a modulus of exactly 256 bits (its top bit set,
// so every block a client prepares is below it). Returns the key, owned by the caller (free with
// srv_cipher_key_free), or null with a one-line reason in why. Any thread.
srv_cipher_key* srv_cipher_key_make(std::string& why);

// The key pair of the two primes p and q, given as hexadecimal text (most significant digit
// first). Returns null with why set when they are not usable: their product is not 256 bits,
// they are equal, or 65537 has no inverse modulo (p-1)(q-1). For fixed keys in tests.
srv_cipher_key* srv_cipher_key_from_primes(std::string_view p_hex, std::string_view q_hex,
                                           std::string& why);

void srv_cipher_key_free(srv_cipher_key* k);

// Writes what the server sends after "~ssl~": the exponent, then the modulus, each one 32-byte
// little-endian number. Any thread.
void srv_cipher_key_public(const srv_cipher_key* k, unsigned char out[srv_cipher_public_size]);

// Unwraps one block: out = in ^ d mod m, both 32-byte little-endian numbers. Returns false,
// leaving out zeroed, when in is not below the modulus (no client makes such a block) or
// OpenSSL fails. Any thread; k is only read.
bool srv_cipher_key_unwrap(const srv_cipher_key* k, const unsigned char in[srv_cipher_block_size],
                           unsigned char out[srv_cipher_block_size]);

// The process's key pair, made at the first call; later calls return the same one. Null with
// why set when it cannot be made (a later call tries again). Any thread; the key lives until
// srv_cipher_key_release_shared.
const srv_cipher_key* srv_cipher_key_shared(std::string& why);

// Frees the process's key pair. Only once no connection uses it (at shutdown).
void srv_cipher_key_release_shared();

// Overwrites n bytes of key material so that the compiler cannot drop the stores.
void srv_wipe(void* p, size_t n);
