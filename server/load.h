// LOAD ... FROM STREAM: the bulk load of the console's TABLDR, from the statement to the end
// marker. The statement is refused ("E" text, then "K") or accepted ("K"); after the int64
// exchange the batches arrive (server/load_batch.h) and their records go into the table through
// one prepared INSERT, one transaction per batch, with the replies written as they happen:
//   "W" text   a record the table refuses: "record N: REASON: ROW\n" (N counts the records of
//              the whole load from 1; ROW is the record without its final separator, at most
//              srv_load_row_shown bytes, control bytes as blanks). REASON is
//              "F fields, table T has C" or SQLite's message (NOT NULL, CHECK, UNIQUE, a STRICT
//              column's type, ...). The row is skipped and the load goes on.
//   "E" text   the load stops: "load stopped at record N" for the stop record
//              (srv_load_stop_record), "load failed at record N: MESSAGE" or
//              "load failed: MESSAGE" when SQLite fails otherwise. Nothing more is inserted; the
//              batches are still read (and checked) until the end marker.
//   "K"        after the end marker: the end of the load.
// W and E texts go into the reply buffer as they happen and are flushed at the end of every
// batch. They are written while no batch is being read: the console reads replies on a thread
// of its own, so a write never waits for long; a client that stops reading stalls the load until
// the idle limit ends the connection.
#pragma once

#include <cstddef>
#include <string_view>

#include "server/session.h"

inline constexpr size_t srv_load_row_shown = 200;  // bytes of a refused record in its "W"

// Answers the load statement text (srv_is_load_statement) and runs the whole exchange. Returns
// false when the connection must end: the client went away, or a batch broke the framing (both
// logged). Logs "conn N ADDR: load into T: R records, B bad" at the end of every accepted load
// (", stopped: TEXT" added after an "E"); with --load-sink the records are only counted and
// "conn N ADDR: load sink: R records, M bytes" comes first. Connection thread.
bool srv_run_load(srv_session& s, std::string_view text);
