// Statement messages and their replies: the "?" message with or without parameters, and the
// reader of the reply letters that fills a db_result, rows included. Every length and count the
// server sends is checked against the bounds below before it is used.

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/files.h"
#include "protocol/conn.h"
#include "protocol/result.h"
#include "protocol/types.h"

// A bound parameter: its bytes and how they travel. The bytes are held, or (a large regular
// file) read from the file again as they are sent.
struct db_param {
    int32_t kind = 0;  // 0 raw bytes (type 34), 1 text (type 32)
    std::vector<char> data;
    int fd = -1;         // the file the bytes are sent from, owned; -1 when they are held
    int32_t length = 0;  // bytes sent from fd: what could be read when it was bound
    db_param() = default;
    db_param(const db_param&) = delete;
    db_param& operator=(const db_param&) = delete;
    ~db_param() {
        if (fd >= 0) close_file(fd);
    }
};

struct db_stmt {
    std::string sql;
    int32_t count = 0;  // highest bound index + 1
    std::unique_ptr<db_param> params[db_stmt_max_params];
    int changed = -1;  // the parameter whose file changed while the last execute sent it
};

namespace {

// Bounds on what a reply may announce; more is a broken reply, not a result.
inline constexpr int32_t max_columns = 10000;
inline constexpr int32_t max_text_len = 64 << 20;  // names and messages
inline constexpr int32_t max_value_len = 1 << 30;  // one value in a row
// A row record is one arena request: its values, with their offsets, stay well below 2 GiB.
inline constexpr size_t max_row_values = size_t(INT32_MAX) - 64 - 4 * size_t(max_columns + 1);
inline constexpr int32_t max_sql_len = (1 << 30) - 1;
inline constexpr int32_t value_piece = 1 << 20;  // a large value is received in pieces this big
inline constexpr int32_t file_piece = 1 << 20;   // a parameter file is read in pieces this big
// A regular file longer than this is sent from the file; a shorter one is held.
inline constexpr size_t file_held_max = size_t(1) << 20;

inline constexpr int param_type_bytes = db_type_blob;
inline constexpr int param_type_text = db_type_clob;

struct result_deleter {
    void operator()(db_result* r) const { db_result_free(r); }
};
using result_ptr = std::unique_ptr<db_result, result_deleter>;

int32_t get_length(db_conn* c, int32_t bound) {
    int32_t n = get_int32(c);
    if (n < 0 || n > bound) db_fail();
    return n;
}

// The affected-row counts add up modulo 2^32, as 32-bit counters do: whatever the server sends,
// the sum is defined.
void add_count(int32_t& total, int32_t n) {
    total = int32_t(uint32_t(total) + uint32_t(n));
}

void* alloc_or_fail(db_result* r, int32_t size) {
    void* p = arena_alloc(r, size);
    if (!p) db_fail();
    return p;
}

// A text: int32 length, the bytes; kept in the result's arena with a zero byte after it.
char* get_text(db_conn* c, db_result* r) {
    int32_t n = get_length(c, max_text_len);
    auto* p = static_cast<char*>(alloc_or_fail(r, n + 1));
    db_recv_exact(c, p, n);
    p[n] = '\0';
    return p;
}

// A warning, error or fatal text: it replaces the result's message, and the earlier one's memory
// goes with it, so that a reply of many messages holds only the one shown.
char* take_message(db_conn* c, db_result* r) {
    int32_t n = get_length(c, max_text_len);
    std::string text(size_t(n), '\0');
    db_recv_exact(c, text.data(), n);
    r->message_text = std::move(text);
    return r->message_text.data();
}

// A notice: printed at once, not stored.
void print_notice(db_conn* c) {
    int32_t n = get_length(c, max_text_len);
    std::string text(size_t(n), '\0');
    db_recv_exact(c, text.data(), n);
    con_printf("%s\r\n", text.c_str());
}

// Reads and drops n bytes.
void skip_bytes(db_conn* c, int32_t n) {
    char scratch[4096];
    while (n > 0) {
        int32_t take = n < int32_t(sizeof scratch) ? n : int32_t(sizeof scratch);
        db_recv_exact(c, scratch, take);
        n -= take;
    }
}

void read_columns(db_conn* c, db_result* r) {
    int32_t count = get_length(c, max_columns);
    auto* cols = static_cast<db_column*>(alloc_or_fail(r, count * int32_t(sizeof(db_column))));
    for (int32_t i = 0; i < count; ++i) {
        cols[i].name = get_text(c, r);
        cols[i].type = get_int32(c);
        cols[i].type_mod = get_int32(c);
        cols[i].flags = get_int32(c);
    }
    r->columns = cols;
    r->col_count = count;
}

template <class Offset>
void put_offset(char* row, int32_t i, uint32_t v) {
    auto o = Offset(v);
    std::memcpy(row + 1 + size_t(i) * sizeof o, &o, sizeof o);
}

// Fills a row record (see result.h) from values laid out as on the wire (int32 length, bytes),
// each length already checked: the width, the offsets, the bytes with a zero byte after each,
// host order by type code.
template <class Offset>
void fill_row_as(db_result* r, char* row, const unsigned char* wire) {
    const int32_t cols = r->col_count;
    row[0] = char(sizeof(Offset));
    uint32_t at = uint32_t(1 + sizeof(Offset) * size_t(cols + 1));
    for (int32_t i = 0; i < cols; ++i) {
        uint32_t n = db_load_be32(wire);
        put_offset<Offset>(row, i, at);
        std::memcpy(row + at, wire + 4, n);
        row[at + n] = '\0';
        if (n > 0) db_convert_value(r->columns[i].type, row + at, int32_t(n));
        at += n + 1;
        wire += 4 + n;
    }
    put_offset<Offset>(row, cols, at);
}

// Appends the row whose values (zero bytes included) take values_bytes and fills it from wire;
// null when memory is exhausted.
char* add_row(db_result* r, size_t values_bytes, const unsigned char* wire) {
    uint32_t width = row_width(size_t(r->col_count), values_bytes);
    char* row = result_add_row(r, row_record_size(size_t(r->col_count), values_bytes, width));
    if (!row) return nullptr;
    if (width == 1)
        fill_row_as<uint8_t>(r, row, wire);
    else if (width == 2)
        fill_row_as<uint16_t>(r, row, wire);
    else
        fill_row_as<uint32_t>(r, row, wire);
    return row;
}

// Sums the bytes that the values laid out as on the wire within [p, end) take in a record, zero
// bytes included; returns 0 when the row does not lie wholly there (or a length is out of
// bounds).
size_t values_size_within(const db_result* r, const unsigned char* p, const unsigned char* end,
                          const unsigned char** after) {
    size_t total = 0;
    for (int32_t i = 0; i < r->col_count; ++i) {
        if (end - p < 4) return 0;
        uint32_t n = db_load_be32(p);
        if (n > uint32_t(max_value_len) || size_t(end - p - 4) < n) return 0;
        total += n + 1;
        p += 4 + n;
    }
    *after = p;
    return total;
}

// One row, appended to the result. Usually it lies wholly in the read-ahead buffer and is
// decoded from there; otherwise its values are gathered in scratch first.
void read_row(db_conn* c, db_result* r, std::string& scratch) {
    const unsigned char* start = c->recv_ahead + c->recv_pos;
    const unsigned char* after = nullptr;
    size_t values = values_size_within(r, start, c->recv_ahead + c->recv_len, &after);
    if (values > 0) {
        if (!add_row(r, values, start)) db_fail();
        c->recv_pos += int32_t(after - start);
        return;
    }
    scratch.clear();
    values = 0;
    for (int32_t i = 0; i < r->col_count; ++i) {
        int32_t n = get_length(c, max_value_len);
        values += size_t(n) + 1;
        if (values > max_row_values) db_fail();
        size_t at = scratch.size();
        scratch.resize(at + 4);
        uint32_t be = __builtin_bswap32(uint32_t(n));
        std::memcpy(scratch.data() + at, &be, 4);
        // The room grows with the bytes that arrive: a length announced but never sent must not
        // cost its size in memory.
        for (int32_t got = 0; got < n;) {
            int32_t piece = std::min(n - got, value_piece);
            size_t from = scratch.size();
            scratch.resize(from + size_t(piece));
            db_recv_exact(c, scratch.data() + from, piece);
            got += piece;
        }
    }
    if (!add_row(r, values, reinterpret_cast<const unsigned char*>(scratch.data()))) db_fail();
}

// The rows of a nested result set are read and dropped as they come.
void skip_row(db_conn* c, int32_t col_count) {
    for (int32_t i = 0; i < col_count; ++i)
        skip_bytes(c, get_length(c, max_value_len));
}

// Among rows a message may start with its error code in brackets: "[1234] text" carries error
// code -1234 and the message "text".
void set_row_message(db_result* r, char* text, int level) {
    r->ok = 0;
    r->level = level;
    r->message = text;
    if (text[0] != '[') return;
    char* end = text + 1;
    long code = 0;
    while (*end >= '0' && *end <= '9' && code < 1000000000)
        code = code * 10 + (*end++ - '0');
    if (end == text + 1 || *end != ']') return;
    // Negated modulo 2^32: a code of ten digits from the server must not overflow.
    r->error_code = static_cast<int32_t>(0u - static_cast<uint32_t>(code));
    ++end;
    while (*end == ' ')
        ++end;
    r->message = end;
}

int message_level(int letter) {
    switch (letter) {
        case 'W':
            return db_level_warning;
        case 'E':
            return db_level_error;
        default:
            return db_level_fatal;
    }
}

// Reads the row stream after "A" until "K" or "$".
void read_rows(db_conn* c, db_result* r) {
    std::string scratch;
    int letter = get_byte(c);
    for (;;) {
        switch (letter) {
            case 'R':
                // At the bound the rest of the reply is left unread: the result is cut there
                // as by a lost connection, and the connection is closed.
                if (r->row_count >= result_row_bound) db_fail();
                if (r->col_count == 0)
                    result_count_empty_row(r);
                else
                    read_row(c, r, scratch);
                break;
            case 'W':
            case 'E':
            case 'F':
                set_row_message(r, take_message(c, r), message_level(letter));
                break;
            case 'M':
                print_notice(c);
                break;
            case 'A': {
                result_ptr nested(new db_result);
                read_columns(c, nested.get());
                while ((letter = get_byte(c)) == 'R')
                    skip_row(c, nested->col_count);
                continue;  // the letter after the nested rows is dispatched as it stands
            }
            case 'K':
                return;
            case '$':
                get_int32(c);
                return;
            default:
                break;  // unknown letters carry nothing
        }
        letter = get_byte(c);
    }
}

// Reads one whole reply. A failed exchange before the rows throws; while rows stream it closes
// the socket and keeps the rows received.
db_result* read_reply(db_conn* c) {
    result_ptr r(new db_result);
    r->conn = c;
    for (;;) {
        int letter = get_byte(c);
        switch (letter) {
            case 'A':
                read_columns(c, r.get());
                r->ok = 1;
                r->kind = db_kind_query;
                r->pos = -1;
                try {
                    read_rows(c, r.get());
                } catch (const db_exchange_failed&) {
                    db_close_socket(c);
                    r->cut_short = true;
                }
                r->done = 1;
                return r.release();
            case 'D':
                add_count(r->deleted, get_int32(c));
                r->kind = db_kind_delete;
                break;
            case 'U':
                add_count(r->updated, get_int32(c));
                r->kind = db_kind_update;
                break;
            case 'I': {
                // The key area holds 24 bytes; a longer payload is read whole and kept cut.
                int32_t n = get_length(c, max_value_len);
                int32_t keep = n < insert_key_size ? n : insert_key_size;
                db_recv_exact(c, r->insert_key, keep);
                skip_bytes(c, n - keep);
                r->insert_key_len = keep;
                add_count(r->inserted, 1);
                r->kind = db_kind_insert;
                break;
            }
            case 'W':
            case 'E':
            case 'F':
                r->message = take_message(c, r.get());
                r->level = message_level(letter);
                if (letter != 'W') r->ok = 0;
                break;
            case 'M':
                print_notice(c);
                break;
            case 'O': {
                get_int32(c);
                int32_t n = get_int32(c);
                if (n <= 0)
                    con_printf("function return NONE\n");
                else if (n > max_value_len)
                    db_fail();
                else
                    skip_bytes(c, n);
                break;
            }
            case 'K':
                r->done = 1;
                return r.release();
            default:
                break;
        }
    }
}

// Sends parameter i's bytes from its file, piece by piece. A file that no longer ends where it
// ended when it was bound is not sent: its length has gone out already, so the message is left
// unfinished (the exchange fails and the connection is closed) and the server runs nothing.
void send_from_file(db_conn* c, db_stmt* s, int i, std::unique_ptr<char[]>& piece) {
    const db_param& p = *s->params[i];
    if (!piece) piece.reset(new char[file_piece]);
    int32_t at = 0;
    while (at < p.length) {
        int32_t n = std::min(p.length - at, file_piece);
        bool last = n == p.length - at;
        char beyond;
        if (read_at(p.fd, piece.get(), size_t(n), at) != n ||
            (last && read_at(p.fd, &beyond, 1, int64_t(at) + n) != 0)) {
            s->changed = i;
            db_fail();
        }
        put_bytes(c, piece.get(), n);
        at += n;
    }
}

// Queues the statement text: "?", its length, its bytes and a zero byte.
void put_statement_text(db_conn* c, const char* sql) {
    size_t n = std::strlen(sql);
    if (n > size_t(max_sql_len)) db_fail();
    char letter = '?';
    put_bytes(c, &letter, 1);
    put_int32(c, int32_t(n));
    put_bytes(c, sql, int32_t(n) + 1);
}

// Runs one exchange; a failure leaves the connection closed, since its stream is no longer in
// step with the server.
template <class F>
db_result* run_statement_exchange(db_conn* c, F&& send) {
    if (!c) return nullptr;
    try {
        send();
        return read_reply(c);
    } catch (const db_exchange_failed&) {
        db_close_socket(c);
        return nullptr;
    }
}

}  // namespace

db_result* db_execute(db_conn* conn, const char* sql) {
    return run_statement_exchange(conn, [&] {
        put_statement_text(conn, sql);
        put_int32(conn, 0);
        db_flush(conn);
    });
}

db_stmt* db_stmt_new(const char* sql) {
    auto* s = new db_stmt;
    s->sql = sql ? sql : "";
    return s;
}

void db_stmt_free(db_stmt* stmt) {
    delete stmt;
}

bool db_stmt_bind(db_stmt* stmt, int index, const void* data, int length, int kind) {
    if (!stmt || index < 0 || index >= db_stmt_max_params || length < 0) return false;
    auto p = std::make_unique<db_param>();
    p->kind = kind;
    if (length == 0)
        p->data.assign(1, '\0');
    else
        p->data.assign(static_cast<const char*>(data), static_cast<const char*>(data) + length);
    stmt->params[index] = std::move(p);
    if (index + 1 > stmt->count) stmt->count = index + 1;
    return true;
}

db_file_bind db_stmt_bind_file(db_stmt* stmt, int index, int fd, int kind) {
    fd_closer owner{fd};
    if (!stmt || index < 0 || index >= db_stmt_max_params || fd < 0) return db_file_bind::failed;
    auto p = std::make_unique<db_param>();
    p->kind = kind;
    std::vector<char>& data = p->data;
    std::unique_ptr<char[]> scratch(new char[file_held_max]);
    size_t got = 0;
    if (!read_upto(fd, scratch.get(), file_held_max, got)) return db_file_bind::failed;
    int64_t file_size = 0;
    if (got < file_held_max) {
        data.assign(scratch.get(), scratch.get() + got);
    } else if (regular_file_size(fd, file_size)) {
        // Counted, not held: the bytes are read again as they are sent. The length is what can
        // be read, whatever the file's status says; only a status of 2 GiB or more is believed
        // at once, as the file is refused then anyway.
        if (file_size >= INT32_MAX) return db_file_bind::too_large;
        size_t total = got;
        for (size_t more = got; more == file_held_max;) {
            if (!read_upto(fd, scratch.get(), file_held_max, more)) return db_file_bind::failed;
            total += more;
            if (total >= size_t(INT32_MAX)) return db_file_bind::too_large;
        }
        p->fd = owner.fd;
        owner.fd = -1;
        p->length = int32_t(total);
    } else {
        // A pipe or a device: the only copy of its bytes is the one read, to its end.
        data.assign(scratch.get(), scratch.get() + got);
        scratch.reset();
        for (size_t more = 1; more > 0;) {
            size_t at = data.size();
            if (at >= size_t(INT32_MAX)) return db_file_bind::too_large;
            data.resize(std::min(2 * at, size_t(INT32_MAX)));
            if (!read_upto(fd, data.data() + at, data.size() - at, more))
                return db_file_bind::failed;
            if (more < data.size() - at) {
                data.resize(at + more);
                more = 0;
            }
        }
    }
    if (p->fd < 0 && data.empty()) data.assign(1, '\0');
    stmt->params[index] = std::move(p);
    if (index + 1 > stmt->count) stmt->count = index + 1;
    return db_file_bind::ok;
}

int db_stmt_changed_param(const db_stmt* stmt) {
    return stmt ? stmt->changed : -1;
}

db_result* db_execute_params(db_conn* conn, db_stmt* stmt) {
    if (!stmt) return nullptr;
    stmt->changed = -1;
    std::unique_ptr<char[]> piece;  // for the parameters sent from their files
    return run_statement_exchange(conn, [&] {
        put_statement_text(conn, stmt->sql.c_str());
        db_flush(conn);
        put_int32(conn, stmt->count);
        for (int i = 0; i < stmt->count; ++i) {
            // An index left unbound travels as an empty text parameter.
            const db_param* p = stmt->params[i].get();
            int32_t len = !p ? 1 : p->fd >= 0 ? p->length : int32_t(p->data.size());
            put_int16(conn, 0);
            put_int16(conn, 1);
            put_int16(conn,
                      int16_t(p && p->kind == db_param_bytes ? param_type_bytes : param_type_text));
            put_int32(conn, len);
            if (p && p->fd >= 0)
                send_from_file(conn, stmt, i, piece);
            else
                put_bytes(conn, p ? p->data.data() : "", len);
        }
        db_flush(conn);
    });
}

db_result* db_read_reply(db_conn* conn) {
    return run_statement_exchange(conn, [] {});
}

db_conn* db_send_statement(db_conn* conn, const char* sql) {
    if (!conn) return nullptr;
    bool ok = db_run_exchange(conn, [&] {
        put_statement_text(conn, sql);
        put_int32(conn, 0);
        db_flush(conn);
    });
    return ok ? conn : nullptr;
}
