// Value rendering: one column value, by its type code, as the listing prints it on the console
// and in the spool file, and as the cursor export writes it. Called once per value of every row,
// so the text is built in place in the caller's buffer: no allocation, no stream, and printf only
// for the floating-point forms whose digits it defines.
#include "output/render.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

inline constexpr int64_t ms_per_day = 86400000;
inline constexpr int64_t us_per_ms = 1000;
inline constexpr int64_t us_per_minute = 60000000;
inline constexpr int64_t us_per_hour = 3600000000;
inline constexpr int hex_max_bytes = 200;
inline constexpr int float_text_size = 192;  // the longest form is four "%18.16e" doubles

// ---- reading values -------------------------------------------------------------------------

// Bytes a value of each type code must hold to be read as its number; 0 for texts and opaque
// values. A non-empty value shorter than this is shown in its hexadecimal form: the server sent
// bytes that are not a value of the type, and the reader never goes past them.
inline constexpr int type_code_count = 46;
inline constexpr uint8_t value_widths[type_code_count] = {
    0,  0,  1,  1, 2,  4, 8, 0, 4, 8,  // 0-9: markers, integers, NUMERIC text, FLOAT, DOUBLE
    4,  4,  6,  8, 10,                 // 10-14: DATE, TIME, TIME WITH TIME ZONE, the DATETIMEs
    4,  4,  4,  4, 4,  4, 4, 4, 4,     // 15-23: 32-bit intervals
    8,  8,  8,  8,                     // 24-27: microsecond intervals
    0,  0,  0,  0, 0,  0, 0,           // 28-34: hexadecimal, texts and markers
    32, 16, 32,                        // 35-37: four, two and four doubles
    0,  0,  0,  0, 0,  0, 0, 0,        // 38-45
};

bool too_short(int type, int len) {
    return len > 0 && type >= 0 && type < type_code_count && len < value_widths[type];
}

// Values arrive at any alignment: every multi-byte read is a copy.
template <class T>
T read_at(const char* data, int at) {
    T v;
    std::memcpy(&v, data + at, sizeof v);
    return v;
}

// The text of a character value: up to its first zero byte, never beyond its length.
std::string_view text_of(const char* data, int len) {
    return {data, strnlen(data, static_cast<size_t>(len))};
}

// A setting's text; a missing one prints as nothing.
std::string_view text_or_empty(const char* s, size_t cap = SIZE_MAX) {
    return s ? std::string_view(s, strnlen(s, cap)) : std::string_view();
}

// ---- numbers as printf prints them ----------------------------------------------------------

// The text of 0-99 as two digits, at twice the number.
constexpr char digit_pairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes v (0-99) as two digits at w; returns the end.
char* write_2(char* w, uint64_t v) {
    std::memcpy(w, digit_pairs + 2 * v, 2);
    return w + 2;
}

// The widest pad the number printers give: their widths are the constants of the forms below.
inline constexpr int num_width_max = 16;

// Writes a number never negative as "%0*d" prints it (width at most num_width_max) at w, which
// has room for num_width_max + 20 bytes; returns the end.
[[gnu::noinline]] char* write_zero_padded_any(char* w, uint64_t v, int width) {
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    auto used = int(end - digits);
    for (; used < width; ++used)
        *w++ = '0';
    std::memcpy(w, digits, size_t(end - digits));
    return w + (end - digits);
}

// The same; the fields of dates and times take the first branches.
inline char* write_zero_padded(char* w, uint64_t v, int width) {
    if (width == 2 && v < 100) return write_2(w, v);
    if (width == 3 && v < 1000) {
        *w++ = char('0' + v / 100);
        return write_2(w, v % 100);
    }
    if (width == 4 && v < 10000) return write_2(write_2(w, v / 100), v % 100);
    return write_zero_padded_any(w, v, width);
}

// Appends a number as "%*d" (zero false) or "%0*d" (zero true) prints it, given as sign and
// magnitude so that 64-bit extremes and a negative zero ("-0", a negative interval shorter
// than its leading unit) print alike. Width at most num_width_max.
void put_num(std::string& out, uint64_t magnitude, bool negative, int width, bool zero) {
    // Written backwards from the end of text: the digits, then the pad and the sign.
    char text[num_width_max + 24];
    char* const end = text + sizeof text;
    char* w = end;
    for (; magnitude >= 100; magnitude /= 100) {
        w -= 2;
        std::memcpy(w, digit_pairs + 2 * (magnitude % 100), 2);
    }
    if (magnitude >= 10) {
        w -= 2;
        std::memcpy(w, digit_pairs + 2 * magnitude, 2);
    } else {
        *--w = char('0' + magnitude);
    }
    int pad = width - static_cast<int>(end - w) - (negative ? 1 : 0);
    if (zero)
        for (; pad > 0; --pad)
            *--w = '0';
    if (negative) *--w = '-';
    for (; pad > 0; --pad)
        *--w = ' ';
    out.append(w, size_t(end - w));
}

uint64_t magnitude_of(int64_t v) {
    return v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

// "%d", "%*d" and "%0*d" of a signed value.
void put_int(std::string& out, int64_t v, int width = 0, bool zero = false) {
    put_num(out, magnitude_of(v), v < 0, width, zero);
}

void put_2(std::string& out, int64_t v) {
    put_int(out, v, 2, true);
}

template <class... A>
void put_printf(std::string& out, const char* fmt, A... args) {
    char buf[float_text_size];
    int n = std::snprintf(buf, sizeof buf, fmt, args...);
    if (n > 0) out.append(buf, static_cast<size_t>(n < float_text_size ? n : float_text_size - 1));
}

// ---- dates and times ------------------------------------------------------------------------

std::string_view era_word(const date_parts& p) {
    return p.year >= 1 ? "AD" : "BC";
}

// The year as printed beside its era word: year 0 is 1 BC.
int64_t printed_year(const date_parts& p) {
    return p.year >= 1 ? p.year : 1 - static_cast<int64_t>(p.year);
}

// Room for the date and time of one value: a year of up to ten digits, the other fields, the
// three separator texts of the date format and the era word.
inline constexpr int datetime_text_size = 3 * datef_text_size + 64;

// Writes a setting's text at w; returns the end.
char* write_text(char* w, std::string_view text) {
    std::memcpy(w, text.data(), text.size());
    return w + text.size();
}

// "%04d-%02d-%02d" of the printed year, the month and the day.
char* write_fixed_date(char* w, const date_parts& p) {
    w = write_zero_padded(w, uint64_t(printed_year(p)), 4);
    *w++ = '-';
    w = write_2(w, p.month);
    *w++ = '-';
    return write_2(w, p.day);
}

void put_fixed_date(std::string& out, const date_parts& p) {
    char text[datetime_text_size];
    out.append(text, size_t(write_fixed_date(text, p) - text));
}

// The date in the order of the DATE_FORMAT setting, the first and second field each followed by
// its separator text. Sets ordered false, having written the fixed year-month-day form, while
// the setting's positions are not a permutation of 1, 2 and 3.
char* write_ordered_date(char* w, const date_parts& p, const datef_t* f, bool& ordered) {
    ordered = false;
    if (!f) return write_fixed_date(w, p);
    uint64_t value[3] = {};
    int width[3] = {};
    bool seen[3] = {};
    const int32_t pos[3] = {f->year_pos, f->month_pos, f->day_pos};
    const uint64_t field[3] = {uint64_t(printed_year(p)), p.month, p.day};
    for (int i = 0; i < 3; ++i) {
        if (pos[i] < 1 || pos[i] > 3 || seen[pos[i] - 1]) return write_fixed_date(w, p);
        seen[pos[i] - 1] = true;
        value[pos[i] - 1] = field[i];
        width[pos[i] - 1] = i == 0 ? 4 : 2;
    }
    ordered = true;
    w = write_zero_padded(w, value[0], width[0]);
    w = write_text(w, text_or_empty(f->datef_p1, datef_text_size));
    w = write_zero_padded(w, value[1], width[1]);
    w = write_text(w, text_or_empty(f->datef_p2, datef_text_size));
    return write_zero_padded(w, value[2], width[2]);
}

// "%02d:%02d:%02d.%03d" of a millisecond of the day (0-86399999).
char* write_time_of_day(char* w, int32_t t) {
    auto u = uint32_t(t);
    w = write_2(w, u / 3600000);
    *w++ = ':';
    w = write_2(w, u / 60000 % 60);
    *w++ = ':';
    w = write_2(w, u / 1000 % 60);
    *w++ = '.';
    return write_zero_padded(w, u % 1000, 3);
}

// TIME: the fields as truncating division gives them, so a negative count prints its signs
// exactly as printf would.
void put_time(std::string& out, int32_t t) {
    put_2(out, t / 3600000);
    out += ':';
    put_2(out, t % 3600000 / 60000);
    out += ':';
    put_2(out, t % 60000 / 1000);
    out += '.';
    put_int(out, t % 1000, 3, true);
}

// The console's date and time of DATE (with_time false), DATETIME and DATETIME WITH TIME ZONE.
void put_console_datetime(std::string& out, const date_parts& p, const datef_t* f, bool with_time) {
    char text[datetime_text_size];
    bool ordered = false;
    char* w = write_ordered_date(text, p, f, ordered);
    if (with_time) {
        if (ordered) w = write_text(w, text_or_empty(f->datef_p3, datef_text_size));
        *w++ = ' ';
        w = write_time_of_day(w, p.ms_of_day);
    }
    *w++ = ' ';
    w = write_text(w, era_word(p));
    *w++ = ' ';
    out.append(text, size_t(w - text));
}

// Milliseconds of local time from UTC microseconds and a zone offset in minutes: the sum is
// divided by 1000 truncating toward zero, as a 64-bit sum would be, but without forming the sum
// (which could leave the 64-bit range).
int64_t local_ms(int64_t us, int16_t offset) {
    int64_t q = us / us_per_ms + int64_t{offset} * 60000;
    int64_t r = us % us_per_ms;
    if (q > 0 && r < 0) return q - 1;
    if (q < 0 && r > 0) return q + 1;
    return q;
}

void put_zone(std::string& out, int16_t offset) {
    int a = offset < 0 ? -int{offset} : int{offset};
    out += offset < 0 ? '-' : '+';
    put_2(out, a / 60);
    out += ':';
    put_2(out, a % 60);
}

// TIME WITH TIME ZONE: local time of day, seconds through "%02.6g", then the zone; no blank.
void put_time_tz(std::string& out, int32_t ms, int16_t offset) {
    int64_t t = (int64_t{ms} + int64_t{offset} * 60000) % ms_per_day;
    if (t < 0) t += ms_per_day;
    put_int(out, t / 3600000);
    out += ':';
    put_2(out, t % 3600000 / 60000);
    out += ':';
    put_printf(out, "%02.6g", static_cast<double>(t % 60000) / 1000.0);
    out += ' ';
    put_zone(out, offset);
}

// ---- intervals ------------------------------------------------------------------------------

// The interval types 15-27, ended by `end` (' ' on the console, '|' in the export). A negative
// value keeps its sign even when its leading field counts 0 units.
void put_interval(std::string& out, int type, const char* data, bool console, char end) {
    if (type >= 24) {
        int64_t v = read_at<int64_t>(data, 0);
        uint64_t a = magnitude_of(v);
        bool neg = v < 0;
        if (type == 27) {
            put_num(out, a / 1000000, neg, console ? 0 : 9, !console);
            out += '.';
            put_num(out, a % 1000000, false, 6, true);
            out += end;
            return;
        }
        if (neg)
            out += '-';
        else if (console)
            out += ' ';
        uint64_t lead = type == 24   ? a / us_per_hour / 24
                        : type == 25 ? a / us_per_minute / 60
                                     : a / us_per_minute;
        put_num(out, lead, false, 7, true);
        if (type == 24) {
            out += ' ';
            put_2(out, static_cast<int64_t>(a / us_per_hour % 24));
        }
        if (type != 26) {
            out += ':';
            put_2(out, static_cast<int64_t>(a / us_per_minute % 60));
        }
        out += ':';
        put_2(out, static_cast<int64_t>(a % us_per_minute / 1000000));
        out += '.';
        put_num(out, a % 1000000, false, 6, true);
        out += end;
        return;
    }
    int64_t v = read_at<int32_t>(data, 0);
    uint64_t a = magnitude_of(v);
    bool neg = v < 0;
    switch (type) {
        case 16:
            put_num(out, a / 12, neg, 9, false);
            out += '-';
            put_2(out, static_cast<int64_t>(a % 12));
            break;
        case 18:
            put_int(out, v);
            break;
        case 19:
            put_num(out, a / 24, neg, 8, false);
            out += ' ';
            put_2(out, static_cast<int64_t>(a % 24));
            break;
        case 21:
            put_num(out, a / 1440, neg, 7, false);
            out += ' ';
            put_2(out, static_cast<int64_t>(a / 60 % 24));
            out += ':';
            put_2(out, static_cast<int64_t>(a % 60));
            break;
        case 22:
            put_num(out, a / 60, neg, 8, false);
            out += ':';
            put_2(out, static_cast<int64_t>(a % 60));
            break;
        default:  // 15, 17, 20, 23: a plain count
            put_int(out, v, 10);
            break;
    }
    out += end;
}

// ---- the console text -----------------------------------------------------------------------

// How the spool text differs from the console text just rendered.
enum class spool_form { same, without_last_blank, with_blank };

void put_hex_form(std::string& out, const char* data, int len, char end) {
    size_t at = out.size();
    out += '<';
    hex_text(data, len, out);
    if (out.size() == at + 1 && end == ' ') {
        out.resize(at);
        out += "<NULL> ";
        return;
    }
    out += '>';
    out += end;
}

void put_doubles(std::string& out, char tag, const char* data, int count, char end) {
    double d[4] = {};
    for (int i = 0; i < count; ++i)
        d[i] = read_at<double>(data, i * 8);
    if (count == 2)
        put_printf(out, "%c(%18.16e,%18.16e)%c", tag, d[0], d[1], end);
    else
        put_printf(out, "%c(%18.16e,%18.16e,%18.16e,%18.16e)%c", tag, d[0], d[1], d[2], d[3], end);
}

// Inlined into render_value, its one caller, which runs once per value of every listed row.
[[gnu::always_inline]] inline spool_form put_console_value(std::string& out, int type,
                                                           const char* data, int len,
                                                           const render_settings& s) {
    switch (type) {
        case 33:
            out += "<BINARY> ";
            return spool_form::same;
        case 34:
            out += "<BLOB> ";
            return spool_form::same;
        case 29:
            if (len < 1) {
                out += text_or_empty(s.null_text);
                out += ' ';
            } else {
                out += '<';
                out += text_of(data, len);
                out += "> ";
            }
            return spool_form::same;
        default:
            break;
    }
    bool hex_type = type < 1 || type > 45 || type == 28 || (type >= 38 && type <= 44);
    if (hex_type || too_short(type, len)) {
        put_hex_form(out, data, len, ' ');
        return spool_form::same;
    }
    if (len < 1) {
        out += text_or_empty(s.null_text);
        return spool_form::same;
    }
    switch (type) {
        case 2:
            out += data[0];
            out += ' ';
            break;
        case 3:
            put_int(out, static_cast<int8_t>(data[0]));
            out += ' ';
            break;
        case 4:
            put_int(out, read_at<int16_t>(data, 0));
            out += ' ';
            break;
        case 5:
            put_int(out, read_at<int32_t>(data, 0));
            out += ' ';
            break;
        case 6:
            put_int(out, read_at<int64_t>(data, 0));
            out += ' ';
            return spool_form::without_last_blank;
        case 7:
        case 30:
        case 31:
        case 32:
        case 45:
            out += text_of(data, len);
            break;
        case 8: {
            float f = read_at<float>(data, 0);
            if (std::isfinite(f)) {
                put_printf(out, "%e ", static_cast<double>(f));
                break;
            }
            out += std::isnan(f) ? "NaN" : f > 0 ? "Infinity" : "-Infinity";
            return spool_form::with_blank;
        }
        case 9:
            put_printf(out, "%e ", read_at<double>(data, 0));
            break;
        case 10:
            put_console_datetime(out, ms_to_date(int64_t{read_at<int32_t>(data, 0)} * ms_per_day),
                                 s.datef, false);
            break;
        case 11:
            put_time(out, read_at<int32_t>(data, 0));
            out += ' ';
            break;
        case 12:
            put_time_tz(out, read_at<int32_t>(data, 0), read_at<int16_t>(data, 4));
            break;
        case 13:
            put_console_datetime(out, ms_to_date(read_at<int64_t>(data, 0)), s.datef, true);
            break;
        case 14: {
            int16_t offset = read_at<int16_t>(data, 8);
            put_console_datetime(out, ms_to_date(local_ms(read_at<int64_t>(data, 0), offset)),
                                 s.datef, true);
            put_zone(out, offset);
            out += ' ';
            break;
        }
        case 35:
            put_doubles(out, 'G', data, 4, ' ');
            break;
        case 36:
            put_doubles(out, 'P', data, 2, ' ');
            break;
        case 37:
            put_doubles(out, 'B', data, 4, ' ');
            break;
        default:  // 15-27
            put_interval(out, type, data, true, ' ');
            break;
    }
    return spool_form::same;
}

// Export text: every line feed becomes the two characters "^%", keeping one line per row.
void put_export_text(std::string& out, std::string_view text) {
    for (size_t at = 0;;) {
        size_t lf = text.find('\n', at);
        if (lf == std::string_view::npos) {
            out.append(text.substr(at));
            return;
        }
        out.append(text.substr(at, lf - at));
        out += "^%";
        at = lf + 1;
    }
}

// The date of a day counted from 1970-01-01, its millisecond left 0. The rows of a listing
// mostly hold dates of few days: the last day's date is kept (per thread) and given again.
date_parts date_of_day(int64_t days) {
    thread_local int64_t last_days = INT64_MIN;
    thread_local date_parts last{};
    if (days == last_days) return last;
    date_parts p{};
    int64_t weekday = (days + 4) % 7;  // 1970-01-01 was a Thursday
    p.weekday = static_cast<uint8_t>(weekday < 0 ? weekday + 7 : weekday);

    // Days since 0000-03-01 in 400-year cycles; a year counted from March puts the leap day
    // last, so the month follows from the day of the year by one linear formula.
    int64_t z = days + 719468;
    int64_t cycle = (z >= 0 ? z : z - 146096) / 146097;
    int64_t day_of_cycle = z - cycle * 146097;  // 0-146096
    int64_t year_of_cycle =
        (day_of_cycle - day_of_cycle / 1460 + day_of_cycle / 36524 - day_of_cycle / 146096) / 365;
    int64_t day_of_year = day_of_cycle - (365 * year_of_cycle + year_of_cycle / 4 -
                                          year_of_cycle / 100);  // 0-365, from March 1
    int64_t march_month = (5 * day_of_year + 2) / 153;           // 0 = March
    p.day = static_cast<uint8_t>(day_of_year - (153 * march_month + 2) / 5 + 1);
    p.month = static_cast<uint8_t>(march_month < 10 ? march_month + 3 : march_month - 9);
    p.year = static_cast<int32_t>(year_of_cycle + cycle * 400 + (p.month <= 2 ? 1 : 0));
    last_days = days;
    last = p;
    return p;
}

}  // namespace

date_parts ms_to_date(int64_t ms) {
    // Floor division: the millisecond of the day is never negative. Every 64-bit count lies
    // within about 292 million years of 1970, which a 32-bit year holds, so no value is clamped.
    int64_t days = ms / ms_per_day;
    int64_t rest = ms % ms_per_day;
    if (rest < 0) {
        rest += ms_per_day;
        --days;
    }
    date_parts p = date_of_day(days);
    p.ms_of_day = static_cast<int32_t>(rest);
    return p;
}

void hex_text(const char* data, int len, std::string& out) {
    static constexpr char digits[] = "0123456789ABCDEF";
    int n = len < hex_max_bytes ? len : hex_max_bytes;
    for (int i = 0; i < n; ++i) {
        auto b = static_cast<unsigned char>(data[i]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
}

void render_value(int type, const char* data, int len, const render_settings& s,
                  std::string& console, std::string* spool) {
    if (type == 1) {
        console += "<NULL> ";  // the spool copy leaves NULL-typed columns out
        return;
    }
    size_t at = console.size();
    spool_form form = put_console_value(console, type, data, len, s);
    if (!spool) return;
    size_t n = console.size() - at;
    if (form == spool_form::without_last_blank && n > 0) --n;
    spool->append(console, at, n);
    if (form == spool_form::with_blank) *spool += ' ';
}

void render_export_value(int type, const char* data, int len, std::string& out) {
    switch (type) {
        case 32:
            out += "<CLOB>|";
            return;
        case 33:
            out += "<BINARY>|";
            return;
        case 34:
            out += "<BLOB>|";
            return;
        default:
            break;
    }
    bool hex_type = type < 2 || type > 45 || type == 12 || type == 14 || type == 28 || type == 29 ||
                    (type >= 38 && type <= 44);
    if (hex_type || too_short(type, len)) {
        put_hex_form(out, data, len, '|');
        return;
    }
    if (len < 1) {
        out += '|';
        return;
    }
    switch (type) {
        case 2:
            out += data[0];
            break;
        case 3:
            put_int(out, static_cast<int8_t>(data[0]));
            break;
        case 4:
            put_int(out, read_at<int16_t>(data, 0));
            break;
        case 5:
            put_int(out, read_at<int32_t>(data, 0));
            break;
        case 6:
            put_int(out, read_at<int64_t>(data, 0));
            break;
        case 7:
            out += text_of(data, len);
            break;
        case 8:
            put_printf(out, "%e", static_cast<double>(read_at<float>(data, 0)));
            break;
        case 9:
            put_printf(out, "%e", read_at<double>(data, 0));
            break;
        case 10: {
            date_parts p = ms_to_date(int64_t{read_at<int32_t>(data, 0)} * ms_per_day);
            put_fixed_date(out, p);
            out += ' ';
            out += era_word(p);
            break;
        }
        case 11:
            put_time(out, read_at<int32_t>(data, 0));
            break;
        case 13: {
            date_parts p = ms_to_date(read_at<int64_t>(data, 0));
            char text[datetime_text_size];
            char* w = write_fixed_date(text, p);
            *w++ = ' ';
            w = write_time_of_day(w, p.ms_of_day);
            *w++ = ' ';
            out.append(text, size_t(write_text(w, era_word(p)) - text));
            break;
        }
        case 30:
        case 31:
        case 45:
            put_export_text(out, text_of(data, len));
            break;
        case 35:
            put_doubles(out, 'G', data, 4, '|');
            return;
        case 36:
            put_doubles(out, 'P', data, 2, '|');
            return;
        case 37:
            put_doubles(out, 'B', data, 4, '|');
            return;
        default:  // 15-27
            put_interval(out, type, data, false, '|');
            return;
    }
    out += '|';
}
