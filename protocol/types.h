// Data type codes: their display names and the byte-order conversion of received values.
#pragma once

#include <cstdint>
#include <cstring>

namespace type_detail {

template <class T>
inline void swap_at(char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (sizeof(T) == 2) v = __builtin_bswap16(v);
    if constexpr (sizeof(T) == 4) v = __builtin_bswap32(v);
    if constexpr (sizeof(T) == 8) v = __builtin_bswap64(v);
    std::memcpy(p, &v, sizeof v);
}

}  // namespace type_detail

// Converts a received value of the given type code in place from big-endian to host order, by
// the widths of the type table. Only whole fields are converted: a value shorter than its
// type's width is left as received (the reader never reaches past the value's bytes).
inline void db_convert_value(int32_t type, char* data, int32_t length) {
    using type_detail::swap_at;
    if (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) return;
    switch (type) {
        case 4:
            if (length >= 2) swap_at<uint16_t>(data);
            break;
        case 5:
        case 8:
        case 10:
        case 11:
        case 15:
        case 16:
        case 17:
        case 18:
        case 19:
        case 20:
        case 21:
        case 22:
        case 23:
            if (length >= 4) swap_at<uint32_t>(data);
            break;
        case 6:
        case 9:
        case 13:
        case 24:
        case 25:
        case 26:
        case 27:
            if (length >= 8) swap_at<uint64_t>(data);
            break;
        case 12:  // time, then zone offset
            if (length >= 4) swap_at<uint32_t>(data);
            if (length >= 6) swap_at<uint16_t>(data + 4);
            break;
        case 14:  // date and time, then zone offset
            if (length >= 8) swap_at<uint64_t>(data);
            if (length >= 10) swap_at<uint16_t>(data + 8);
            break;
        case 36:  // two doubles
        case 37:  // four doubles
            for (int32_t at = 0; at < (type == 36 ? 16 : 32) && at + 8 <= length; at += 8)
                swap_at<uint64_t>(data + at);
            break;
        default:
            break;  // single bytes, texts and opaque values travel as they are
    }
}
