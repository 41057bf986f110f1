// Fuzz target: the DESC name check on arbitrary text, and the DESC command on the same text as a
// typed line (its statement goes nowhere: the connection is refused at once).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "shell/desc.h"
#include "tests/fuzz/command_line.h"
#include "tests/fuzz/console_sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    desc_parse_result parsed = desc_parse(text);
    if (parsed.last_part_len < 0 || parsed.last_part_len > 255) std::abort();
    if (parsed.empty && !parsed.message.empty()) std::abort();

    console_sandbox_init();
    console_sandbox_reset();
    console_capture capture;
    std::string line = "desc";
    line.append(text);
    command_line cl = command_line_of(line);
    if (cl.keyword.size() != 4) return 0;  // "descX...": not the DESC command
    try {
        command_desc(cl);
    } catch (const console_exit&) {
    }
    return 0;
}
