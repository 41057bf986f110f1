// The one dispatch point of a statement message: norvlite's own statements (SHOW, SET, the
// norvlite message statements, the cursor statements) are answered here, everything else runs
// on SQLite.
#pragma once

#include "server/session.h"
#include "server/statement_message.h"

// Answers m completely (the reply ends in "K" and is flushed). Returns false when the
// connection must end: the client is gone or a fault switch fired. Connection thread.
bool srv_dispatch(srv_session& s, const srv_statement& m);
