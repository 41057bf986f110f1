// The event log: each call formats one line and hands it to the kernel in a single write(2), so
// concurrent connection threads produce whole lines.
#include "server/log.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace {
inline constexpr int log_line_size = 1024;
}

void srv_log(const char* fmt, ...) {
    char line[log_line_size];
    int n = std::snprintf(line, sizeof line, "norvlite: ");
    va_list ap;
    va_start(ap, fmt);
    int m = std::vsnprintf(line + n, sizeof line - n, fmt, ap);
    va_end(ap);
    if (m < 0) m = 0;
    size_t len = static_cast<size_t>(n) + static_cast<size_t>(m);
    if (len > sizeof line - 2) len = sizeof line - 2;  // a truncated line still ends in '\n'
    line[len++] = '\n';
    ssize_t unused = write(STDERR_FILENO, line, len);
    (void)unused;
}
