// The table description of DESC: one line per column with its name, NOT NULL and its type,
// taken from the descriptors of an empty query on the table.
#include <cstring>

#include "output/grid.h"
#include "platform/console.h"
#include "protocol/db.h"
#include "state/console_state.h"

void describe_columns(db_result* r) {
    db_result_rewind(r);
    con_printf("Column_Name                                       NULL       Data_Type");
    con_printf(
        "\r\n------------------------------------------------------------------------------\r\n");
    for (int i = 0; i < db_result_col_count(r); ++i) {
        const char* name = db_result_col_name(r, i);
        // A qualified column name loses the table name and its dot.
        if (std::strchr(name, '.') && std::strlen(name) > size_t(g_console.desc_pos))
            name += g_console.desc_pos + 1;
        con_printf("%-48s | ", name);
        con_printf((db_result_col_flags(r, i) & 2) ? "NOT NULL | " : "         | ");
        int type = db_result_col_type(r, i);
        int32_t mod = db_result_col_type_mod(r, i);
        const char* type_name = db_result_col_type_name(r, i);
        if (type == 7 && mod != -1)
            con_printf("%s(%d,%d) \r\n", type_name, int(int16_t(mod >> 16)), mod & 0xffff);
        else if (type == 30 || type == 31)
            con_printf("%s(%d) \r\n", type_name, mod);
        else
            con_printf("%s \r\n", type_name);
    }
}
