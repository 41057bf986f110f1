// The fixed tables of the Turing cipher, shared by the generator (turing.cpp) and the tests that
// check them against the recipes they come from. Read-only, so any thread may use them.
#pragma once

#include <cstdint>

extern const uint8_t turing_sbox[256];     // 8-bit permutation without fixed points
extern const uint32_t turing_qbox[256];    // 8-to-32-bit table of the keyed S-boxes and key mixing
extern const uint32_t turing_multab[256];  // register feedback: 0xD02B4367 times x, bytewise
