// The own-cipher handshake after "~ssl~": exponent and modulus out in clear, then one 32-byte
// block at a time in, never more than the longest login text needs, so nothing of what follows
// the login is read before the channel turns to the keystreams.
#include "server/own_cipher.h"

#include <algorithm>

namespace {

inline constexpr size_t filler_at = srv_cipher_block_size - 2;  // bytes 30 and 31

// Wipes the connection key however the handshake ends.
struct key_wiper {
    srv_login_unwrap& u;
    ~key_wiper() { srv_wipe(u.key, sizeof u.key); }
};

}  // namespace

srv_text_block srv_take_text_block(const unsigned char plain[srv_cipher_block_size],
                                   std::string& text) {
    const unsigned char* end = plain + srv_cipher_block_size;
    const unsigned char* zero = std::find(plain, plain + srv_text_block_chars, 0);
    if (plain[filler_at] == srv_block_filler && plain[filler_at + 1] == srv_block_filler) {
        if (zero != plain + srv_text_block_chars) return srv_text_block::garbage;
        text.append(reinterpret_cast<const char*>(plain), srv_text_block_chars);
        return srv_text_block::full;
    }
    if (zero == plain + srv_text_block_chars) return srv_text_block::garbage;
    if (!std::all_of(zero, end, [](unsigned char b) { return b == 0; })) {
        return srv_text_block::garbage;
    }
    text.append(reinterpret_cast<const char*>(plain), static_cast<size_t>(zero - plain));
    return srv_text_block::last;
}

srv_unwrap_status srv_unwrap_block(const srv_cipher_key* k, srv_login_unwrap& u,
                                   const unsigned char block[srv_cipher_block_size],
                                   std::string& why) {
    unsigned char plain[srv_cipher_block_size];
    const size_t index = u.blocks++;
    if (!srv_cipher_key_unwrap(k, block, plain)) {
        why = "block " + std::to_string(index) + " is not below the modulus";
        return srv_unwrap_status::bad;
    }
    if (index == 0) {
        std::copy(plain, plain + srv_cipher_block_size, u.key);
        srv_wipe(plain, sizeof plain);
        if (u.key[srv_cipher_key_size - 1] & 0x80) {
            why = "the key block has its top bit set";
            return srv_unwrap_status::bad;
        }
        return srv_unwrap_status::more;
    }
    switch (srv_take_text_block(plain, u.text)) {
        case srv_text_block::full:
            if (u.text.size() > srv_own_cipher_text_max) {
                why = "no end of the login text within " + std::to_string(srv_own_cipher_text_max) +
                      " characters";
                return srv_unwrap_status::bad;
            }
            return srv_unwrap_status::more;
        case srv_text_block::last:
            return srv_unwrap_status::done;
        case srv_text_block::garbage:
            break;
    }
    why = "block " + std::to_string(index) + " does not unwrap to login text";
    return srv_unwrap_status::bad;
}

bool srv_own_cipher_accept(srv_channel& ch, srv_deadline deadline, std::string& text,
                           std::string& why) {
    const srv_cipher_key* k = srv_cipher_key_shared(why);
    if (!k) {
        why = "no key pair: " + why;
        return false;
    }
    unsigned char public_key[srv_cipher_public_size];
    srv_cipher_key_public(k, public_key);
    if (!srv_send_all(ch, public_key, sizeof public_key, deadline)) {
        why = "client gone before the public key was sent";
        return false;
    }
    srv_login_unwrap u;
    key_wiper wiper{u};
    for (;;) {
        unsigned char block[srv_cipher_block_size];
        if (!srv_recv_exact(ch, block, sizeof block, deadline)) {
            why = "login blocks not complete (closed or late) after " + std::to_string(u.blocks) +
                  " of them";
            return false;
        }
        srv_unwrap_status st = srv_unwrap_block(k, u, block, why);
        if (st == srv_unwrap_status::bad) return false;
        if (st == srv_unwrap_status::done) break;
    }
    srv_channel_start_own_cipher(ch, u.key);
    text = std::move(u.text);
    return true;
}
