// Values of norvlite's typed columns: the literal readers on their own, then literal -> what
// SQLite stores -> wire bytes through a real (in-memory) SQLite table per type family, and the
// reply writer with values larger than its buffer. Expected bytes are written out in hex.
#include "server/value_codec.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "server/type_map.h"

using namespace std::literals;

namespace {

std::string hex(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        out += "0123456789abcdef"[c >> 4];
        out += "0123456789abcdef"[c & 15];
    }
    return out;
}

std::string hex_of_text(std::string_view text) {
    return hex(text);
}

TEST(srv_parse_date, reads_proleptic_gregorian_dates_with_signed_years) {
    struct {
        std::string_view text;
        int32_t days;
    } good[] = {
        {"1970-01-01", 0},           {"1969-12-31", -1},     {"2000-02-29", 11016},
        {"2024-02-29", 19782},       {" 2024-2-29 ", 19782}, {"0000-01-01", -719528},
        {"-0001-12-31", -719529},    {"+2024-02-29", 19782}, {"2024-02-29 13:14:15", 19782},
        {"2024-02-29T13:14", 19782},
    };
    for (const auto& c : good) {
        int32_t days = 12345;
        EXPECT_TRUE(srv_parse_date(c.text, days)) << c.text;
        EXPECT_EQ(days, c.days) << c.text;
    }
    for (std::string_view bad :
         {"2023-02-29", "2024-13-01", "2024-00-10", "2024-01-32", "20240102", "", "2024-01-02x",
          "32768-01-01", "2024-01-02 25:00", "2024-001-02", "--2024-01-01", "2024-01-02+01:00"}) {
        int32_t days = 0;
        EXPECT_FALSE(srv_parse_date(bad, days)) << bad;
    }
}

TEST(srv_parse_time, reads_hours_minutes_seconds_and_fractions_to_the_millisecond) {
    struct {
        std::string_view text;
        int32_t ms;
    } good[] = {{"00:00:00", 0},        {"23:59:59.999", 86399999},  {"12:34", 45240000},
                {"1:02:03.5", 3723500}, {"12:00:00.1239", 43200123}, {" 01:02:03.004 ", 3723004}};
    for (const auto& c : good) {
        int32_t ms = -7;
        EXPECT_TRUE(srv_parse_time(c.text, ms)) << c.text;
        EXPECT_EQ(ms, c.ms) << c.text;
    }
    for (std::string_view bad : {"24:00:00", "12:60:00", "12:00:61", "12:00:00.", "12", "12:5",
                                 "123:00", "12:00:00+01:00", "noon"}) {
        int32_t ms = 0;
        EXPECT_FALSE(srv_parse_time(bad, ms)) << bad;
    }
}

TEST(srv_parse_time_tz, stores_utc_milliseconds_of_the_day_and_the_offset) {
    struct {
        std::string_view text;
        int32_t utc_ms;
        int16_t offset;
    } good[] = {
        {"10:00:00+02:00", 28800000, 120}, {"00:30:00+01:00", 84600000, 60},
        {"23:00:00-01:00", 0, -60},        {"12:00Z", 43200000, 0},
        {"12:00:00 +0530", 23400000, 330}, {"12:00:00", 43200000, 0},
    };
    for (const auto& c : good) {
        int32_t ms = -7;
        int16_t offset = -7;
        EXPECT_TRUE(srv_parse_time_tz(c.text, ms, offset)) << c.text;
        EXPECT_EQ(ms, c.utc_ms) << c.text;
        EXPECT_EQ(offset, c.offset) << c.text;
    }
    for (std::string_view bad : {"12:00:00+24:00", "12:00:00+1", "12:00:00+01:60", "12:00 UTC"}) {
        int32_t ms = 0;
        int16_t offset = 0;
        EXPECT_FALSE(srv_parse_time_tz(bad, ms, offset)) << bad;
    }
}

TEST(srv_parse_datetime, counts_milliseconds_since_1970_on_both_sides) {
    struct {
        std::string_view text;
        int64_t ms;
    } good[] = {
        {"1970-01-01 00:00:01.500", 1500},        {"1969-12-31 23:59:59", -1000},
        {"2024-01-02T03:04:05", 1704164645000},   {"2024-01-02", 19724LL * 86400000},
        {"0001-01-01 00:00:00", -62135596800000},
    };
    for (const auto& c : good) {
        int64_t ms = -7;
        EXPECT_TRUE(srv_parse_datetime(c.text, ms)) << c.text;
        EXPECT_EQ(ms, c.ms) << c.text;
    }
    int64_t ms = 0;
    EXPECT_FALSE(srv_parse_datetime("2024-01-02 03:04:05+01:00", ms));
    EXPECT_FALSE(srv_parse_datetime("2024-01-02 03", ms));
}

TEST(srv_parse_datetime_tz, counts_utc_microseconds_and_keeps_the_offset) {
    int64_t us = 0;
    int16_t offset = 0;
    ASSERT_TRUE(srv_parse_datetime_tz("1970-01-01 01:00:00.000001+01:00", us, offset));
    EXPECT_EQ(us, 1);
    EXPECT_EQ(offset, 60);
    ASSERT_TRUE(srv_parse_datetime_tz("2024-01-02 00:00:00-08:00", us, offset));
    EXPECT_EQ(us, 1704182400000000);
    EXPECT_EQ(offset, -480);
    ASSERT_TRUE(srv_parse_datetime_tz("1970-01-01 00:00:00.1234567", us, offset));
    EXPECT_EQ(us, 123456);
    EXPECT_EQ(offset, 0);
    EXPECT_FALSE(srv_parse_datetime_tz("1970-01-01 00:00:00 +", us, offset));
}

TEST(srv_parse_bool, reads_the_usual_words_in_any_case) {
    for (std::string_view yes : {"true", "T", "Yes", "y", "ON", "1", " true "}) {
        bool v = false;
        EXPECT_TRUE(srv_parse_bool(yes, v)) << yes;
        EXPECT_TRUE(v) << yes;
    }
    for (std::string_view no : {"false", "F", "NO", "n", "off", "0"}) {
        bool v = true;
        EXPECT_TRUE(srv_parse_bool(no, v)) << no;
        EXPECT_FALSE(v) << no;
    }
    for (std::string_view bad : {"maybe", "2", "", "tru"}) {
        bool v = false;
        EXPECT_FALSE(srv_parse_bool(bad, v)) << bad;
    }
}

TEST(srv_decimal_text, rescales_rounding_half_away_from_zero) {
    struct {
        std::string_view text;
        int scale;
        std::string_view out;
    } good[] = {
        {"3.14159", 2, "3.14"},
        {"3.145", 2, "3.15"},
        {"-3.145", 2, "-3.15"},
        {"9.995", 2, "10.00"},
        {"-0.001", 2, "0.00"},
        {"7", 2, "7.00"},
        {".5", 0, "1"},
        {"0.4", 0, "0"},
        {"+007.50", -1, "7.50"},
        {"-0", -1, "0"},
        {"99", 0, "99"},
        {"-99.5", 0, "-100"},
        {"0.05", 1, "0.1"},
        {"5.", 3, "5.000"},
        {"12345678901234567890.125", 2, "12345678901234567890.13"},
    };
    for (const auto& c : good) {
        std::string out = "old";
        EXPECT_TRUE(srv_decimal_text(c.text, c.scale, out)) << c.text;
        EXPECT_EQ(out, c.out) << c.text << " scale " << c.scale;
    }
    for (std::string_view bad : {"1e5", "abc", "1.2.3", "", "-", ".", "1 2", "0x10"}) {
        std::string out;
        EXPECT_FALSE(srv_decimal_text(bad, 2, out)) << bad;
    }
}

TEST(srv_parse_doubles, reads_points_and_boxes_with_or_without_brackets) {
    double v[4] = {};
    ASSERT_TRUE(srv_parse_doubles("(1.5,2)", v, 2));
    EXPECT_EQ(v[0], 1.5);
    EXPECT_EQ(v[1], 2.0);
    ASSERT_TRUE(srv_parse_doubles(" ( 1 , 2 ) , ( 3 , -4e1 ) ", v, 4));
    EXPECT_EQ(v[3], -40.0);
    ASSERT_TRUE(srv_parse_doubles("[1,2,3,+4]", v, 4));
    EXPECT_EQ(v[3], 4.0);
    for (std::string_view bad : {"1,2,3", "1,2,3,4,5", "1,,2,3", "(a,b)", "", "1;2"}) {
        EXPECT_FALSE(srv_parse_doubles(bad, v, bad == "(a,b)" || bad == "1;2" ? 2 : 4)) << bad;
    }
}

// The wire bytes of a literal inserted into a column declared decl, read back from SQLite.
std::string wire(const std::string& decl, const std::string& literal) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    const std::string sql =
        "create table t(v " + decl + "); insert into t values(" + literal + ");";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sql;
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, "select v from t", -1, &st, nullptr), SQLITE_OK);
    EXPECT_EQ(sqlite3_step(st), SQLITE_ROW);
    srv_col_type t = srv_map_declared_type(sqlite3_column_decltype(st, 0));
    std::string out;
    srv_writer w;
    w.capture = &out;
    std::string scratch;
    srv_put_value(w, t.code, t.type_mod, st, 0, scratch);
    srv_flush(w);
    sqlite3_finalize(st);
    sqlite3_close(db);
    return hex(out);
}

struct wire_case {
    std::string decl;
    std::string literal;
    std::string bytes;  // hex: int32 length, then the value
};

void expect_wire(const std::vector<wire_case>& cases) {
    for (const wire_case& c : cases) {
        EXPECT_EQ(wire(c.decl, c.literal), c.bytes) << c.decl << " " << c.literal;
    }
}

TEST(srv_put_value, booleans_and_integers_take_their_width_and_clamp) {
    expect_wire({
        {"BOOLEAN", "'true'", "0000000154"},
        {"BOOL", "0", "0000000146"},
        {"BOOLEAN", "2.5", "0000000154"},
        {"BOOLEAN", "'maybe'", "00000000"},
        {"TINYINT", "300", "000000017f"},
        {"TINYINT", "-5", "00000001fb"},
        {"SMALLINT", "258", "000000020102"},
        {"SMALLINT", "'258'", "000000020102"},
        {"SMALLINT", "-40000", "000000028000"},
        {"INTEGER", "-2", "00000004fffffffe"},
        {"INT", "4294967296", "000000047fffffff"},
        {"INTEGER", "'12abc'", "00000000"},
        {"BIGINT", "1", "000000080000000000000001"},
        {"BIGINT", "-2.9", "00000008fffffffffffffffe"},
        {"BIGINT", "1e300", "000000087fffffffffffffff"},
        {"INTERVAL_Y2M", "14", "000000040000000e"},
        {"INTERVAL_MI", "'-3'", "00000004fffffffd"},
        {"INTERVAL_S", "-1500000", "00000008ffffffffffe91ca0"},
    });
}

TEST(srv_put_value, numbers_with_fractions_keep_the_declared_scale_or_their_ieee_width) {
    expect_wire({
        {"NUMERIC(10,2)", "'3.14159'", "00000004" + hex_of_text("3.14")},
        {"NUMERIC(10,2)", "7", "00000004" + hex_of_text("7.00")},
        {"DECIMAL(8,2)", "2.5", "00000004" + hex_of_text("2.50")},
        {"NUMERIC(12)", "-3.7", "00000002" + hex_of_text("-4")},
        {"NUMERIC", "'1.50'", "00000003" + hex_of_text("1.5")},
        {"NUMERIC(10,2)", "'abc'", "00000000"},
        {"NUMERIC(10,2)", "x'31322e333435'", "00000005" + hex_of_text("12.35")},
        {"FLOAT", "1.5", "000000043fc00000"},
        {"REAL", "'1.5'", "000000043fc00000"},
        {"DOUBLE", "1.5", "000000083ff8000000000000"},
        {"DOUBLE PRECISION", "3", "000000084008000000000000"},
        {"DOUBLE", "'x'", "00000000"},
    });
}

TEST(srv_put_value, dates_and_times_from_text_or_from_their_integer_form) {
    expect_wire({
        {"DATE", "'2024-02-29'", "0000000400004d46"},
        {"DATE", "19782", "0000000400004d46"},
        {"DATE", "'0000-01-01'", "00000004fff50558"},
        {"DATE", "'2023-02-29'", "00000000"},
        {"TIME", "'01:02:03.004'", "000000040038cefc"},
        {"TIME", "3723004", "000000040038cefc"},
        {"TIME WITH TIME ZONE", "'00:30:00+01:00'", "00000006050ae4c0003c"},
        {"TIME WITH TIME ZONE", "'23:00:00-01:00'", "0000000600000000ffc4"},
        {"time  with time zone", "0", "00000006000000000000"},
        {"DATETIME", "'2024-01-02T03:04:05'", "000000080000018cc820d888"},
        {"TIMESTAMP", "1500", "0000000800000000000005dc"},
        {"DATETIME", "'yesterday'", "00000000"},
        {"DATETIME WITH TIME ZONE", "'1970-01-01 01:00:00.000001+01:00'",
         "0000000a0000000000000001003c"},
        {"TIMESTAMP WITH TIME ZONE", "-1", "0000000affffffffffffffff0000"},
    });
}

TEST(srv_put_value, text_bytes_guids_and_unconverted_types_go_as_stored) {
    expect_wire({
        {"CHAR(5)", "'hello'", "00000005" + hex_of_text("hello")},
        {"VARCHAR(9)", "12", "00000002" + hex_of_text("12")},
        {"TEXT", "1.5", "00000003" + hex_of_text("1.5")},
        {"CLOB", "''", "00000000"},
        {"NCHAR(2)", "'ab'", "00000002" + hex_of_text("ab")},
        {"ROWID", "'r1'", "00000002" + hex_of_text("r1")},
        {"BINARY", "x'00ff'", "0000000200ff"},
        {"BLOB", "'ab'", "000000026162"},
        {"GUID", "x'00112233445566778899aabbccddeeff'",
         "00000024" + hex_of_text("00112233-4455-6677-8899-aabbccddeeff")},
        {"GUID", "'not-a-guid'", "0000000a" + hex_of_text("not-a-guid")},
        {"ROWVERSION", "x'0102'", "000000020102"},
        {"ROWVERSION", "5", "000000080000000000000005"},
        {"EMPTY", "'ab'", "000000026162"},
        {"NULLTYPE", "x'01'", "0000000101"},
        {"POLYLINE", "'ab'", "000000026162"},
        {"POLYGON", "x'0203'", "000000020203"},
        {"TYPE40", "x'04'", "0000000104"},
        {"TYPE43", "0.5", "000000083fe0000000000000"},
        {"STREM", "x'01'", "0000000101"},
    });
}

TEST(srv_put_value, points_and_boxes_are_big_endian_and_geometry_is_left_little_endian) {
    expect_wire({
        {"POINT", "'(1.5,2)'", "000000103ff80000000000004000000000000000"},
        {"BOX", "'(1,2),(3,4)'",
         "000000203ff0000000000000400000000000000040080000000000004010000000000000"},
        {"GEOMETRY", "'1,2,3,4'",
         "00000020000000000000f03f000000000000004000000000000008400000000000001040"},
        {"POINT", "'nonsense'", "00000000"},
        {"POINT", "x'00'", "00000000"},
        {"POINT", "x'3ff00000000000003ff0000000000000'",
         "000000103ff00000000000003ff0000000000000"},
        {"BOX", "12", "00000000"},
    });
}

TEST(srv_put_value, null_is_length_0_in_every_type) {
    for (std::string decl : {"INTEGER", "NUMERIC(5,2)", "DATE", "TIME WITH TIME ZONE", "POINT",
                             "BLOB", "CHAR(3)", "STREM", "BOOLEAN"}) {
        EXPECT_EQ(wire(decl, "NULL"), "00000000") << decl;
    }
}

TEST(srv_writer, values_larger_than_the_buffer_arrive_whole_and_in_order) {
    std::string out;
    srv_writer w;
    w.capture = &out;
    std::string big(srv_out_buff_size * 3 + 17, 'b');
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        srv_put_u8(w, 'R');
        srv_put_i32(w, i);
        expected += 'R';
        expected += std::string{static_cast<char>(i >> 24), static_cast<char>(i >> 16),
                                static_cast<char>(i >> 8), static_cast<char>(i)};
        if (i % 1000 == 999) {
            srv_put_text(w, big);
            expected += std::string{0, 3, 0, 17} + big;
        }
    }
    ASSERT_TRUE(srv_flush(w));
    EXPECT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected);
}

}  // namespace
