// The spool copy of the console output: every write opens the spool file for appending, writes
// and closes it again, so the file is never held open between writes.
#pragma once

// Appends printf-style text to the spool file when spooling is on; does nothing otherwise or
// when the file cannot be opened.
void spool_printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
