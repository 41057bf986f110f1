// Wire bytes spelled by hand in tests, independently of the encoders under test.
#pragma once

#include <cstdint>
#include <string>

inline std::string be16(uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v)};
}

inline std::string be32(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

// A text on the wire: its int32 length, then its bytes.
inline std::string wire_text(const std::string& s) {
    return be32(static_cast<uint32_t>(s.size())) + s;
}
