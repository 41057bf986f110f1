// Reads the literal forms of norvlite's typed values and writes each stored value in the wire
// form of its column's type code, straight into the reply buffer: one switch over the codes,
// one small writer per family, no allocation per value.
#include "server/value_codec.h"
#include "server/text.h"

#include <sqlite3.h>

#include <bit>
#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>

#include "protocol/type_codes.h"

namespace {

constexpr int64_t ms_per_day = 86400000;
constexpr int64_t us_per_day = ms_per_day * 1000;
constexpr int64_t us_per_minute = 60000000;
constexpr int max_year = 32767;  // the calendar's range, both signs
constexpr int guid_bytes = 16;
constexpr int guid_text_size = 36;
constexpr size_t double_fixed_size = 330;  // digits of the largest double in fixed notation

bool digit(char c) {
    return c >= '0' && c <= '9';
}
// A cursor over one literal.
struct scan {
    std::string_view t;
    size_t i = 0;

    bool done() const { return i == t.size(); }
    char peek() const { return i < t.size() ? t[i] : '\0'; }
    bool eat(char c) {
        if (peek() != c) return false;
        ++i;
        return true;
    }
    void skip_blanks() {
        while (srv_blank(peek()))
            ++i;
    }
    // min_n to max_n decimal digits.
    bool digits(int min_n, int max_n, int64_t& v) {
        int n = 0;
        v = 0;
        while (n < max_n && digit(peek())) {
            v = v * 10 + (t[i++] - '0');
            ++n;
        }
        return n >= min_n;
    }
};

bool read_date(scan& s, int64_t& days) {
    bool negative = s.eat('-');
    if (!negative) s.eat('+');
    int64_t y = 0, m = 0, d = 0;
    if (!s.digits(1, 5, y) || !s.eat('-') || !s.digits(1, 2, m) || !s.eat('-') ||
        !s.digits(1, 2, d)) {
        return false;
    }
    if (negative) y = -y;
    if (y < -max_year || y > max_year) return false;
    using namespace std::chrono;
    year_month_day ymd{year(static_cast<int>(y)), month(static_cast<unsigned>(m)),
                       day(static_cast<unsigned>(d))};
    if (!ymd.ok()) return false;
    days = sys_days(ymd).time_since_epoch().count();
    return true;
}

// 'H[H]:MM[:SS[.f...]]' as microseconds of the day; fraction digits past the sixth are dropped.
bool read_time(scan& s, int64_t& us) {
    int64_t h = 0, m = 0, sec = 0, frac = 0;
    if (!s.digits(1, 2, h) || !s.eat(':') || !s.digits(2, 2, m)) return false;
    if (s.eat(':')) {
        if (!s.digits(2, 2, sec)) return false;
        if (s.eat('.')) {
            int n = 0;
            while (digit(s.peek())) {
                if (n < 6) frac = frac * 10 + (s.peek() - '0');
                ++n;
                ++s.i;
            }
            if (n == 0) return false;
            for (; n < 6; ++n)
                frac *= 10;
        }
    }
    if (h > 23 || m > 59 || sec > 59) return false;
    us = ((h * 60 + m) * 60 + sec) * 1000000 + frac;
    return true;
}

// 'Z', or a sign and hh[:mm] or hhmm, as minutes east of UTC.
bool read_offset(scan& s, int64_t& minutes) {
    if (s.eat('Z') || s.eat('z')) {
        minutes = 0;
        return true;
    }
    int sign = s.eat('+') ? 1 : s.eat('-') ? -1 : 0;
    int64_t hh = 0, mm = 0;
    if (sign == 0 || !s.digits(2, 2, hh)) return false;
    if (s.eat(':') ? !s.digits(2, 2, mm) : (digit(s.peek()) && !s.digits(2, 2, mm))) return false;
    if (hh > 23 || mm > 59) return false;
    minutes = sign * (hh * 60 + mm);
    return true;
}

// A date, optionally a time after blanks or 'T', optionally (when allowed) a zone offset, and
// nothing else.
bool read_stamp(std::string_view text, int64_t& days, int64_t& us, bool allow_offset,
                int64_t& offset) {
    scan s{srv_trim(text)};
    us = 0;
    offset = 0;
    if (!read_date(s, days)) return false;
    size_t before = s.i;
    s.skip_blanks();
    if (s.i == before) s.eat('T');
    if (s.i > before && digit(s.peek()) && !read_time(s, us)) return false;
    s.skip_blanks();
    if (allow_offset && !s.done() && !read_offset(s, offset)) return false;
    return s.done();
}

bool read_time_offset(std::string_view text, int64_t& us, int64_t& offset) {
    scan s{srv_trim(text)};
    offset = 0;
    if (!read_time(s, us)) return false;
    s.skip_blanks();
    if (!s.done() && !read_offset(s, offset)) return false;
    return s.done();
}

bool parse_double(std::string_view t, double& v) {
    t = srv_trim(t);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    if (t.empty()) return false;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    return ec == std::errc() && end == t.data() + t.size();
}

bool double_to_int(double d, int64_t& v) {
    constexpr double two_63 = 9223372036854775808.0;
    if (std::isnan(d)) return false;
    if (d >= two_63) {
        v = std::numeric_limits<int64_t>::max();
    } else if (d < -two_63) {
        v = std::numeric_limits<int64_t>::min();
    } else {
        v = static_cast<int64_t>(d);
    }
    return true;
}

bool parse_int(std::string_view t, int64_t& v) {
    t = srv_trim(t);
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec == std::errc() && end == t.data() + t.size() && !t.empty()) return true;
    double d = 0;
    return parse_double(t, d) && double_to_int(d, v);
}

int64_t clamp_to(int64_t v, int width) {
    if (width >= 8) return v;
    const int64_t hi = (int64_t{1} << (width * 8 - 1)) - 1;
    return v > hi ? hi : v < -hi - 1 ? -hi - 1 : v;
}

// ---- reading the stored value -----------------------------------------------------------------

std::string_view column_text(sqlite3_stmt* st, int col) {
    const unsigned char* p = sqlite3_column_text(st, col);
    int n = sqlite3_column_bytes(st, col);
    return p ? std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
             : std::string_view();
}

bool column_int(sqlite3_stmt* st, int col, int storage, int64_t& v) {
    switch (storage) {
        case SQLITE_INTEGER:
            v = sqlite3_column_int64(st, col);
            return true;
        case SQLITE_FLOAT:
            return double_to_int(sqlite3_column_double(st, col), v);
        default:
            return parse_int(column_text(st, col), v);
    }
}

bool column_double(sqlite3_stmt* st, int col, int storage, double& v) {
    switch (storage) {
        case SQLITE_INTEGER:
            v = static_cast<double>(sqlite3_column_int64(st, col));
            return true;
        case SQLITE_FLOAT:
            v = sqlite3_column_double(st, col);
            return true;
        default:
            return parse_double(column_text(st, col), v);
    }
}

// ---- writing the wire form ----------------------------------------------------------------------

void put_null(srv_writer& w) {
    srv_put_i32(w, 0);
}

void put_bytes(srv_writer& w, std::string_view bytes) {
    srv_put_text(w, bytes);
}

void put_int(srv_writer& w, int64_t v, int width) {
    srv_put_i32(w, width);
    srv_put_be(w, static_cast<uint64_t>(clamp_to(v, width)), width);
}

void put_integer(srv_writer& w, sqlite3_stmt* st, int col, int storage, int width) {
    int64_t v = 0;
    if (!column_int(st, col, storage, v)) return put_null(w);
    put_int(w, v, width);
}

void put_bool(srv_writer& w, sqlite3_stmt* st, int col, int storage) {
    bool b = false;
    if (storage == SQLITE_INTEGER) {
        b = sqlite3_column_int64(st, col) != 0;
    } else if (storage == SQLITE_FLOAT) {
        b = sqlite3_column_double(st, col) != 0;
    } else if (!srv_parse_bool(column_text(st, col), b)) {
        return put_null(w);
    }
    srv_put_i32(w, 1);
    srv_put_u8(w, b ? 'T' : 'F');
}

void put_real(srv_writer& w, sqlite3_stmt* st, int col, int storage, bool single) {
    double d = 0;
    if (!column_double(st, col, storage, d)) return put_null(w);
    if (single) {
        srv_put_i32(w, 4);
        srv_put_be(w, std::bit_cast<uint32_t>(static_cast<float>(d)), 4);
    } else {
        srv_put_i32(w, 8);
        srv_put_be(w, std::bit_cast<uint64_t>(d), 8);
    }
}

// Fixed notation of d with scale digits (shortest exact form when scale < 0) into out.
bool fixed_text(double d, int scale, std::string& out) {
    if (!std::isfinite(d)) return false;
    out.resize(double_fixed_size + static_cast<size_t>(scale < 0 ? 0 : scale));
    auto r = scale < 0
                 ? std::to_chars(out.data(), out.data() + out.size(), d, std::chars_format::fixed)
                 : std::to_chars(out.data(), out.data() + out.size(), d, std::chars_format::fixed,
                                 scale);
    if (r.ec != std::errc()) return false;
    out.resize(static_cast<size_t>(r.ptr - out.data()));
    if (out.starts_with('-') && out.find_first_of("123456789") == std::string::npos) {
        out.erase(0, 1);
    }
    return true;
}

void put_numeric(srv_writer& w, sqlite3_stmt* st, int col, int storage, int32_t type_mod,
                 std::string& scratch) {
    const int scale = type_mod < 0 ? -1 : (type_mod & 0xffff);
    bool ok = false;
    if (storage == SQLITE_INTEGER) {
        char digits[24];
        auto r = std::to_chars(digits, digits + sizeof digits, sqlite3_column_int64(st, col));
        ok = srv_decimal_text(std::string_view(digits, static_cast<size_t>(r.ptr - digits)), scale,
                              scratch);
    } else if (storage == SQLITE_FLOAT) {
        ok = fixed_text(sqlite3_column_double(st, col), scale, scratch);
    } else {
        std::string_view text = column_text(st, col);
        double d = 0;
        ok = srv_decimal_text(text, scale, scratch) ||
             (parse_double(text, d) && fixed_text(d, scale, scratch));
    }
    if (!ok) return put_null(w);
    put_bytes(w, scratch);
}

void put_date(srv_writer& w, sqlite3_stmt* st, int col, int storage) {
    int64_t days = 0;
    if (storage == SQLITE_INTEGER) {
        days = sqlite3_column_int64(st, col);
    } else if (storage == SQLITE_FLOAT) {
        double d = std::floor(sqlite3_column_double(st, col));
        if (!double_to_int(d, days)) return put_null(w);
    } else {
        int32_t v = 0;
        if (!srv_parse_date(column_text(st, col), v)) return put_null(w);
        days = v;
    }
    put_int(w, days, 4);
}

void put_time(srv_writer& w, sqlite3_stmt* st, int col, int storage) {
    int64_t ms = 0;
    if (storage == SQLITE_TEXT || storage == SQLITE_BLOB) {
        int32_t v = 0;
        if (!srv_parse_time(column_text(st, col), v)) return put_null(w);
        ms = v;
    } else if (!column_int(st, col, storage, ms)) {
        return put_null(w);
    }
    put_int(w, ms, 4);
}

void put_time_tz(srv_writer& w, sqlite3_stmt* st, int col, int storage) {
    int64_t ms = 0;
    int16_t offset = 0;
    if (storage == SQLITE_TEXT || storage == SQLITE_BLOB) {
        int32_t v = 0;
        if (!srv_parse_time_tz(column_text(st, col), v, offset)) return put_null(w);
        ms = v;
    } else if (!column_int(st, col, storage, ms)) {
        return put_null(w);
    }
    srv_put_i32(w, 6);
    srv_put_be(w, static_cast<uint64_t>(clamp_to(ms, 4)), 4);
    srv_put_be(w, static_cast<uint16_t>(offset), 2);
}

void put_datetime(srv_writer& w, sqlite3_stmt* st, int col, int storage) {
    int64_t ms = 0;
    if (storage == SQLITE_TEXT || storage == SQLITE_BLOB) {
        if (!srv_parse_datetime(column_text(st, col), ms)) return put_null(w);
    } else if (!column_int(st, col, storage, ms)) {
        return put_null(w);
    }
    put_int(w, ms, 8);
}

void put_datetime_tz(srv_writer& w, sqlite3_stmt* st, int col, int storage) {
    int64_t us = 0;
    int16_t offset = 0;
    if (storage == SQLITE_TEXT || storage == SQLITE_BLOB) {
        if (!srv_parse_datetime_tz(column_text(st, col), us, offset)) return put_null(w);
    } else if (!column_int(st, col, storage, us)) {
        return put_null(w);
    }
    srv_put_i32(w, 10);
    srv_put_be(w, static_cast<uint64_t>(us), 8);
    srv_put_be(w, static_cast<uint16_t>(offset), 2);
}

void put_text(srv_writer& w, sqlite3_stmt* st, int col) {
    put_bytes(w, column_text(st, col));
}

void put_blob(srv_writer& w, sqlite3_stmt* st, int col) {
    const void* p = sqlite3_column_blob(st, col);
    int n = sqlite3_column_bytes(st, col);
    put_bytes(w, p ? std::string_view(static_cast<const char*>(p), static_cast<size_t>(n))
                   : std::string_view());
}

void put_guid(srv_writer& w, sqlite3_stmt* st, int col, int storage) {
    if (storage != SQLITE_BLOB || sqlite3_column_bytes(st, col) != guid_bytes) {
        return put_text(w, st, col);
    }
    const auto* b = static_cast<const unsigned char*>(sqlite3_column_blob(st, col));
    char text[guid_text_size];
    int at = 0;
    for (int i = 0; i < guid_bytes; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text[at++] = '-';
        text[at++] = "0123456789abcdef"[b[i] >> 4];
        text[at++] = "0123456789abcdef"[b[i] & 15];
    }
    put_bytes(w, std::string_view(text, sizeof text));
}

// Doubles for GEOMETRY (little-endian, as the client leaves them), POINT and BOX (big-endian).
void put_doubles(srv_writer& w, sqlite3_stmt* st, int col, int storage, int count,
                 bool little_endian) {
    const int size = count * 8;
    if (storage == SQLITE_BLOB) {
        if (sqlite3_column_bytes(st, col) != size) return put_null(w);
        return put_blob(w, st, col);
    }
    double v[4] = {};
    if (storage != SQLITE_TEXT || !srv_parse_doubles(column_text(st, col), v, count)) {
        return put_null(w);
    }
    srv_put_i32(w, size);
    for (int i = 0; i < count; ++i) {
        uint64_t bits = std::bit_cast<uint64_t>(v[i]);
        if (!little_endian) {
            srv_put_be(w, bits, 8);
            continue;
        }
        unsigned char b[8];
        for (unsigned char& byte : b) {
            byte = static_cast<unsigned char>(bits);
            bits >>= 8;
        }
        srv_put(w, b, sizeof b);
    }
}

// Types sent as received: stored bytes, or numbers as 8 big-endian bytes.
void put_raw(srv_writer& w, sqlite3_stmt* st, int col, int storage) {
    if (storage == SQLITE_INTEGER) {
        srv_put_i32(w, 8);
        srv_put_be(w, static_cast<uint64_t>(sqlite3_column_int64(st, col)), 8);
    } else if (storage == SQLITE_FLOAT) {
        srv_put_i32(w, 8);
        srv_put_be(w, std::bit_cast<uint64_t>(sqlite3_column_double(st, col)), 8);
    } else {
        put_blob(w, st, col);
    }
}

}  // namespace

bool srv_parse_date(std::string_view text, int32_t& days) {
    int64_t d = 0, us = 0, offset = 0;
    if (!read_stamp(text, d, us, false, offset)) return false;
    days = static_cast<int32_t>(d);  // |d| < 12 million within the calendar's range
    return true;
}

bool srv_parse_time(std::string_view text, int32_t& ms) {
    scan s{srv_trim(text)};
    int64_t us = 0;
    if (!read_time(s, us) || !s.done()) return false;
    ms = static_cast<int32_t>(us / 1000);
    return true;
}

bool srv_parse_time_tz(std::string_view text, int32_t& utc_ms, int16_t& offset_min) {
    int64_t us = 0, offset = 0;
    if (!read_time_offset(text, us, offset)) return false;
    int64_t ms = (us / 1000 - offset * 60000) % ms_per_day;
    utc_ms = static_cast<int32_t>(ms < 0 ? ms + ms_per_day : ms);
    offset_min = static_cast<int16_t>(offset);
    return true;
}

bool srv_parse_datetime(std::string_view text, int64_t& ms) {
    int64_t days = 0, us = 0, offset = 0;
    if (!read_stamp(text, days, us, false, offset)) return false;
    ms = days * ms_per_day + us / 1000;
    return true;
}

bool srv_parse_datetime_tz(std::string_view text, int64_t& utc_us, int16_t& offset_min) {
    int64_t days = 0, us = 0, offset = 0;
    if (!read_stamp(text, days, us, true, offset)) return false;
    utc_us = days * us_per_day + us - offset * us_per_minute;
    offset_min = static_cast<int16_t>(offset);
    return true;
}

bool srv_parse_bool(std::string_view text, bool& value) {
    constexpr std::string_view yes[] = {"true", "t", "yes", "y", "on", "1"};
    constexpr std::string_view no[] = {"false", "f", "no", "n", "off", "0"};
    text = srv_trim(text);
    auto same = [&](std::string_view word) {
        if (word.size() != text.size()) return false;
        for (size_t i = 0; i < word.size(); ++i) {
            if (srv_lower(text[i]) != word[i]) return false;
        }
        return true;
    };
    for (std::string_view word : yes) {
        if (same(word)) return value = true;
    }
    for (std::string_view word : no) {
        if (same(word)) {
            value = false;
            return true;
        }
    }
    return false;
}

bool srv_parse_doubles(std::string_view text, double* out, int count) {
    auto ignorable = [](char c) {
        return srv_blank(c) || c == '(' || c == ')' || c == '[' || c == ']';
    };
    size_t i = 0;
    int n = 0;
    for (;;) {
        while (i < text.size() && ignorable(text[i]))
            ++i;
        size_t start = i;
        while (i < text.size() && text[i] != ',' && !ignorable(text[i]))
            ++i;
        if (n == count || !parse_double(text.substr(start, i - start), out[n])) return false;
        ++n;
        while (i < text.size() && ignorable(text[i]))
            ++i;
        if (i == text.size()) break;
        if (text[i++] != ',') return false;
    }
    return n == count;
}

bool srv_decimal_text(std::string_view text, int scale, std::string& out) {
    std::string_view t = srv_trim(text);
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    size_t dot = t.find('.');
    std::string_view whole = t.substr(0, dot);
    std::string_view frac = dot == std::string_view::npos ? std::string_view() : t.substr(dot + 1);
    if (whole.empty() && frac.empty()) return false;
    for (std::string_view part : {whole, frac}) {
        for (char c : part) {
            if (!digit(c)) return false;
        }
    }
    while (!whole.empty() && whole.front() == '0')
        whole.remove_prefix(1);

    out.clear();
    if (scale < 0) {
        out.append(whole.empty() ? "0" : whole);
        if (!frac.empty()) out.append(".").append(frac);
    } else {
        const size_t s = static_cast<size_t>(scale);
        out.append(whole).append(frac.substr(0, s));
        if (frac.size() < s) out.append(s - frac.size(), '0');
        if (frac.size() > s && frac[s] >= '5') {
            size_t i = out.size();
            while (i > 0 && out[i - 1] == '9')
                out[--i] = '0';
            if (i == 0) {
                out.insert(out.begin(), '1');
            } else {
                ++out[i - 1];
            }
        }
        if (out.size() <= s) out.insert(0, s + 1 - out.size(), '0');
        if (s > 0) out.insert(out.size() - s, ".");
    }
    if (negative && out.find_first_of("123456789") != std::string::npos) out.insert(0, "-");
    return true;
}

void srv_put_value(srv_writer& w, int code, int32_t type_mod, sqlite3_stmt* st, int col,
                   std::string& scratch) {
    const int storage = sqlite3_column_type(st, col);
    if (storage == SQLITE_NULL) return put_null(w);
    switch (code) {
        case db_type_boolean:
            return put_bool(w, st, col, storage);
        case db_type_tinyint:
            return put_integer(w, st, col, storage, 1);
        case db_type_smallint:
            return put_integer(w, st, col, storage, 2);
        case db_type_integer:
            return put_integer(w, st, col, storage, 4);
        case db_type_bigint:
            return put_integer(w, st, col, storage, 8);
        case db_type_numeric:
            return put_numeric(w, st, col, storage, type_mod, scratch);
        case db_type_float:
            return put_real(w, st, col, storage, true);
        case db_type_double:
            return put_real(w, st, col, storage, false);
        case db_type_date:
            return put_date(w, st, col, storage);
        case db_type_time:
            return put_time(w, st, col, storage);
        case db_type_time_tz:
            return put_time_tz(w, st, col, storage);
        case db_type_datetime:
            return put_datetime(w, st, col, storage);
        case db_type_datetime_tz:
            return put_datetime_tz(w, st, col, storage);
        case db_type_interval_y:
        case db_type_interval_y2m:
        case db_type_interval_m:
        case db_type_interval_d:
        case db_type_interval_d2h:
        case db_type_interval_h:
        case db_type_interval_d2m:
        case db_type_interval_h2m:
        case db_type_interval_mi:
            return put_integer(w, st, col, storage, 4);
        case db_type_interval_d2s:
        case db_type_interval_h2s:
        case db_type_interval_m2s:
        case db_type_interval_s:
            return put_integer(w, st, col, storage, 8);
        case db_type_guid:
            return put_guid(w, st, col, storage);
        case db_type_char:
        case db_type_nchar:
        case db_type_clob:
        case db_type_rowid:
            return put_text(w, st, col);
        case db_type_binary:
        case db_type_blob:
            return put_blob(w, st, col);
        case db_type_geometry:
            return put_doubles(w, st, col, storage, 4, true);
        case db_type_point:
            return put_doubles(w, st, col, storage, 2, false);
        case db_type_box:
            return put_doubles(w, st, col, storage, 4, false);
        default:
            return put_raw(w, st, col, storage);
    }
}
