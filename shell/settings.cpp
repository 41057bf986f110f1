// SHOW, SET and RESET: the console's display settings, kept in the console record (the date
// format with the rendering, output/date_format.h) and read by the listing. Options the console
// does not know go to the server as typed.
#include "shell/settings.h"

#include <cstring>
#include <string>
#include <string_view>

#include "output/execute.h"
#include "platform/console.h"
#include "platform/system.h"
#include "shell/keywords.h"
#include "state/console_state.h"

namespace {

inline constexpr size_t option_word_max = 21;
inline constexpr size_t switch_word_max = 5;
inline constexpr int null_text_size = 200;

// Reads the line left to right.
struct scanner {
    const char* p;
    const char* end;      // the line's raw end
    const char* trimmed;  // the end less trailing blanks and tabs

    void skip_blanks() {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
    }
    // A word of at most max characters, ending at a blank, tab, line end, the end or (when
    // semicolon_ends) ';'.
    std::string_view word(size_t max, bool semicolon_ends) {
        const char* start = p;
        while (p < end && size_t(p - start) < max && *p != ' ' && *p != '\t' && *p != '\r' &&
               *p != '\n' && !(semicolon_ends && *p == ';'))
            ++p;
        return {start, size_t(p - start)};
    }
    // After the value and the ';' characters directly following it, nothing but trailing blanks.
    bool at_end() const {
        const char* q = p;
        while (q < end && *q == ';')
            ++q;
        return q >= trimmed;
    }
};

scanner scan_after(const command_line& cl) {
    const char* end = cl.line + cl.raw;
    const char* trimmed = cl.line + cl.trimmed;
    return {cl.rest, end, trimmed};
}

// Runs the whole line on the server and reports it like any statement.
void send_line_to_server(const command_line& cl) {
    run_and_report(cl.line);
}

// A number of at most max_digits digits; the word stops at the first character that is not a
// digit. Returns -1 when invalid (too many digits, or not at the end of the line).
long read_number(scanner& sc, size_t max_digits, const char** value_start) {
    *value_start = sc.p;
    long v = 0;
    size_t digits = 0;
    while (sc.p < sc.end && *sc.p >= '0' && *sc.p <= '9') {
        if (digits == max_digits) return -1;
        v = v * 10 + (*sc.p - '0');
        ++digits;
        ++sc.p;
    }
    return sc.at_end() ? v : -1;
}

void invalid_number(const char* from, const scanner& sc) {
    con_printf("Invalid number:%.*s\r\n", int(sc.end - from), from);
}

void set_pagesize(scanner& sc) {
    const char* from;
    long v = read_number(sc, 8, &from);
    if (v < 0) return invalid_number(from, sc);
    g_console.pagesize = int32_t(v);
    if (v == 0) {
        con_printf("Fail! pagesize Need to be greater than 0\r\n");
        return;
    }
    g_console.b_pause = true;
    con_printf("pagesize %d\r\n", g_console.pagesize);
}

void set_str_size(scanner& sc) {
    while (sc.p < sc.end && *sc.p == '0')
        ++sc.p;
    const char* from;
    long v = read_number(sc, 8, &from);
    if (v < 0) return invalid_number(from, sc);
    g_console.string_size = int32_t(v);
    if (v == 0)
        con_printf("Fail! str_size Need to be greater than 0\r\n");
    else
        con_printf("str_size %d\r\n", g_console.string_size);
}

void set_num_size(scanner& sc) {
    const char* from;
    long v = read_number(sc, 2, &from);
    if (v < 0) return invalid_number(from, sc);
    if (v > 38) {
        con_printf("The specified precision too large");
        return;
    }
    g_console.number_size = int32_t(v);
    con_printf("NUM_SIZE %d\r\n", g_console.number_size);
}

struct switch_option {
    const char* name;
    bool console_state::*flag;
    const char* not_at_end;
    const char* on;
    const char* off;
    const char* other;
};

const switch_option switch_options[] = {
    {"HEADING", &console_state::heading, "HEADING must be ON or OFF\r\n", "HEADING ON\r\n",
     "HEADING OFF\r\n", "heading must be ON or OFF\r\n"},
    {"SHOW_TYPE", &console_state::show_type, "SHOW_TYPE MUST BE ON or OFF\r\n", "SHOW_TYPE ON\r\n",
     "SHOW_TYPE OFF\r\n", "SHOW_TYPE MUST BE ON or OFF"},
    {"SPUT_HEAD", &console_state::sput_head, "SPUT_HEAD must be ON or OFF\r\n", "SPUT_HEAD ON\r\n",
     "SPUT_HEAD OFF\r\n", "SPUT_HEAD MUST BE ON or OFF\r\n"},
    {"B_PAUSE", &console_state::b_pause, "B_PAUSE MUST BE ON OR OFF\r\n", "B_PAUSE ON\r\n",
     "B_PAUSE OFF\r\n", "B_PAUSE must be ON or OFF\r\n"},
    {"SHOW_TIME", &console_state::show_time, "SHOW_TIME must be ON or OFF\r\n", "SHOW_TIME ON\r\n",
     "SHOW_TIME OFF\r\n", "SHOW_TIME must be ON or OFF\r\n"},
    {"SHOW_USE_TIME", &console_state::show_use_time, "SHOW_USE_TIME must be ON or OFF\r\n",
     "SHOW_USE_TIME ON\r\n", "SHOW_USE_TIME OFF\r\n", "SHOW_USE_TIME must be ON or OFF\r\n"},
    {"ON_ERROR_STOP", &console_state::on_error_stop, "ON_ERROR_STOP must be ON or OFF\r\n",
     "ON_ERROR_STOP ON\r\n", "ON_ERROR_STOP OFF\r\n", "ON_ERROR_STOP must be ON or OFF\r\n"},
};

void set_switch(const switch_option& opt, scanner& sc) {
    std::string_view w = sc.word(switch_word_max, true);
    if (!sc.at_end()) {
        con_printf("%s", opt.not_at_end);
    } else if (same_word(w, "ON")) {
        g_console.*opt.flag = true;
        con_printf("%s", opt.on);
    } else if (same_word(w, "OFF")) {
        g_console.*opt.flag = false;
        con_printf("%s", opt.off);
    } else {
        con_printf("%s", opt.other);
    }
}

void set_null(scanner& sc) {
    static char null_buff[null_text_size];
    std::string_view w = sc.word(switch_word_max, true);
    if (!sc.at_end()) {
        g_console.null_text = "<NULL>";
        con_printf("NULL must specify a format \r\n");
        return;
    }
    std::memcpy(null_buff, w.data(), w.size());
    null_buff[w.size()] = '\0';
    g_console.null_text = null_buff;
    con_printf("NULL will be display as %s\r\n", null_buff);
}

void set_auto_commit(const command_line& cl, scanner& sc) {
    std::string_view w = sc.word(switch_word_max, true);
    bool on = same_word(w, "ON");
    if (!sc.at_end() || (!on && !same_word(w, "OFF"))) {
        con_printf("AUTO_COMMIT must be ON or OFF\r\n");
        return;
    }
    g_console.auto_commit = on;
    send_line_to_server(cl);
}

}  // namespace

bool parse_date_format(std::string_view text, datef_t& f) {
    size_t at = 0;
    auto field_of = [](char c) -> int32_t datef_t::* {
        switch (c) {
            case 'y':
            case 'Y':
                return &datef_t::year_pos;
            case 'm':
            case 'M':
                return &datef_t::month_pos;
            case 'd':
            case 'D':
                return &datef_t::day_pos;
            default:
                return nullptr;
        }
    };
    char* texts[3] = {f.datef_p1, f.datef_p2, f.datef_p3};
    bool used[3] = {false, false, false};  // y, m, d
    auto letter_index = [](char c) {
        switch (c) {
            case 'y':
            case 'Y':
                return 0;
            case 'm':
            case 'M':
                return 1;
            case 'd':
            case 'D':
                return 2;
            default:
                return -1;
        }
    };
    if (at >= text.size() || letter_index(text[at]) < 0) {
        con_printf("\r\nERROR:参数错误，请指定正确日期名称");
        return false;
    }
    int orders[3] = {-1, -1, -1};
    for (int run = 0; run < 3; ++run) {
        if (at >= text.size()) {
            if (run == 2) con_printf("\r\nERROR:Wrong date format!");
            return false;
        }
        int letter = letter_index(text[at]);
        f.*field_of(text[at]) = run + 1;
        used[letter] = true;
        orders[run] = letter;
        while (at < text.size() && letter_index(text[at]) == letter)
            ++at;
        // The separator after this run: up to a letter of a field still to come; after the third
        // run up to a blank, a tab, the end or (except for two orders) ';'.
        size_t start = at;
        if (run < 2) {
            while (at < text.size() && (letter_index(text[at]) < 0 || used[letter_index(text[at])]))
                ++at;
        } else {
            bool semicolon_ends = !((orders[0] == 0 && orders[1] == 2) ||  // year-day-month
                                    (orders[0] == 2 && orders[1] == 1));   // day-month-year
            while (at < text.size() && text[at] != ' ' && text[at] != '\t' &&
                   !(semicolon_ends && text[at] == ';'))
                ++at;
        }
        size_t len = at - start;
        if (len >= size_t(datef_text_size)) {
            con_printf("Date format separator too long: at most %d characters\r\n",
                       datef_text_size - 1);
            return false;
        }
        std::memcpy(texts[run], text.data() + start, len);
        texts[run][len] = '\0';
    }
    return true;
}

command_result command_show(command_line& cl) {
    scanner sc = scan_after(cl);
    sc.skip_blanks();
    std::string_view option = sc.word(option_word_max, true);
    if (same_word(option, "PAGESIZE")) {
        con_printf("pagesize %d\r\n", g_console.pagesize);
    } else if (same_word(option, "STR_SIZE")) {
        con_printf("str_size %d\r\n", g_console.string_size);
    } else if (same_word(option, "NUM_SIZE")) {
        con_printf("num_size %d\r\n", g_console.number_size);
    } else if (same_word(option, "HEADING")) {
        con_printf(g_console.heading ? "heading on\r\n" : "heading off\r\n");
    } else if (same_word(option, "SHOW_TYPE")) {
        con_printf(g_console.show_type ? "show_type on\r\n" : "show_type off\r\n");
    } else if (same_word(option, "ON_ERROR_STOP")) {
        con_printf(g_console.on_error_stop ? "on_error_stop on\r\n" : "on_error_stop off\r\n");
    } else if (same_word(option, "TABLES")) {
        run_and_report("select table_name from dba_tables");
    } else {
        send_line_to_server(cl);
    }
    return command_result::done;
}

command_result command_set(command_line& cl) {
    scanner sc = scan_after(cl);
    sc.skip_blanks();
    std::string_view option = sc.word(option_word_max, false);
    sc.skip_blanks();
    if (same_word(option, "PAGESIZE")) {
        set_pagesize(sc);
    } else if (same_word(option, "STR_SIZE")) {
        set_str_size(sc);
    } else if (same_word(option, "NUM_SIZE")) {
        set_num_size(sc);
    } else if (same_word(option, "NULL")) {
        set_null(sc);
    } else if (same_word(option, "AUTO_COMMIT")) {
        set_auto_commit(cl, sc);
    } else if (same_word(option, "DATE_FORMAT")) {
        parse_date_format(std::string_view(sc.p, size_t(sc.end - sc.p)), g_datef);
    } else {
        for (const switch_option& opt : switch_options) {
            if (same_word(option, opt.name)) {
                set_switch(opt, sc);
                return command_result::done;
            }
        }
        send_line_to_server(cl);
    }
    return command_result::done;
}

command_result command_reset(command_line& cl) {
    scanner sc = scan_after(cl);
    sc.skip_blanks();
    std::string_view option = sc.word(option_word_max, true);
    if (option.size() >= option_word_max || !sc.at_end()) {
        con_printf("reset type %.*s is unknown\r\n", int(cl.keyword.size()), cl.keyword.data());
    } else if (same_word(option, "PAGESIZE")) {
        g_console.pagesize = 5;
        con_printf("pagesize %d\r\n", g_console.pagesize);
    } else if (same_word(option, "STR_SIZE")) {
        g_console.string_size = 32;
        con_printf("str_size %d\r\n", g_console.string_size);
    } else if (same_word(option, "NUM_SIZE")) {
        g_console.number_size = 12;
        con_printf("num_size %d\r\n", g_console.number_size);
    } else if (same_word(option, "HEADING")) {
        g_console.heading = true;
        con_printf("heading on\r\n");
    } else if (same_word(option, "SHOW_TYPE")) {
        g_console.show_type = false;
        con_printf("show_type off\r\n");
    } else if (same_word(option, "ON_ERROR_STOP")) {
        g_console.on_error_stop = false;
        con_printf("on_error_stop off\r\n");
    } else {
        send_line_to_server(cl);
    }
    return command_result::done;
}
