// Spool writes: open for appending, write, close.
#include "output/spool.h"

#include <cstdarg>
#include <cstdio>

#include "shell/console_state.h"

void spool_printf(const char* fmt, ...) {
    if (!g_console.spool_on || !g_console.spool_path) return;
    FILE* f = std::fopen(g_console.spool_path, "a");
    if (!f) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(f, fmt, ap);
    va_end(ap);
    std::fclose(f);
}
