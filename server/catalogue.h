// The temporary views every connection gets, so that the statements the console sends on its own
// are answered by SQLite from its catalogue: DUAL, dba_tables, and sys_schemas and sys_tables
// for IMP's question whether a table exists.
#pragma once

#include <string>

struct sqlite3;

// Creates the views in db's temp schema (never in the database file):
//   dual(dummy)             one row, 'X'
//   dba_tables(table_name)  the user tables of main, sorted by name
//   sys_schemas(db_id, schema_id, schema_name, current_db_id)
//                           one row per schema SQLite lists: main (schema_id 0), temp (1) and
//                           the attached ones (2 on)
//   sys_tables(db_id, schema_id, table_name, current_db_id, current_schemaid)
//                           one row per user table (type 'table', not sqlite_*) of every schema
// db_id and current_db_id are always 1 and current_schemaid is 0 (main): they are columns, so
// the console's bare identifiers current_db_id and current_schemaid resolve in its queries.
// The views read the catalogue when queried, so later CREATE, DROP, ATTACH and DETACH show.
// Returns false with why set when SQLite refuses. Connection thread.
bool srv_create_catalogue_views(sqlite3* db, std::string& why);
