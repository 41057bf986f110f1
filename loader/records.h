// The record scanner of load streaming: a chunk of the data file is cut into records at every
// row terminator. Kept apart from the chunk loop (stream.cpp) so that it can be tested on its own.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

// The distance from from to the next row terminator (t bytes at lt, 1 <= t) that lies wholly
// before end, or -1 when there is none.
inline long load_find_row_end(const char* from, const char* end, const unsigned char* lt, int t) {
    if (t == 1) {
        const void* p = std::memchr(from, lt[0], size_t(end - from));
        return p ? static_cast<const char*>(p) - from : -1;
    }
    const size_t at = std::string_view(from, size_t(end - from))
                          .find(std::string_view(reinterpret_cast<const char*>(lt), size_t(t)));
    return at == std::string_view::npos ? -1 : long(at);
}

// Calls on_record(record, length) for every record of buf[0, len) that a terminator ends, in
// order (the terminator is not part of the record). Returns the offset just after the last
// terminator found: the bytes from there on begin a record that the chunk does not finish.
// REQUIRES: 1 <= t.
template <class F>
size_t load_cut_records(const char* buf, size_t len, const unsigned char* lt, int t,
                        F&& on_record) {
    const char* end = buf + len;
    size_t offset = 0;
    long r;
    while ((r = load_find_row_end(buf + offset, end, lt, t)) >= 0) {
        on_record(buf + offset, size_t(r));
        offset += size_t(r) + size_t(t);
    }
    return offset;
}
