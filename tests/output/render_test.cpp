// Value rendering: bytes in, console, spool and export text out, by type family, plus the
// calendar behind every date (against a day-by-day walk and an independent day count).
#include "output/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "protocol/type_codes.h"

namespace {

// Host-order numbers laid end to end, as the reply decoder leaves a value.
template <class... T>
std::string le(T... v) {
    std::string s;
    (s.append(reinterpret_cast<const char*>(&v), sizeof v), ...);
    return s;
}

// The value at an odd address in a block that ends with its last byte (no zero byte after it),
// so an aligned load or a read past the length shows up under the sanitizers.
struct placed {
    std::unique_ptr<char[]> block;
    const char* data;
    int len;
};

placed place(const std::string& v) {
    placed p{std::make_unique<char[]>(v.size() + 1), nullptr, static_cast<int>(v.size())};
    std::memcpy(p.block.get() + 1, v.data(), v.size());
    p.data = p.block.get() + 1;
    return p;
}

struct texts {
    std::string console, spool;
};

texts render(int type, const std::string& v, const datef_t* f = nullptr,
             const char* null_text = "NULL") {
    placed p = place(v);
    render_settings s{null_text, f};
    texts t;
    render_value(type, p.data, p.len, s, t.console, &t.spool);
    return t;
}

std::string exported(int type, const std::string& v) {
    placed p = place(v);
    std::string out;
    render_export_value(type, p.data, p.len, out);
    return out;
}

// One value of a type: its console text, its spool text (nullptr: the same) and its export field.
struct value_case {
    int type;
    std::string bytes;
    std::string console;
    const char* spool;
    std::string exported;
};

void check_cases(const std::vector<value_case>& cases) {
    for (const value_case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + ", console " + c.console);
        texts t = render(c.type, c.bytes);
        EXPECT_EQ(t.console, c.console);
        EXPECT_EQ(t.spool, c.spool ? c.spool : c.console);
        EXPECT_EQ(exported(c.type, c.bytes), c.exported);
    }
}

constexpr int64_t day_ms = 86400000;
constexpr float finf = std::numeric_limits<float>::infinity();
constexpr double dinf = std::numeric_limits<double>::infinity();

TEST(render_value, prints_integers_booleans_and_numeric_text) {
    check_cases({
        {2, "Y", "Y ", nullptr, "Y|"},
        {2, "", "NULL", nullptr, "|"},
        {3, le(int8_t{-5}), "-5 ", nullptr, "-5|"},
        {4, le(int16_t{-32768}), "-32768 ", nullptr, "-32768|"},
        {5, le(INT32_MIN), "-2147483648 ", nullptr, "-2147483648|"},
        {5, le(int32_t{7}), "7 ", nullptr, "7|"},
        {6, le(INT64_MIN), "-9223372036854775808 ", "-9223372036854775808",
         "-9223372036854775808|"},
        {6, le(INT64_MAX), "9223372036854775807 ", "9223372036854775807", "9223372036854775807|"},
        {6, "", "NULL", nullptr, "|"},
        {7, std::string("-12.50\0", 7), "-12.50", nullptr, "-12.50|"},
        {7, "1\n2", "1\n2", nullptr, "1\n2|"},
    });
}

TEST(render_value, prints_floats_and_infinities_by_their_own_rules) {
    check_cases({
        {8, le(1.5f), "1.500000e+00 ", nullptr, "1.500000e+00|"},
        {8, le(finf), "Infinity", "Infinity ", "inf|"},
        {8, le(-finf), "-Infinity", "-Infinity ", "-inf|"},
        {8, le(std::numeric_limits<float>::quiet_NaN()), "NaN", "NaN ", "nan|"},
        {8, "", "NULL", nullptr, "|"},
        {9, le(dinf), "inf ", nullptr, "inf|"},
        {9, le(-2.5), "-2.500000e+00 ", nullptr, "-2.500000e+00|"},
        {35, le(1.0, -2.0, 0.5, 1e300),
         "G(1.0000000000000000e+00,-2.0000000000000000e+00,"
         "5.0000000000000000e-01,1.0000000000000001e+300) ",
         nullptr,
         "G(1.0000000000000000e+00,-2.0000000000000000e+00,"
         "5.0000000000000000e-01,1.0000000000000001e+300)|"},
        {36, le(0.0, dinf), "P(0.0000000000000000e+00,               inf) ", nullptr,
         "P(0.0000000000000000e+00,               inf)|"},
        {37, le(1.0, 2.0, 3.0, 4.0),
         "B(1.0000000000000000e+00,2.0000000000000000e+00,"
         "3.0000000000000000e+00,4.0000000000000000e+00) ",
         nullptr,
         "B(1.0000000000000000e+00,2.0000000000000000e+00,"
         "3.0000000000000000e+00,4.0000000000000000e+00)|"},
        {36, "", "NULL", nullptr, "|"},
    });
}

TEST(render_value, prints_dates_times_and_zones) {
    check_cases({
        {10, le(int32_t{0}), "1970-01-01 AD ", nullptr, "1970-01-01 AD|"},
        {10, le(int32_t{-719528}), "0001-01-01 BC ", nullptr, "0001-01-01 BC|"},
        {10, le(int32_t{-719529}), "0002-12-31 BC ", nullptr, "0002-12-31 BC|"},
        {10, le(int32_t{-719469}), "0001-02-29 BC ", nullptr, "0001-02-29 BC|"},
        {10, le(INT32_MAX), "5881580-07-11 AD ", nullptr, "5881580-07-11 AD|"},
        {10, le(INT32_MIN), "5877642-06-23 BC ", nullptr, "5877642-06-23 BC|"},
        {10, "", "NULL", nullptr, "|"},
        {11, le(int32_t{45296789}), "12:34:56.789 ", nullptr, "12:34:56.789|"},
        {11, le(int32_t{-1}), "00:00:00.-01 ", nullptr, "00:00:00.-01|"},
        {11, le(INT32_MIN), "-596:-31:-23.-648 ", nullptr, "-596:-31:-23.-648|"},
        {12, le(int32_t{0}, int16_t{-60}), "23:00:00 -01:00", nullptr, "<00000000C4FF>|"},
        {12, le(int32_t{1500}, int16_t{0}), "0:00:1.5 +00:00", nullptr, "<DC0500000000>|"},
        {12, le(int32_t{59999}, int16_t{0}), "0:00:59.999 +00:00", nullptr, "<5FEA00000000>|"},
        {12, le(int32_t{45296789}, int16_t{330}), "18:04:56.789 +05:30", nullptr,
         "<952CB3024A01>|"},
        {12, le(INT32_MIN, int16_t{-32768}), "9:20:36.352 -546:08", nullptr, "<000000800080>|"},
        {12, le(INT32_MAX, int16_t{32767}), "14:38:23.647 +546:07", nullptr, "<FFFFFF7FFF7F>|"},
        {12, "", "NULL", nullptr, "<>|"},
        {13, le(int64_t{1500}), "1970-01-01 00:00:01.500 AD ", nullptr,
         "1970-01-01 00:00:01.500 AD|"},
        {13, le(int64_t{-1}), "1969-12-31 23:59:59.999 AD ", nullptr,
         "1969-12-31 23:59:59.999 AD|"},
        {13, le(int64_t{-735160} * day_ms + 45296789), "0044-03-15 12:34:56.789 BC ", nullptr,
         "0044-03-15 12:34:56.789 BC|"},
        {13, le(INT64_MAX), "292278994-08-17 07:12:55.807 AD ", nullptr,
         "292278994-08-17 07:12:55.807 AD|"},
        {13, le(INT64_MIN), "292275056-05-16 16:47:04.192 BC ", nullptr,
         "292275056-05-16 16:47:04.192 BC|"},
        {14, le(int64_t{999}, int16_t{0}), "1970-01-01 00:00:00.000 AD +00:00 ", nullptr,
         "<E7030000000000000000>|"},
        {14, le(int64_t{-1001}, int16_t{0}), "1969-12-31 23:59:59.999 AD +00:00 ", nullptr,
         "<17FCFFFFFFFFFFFF0000>|"},
        {14, le(int64_t{-1}, int16_t{0}), "1970-01-01 00:00:00.000 AD +00:00 ", nullptr,
         "<FFFFFFFFFFFFFFFF0000>|"},
        {14, le(int64_t{-1}, int16_t{60}), "1970-01-01 00:59:59.999 AD +01:00 ", nullptr,
         "<FFFFFFFFFFFFFFFF3C00>|"},
        {14, le(int64_t{1}, int16_t{-60}), "1969-12-31 23:00:00.001 AD -01:00 ", nullptr,
         "<0100000000000000C4FF>|"},
        {14, le(int64_t{1500000}, int16_t{60}), "1970-01-01 01:00:01.500 AD +01:00 ", nullptr,
         "<60E31600000000003C00>|"},
        {14, le(int64_t{0}, int16_t{-90}), "1969-12-31 22:30:00.000 AD -01:30 ", nullptr,
         "<0000000000000000A6FF>|"},
        {14, le(INT64_MAX, int16_t{32767}), "294247-02-01 22:07:54.775 AD +546:07 ", nullptr,
         "<FFFFFFFFFFFFFF7FFF7F>|"},
        {14, le(INT64_MIN, int16_t{-32768}), "290309-11-29 01:51:05.225 BC -546:08 ", nullptr,
         "<00000000000000800080>|"},
        {14, "", "NULL", nullptr, "<>|"},
    });
}

// A date format: positions of year, month and day, and the texts after the three fields.
struct order_case {
    datef_t f;
    const char* date_ad;
    const char* date_bc;
    const char* datetime_ad;
    const char* datetime_bc;
};

TEST(render_value, follows_every_date_order_with_its_separators_in_both_eras) {
    // clang-format off
    const order_case cases[] = {
        {{1, 2, 3, "/", "/", ","}, "2024/03/09 AD ", "0044/03/15 BC ",
         "2024/03/09, 12:34:56.789 AD ", "0044/03/15, 12:34:56.789 BC "},
        {{1, 3, 2, "-", "-", ""}, "2024-09-03 AD ", "0044-15-03 BC ",
         "2024-09-03 12:34:56.789 AD ", "0044-15-03 12:34:56.789 BC "},
        {{2, 1, 3, ".", ".", "T"}, "03.2024.09 AD ", "03.0044.15 BC ",
         "03.2024.09T 12:34:56.789 AD ", "03.0044.15T 12:34:56.789 BC "},
        {{2, 3, 1, " ", " ", ""}, "09 2024 03 AD ", "15 0044 03 BC ",
         "09 2024 03 12:34:56.789 AD ", "15 0044 03 12:34:56.789 BC "},
        {{3, 2, 1, "/", "/", ""}, "09/03/2024 AD ", "15/03/0044 BC ",
         "09/03/2024 12:34:56.789 AD ", "15/03/0044 12:34:56.789 BC "},
        {{3, 1, 2, "\xE6\x9C\x88", ", ", " at"}, "03\xE6\x9C\x88" "09, 2024 AD ",
         "03\xE6\x9C\x88" "15, 0044 BC ", "03\xE6\x9C\x88" "09, 2024 at 12:34:56.789 AD ",
         "03\xE6\x9C\x88" "15, 0044 at 12:34:56.789 BC "},
        // No format set, or positions that are not a permutation: the fixed form, no texts.
        {{0, 0, 0, "/", "/", "!"}, "2024-03-09 AD ", "0044-03-15 BC ",
         "2024-03-09 12:34:56.789 AD ", "0044-03-15 12:34:56.789 BC "},
        {{1, 1, 3, "/", "/", "!"}, "2024-03-09 AD ", "0044-03-15 BC ",
         "2024-03-09 12:34:56.789 AD ", "0044-03-15 12:34:56.789 BC "},
        {{4, 2, 1, "/", "/", "!"}, "2024-03-09 AD ", "0044-03-15 BC ",
         "2024-03-09 12:34:56.789 AD ", "0044-03-15 12:34:56.789 BC "},
    };
    // clang-format on
    const int32_t ad_day = 19791, bc_day = -735160;  // 2024-03-09 and 44 BC, March 15
    const int64_t time = 45296789;                   // 12:34:56.789
    for (const order_case& c : cases) {
        SCOPED_TRACE(c.date_ad);
        EXPECT_EQ(render(10, le(ad_day), &c.f).console, c.date_ad);
        EXPECT_EQ(render(10, le(bc_day), &c.f).console, c.date_bc);
        EXPECT_EQ(render(13, le(ad_day * day_ms + time), &c.f).console, c.datetime_ad);
        EXPECT_EQ(render(13, le(bc_day * day_ms + time), &c.f).console, c.datetime_bc);
    }
    datef_t dmy{3, 2, 1, "/", "/", ""};
    EXPECT_EQ(render(10, le(int32_t{0}), &dmy).console, "01/01/1970 AD ");
    EXPECT_EQ(render(14, le(int64_t{1500000}, int16_t{-60}), &dmy).console,
              "31/12/1969 23:00:01.500 AD -01:00 ");
}

// Integers and the plain interval counts as printf prints them ("%d", "%10d", "%09lld.%06lld"),
// over random values of every magnitude and both signs, the extremes included.
TEST(render_value, writes_integers_and_counts_as_printf_prints_them) {
    std::mt19937_64 gen(15);
    std::vector<int64_t> values = {INT64_MIN, INT64_MAX, INT32_MIN, INT32_MAX, 0,   -1,  1,
                                   9,         10,        -10,       99,        100, -100};
    for (int i = 0; i < 50000; ++i)
        values.push_back(static_cast<int64_t>(gen()) >> (gen() % 64));
    char want[64];
    for (int64_t v : values) {
        SCOPED_TRACE(v);
        auto v32 = static_cast<int32_t>(v);
        auto lv = static_cast<long long>(v);
        std::snprintf(want, sizeof want, "%lld ", lv);
        ASSERT_EQ(render(6, le(v)).console, want);
        std::snprintf(want, sizeof want, "%d ", v32);
        ASSERT_EQ(render(5, le(v32)).console, want);
        ASSERT_EQ(render(18, le(v32)).console, want);
        std::snprintf(want, sizeof want, "%10d ", v32);
        ASSERT_EQ(render(15, le(v32)).console, want);
        std::snprintf(want, sizeof want, "%d ", int{static_cast<int16_t>(v)});
        ASSERT_EQ(render(4, le(static_cast<int16_t>(v))).console, want);
        // The microsecond count: seconds and microseconds, the sign kept below one second.
        unsigned long long a = v < 0 ? 0 - static_cast<unsigned long long>(v) : uint64_t(v);
        std::snprintf(want, sizeof want, "%s%0*llu.%06llu|", v < 0 ? "-" : "", v < 0 ? 8 : 9,
                      a / 1000000, a % 1000000);
        ASSERT_EQ(exported(27, le(v)), want);
    }
}

TEST(render_value, splits_intervals_and_keeps_the_sign_below_one_unit) {
    check_cases({
        {15, le(int32_t{-7}), "        -7 ", nullptr, "        -7|"},
        {16, le(int32_t{-5}), "       -0-05 ", nullptr, "       -0-05|"},
        {16, le(int32_t{29}), "        2-05 ", nullptr, "        2-05|"},
        {16, le(int32_t{-29}), "       -2-05 ", nullptr, "       -2-05|"},
        {16, le(INT32_MIN), "-178956970-08 ", nullptr, "-178956970-08|"},
        {17, le(INT32_MIN), "-2147483648 ", nullptr, "-2147483648|"},
        {18, le(int32_t{-3}), "-3 ", nullptr, "-3|"},
        {19, le(int32_t{-5}), "      -0 05 ", nullptr, "      -0 05|"},
        {19, le(int32_t{49}), "       2 01 ", nullptr, "       2 01|"},
        {20, le(int32_t{12}), "        12 ", nullptr, "        12|"},
        {21, le(int32_t{-59}), "     -0 00:59 ", nullptr, "     -0 00:59|"},
        {21, le(int32_t{1500}), "      1 01:00 ", nullptr, "      1 01:00|"},
        {21, le(INT32_MIN), "-1491308 02:08 ", nullptr, "-1491308 02:08|"},
        {22, le(int32_t{-5}), "      -0:05 ", nullptr, "      -0:05|"},
        {22, le(int32_t{125}), "       2:05 ", nullptr, "       2:05|"},
        {23, le(INT32_MAX), "2147483647 ", nullptr, "2147483647|"},
        {24, le(int64_t{-1}), "-0000000 00:00:00.000001 ", nullptr, "-0000000 00:00:00.000001|"},
        {24, le(int64_t{-90061000001}), "-0000001 01:01:01.000001 ", nullptr,
         "-0000001 01:01:01.000001|"},
        {24, le(int64_t{90061000001}), " 0000001 01:01:01.000001 ", nullptr,
         "0000001 01:01:01.000001|"},
        {24, le(INT64_MIN), "-106751991 04:00:54.775808 ", nullptr, "-106751991 04:00:54.775808|"},
        {25, le(int64_t{-1}), "-0000000:00:00.000001 ", nullptr, "-0000000:00:00.000001|"},
        {25, le(int64_t{3723000004}), " 0000001:02:03.000004 ", nullptr, "0000001:02:03.000004|"},
        {25, le(INT64_MIN), "-2562047788:00:54.775808 ", nullptr, "-2562047788:00:54.775808|"},
        {26, le(int64_t{-1}), "-0000000:00.000001 ", nullptr, "-0000000:00.000001|"},
        {26, le(int64_t{-61000000}), "-0000001:01.000000 ", nullptr, "-0000001:01.000000|"},
        {26, le(int64_t{61500000}), " 0000001:01.500000 ", nullptr, "0000001:01.500000|"},
        {26, le(INT64_MAX), " 153722867280:54.775807 ", nullptr, "153722867280:54.775807|"},
        {27, le(int64_t{-5}), "-0.000005 ", nullptr, "-00000000.000005|"},
        {27, le(int64_t{1500000}), "1.500000 ", nullptr, "000000001.500000|"},
        {27, le(int64_t{-1500000}), "-1.500000 ", nullptr, "-00000001.500000|"},
        {27, le(INT64_MIN), "-9223372036854.775808 ", nullptr, "-9223372036854.775808|"},
        {24, "", "NULL", nullptr, "|"},
        {27, "", "NULL", nullptr, "|"},
    });
}

TEST(render_value, prints_texts_markers_and_hexadecimal_forms) {
    std::string rowversion(300, '\xAB');
    std::string digits;
    for (int i = 0; i < 200; ++i)
        digits += "AB";
    check_cases({
        {1, "", "<NULL> ", "", "<>|"},
        {1, "\x01", "<NULL> ", "", "<01>|"},
        {29, "ab", "<ab> ", nullptr, "<6162>|"},
        {29, "", "NULL ", nullptr, "<>|"},
        {30, "abc", "abc", nullptr, "abc|"},
        {30, std::string("ab\0cd", 5), "ab", nullptr, "ab|"},
        {30, "", "NULL", nullptr, "|"},
        {30, "a\nb\n", "a\nb\n", nullptr, "a^%b^%|"},
        {31, "\n", "\n", nullptr, "^%|"},
        {45, "x\ny", "x\ny", nullptr, "x^%y|"},
        {32, "long\ntext", "long\ntext", nullptr, "<CLOB>|"},
        {32, "", "NULL", nullptr, "<CLOB>|"},
        {33, "\x01", "<BINARY> ", nullptr, "<BINARY>|"},
        {33, "", "<BINARY> ", nullptr, "<BINARY>|"},
        {34, "\x01", "<BLOB> ", nullptr, "<BLOB>|"},
        {34, "", "<BLOB> ", nullptr, "<BLOB>|"},
        {28, rowversion, "<" + digits + "> ", nullptr, "<" + digits + ">|"},
        {28, "", "<NULL> ", nullptr, "<>|"},
        {38, std::string("\x00\x7F\x80\xFF", 4), "<007F80FF> ", nullptr, "<007F80FF>|"},
        {44, "\x0A", "<0A> ", nullptr, "<0A>|"},
        {0, "\x10", "<10> ", nullptr, "<10>|"},
        {db_type_code_count, "\x01\x02", "<0102> ", nullptr, "<0102>|"},
        {-1, "", "<NULL> ", nullptr, "<>|"},
        {INT32_MAX, "z", "<7A> ", nullptr, "<7A>|"},
    });
}

// A value shorter than its type's width is not a value of the type: it prints as the
// hexadecimal form of the bytes that did arrive, on the console, in the spool and in the export.
TEST(render_value, prints_a_value_shorter_than_its_type_as_hexadecimal) {
    check_cases({
        {3, "\xFF", "-1 ", nullptr, "-1|"},
        {4, "\x01", "<01> ", nullptr, "<01>|"},
        {5, "\x01\x02", "<0102> ", nullptr, "<0102>|"},
        {6, "\x01\x02\x03\x04\x05\x06\x07", "<01020304050607> ", nullptr, "<01020304050607>|"},
        {8, "\x01\x02\x03", "<010203> ", nullptr, "<010203>|"},
        {9, "\x01", "<01> ", nullptr, "<01>|"},
        {10, "\x01\x02", "<0102> ", nullptr, "<0102>|"},
        {11, "\x01\x02\x03", "<010203> ", nullptr, "<010203>|"},
        {12, "\x01\x02\x03\x04\x05", "<0102030405> ", nullptr, "<0102030405>|"},
        {13, "\x01\x02\x03\x04", "<01020304> ", nullptr, "<01020304>|"},
        {14, "\x01\x02\x03\x04\x05\x06\x07\x08\x09", "<010203040506070809> ", nullptr,
         "<010203040506070809>|"},
        {16, "\x01", "<01> ", nullptr, "<01>|"},
        {24, "\x01\x02", "<0102> ", nullptr, "<0102>|"},
        {27, "\x01\x02\x03\x04", "<01020304> ", nullptr, "<01020304>|"},
        {35, le(1.0, 2.0, 3.0), "<000000000000F03F00000000000000400000000000000840> ", nullptr,
         "<000000000000F03F00000000000000400000000000000840>|"},
        {36, le(1.0), "<000000000000F03F> ", nullptr, "<000000000000F03F>|"},
        {37, le(1.0), "<000000000000F03F> ", nullptr, "<000000000000F03F>|"},
    });
    // Longer values are read by their type's width only.
    EXPECT_EQ(render(5, le(int32_t{42}, int32_t{-1})).console, "42 ");
}

TEST(render_value, appends_to_both_buffers_and_takes_its_texts_from_the_settings) {
    render_settings s{"(null)", nullptr};
    std::string console = "a|", spool = "b|";
    placed v = place(le(int64_t{12}));
    render_value(6, v.data, v.len, s, console, &spool);
    render_value(6, nullptr, 0, s, console, &spool);
    render_value(1, nullptr, 0, s, console, &spool);
    EXPECT_EQ(console, "a|12 (null)<NULL> ");
    EXPECT_EQ(spool, "b|12(null)");
    render_value(5, v.data, 4, s, console, nullptr);
    EXPECT_EQ(console, "a|12 (null)<NULL> 12 ");

    render_settings unset{nullptr, nullptr};
    std::string out;
    render_value(30, nullptr, 0, unset, out, nullptr);
    render_value(29, nullptr, -5, unset, out, nullptr);
    render_value(13, v.data, v.len, unset, out, nullptr);
    EXPECT_EQ(out, " 1970-01-01 00:00:00.012 AD ");
    out.clear();
    render_export_value(5, nullptr, -1, out);
    render_export_value(28, nullptr, -1, out);
    EXPECT_EQ(out, "|<>|");
}

TEST(hex_text, writes_upper_case_digits_of_at_most_200_bytes) {
    std::string out = "x";
    hex_text("\x01\xAB\xFF", 3, out);
    EXPECT_EQ(out, "x01ABFF");
    hex_text(nullptr, 0, out);
    hex_text(nullptr, -7, out);
    EXPECT_EQ(out, "x01ABFF");
    std::string big(1000, '\x5A'), digits;
    for (int i = 0; i < 200; ++i)
        digits += "5A";
    out.clear();
    hex_text(big.data(), static_cast<int>(big.size()), out);
    EXPECT_EQ(out, digits);
}

// ---- the calendar ---------------------------------------------------------------------------

struct civil {
    int64_t year;
    int month, day;
};

bool is_leap(int64_t y) {
    return y % 400 == 0 || (y % 4 == 0 && y % 100 != 0);
}

int month_length(int64_t y, int m) {
    static const int length[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return length[m - 1] + (m == 2 && is_leap(y) ? 1 : 0);
}

int64_t floor_div(int64_t a, int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// Days since 1970-01-01 by counting: whole years from year 0 by the leap rule, then the months
// of the year, then the day.
int64_t days_from_civil(const civil& c) {
    int64_t y = c.year;
    int64_t days = 365 * y + floor_div(y + 3, 4) - floor_div(y + 99, 100) + floor_div(y + 399, 400);
    for (int m = 1; m < c.month; ++m)
        days += month_length(y, m);
    return days + c.day - 1 - 719528;  // 719528 days from 0000-01-01 to 1970-01-01
}

void expect_date(int64_t ms, int64_t year, int month, int day, int weekday, int32_t ms_of_day) {
    SCOPED_TRACE(ms);
    date_parts p = ms_to_date(ms);
    EXPECT_EQ(p.year, year);
    EXPECT_EQ(p.month, month);
    EXPECT_EQ(p.day, day);
    EXPECT_EQ(p.weekday, weekday);
    EXPECT_EQ(p.ms_of_day, ms_of_day);
}

TEST(ms_to_date, gives_the_documented_examples) {
    expect_date(0, 1970, 1, 1, 4, 0);
    expect_date(-day_ms, 1969, 12, 31, 3, 0);
    expect_date(-1, 1969, 12, 31, 3, 86399999);
    expect_date(-62135596800000, 1, 1, 1, 1, 0);
    expect_date(-62135596800000 - day_ms, 0, 12, 31, 0, 0);
    expect_date(951782400000, 2000, 2, 29, 2, 0);
    expect_date(-2203891200000, 1900, 3, 1, 4, 0);
    // Far beyond any stored date, and the ends of the 64-bit range.
    expect_date(int64_t{-40896202} * day_ms, -110000, 1, 2, 0, 0);
    expect_date(INT64_MAX, 292278994, 8, 17, 0, 25975807);
    expect_date(INT64_MIN, -292275055, 5, 16, 0, 60424192);
    expect_date(int64_t{INT32_MIN} * day_ms, -5877641, 6, 23, 2, 0);
}

// Walks day by day over more than 5000 years each way from 1970, stepping an independent
// calendar along, at a different millisecond of each day.
TEST(ms_to_date, agrees_with_a_day_by_day_walk) {
    constexpr int64_t span = 2000000;
    for (int direction : {1, -1}) {
        civil c{1970, 1, 1};
        int weekday = 4;
        for (int64_t n = 0; n < span; ++n) {
            int64_t day = n * direction;
            int32_t t = static_cast<int32_t>((n * 7919) % day_ms);
            date_parts p = ms_to_date(day * day_ms + t);
            if (p.year != c.year || p.month != c.month || p.day != c.day || p.weekday != weekday ||
                p.ms_of_day != t) {
                ADD_FAILURE() << "day " << day << ": " << p.year << "-" << int{p.month} << "-"
                              << int{p.day} << " expected " << c.year << "-" << c.month << "-"
                              << c.day;
                return;
            }
            weekday = (weekday + 7 + direction) % 7;
            if (direction > 0) {
                if (++c.day > month_length(c.year, c.month)) {
                    c.day = 1;
                    if (++c.month > 12) c = {c.year + 1, 1, 1};
                }
            } else if (--c.day < 1) {
                if (--c.month < 1) c = {c.year - 1, 12, 31};
                c.day = month_length(c.year, c.month);
            }
        }
    }
}

// Random instants over the whole 64-bit range: the date found counts back to the same day.
TEST(ms_to_date, round_trips_over_the_whole_range) {
    std::mt19937_64 gen(20240309);
    for (int i = 0; i < 200000; ++i) {
        auto ms = static_cast<int64_t>(gen());
        if (i % 4 == 0) ms >>= 20;  // also many values near our own era
        date_parts p = ms_to_date(ms);
        ASSERT_GE(p.month, 1);
        ASSERT_LE(p.month, 12);
        ASSERT_GE(p.day, 1);
        ASSERT_LE(p.day, month_length(p.year, p.month));
        ASSERT_LT(p.weekday, 7);
        int64_t day = days_from_civil({p.year, p.month, p.day});
        ASSERT_EQ(day, floor_div(ms, day_ms)) << ms;
        ASSERT_EQ(p.ms_of_day, ms - day * day_ms) << ms;
        ASSERT_EQ(p.weekday, ((day + 4) % 7 + 7) % 7) << ms;
    }
}

}  // namespace

namespace {

// The date and time as printf prints its fields, for comparison with the renderer's own digit
// writing: the console form (with a date format or none) and the export field.
std::string printf_datetime(int64_t ms, const datef_t* f, bool with_time, bool console) {
    date_parts p = ms_to_date(ms);
    long long year = p.year >= 1 ? p.year : 1 - static_cast<long long>(p.year);
    char buf[512];
    std::string out;
    auto text = [](const char* s) { return std::string(s, strnlen(s, datef_text_size)); };
    bool ordered = false;
    if (f && console) {
        const int32_t pos[3] = {f->year_pos, f->month_pos, f->day_pos};
        std::string field[3];
        bool seen[3] = {};
        ordered = true;
        for (int i = 0; i < 3; ++i) {
            if (pos[i] < 1 || pos[i] > 3 || seen[pos[i] - 1]) {
                ordered = false;
                break;
            }
            seen[pos[i] - 1] = true;
            if (i == 0)
                std::snprintf(buf, sizeof buf, "%04lld", year);
            else
                std::snprintf(buf, sizeof buf, "%02d", i == 1 ? p.month : p.day);
            field[pos[i] - 1] = buf;
        }
        if (ordered) out = field[0] + text(f->datef_p1) + field[1] + text(f->datef_p2) + field[2];
    }
    if (!ordered) {
        std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d", year, p.month, p.day);
        out = buf;
    }
    if (with_time) {
        if (ordered) out += text(f->datef_p3);
        int t = p.ms_of_day;
        std::snprintf(buf, sizeof buf, " %02d:%02d:%02d.%03d", t / 3600000, t / 60000 % 60,
                      t / 1000 % 60, t % 1000);
        out += buf;
    }
    out += p.year >= 1 ? " AD" : " BC";
    out += console ? ' ' : '|';
    return out;
}

// Instants over the whole range, near our era, near the day and year ends, and around the years
// whose printed form grows a fifth digit, in both eras.
std::vector<int64_t> sample_instants(std::mt19937_64& gen, int count) {
    const int64_t edges[] = {days_from_civil({10000, 1, 1}), days_from_civil({-9999, 1, 1}),
                             days_from_civil({-9998, 1, 1}), days_from_civil({1, 1, 1}),
                             days_from_civil({0, 1, 1}),     0};
    std::vector<int64_t> out = {INT64_MIN, INT64_MAX, 0, -1, 1};
    for (int i = 0; i < count; ++i) {
        auto ms = static_cast<int64_t>(gen());
        switch (i % 4) {
            case 0:
                break;
            case 1:
                ms >>= 20;
                break;
            case 2:
                ms = edges[gen() % std::size(edges)] * day_ms + (ms >> 30);
                break;
            default:
                ms = (ms >> 40) * day_ms + (gen() % 2 ? 0 : day_ms - 1);
                break;
        }
        out.push_back(ms);
    }
    return out;
}

TEST(render_value, writes_dates_and_times_as_printf_prints_their_fields) {
    std::mt19937_64 gen(20261209);
    std::vector<datef_t> formats(8);
    formats[0] = datef_t{};
    formats[1] = {3, 2, 1, "/", "/", ","};
    formats[2] = {1, 1, 3, "/", "/", "!"};
    // The longest texts a format holds, also without a closing zero byte.
    formats[3] = {2, 3, 1, "", "", ""};
    std::memset(formats[3].datef_p1, 'a', datef_text_size);
    std::memset(formats[3].datef_p2, 'b', datef_text_size);
    std::memset(formats[3].datef_p3, 'c', datef_text_size);
    for (size_t i = 4; i < formats.size(); ++i) {
        int32_t order[3] = {1, 2, 3};
        std::shuffle(order, order + 3, gen);
        formats[i] = {order[0], order[1], order[2], "-", ". ", " T"};
    }
    for (int64_t ms : sample_instants(gen, 100000)) {
        SCOPED_TRACE(ms);
        const datef_t* f = &formats[gen() % formats.size()];
        int64_t day = floor_div(ms, day_ms);
        ASSERT_EQ(render(13, le(ms), f).console, printf_datetime(ms, f, true, true));
        ASSERT_EQ(exported(13, le(ms)), printf_datetime(ms, nullptr, true, false));
        if (day >= INT32_MIN && day <= INT32_MAX) {
            auto d = static_cast<int32_t>(day);
            ASSERT_EQ(render(10, le(d), f).console, printf_datetime(day * day_ms, f, false, true));
            ASSERT_EQ(render(10, le(d), nullptr).console,
                      printf_datetime(day * day_ms, nullptr, false, true));
            ASSERT_EQ(exported(10, le(d)), printf_datetime(day * day_ms, nullptr, false, false));
        }
    }
}

// The calendar keeps the last day's date: asked again for that day, or for another day and
// then back, it gives each instant its own date and millisecond.
TEST(ms_to_date, gives_each_instant_its_date_when_days_repeat_and_alternate) {
    std::mt19937_64 gen(7);
    std::vector<int64_t> instants = sample_instants(gen, 20000);
    for (size_t i = 0; i < instants.size(); ++i) {
        int64_t ms = instants[i];
        int64_t again = ms - (ms % day_ms) / 2;  // the same day, an earlier millisecond
        for (int64_t v : {ms, again, instants[(i * 7) % instants.size()], ms}) {
            date_parts p = ms_to_date(v);
            int64_t day = days_from_civil({p.year, p.month, p.day});
            ASSERT_EQ(day, floor_div(v, day_ms)) << v;
            // day * day_ms may pass the 64-bit range near its ends: the remainder is taken instead.
            ASSERT_EQ(p.ms_of_day, (v % day_ms + day_ms) % day_ms) << v;
            ASSERT_EQ(p.weekday, ((day + 4) % 7 + 7) % 7) << v;
        }
    }
}

}  // namespace
