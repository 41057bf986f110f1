// Row listing and table description of a query result on the console (and the spool copy).
#pragma once

#include <cstdint>
#include <string>

struct db_result;

// Lists the rows: headings per page, a bar after every value, the pause after each page when
// B_PAUSE is on, Ctrl+C ending the listing, and the spool copy of every row when spooling.
// Console thread only; the control handler is armed while the rows are listed.
void list_rows(db_result* r);

// Prints the column description of a result (DESC): name, nullability and type per column.
void describe_columns(db_result* r);

// The heading name of a column: after its first '%', else after its first '.', else whole.
const char* column_display_name(const char* name);

// Appends a column's type as the heading (SHOW_TYPE) and DESC print it: the type name, with
// "(precision,scale)" or "(length)" from type_mod as the type table says.
void column_type_text(int type, int32_t type_mod, std::string& out);
