// Row listing and table description of a query result on the console (and the spool copy).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "output/render.h"

struct db_result;

// The settings a listing reads.
struct listing_options {
    render_settings values;  // NULL text and date format of the values
    int32_t pagesize;        // rows per page; 0: one heading before all rows and no pause
    bool heading;            // a heading (names, separator line) before each page
    bool show_type;          // the heading names each column's type too
    bool pause;              // a key is read after each page (B_PAUSE)
    bool desc_mode;          // the result describes a table: one heading at most, no pause
};

// Where a listing writes, and what it reads back while it runs. console receives every byte of
// the listing, some rows at a time. spool_begin, when set, begins a row's spool copy and says
// whether the row has one; spool_put appends to the copy; spool_end ends the copy of a row whose
// spool_begin said yes, also when the listing ends inside the row. key reads the key after a
// page: 'q', 'Q' and Escape end the listing. cancel is the request the control handler sets: the
// listing ends after the row during which it was set, and clears it.
struct listing_io {
    void* ctx;  // handed to every function below
    void (*console)(void* ctx, const char* data, size_t n);
    bool (*spool_begin)(void* ctx);
    void (*spool_put)(void* ctx, const char* data, size_t n);
    void (*spool_end)(void* ctx);
    int (*key)(void* ctx);
    std::atomic<bool>* cancel;
};

// Lists the rows of r from its first: headings per page, a bar after every value, the pause
// after each page, the spool copy of every row (each spooled value starts with a blank).
// An empty result prints its heading on the console only.
void list_rows(db_result* r, const listing_options& o, const listing_io& io);

// The console's listing: the settings of the console record, the console, the spool file while
// spooling (opened for every row), the console's keys with the control handler armed while the
// rows are listed, so that Ctrl+C ends the listing. Console thread only.
void list_rows(db_result* r);

// Prints the column description of a result (DESC): name, nullability and type per column.
void describe_columns(db_result* r);

// The heading name of a column: after its first '%', else after its first '.', else whole.
const char* column_display_name(const char* name);

// Appends a column's type as the heading (SHOW_TYPE) and DESC print it: the type name, with
// "(precision,scale)" or "(length)" from type_mod as the type table says.
void column_type_text(int type, int32_t type_mod, std::string& out);
