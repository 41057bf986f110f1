// Fuzz target: the TABLDR argument grammar, the row terminator decoding and the load statement.
// Every text the parser hands out must point into the line it cut; a decoded terminator must
// fit its room exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "loader/load.h"

namespace {

void check_inside(const char* p, const std::vector<char>& line) {
    if (p && (p < line.data() || p >= line.data() + line.size())) std::abort();
}

// Decodes into a heap block of exactly row_terminator_max bytes, so a write past it is caught.
void decode(const char* rt) {
    auto out = std::make_unique<unsigned char[]>(row_terminator_max);
    int n = decode_row_terminator(rt, out.get());
    if (n == 0 || n > row_terminator_max) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The line as the command hands it over: zero-terminated (a zero byte inside ends it early).
    std::vector<char> line(data, data + size);
    line.push_back('\0');
    decode(line.data());

    load_request r = parse_load_arguments(line.data());
    for (const char* p : {r.table, r.datafile, r.ft, r.rt, r.log, r.errlog})
        check_inside(p, line);
    if (r.mode < 0 || r.mode > 2) std::abort();
    if (r.rt) decode(r.rt);
    if (r.table && r.ft) {
        std::string sql = build_load_statement(r);
        if (sql.find(r.table) == std::string::npos) std::abort();
    }
    return 0;
}
