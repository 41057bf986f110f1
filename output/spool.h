// The spool copy of the console output. Every write into the spool file is one spool_write: the
// file is opened when the write begins and closed when it ends, so it is never held open between
// writes. A write that fails (the file cannot be opened, a short write, a failed close: a full
// disk, a folder gone) is reported once and ends spooling instead of losing the rest of the copy
// unnoticed. Console thread only.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string_view>

// One write into the spool file (spool_path).
class spool_write {
public:
    // Begins a write of the spool copy when spooling is on: the file is opened for appending.
    spool_write();
    // Begins a write of SPOOL's own line whether spooling is on or not, with mode ("w" starts
    // the file, "a" appends). A file that cannot be opened is reported only with
    // report_open_failure.
    spool_write(const char* mode, bool report_open_failure);
    // Ends the write: closes the file. When a write into it or the close failed, the failure is
    // reported and spooling is off.
    ~spool_write();
    spool_write(const spool_write&) = delete;
    spool_write& operator=(const spool_write&) = delete;

    // Whether the file is open: the write goes somewhere.
    explicit operator bool() const { return f_ != nullptr; }
    // Appends bytes; nothing when the file is not open.
    void put(std::string_view bytes);
    // Appends printf-style text; nothing when the file is not open.
    void print(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
    void vprint(const char* fmt, va_list ap);

private:
    FILE* f_ = nullptr;
};

// Appends printf-style text to the spool file when spooling is on; does nothing otherwise.
void spool_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
