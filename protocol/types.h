// Data type codes: their display names and the byte-order conversion of received values.
#pragma once

#include <cstdint>

// Converts a received value of the given type code in place from big-endian to host order, by
// the widths of the type table. Only whole fields are converted: a value shorter than its
// type's width is left as received (the reader never reaches past the value's bytes).
void db_convert_value(int32_t type, char* data, int32_t length);
