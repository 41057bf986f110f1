// Fuzz target: value rendering for every type code with arbitrary bytes and lengths. The first
// byte is the type code (as a signed byte: negative and unknown codes too), the second shapes the
// date format and the length; the rest is the value, in a block of exactly its size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "output/render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int type = static_cast<int8_t>(data[0]);
    const uint8_t shape = data[1];
    const size_t n = size - 2;
    auto block = std::make_unique<char[]>(n > 0 ? n : 1);
    if (n > 0) std::memcpy(block.get(), data + 2, n);
    // Lengths as the reader hands them out; the top bit asks for a negative one as well.
    const int len = (shape & 0x80) ? -int(n) - 1 : int(n);

    // Positions 0-3 each (not always a permutation); separator texts with or without an end.
    datef_t f{};
    f.year_pos = shape & 3;
    f.month_pos = (shape >> 2) & 3;
    f.day_pos = (shape >> 4) & 3;
    if (shape & 0x40) {
        std::memset(f.datef_p1, '-', sizeof f.datef_p1);
        std::memset(f.datef_p2, '/', sizeof f.datef_p2);
        std::memset(f.datef_p3, '.', sizeof f.datef_p3);
    } else {
        std::strcpy(f.datef_p1, "-");
        std::strcpy(f.datef_p2, "-");
    }
    std::string console, spool, exported;
    render_settings s{"<NULL>", &f};
    render_value(type, block.get(), len, s, console, &spool);
    render_value(type, block.get(), len, render_settings{"", nullptr}, console, nullptr);
    render_export_value(type, block.get(), len, exported);
    return 0;
}
