// The type table against itself: the byte order of every code converts exactly its width, names
// are distinct, and the hexadecimal forms agree between the listing and the export.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "protocol/db.h"
#include "protocol/types.h"

namespace {

TEST(db_convert_value, converts_every_byte_of_its_width_and_none_beyond) {
    for (int code = 0; code < db_type_code_count; ++code) {
        SCOPED_TRACE(code);
        const db_type_row& t = db_type_of(code);
        char sent[48], value[48];
        for (int i = 0; i < 48; ++i)
            sent[i] = value[i] = char(i + 1);
        db_convert_value(code, value, 48);
        // Every byte of a converted field moves, since each field has distinct bytes.
        const int converted = t.order == db_byte_order::as_is ? 0 : t.width;
        for (int i = 0; i < 48; ++i)
            EXPECT_EQ(value[i] != sent[i], i < converted) << "byte " << i;
    }
}

TEST(db_type_name, every_display_name_belongs_to_one_code) {
    std::set<std::string> seen;
    for (int code = 0; code < db_type_code_count; ++code) {
        std::string name = db_type_name(code);
        if (name.empty()) continue;
        EXPECT_TRUE(seen.insert(name).second) << name;
    }
    EXPECT_EQ(&db_type_of(-1), &db_type_unknown);
    EXPECT_EQ(&db_type_of(db_type_code_count), &db_type_unknown);
}

TEST(db_type_of, a_code_listed_in_hexadecimal_is_exported_so_and_travels_unconverted) {
    for (int code = -1; code <= db_type_code_count; ++code) {
        const db_type_row& t = db_type_of(code);
        if (t.show != db_show::hex) continue;
        EXPECT_EQ(t.exported, db_export::hex) << code;
        EXPECT_EQ(t.order, db_byte_order::as_is) << code;
        EXPECT_EQ(t.width, 0) << code;
    }
}

}  // namespace
