// One-line event log of norvlite on standard error (standard output carries only the
// listening line, which tests read).
#pragma once

// Writes "norvlite: " and the formatted text and a line end to stderr in one write, so lines of
// different connection threads never interleave. Any thread.
void srv_log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
