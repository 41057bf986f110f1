// Fuzz target: the record scanner of load streaming. Input: the terminator's length (1 to 7) in
// the first byte, the terminator, then a chunk of the data file. The records and terminators must
// make up the chunk to the returned offset; no terminator may lie inside a record or after it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "loader/load.h"
#include "loader/records.h"

namespace {

// Whether the n bytes at p hold the terminator somewhere.
bool holds(const char* p, size_t n, const unsigned char* lt, int t) {
    return std::string_view(p, n).find(std::string_view(reinterpret_cast<const char*>(lt),
                                                        size_t(t))) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int t = 1 + data[0] % row_terminator_max;
    if (size < size_t(1 + t)) return 0;
    const unsigned char* lt = data + 1;
    const size_t len = size - 1 - size_t(t);
    // The chunk in a block of its own size: a read past its end is caught.
    auto chunk = std::make_unique<char[]>(len + 1);
    if (len > 0) std::memcpy(chunk.get(), data + 1 + t, len);
    const char* buf = chunk.get();

    std::string rebuilt;
    size_t offset = load_cut_records(buf, len, lt, t, [&](const char* record, size_t n) {
        if (record < buf || record + n > buf + len) std::abort();
        if (holds(record, n, lt, t)) std::abort();
        rebuilt.append(record, n);
        rebuilt.append(reinterpret_cast<const char*>(lt), size_t(t));
    });
    if (offset > len || rebuilt.size() != offset) std::abort();
    if (std::memcmp(rebuilt.data(), buf, offset) != 0) std::abort();
    if (holds(buf + offset, len - offset, lt, t)) std::abort();
    return 0;
}
