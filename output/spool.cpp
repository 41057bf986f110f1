// Spool writes: open for appending, write, close; a failure is reported once and ends spooling.
#include "output/spool.h"

#include <cstdarg>

#include "platform/console.h"
#include "state/console_state.h"

void spool_write_failed() {
    console_state& s = g_console;
    con_printf("Writing the spool file %s failed: spooling is off.\r\n",
               s.spool_path ? s.spool_path : s.spool_name);
    s.spool_on = false;
    delete[] s.spool_path;
    s.spool_path = nullptr;
}

FILE* spool_open(const char* mode) {
    if (!g_console.spool_path) return nullptr;
    FILE* f = std::fopen(g_console.spool_path, mode);
    if (!f) spool_write_failed();
    return f;
}

bool spool_close(FILE* f) {
    bool failed = std::ferror(f) != 0;
    failed |= std::fclose(f) != 0;
    if (failed) spool_write_failed();
    return !failed;
}

void spool_printf(const char* fmt, ...) {
    if (!g_console.spool_on) return;
    FILE* f = spool_open();
    if (!f) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(f, fmt, ap);
    va_end(ap);
    spool_close(f);
}
