// Fuzz target: SET, SHOW and RESET as typed at the prompt, and DATE_FORMAT patterns on their own
// (the first byte picks which, and the separator after the command word). A date is then rendered
// with the resulting date format, whose separator texts must still be terminated.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "output/render.h"
#include "shell/settings.h"
#include "tests/fuzz/command_line.h"
#include "tests/fuzz/console_sandbox.h"

namespace {

void render_dates(const datef_t& f) {
    std::string console, spool;
    render_settings s{"<NULL>", &f};
    const int32_t days = 19000;
    const int64_t ms = int64_t{1640995200123};
    render_value(10, reinterpret_cast<const char*>(&days), 4, s, console, &spool);
    render_value(13, reinterpret_cast<const char*>(&ms), 8, s, console, &spool);
    for (const char* text : {f.datef_p1, f.datef_p2, f.datef_p3})
        if (!std::memchr(text, '\0', datef_text_size)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    console_sandbox_init();
    console_sandbox_reset();
    console_capture capture;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const int which = data[0] & 3;
    if (which == 0) {
        datef_t f{};
        parse_date_format(rest, f);
        render_dates(f);
        return 0;
    }
    static const char* const words[] = {"", "SHOW", "set", "Reset"};
    static const char separators[] = {' ', '\t', ';', ' '};
    std::string line = words[which];
    line += separators[(data[0] >> 2) & 3];
    line.append(rest);
    command_line cl = command_line_of(line);
    try {
        if (which == 1) command_show(cl);
        if (which == 2) command_set(cl);
        if (which == 3) command_reset(cl);
    } catch (const console_exit&) {
    }
    render_dates(g_datef);
    return 0;
}
