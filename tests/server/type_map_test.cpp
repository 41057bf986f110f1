// Declared column types to type codes and type_mod: the console's type names declare their codes,
// arguments give type_mod, and names outside the table follow SQLite's affinity or the first row.
#include "server/type_map.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "protocol/type_table.h"

namespace {

// A type name the console shows in a heading or in DESC declares a column of that code, so a
// table described by the console can be created again from what it printed. NULL is no column
// type in SQL (norvlite spells it NULLTYPE); the codes without a display name are stored and
// read back end to end by the statements e2e tests.
TEST(srv_map_declared_type, every_name_the_console_shows_declares_a_column_of_its_code) {
    for (int code = 0; code < db_type_code_count; ++code) {
        const char* name = db_type_of(code).display;
        if (*name == '\0' || code == db_type_null) continue;
        srv_col_type t = srv_map_declared_type(name);
        EXPECT_EQ(t.code, code) << name;
        EXPECT_EQ(t.type_mod, -1) << name;
    }
    EXPECT_EQ(srv_map_declared_type("NULLTYPE").code, db_type_null);
}

TEST(srv_map_declared_type, aliases_case_and_spacing_do_not_matter) {
    struct {
        const char* decl;
        int code;
    } cases[] = {
        {"int", db_type_integer},
        {"bool", db_type_boolean},
        {"decimal", db_type_numeric},
        {"real", db_type_float},
        {"double  precision", db_type_double},
        {"timestamp", db_type_datetime},
        {"Timestamp With Time Zone", db_type_datetime_tz},
        {"\ttime\nwith time   zone ", db_type_time_tz},
        {"TIME(3) WITH TIME ZONE", db_type_time_tz},
        {"varchar", db_type_char},
        {"character(4)", db_type_char},
        {"text", db_type_char},
        {"nvarchar(8)", db_type_nchar},
        {"varbinary(16)", db_type_binary},
        {"interval_d2s", db_type_interval_d2s},
        {"rowid", db_type_rowid},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(srv_map_declared_type(c.decl).code, c.code) << c.decl;
    }
}

TEST(srv_map_declared_type, arguments_give_precision_scale_and_length) {
    struct {
        const char* decl;
        int code;
        int32_t type_mod;
    } cases[] = {
        {"NUMERIC(10,2)", db_type_numeric, (10 << 16) | 2},
        {"decimal( 12 , 4 )", db_type_numeric, (12 << 16) | 4},
        {"NUMERIC(5)", db_type_numeric, 5 << 16},
        {"NUMERIC(32767,65535)", db_type_numeric, (32767 << 16) | 65535},
        {"NUMERIC(32768,2)", db_type_numeric, -1},
        {"NUMERIC(10,-2)", db_type_numeric, -1},
        {"NUMERIC(a,b)", db_type_numeric, -1},
        {"VARCHAR(20)", db_type_char, 20},
        {"CHAR ( 7 )", db_type_char, 7},
        {"NCHAR(3)", db_type_nchar, 3},
        {"CHAR(0)", db_type_char, 0},
        {"CHAR(99999999999)", db_type_char, -1},
        {"DOUBLE(10,2)", db_type_double, -1},
        {"INTEGER(4)", db_type_integer, -1},
    };
    for (const auto& c : cases) {
        srv_col_type t = srv_map_declared_type(c.decl);
        EXPECT_EQ(t.code, c.code) << c.decl;
        EXPECT_EQ(t.type_mod, c.type_mod) << c.decl;
    }
}

TEST(srv_map_declared_type, unknown_names_follow_sqlite_affinity_or_wait_for_the_first_row) {
    EXPECT_EQ(srv_map_declared_type("UNSIGNED BIG INT").code, db_type_bigint);
    EXPECT_EQ(srv_map_declared_type("MEDIUMINT").code, db_type_bigint);
    EXPECT_EQ(srv_map_declared_type("VARYING CHARACTER(255)").code, db_type_char);
    EXPECT_EQ(srv_map_declared_type("VARYING CHARACTER(255)").type_mod, -1);
    EXPECT_EQ(srv_map_declared_type("NATIVE CHARACTER(70)").code, db_type_char);
    EXPECT_EQ(srv_map_declared_type("LONGBLOB").code, db_type_blob);
    // "INT" wins, as in SQLite.
    EXPECT_EQ(srv_map_declared_type("FLOATING POINT").code, db_type_bigint);
    EXPECT_EQ(srv_map_declared_type("FLOAT8").code, db_type_double);
    EXPECT_EQ(srv_map_declared_type("MONEY").code, srv_type_by_storage);
    EXPECT_EQ(srv_map_declared_type("").code, srv_type_by_storage);
    EXPECT_EQ(srv_map_declared_type("   ").code, srv_type_by_storage);
}

TEST(srv_storage_class_code, maps_storage_classes_to_bigint_double_char_and_blob) {
    EXPECT_EQ(srv_storage_class_code(SQLITE_INTEGER), db_type_bigint);
    EXPECT_EQ(srv_storage_class_code(SQLITE_FLOAT), db_type_double);
    EXPECT_EQ(srv_storage_class_code(SQLITE_TEXT), db_type_char);
    EXPECT_EQ(srv_storage_class_code(SQLITE_BLOB), db_type_blob);
    EXPECT_EQ(srv_storage_class_code(SQLITE_NULL), db_type_char);
}

}  // namespace
