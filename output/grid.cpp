// The result grid: one line per row, values in their natural width separated by bars, a heading
// with a separator line per page, an optional pause per page, Ctrl+C to stop, and the spool copy
// (every spooled row line starts with a blank and the file is reopened for every row).
#include "output/grid.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "output/render.h"
#include "output/spool.h"
#include "platform/console.h"
#include "platform/system.h"
#include "protocol/db.h"
#include "state/console_state.h"

namespace {

// The listing writes its rows to the console once more bytes of them are gathered than the
// console's writer holds: they go out in one write, not copied into its buffer first.
inline constexpr size_t listing_batch_size = con_out_buf_size + 1;

const char separator_line[] =
    "\r\n------------------------------------------------------------------------------\r\n";

void append_format(std::string& out, const char* fmt, const char* a, const char* b, int x, int y) {
    char buf[512];
    int n = std::snprintf(buf, sizeof buf, fmt, a, b, x, y);
    if (n < 0) return;
    if (size_t(n) < sizeof buf) {
        out.append(buf, size_t(n));
        return;
    }
    std::string big(size_t(n) + 1, '\0');
    std::snprintf(big.data(), big.size(), fmt, a, b, x, y);
    out.append(big.data(), size_t(n));
}

// "\r\n", the heading text and the separator line.
std::string heading_block(db_result* r) {
    std::string h = "\r\n";
    for (int i = 0; i < db_result_col_count(r); ++i) {
        const char* name = column_display_name(db_result_col_name(r, i));
        if (!g_console.show_type) {
            append_format(h, "%s | ", name, "", 0, 0);
            continue;
        }
        int type = db_result_col_type(r, i);
        int32_t mod = db_result_col_type_mod(r, i);
        const char* type_name = db_result_col_type_name(r, i);
        if (type == 7 && mod != -1)
            append_format(h, "%s(%s(%d,%d)) | ", name, type_name, int16_t(mod >> 16), mod & 0xffff);
        else if (type == 30 || type == 31)
            append_format(h, "%s(%s(%d)) | ", name, type_name, mod, 0);
        else
            append_format(h, "%s(%s) | ", name, type_name, 0, 0);
    }
    h += separator_line;
    return h;
}

bool is_quit_key(int key) {
    return key == 'q' || key == 'Q' || key == 27;
}

// The control handler is armed only while rows are listed.
struct ctrl_armed {
    ctrl_armed() { plat_set_ctrl_handler(console_ctrl_handler, true); }
    ~ctrl_armed() { plat_set_ctrl_handler(console_ctrl_handler, false); }
};

}  // namespace

const char* column_display_name(const char* name) {
    if (const char* p = std::strchr(name, '%')) return p + 1;
    if (const char* p = std::strchr(name, '.')) return p + 1;
    return name;
}

void list_rows(db_result* r) {
    const console_state& s = g_console;
    const int cols = db_result_col_count(r);
    const bool has_row = db_result_next(r) != nullptr;
    std::string heading;
    if (s.heading) heading = heading_block(r);
    if ((!has_row || s.pagesize == 0) && !s.desc_mode && s.heading)
        con_write(heading.data(), heading.size());

    db_result_rewind(r);
    g_console.cancel_requested = false;
    ctrl_armed armed;
    const bool pausing = s.b_pause && s.pagesize != 0 && !s.desc_mode;
    // With pauses, keys typed while rows are printed wait unechoed for the next pause; Ctrl+C
    // keeps its meaning and cancels the listing at once.
    con_key_mode keys(true, pausing);
    render_settings settings{s.null_text, &s.datef};
    std::vector<int> types(size_t(cols > 0 ? cols : 0));
    for (int c = 0; c < cols; ++c)
        types[size_t(c)] = db_result_col_type(r, c);
    // Rows are gathered in line and written some at a time (every row while spooling); a pause,
    // a cancel and the end of the listing write what is gathered first.
    std::string line, spool_line;
    auto write_line = [&line] {
        con_write(line.data(), line.size());
        line.clear();
    };
    int64_t row_index = 0, pause_count = 0;
    while (db_row* row = db_result_next(r)) {
        spool_write spool;  // the row's spool copy: the file is open for this row only
        spool_line.clear();
        if (!s.desc_mode && s.pagesize != 0 && row_index % s.pagesize == 0 && s.heading) {
            line += heading;
            if (spool) spool_line += heading;
        }
        ++row_index;
        for (int c = 0; c < cols; ++c) {
            if (c > 0) line += ' ';
            if (spool) spool_line += ' ';
            render_value(types[size_t(c)], db_row_value(row, c), db_row_value_len(row, c), settings,
                         line, spool ? &spool_line : nullptr);
            line += '|';
            if (spool) spool_line += '|';
        }
        spool.put(spool_line);
        if (pausing && ++pause_count % s.pagesize == 0) {
            write_line();
            if (is_quit_key(con_getch())) return;
        }
        line += "\r\n";
        spool.put("\r\n");
        if (g_console.cancel_requested) {
            g_console.cancel_requested = false;
            write_line();
            return;
        }
        // A spool file that fails says so on the console when the row's write ends: the rows
        // before stay before it.
        if (spool || line.size() >= listing_batch_size) write_line();
    }
    write_line();
}
