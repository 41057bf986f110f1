// Data type codes: the byte-order conversion of received values, by the type table.
#pragma once

#include <cstdint>
#include <cstring>

#include "protocol/type_table.h"

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

// The first count 64-bit fields that lie whole within length bytes.
inline void swap_64s(char* p, int32_t count, int32_t length) {
    for (int32_t at = 0; at < count * 8 && at + 8 <= length; at += 8)
        swap_at<uint64_t>(p + at);
}

}  // namespace type_detail

// Converts a received value of the given type code in place from big-endian to host order, by
// the byte order of its row in the type table. Only whole fields are converted: a value shorter
// than its type's width is left as received (the reader never reaches past the value's bytes).
inline void db_convert_value(int32_t type, char* data, int32_t length) {
    using type_detail::swap_at;
    if (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) return;
    switch (db_type_of(type).order) {
        case db_byte_order::as_is:
            break;
        case db_byte_order::be16:
            if (length >= 2) swap_at<uint16_t>(data);
            break;
        case db_byte_order::be32:
            if (length >= 4) swap_at<uint32_t>(data);
            break;
        case db_byte_order::be64:
            if (length >= 8) swap_at<uint64_t>(data);
            break;
        case db_byte_order::be32_16:
            if (length >= 4) swap_at<uint32_t>(data);
            if (length >= 6) swap_at<uint16_t>(data + 4);
            break;
        case db_byte_order::be64_16:
            if (length >= 8) swap_at<uint64_t>(data);
            if (length >= 10) swap_at<uint16_t>(data + 8);
            break;
        case db_byte_order::be64x2:
            type_detail::swap_64s(data, 2, length);
            break;
        case db_byte_order::be64x4:
            type_detail::swap_64s(data, 4, length);
            break;
    }
}
