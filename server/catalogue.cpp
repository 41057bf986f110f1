// The catalogue views of a connection, made of SQLite's own listings: pragma_database_list for
// the schemas and pragma_table_list for the tables of all of them.
#include "server/catalogue.h"

#include <sqlite3.h>

namespace {

constexpr const char* views_sql =
    "CREATE TEMP VIEW dual(dummy) AS SELECT 'X';"
    "CREATE TEMP VIEW dba_tables(table_name) AS SELECT name FROM main.sqlite_schema "
    "WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\' ORDER BY name;"
    "CREATE TEMP VIEW sys_schemas(db_id, schema_id, schema_name, current_db_id) AS "
    "SELECT 1, seq, name, 1 FROM pragma_database_list;"
    "CREATE TEMP VIEW sys_tables(db_id, schema_id, table_name, current_db_id, current_schemaid) "
    "AS SELECT 1, d.seq, t.name, 1, 0 FROM pragma_database_list AS d "
    "JOIN pragma_table_list AS t ON t.schema = d.name "
    "WHERE t.type = 'table' AND t.name NOT LIKE 'sqlite\\_%' ESCAPE '\\';";

}  // namespace

bool srv_create_catalogue_views(sqlite3* db, std::string& why) {
    char* err = nullptr;
    if (sqlite3_exec(db, views_sql, nullptr, nullptr, &err) == SQLITE_OK) return true;
    why = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    return false;
}
