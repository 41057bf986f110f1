// The result grid: one line per row, values in their natural width separated by bars, a heading
// with a separator line per page, an optional pause per page, Ctrl+C to stop, and the spool copy
// (every spooled row line starts with a blank and the file is reopened for every row).
#include "output/grid.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output/render.h"
#include "output/spool.h"
#include "platform/console.h"
#include "platform/system.h"
#include "protocol/db.h"
#include "protocol/type_table.h"
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
std::string heading_block(db_result* r, bool show_type) {
    std::string h = "\r\n";
    for (int i = 0; i < db_result_col_count(r); ++i) {
        const char* name = column_display_name(db_result_col_name(r, i));
        if (!show_type) {
            append_format(h, "%s | ", name, "", 0, 0);
            continue;
        }
        std::string type;
        column_type_text(db_result_col_type(r, i), db_result_col_type_mod(r, i), type);
        append_format(h, "%s(%s) | ", name, type.c_str(), 0, 0);
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

// The row's spool copy: begun when the row begins (when the listing spools), ended when the
// listing leaves the row, also when it ends inside it.
struct row_spool {
    const listing_io& io;
    const bool on;
    explicit row_spool(const listing_io& i) : io(i), on(i.spool_begin && i.spool_begin(i.ctx)) {}
    ~row_spool() {
        if (on) io.spool_end(io.ctx);
    }
    row_spool(const row_spool&) = delete;
    row_spool& operator=(const row_spool&) = delete;
    explicit operator bool() const { return on; }
    void put(std::string_view bytes) {
        if (on) io.spool_put(io.ctx, bytes.data(), bytes.size());
    }
};

// The console's sinks of a listing; ctx is the row's spool_write. A spool write that fails
// switches spooling off: the rows after it have no copy.
void console_write(void*, const char* data, size_t n) {
    con_write(data, n);
}
bool console_spool_begin(void* ctx) {
    auto& row = *static_cast<std::optional<spool_write>*>(ctx);
    row.emplace();
    return bool(*row);
}
void console_spool_put(void* ctx, const char* data, size_t n) {
    (*static_cast<std::optional<spool_write>*>(ctx))->put({data, n});
}
void console_spool_end(void* ctx) {
    static_cast<std::optional<spool_write>*>(ctx)->reset();
}
int console_key(void*) {
    return con_getch();
}

}  // namespace

const char* column_display_name(const char* name) {
    if (const char* p = std::strchr(name, '%')) return p + 1;
    if (const char* p = std::strchr(name, '.')) return p + 1;
    return name;
}

void column_type_text(int type, int32_t type_mod, std::string& out) {
    const db_type_row& t = db_type_of(type);
    out += t.display;
    char mod[32];
    int n = 0;
    switch (t.mod) {
        case db_mod_form::none:
            return;
        case db_mod_form::numeric:
            if (type_mod == -1) return;
            n = std::snprintf(mod, sizeof mod, "(%d,%d)", int(int16_t(type_mod >> 16)),
                              type_mod & 0xffff);
            break;
        case db_mod_form::length:
            n = std::snprintf(mod, sizeof mod, "(%d)", type_mod);
            break;
    }
    if (n > 0) out.append(mod, size_t(n));
}

void list_rows(db_result* r, const listing_options& o, const listing_io& io) {
    const int cols = db_result_col_count(r);
    db_result_rewind(r);
    const bool has_row = db_result_next(r) != nullptr;
    std::string heading;
    if (o.heading) heading = heading_block(r, o.show_type);
    if ((!has_row || o.pagesize == 0) && !o.desc_mode && o.heading)
        io.console(io.ctx, heading.data(), heading.size());

    db_result_rewind(r);
    const bool pausing = o.pause && o.pagesize != 0 && !o.desc_mode;
    std::vector<int> types(size_t(cols > 0 ? cols : 0));
    for (int c = 0; c < cols; ++c)
        types[size_t(c)] = db_result_col_type(r, c);
    // Rows are gathered in line and written some at a time (every row while spooling); a pause,
    // a cancel and the end of the listing write what is gathered first.
    std::string line, spool_line;
    auto write_line = [&line, &io] {
        io.console(io.ctx, line.data(), line.size());
        line.clear();
    };
    int64_t row_index = 0, pause_count = 0;
    while (db_row* row = db_result_next(r)) {
        row_spool spool(io);  // the row's spool copy: the file is open for this row only
        spool_line.clear();
        if (!o.desc_mode && o.pagesize != 0 && row_index % o.pagesize == 0 && o.heading) {
            line += heading;
            if (spool) spool_line += heading;
        }
        ++row_index;
        for (int c = 0; c < cols; ++c) {
            if (c > 0) line += ' ';
            if (spool) spool_line += ' ';
            render_value(types[size_t(c)], db_row_value(row, c), db_row_value_len(row, c), o.values,
                         line, spool ? &spool_line : nullptr);
            line += '|';
            if (spool) spool_line += '|';
        }
        spool.put(spool_line);
        if (pausing && ++pause_count % o.pagesize == 0) {
            write_line();
            if (is_quit_key(io.key(io.ctx))) return;
        }
        line += "\r\n";
        spool.put("\r\n");
        if (io.cancel->load()) {
            io.cancel->store(false);
            write_line();
            return;
        }
        // A spool file that fails says so on the console when the row's write ends: the rows
        // before stay before it.
        if (spool || line.size() >= listing_batch_size) write_line();
    }
    write_line();
}

void list_rows(db_result* r) {
    const console_state& s = g_console;
    const listing_options o{.values = {s.null_text, &g_datef},
                            .pagesize = s.pagesize,
                            .heading = s.heading,
                            .show_type = s.show_type,
                            .pause = s.b_pause,
                            .desc_mode = s.desc_mode};
    std::optional<spool_write> row;
    const listing_io io{.ctx = &row,
                        .console = console_write,
                        .spool_begin = s.spool_on ? console_spool_begin : nullptr,
                        .spool_put = console_spool_put,
                        .spool_end = console_spool_end,
                        .key = console_key,
                        .cancel = &g_console.cancel_requested};
    g_console.cancel_requested = false;
    ctrl_armed armed;
    // With pauses, keys typed while rows are printed wait unechoed for the next pause; Ctrl+C
    // keeps its meaning and cancels the listing at once.
    con_key_mode keys(true, o.pause && o.pagesize != 0 && !o.desc_mode);
    list_rows(r, o, io);
}
