// Spool writes: open, write, close; a failure is reported once and ends spooling.
#include "output/spool.h"

#include <cstdarg>

#include "platform/console.h"
#include "state/console_state.h"

namespace {

// Reports that a write into the spool file failed, switches spooling off and forgets the file
// name (a later SPOOL OFF writes nothing), so the report comes once.
void spool_write_failed() {
    console_state& s = g_console;
    con_printf("Writing the spool file %s failed: spooling is off.\r\n",
               s.spool_path ? s.spool_path : s.spool_name);
    s.spool_on = false;
    delete[] s.spool_path;
    s.spool_path = nullptr;
}

}  // namespace

spool_write::spool_write() : spool_write(nullptr, true) {}

spool_write::spool_write(const char* mode, bool report_open_failure) {
    // Without a mode this is the copy of the output, written only while spooling is on.
    if (!mode && !g_console.spool_on) return;
    if (!g_console.spool_path) return;
    f_ = std::fopen(g_console.spool_path, mode ? mode : "a");
    if (!f_ && report_open_failure) spool_write_failed();
}

spool_write::~spool_write() {
    if (!f_) return;
    bool failed = std::ferror(f_) != 0;
    failed |= std::fclose(f_) != 0;
    if (failed) spool_write_failed();
}

void spool_write::put(std::string_view bytes) {
    if (f_) std::fwrite(bytes.data(), 1, bytes.size(), f_);
}

void spool_write::vprint(const char* fmt, va_list ap) {
    if (f_) std::vfprintf(f_, fmt, ap);
}

void spool_write::print(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vprint(fmt, ap);
    va_end(ap);
}

void spool_printf(const char* fmt, ...) {
    spool_write w;
    va_list ap;
    va_start(ap, fmt);
    w.vprint(fmt, ap);
    va_end(ap);
}
