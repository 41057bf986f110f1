// Declared column types to type codes and type_mod: every code 0-45 has a name, arguments give
// type_mod, and names outside the table follow SQLite's affinity or the first row.
#include "server/type_map.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace {

TEST(srv_map_declared_type, every_code_from_0_to_45_has_a_declared_name) {
    const char* names[46] = {
        "EMPTY",
        "NULLTYPE",
        "BOOLEAN",
        "TINYINT",
        "SMALLINT",
        "INTEGER",
        "BIGINT",
        "NUMERIC",
        "FLOAT",
        "DOUBLE",
        "DATE",
        "TIME",
        "TIME WITH TIME ZONE",
        "DATETIME",
        "DATETIME WITH TIME ZONE",
        "INTERVAL_Y",
        "INTERVAL_Y2M",
        "INTERVAL_M",
        "INTERVAL_D",
        "INTERVAL_D2H",
        "INTERVAL_H",
        "INTERVAL_D2M",
        "INTERVAL_H2M",
        "INTERVAL_MI",
        "INTERVAL_D2S",
        "INTERVAL_H2S",
        "INTERVAL_M2S",
        "INTERVAL_S",
        "ROWVERSION",
        "GUID",
        "CHAR",
        "NCHAR",
        "CLOB",
        "BINARY",
        "BLOB",
        "GEOMETRY",
        "POINT",
        "BOX",
        "POLYLINE",
        "POLYGON",
        "TYPE40",
        "TYPE41",
        "TYPE42",
        "TYPE43",
        "STREM",
        "ROWID",
    };
    for (int code = 0; code <= 45; ++code) {
        srv_col_type t = srv_map_declared_type(names[code]);
        EXPECT_EQ(t.code, code) << names[code];
        EXPECT_EQ(t.type_mod, -1) << names[code];
    }
}

TEST(srv_map_declared_type, aliases_case_and_spacing_do_not_matter) {
    struct {
        const char* decl;
        int code;
    } cases[] = {
        {"int", 5},
        {"bool", 2},
        {"decimal", 7},
        {"real", 8},
        {"double  precision", 9},
        {"timestamp", 13},
        {"Timestamp With Time Zone", 14},
        {"\ttime\nwith time   zone ", 12},
        {"TIME(3) WITH TIME ZONE", 12},
        {"varchar", 30},
        {"character(4)", 30},
        {"text", 30},
        {"nvarchar(8)", 31},
        {"varbinary(16)", 33},
        {"interval_d2s", 24},
        {"rowid", 45},
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
        {"NUMERIC(10,2)", 7, (10 << 16) | 2},
        {"decimal( 12 , 4 )", 7, (12 << 16) | 4},
        {"NUMERIC(5)", 7, 5 << 16},
        {"NUMERIC(32767,65535)", 7, (32767 << 16) | 65535},
        {"NUMERIC(32768,2)", 7, -1},
        {"NUMERIC(10,-2)", 7, -1},
        {"NUMERIC(a,b)", 7, -1},
        {"VARCHAR(20)", 30, 20},
        {"CHAR ( 7 )", 30, 7},
        {"NCHAR(3)", 31, 3},
        {"CHAR(0)", 30, 0},
        {"CHAR(99999999999)", 30, -1},
        {"DOUBLE(10,2)", 9, -1},
        {"INTEGER(4)", 5, -1},
    };
    for (const auto& c : cases) {
        srv_col_type t = srv_map_declared_type(c.decl);
        EXPECT_EQ(t.code, c.code) << c.decl;
        EXPECT_EQ(t.type_mod, c.type_mod) << c.decl;
    }
}

TEST(srv_map_declared_type, unknown_names_follow_sqlite_affinity_or_wait_for_the_first_row) {
    EXPECT_EQ(srv_map_declared_type("UNSIGNED BIG INT").code, 6);
    EXPECT_EQ(srv_map_declared_type("MEDIUMINT").code, 6);
    EXPECT_EQ(srv_map_declared_type("VARYING CHARACTER(255)").code, 30);
    EXPECT_EQ(srv_map_declared_type("VARYING CHARACTER(255)").type_mod, -1);
    EXPECT_EQ(srv_map_declared_type("NATIVE CHARACTER(70)").code, 30);
    EXPECT_EQ(srv_map_declared_type("LONGBLOB").code, 34);
    EXPECT_EQ(srv_map_declared_type("FLOATING POINT").code, 6);  // "INT" wins, as in SQLite
    EXPECT_EQ(srv_map_declared_type("FLOAT8").code, 9);
    EXPECT_EQ(srv_map_declared_type("MONEY").code, srv_type_by_storage);
    EXPECT_EQ(srv_map_declared_type("").code, srv_type_by_storage);
    EXPECT_EQ(srv_map_declared_type("   ").code, srv_type_by_storage);
}

TEST(srv_storage_class_code, maps_storage_classes_to_bigint_double_char_and_blob) {
    EXPECT_EQ(srv_storage_class_code(SQLITE_INTEGER), 6);
    EXPECT_EQ(srv_storage_class_code(SQLITE_FLOAT), 9);
    EXPECT_EQ(srv_storage_class_code(SQLITE_TEXT), 30);
    EXPECT_EQ(srv_storage_class_code(SQLITE_BLOB), 34);
    EXPECT_EQ(srv_storage_class_code(SQLITE_NULL), 30);
}

}  // namespace
