// The console's side of the own-cipher channel for the norvlite tests, written from the channel's
// description and independently of the server's helpers: the connection key, the text spread
// into 32-byte blocks, each block raised to the server's exponent with OpenSSL, then the
// keystreams over the socket.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "crypto/turing.h"
#include "tests/server/test_client.h"

// A random 32-byte connection key, XORed with the password's bytes in turn, top bit of byte 31
// cleared.
std::string test_connection_key(std::string_view password);

// The login text laid out in blocks: text block j holds text bytes 30j..30j+29 then 0x07 0x07;
// the rest of the text and a zero byte start the last block, zero-filled to 32 bytes.
std::string test_spread_text(std::string_view text);

// Raises every 32-byte block of plain (a multiple of 32 bytes) to the public exponent modulo the
// public modulus, all little-endian numbers; public_key is exponent then modulus, 64 bytes.
std::string test_wrap_blocks(std::string_view public_key, std::string_view plain);

// The keystream rule done the slow way, for checking the server's: byte p of a direction is
// XORed with block[p mod 340] of the (p / 3400)-th block turing_gen makes after key set-up.
std::string test_keystream(std::string_view key, size_t n);

// One own-cipher connection to norvlite, kept open until destruction.
struct own_cipher_client {
    test_socket sock;
    std::string public_key;  // the 64 bytes the server sent in clear
    std::string key;         // the connection key
    // The keystreams, made by login.
    std::unique_ptr<turing_state> send_state, recv_state;
    std::string why;  // what failed last

    // Connects, sends "~ssl~" and reads the 64-byte public key. False with why set on failure.
    bool open(int port);
    // Sends the key block and the wrapped text in one send (the key from the password, unless
    // key_override is given), starts the keystreams and returns the deciphered verdict byte;
    // empty when none came.
    std::string login(std::string_view text, std::string_view password,
                      std::string_view key_override = {});
    // Sends clear bytes enciphered.
    bool send(std::string_view clear);
    // Reads up to max bytes (until the peer closes or timeout_ms passes), deciphered.
    std::string recv(size_t max, int timeout_ms);
};
