// The spool copy of the console output: every write opens the spool file for appending, writes
// and closes it again, so the file is never held open between writes. Every writer of the spool
// goes through spool_open and spool_close, so that a write that fails (the file cannot be
// opened, a short write, a failed close: a full disk, a folder gone) is reported once and ends
// spooling instead of losing the rest of the copy unnoticed.
#pragma once

#include <cstdio>

#include "platform/console.h"

// Appends printf-style text to the spool file when spooling is on; does nothing otherwise.
void spool_printf(const char* fmt, ...) NORV_PRINTF(1, 2);

// Opens the spool file (spool_path) with mode for one write. Null when spooling is off, or when
// the file cannot be opened: then the failure is reported and spooling is off.
FILE* spool_open(const char* mode = "ab");

// Closes a file from spool_open. When a write into it or the close failed, the failure is
// reported and spooling is switched off; returns false then.
bool spool_close(FILE* f);

// Reports that a write into the spool file failed, switches spooling off and forgets the file
// name (a later SPOOL OFF writes nothing), so the report comes once.
void spool_write_failed();
