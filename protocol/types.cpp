// Display names of the type codes, from the type table.
#include "protocol/db.h"
#include "protocol/type_table.h"

const char* db_type_name(int code) {
    return db_type_of(code).display;
}
