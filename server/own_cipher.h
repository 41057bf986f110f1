// norvlite's side of the own-cipher handshake that follows "~ssl~": the public key goes out in
// clear, the wrapped connection key and login text come in as 32-byte blocks, and the channel
// turns to the keystreams. The unwrapping is a small state machine, tested without sockets.
#pragma once

#include <string>

#include "server/channel.h"
#include "server/own_cipher_key.h"

// The longest login text a client can wrap: its 256-byte buffer holds the key block, the text
// spread 30 bytes to a block of 32, the zero byte, and the filling of the last block.
inline constexpr size_t srv_own_cipher_text_max = 209;
inline constexpr size_t srv_text_block_chars = 30;       // text bytes in a full block
inline constexpr unsigned char srv_block_filler = 0x07;  // bytes 30 and 31 of a full block

// Blocks of the longest text: six full ones and a last one with 29 characters and the zero byte.
inline constexpr size_t srv_own_cipher_text_blocks_max =
    (srv_own_cipher_text_max + 2 * (srv_own_cipher_text_max / srv_text_block_chars) + 1 +
     srv_cipher_block_size - 1) /
    srv_cipher_block_size;
static_assert(srv_own_cipher_text_blocks_max == 7);
static_assert(srv_cipher_key_size == srv_cipher_block_size);  // the key travels as one block

// What an unwrapped text block carries.
enum class srv_text_block {
    full,     // 30 text bytes, then 0x07 0x07
    last,     // the text's last 0 to 29 bytes, its zero byte, zeros to the end
    garbage,  // anything else: no client makes it
};

// Classifies plain (an unwrapped text block) and appends its text bytes to text when it is full
// or last. Pure.
srv_text_block srv_take_text_block(const unsigned char plain[srv_cipher_block_size],
                                   std::string& text);

// Progress of unwrapping what a client sent: the key block first, then the text blocks.
struct srv_login_unwrap {
    unsigned char key[srv_cipher_key_size] = {};  // the connection key, once the key block is in
    std::string text;                             // login text recovered so far
    size_t blocks = 0;                            // blocks taken, the key block included
};

enum class srv_unwrap_status {
    more,  // another block is expected
    done,  // the last text block is in: u.text is the whole login text
    bad,   // why says what was wrong; the handshake is over
};

// Takes the next 32-byte block as it came off the wire. Bad when it is not below the modulus,
// when the key block has its top bit set, when a text block is garbage, or when the text runs
// past srv_own_cipher_text_max without its zero byte. Any thread; k is only read.
srv_unwrap_status srv_unwrap_block(const srv_cipher_key* k, srv_login_unwrap& u,
                                   const unsigned char block[srv_cipher_block_size],
                                   std::string& why);

// Runs the handshake after "~ssl~" on the clear channel ch within the deadline, with the
// process's key pair. On success the login text is in text and ch is an own-cipher channel, so
// the verdict leaves enciphered: returns true. Otherwise returns false with a one-line reason in
// why; ch is still clear and nothing more should be sent. Connection thread.
bool srv_own_cipher_accept(srv_channel& ch, srv_deadline deadline, std::string& text,
                           std::string& why);
