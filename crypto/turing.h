// The Turing stream cipher (word-oriented LFSR with a keyed non-linear filter, 340 bytes of
// keystream per generation call) and the keystream rule of the own-cipher channel built on it.
// A state is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int turing_block_bytes = 340;  // keystream bytes per turing_gen
inline constexpr int turing_max_key_words = 8;
inline constexpr int turing_register_words = 17;
inline constexpr int keystream_period = 3400;  // bytes each generated block serves

struct turing_state {
    int32_t key_len;                              // key words in use (at most 8)
    uint32_t key[turing_max_key_words];           // the mixed key words
    uint32_t reg[turing_register_words];          // the shift register
    uint32_t s0[256], s1[256], s2[256], s3[256];  // the keyed S-boxes
    int32_t position;                             // next keystream byte of the channel, 0..3399
    unsigned char block[turing_block_bytes];      // the last generated block
};

// Key set-up. A length that is not a multiple of 4 or above 32 is normalised: at most 32 bytes
// are used, rounded down to a multiple of 4 (a 30-byte key acts as 28 bytes, 40 as 32).
void turing_key(turing_state* s, const unsigned char* key, int length);

// Loads the register from the key and an initialisation vector of length bytes (null, 0 for
// none). Returns false, leaving the state unusable, when length is not a multiple of 4 or the
// vector and the key do not fit the register together (more than 48 bytes).
bool turing_iv(turing_state* s, const unsigned char* iv, int length);

// Writes the next 340 keystream bytes to out (each word most significant byte first). Returns
// 340.
int turing_gen(turing_state* s, unsigned char* out);

// Makes s ready as one direction of an own-cipher channel: key set-up with the connection key
// (key_len bytes), no vector, one block generated, position 0.
void keystream_init(turing_state* s, const unsigned char* key, int key_len);

// Enciphers or deciphers n bytes in place, in stream order: byte p of the stream is XORed with
// block[p mod 340]; after 3400 bytes the next block is generated and p starts again at 0.
void keystream_apply(turing_state* s, unsigned char* data, size_t n);

// As keystream_apply, from src into dst (src is left untouched).
void keystream_apply_copy(turing_state* s, unsigned char* dst, const unsigned char* src, size_t n);
