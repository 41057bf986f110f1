// Load streaming: the load statement, then the data file in chunks of 8 MiB cut into records
// at the row terminator and sent as length-prefixed batches, while load_reply_reader reads the
// server's replies on a second thread (rejected rows, errors, the final acknowledgement).
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "loader/load.h"
#include "loader/records.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "platform/system.h"
#include "protocol/db.h"
#include "protocol/db_wire.h"

namespace {

inline constexpr size_t chunk_size = size_t(8) << 20;   // file bytes per chunk
inline constexpr size_t batch_size = size_t(16) << 20;  // body bytes per batch at most
inline constexpr int32_t reply_text_max = 64 << 20;
const char default_log[] = "./norv_load.log";
const char default_errlog[] = "./norv_load_err.log";
// "导入错误:%s\r\n" in the GBK encoding, as the server's operators expect it.
const char load_error_line[] = "\xb5\xbc\xc8\xeb\xb4\xed\xce\xf3:%s\r\n";

// One load at a time: the chunk and the batch buffers are the process's.
char load_read_buf[chunk_size + 1];
char load_batch_buf[batch_size];

// Shared by the console thread and the reply reader; each value has one writer.
struct load_state {
    std::atomic<bool> failed{false};     // written by the reader: an 'E' came, or a bad reply
    std::atomic<bool> receiving{false};  // set by the console thread, cleared by the reader
    std::atomic<bool> ended{false};      // written by the reader: the closing 'K' came
    std::atomic<bool> end_asked{false};  // set by the console thread when the data is sent
    std::atomic<bool> ending{false};     // written by the reader: nothing that came before the
                                         // end was asked for is left unread; the marker may go
    std::atomic<uint32_t> bad_rows{0};   // written by the reader: 'W' replies
    uint64_t total = 0;                  // console thread: records sent
    FILE* err_file = nullptr;            // the console thread before the reader, then the reader
};

// A reply text: int32 n, then n bytes. Ends the exchange on a bad length.
std::string get_reply_text(db_conn* c) {
    unsigned char len[4];
    db_recv_exact(c, len, 4);
    int32_t n = int32_t(db_load_be32(len));
    if (n < 0 || n > reply_text_max) db_abort_exchange(c);
    std::string text(size_t(n), '\0');
    if (n > 0) db_recv_exact(c, text.data(), n);
    return text;
}

// The second thread: reads replies until 'K' or a failed receive. Once the console thread asks
// to end, the reader takes in what has arrived and reads it first; only when nothing is left
// does it let the end marker go, so a 'K' that came before the marker is always seen as early.
void load_reply_reader(db_conn* c, load_state* st, const plat_waker* waker) {
    for (;;) {
        int arrived = db_recv_arrived(c);
        if (arrived == 0) {
            if (st->end_asked && !st->ending) {
                st->ending = true;
                continue;
            }
            db_recv_wait(c, st->ending ? nullptr : waker);
            continue;
        }
        int letter = 'K';
        std::string text;
        bool ok = db_run_exchange(c, [&] {
            unsigned char b;
            db_recv_exact(c, &b, 1);
            letter = b;
            if (letter == 'E' || letter == 'W') text = get_reply_text(c);
        });
        // A 'K' before the end marker went out is no end: the server is out of step.
        if (ok && letter == 'K' && !st->ending) ok = false;
        if (!ok) {
            // The replies can no longer be read: the load cannot succeed. The connection is shut
            // down so that a sender blocked on a server that waits for its replies to be read
            // fails at once.
            st->failed = true;
            db_shutdown(c);
            break;
        }
        if (letter == 'E') {
            std::fprintf(st->err_file, "E\t%s", text.c_str());
            con_printf(load_error_line, text.c_str());
            st->failed = true;
        } else if (letter == 'W') {
            std::fprintf(st->err_file, "W\t%s", text.c_str());
            st->bad_rows.fetch_add(1);
        } else if (letter == 'K') {
            st->ended = true;
            break;
        }
    }
    st->receiving = false;
}

// Assembles records into batches and sends a batch when the next record would not fit.
struct batcher {
    db_conn* conn;
    char separator;
    size_t length = 0;  // body bytes
    int32_t count = 0;  // records
    uint64_t sent = 0;  // records sent so far

    void send() {
        if (count == 0) return;  // a batch of no records would read as the end of the data
        db_put_int32(conn, count);
        db_put_int32(conn, int32_t(length));
        db_put_bytes(conn, load_batch_buf, int(length));
        sent += uint64_t(count);
        length = 0;
        count = 0;
    }
    // A record with one separator byte after it, unless the terminator starts with one.
    void add(const char* record, size_t len, bool ends_with_separator) {
        size_t wire = len + (ends_with_separator ? 0 : 1);
        if (length + 4 + wire > batch_size) send();
        char* at = load_batch_buf + length;
        db_store_be32(at, uint32_t(wire));
        std::memcpy(at + 4, record, len);
        if (!ends_with_separator) at[4 + len] = separator;
        length += 4 + wire;
        ++count;
    }
};

// Shown at once: a load of a large file runs for a long time between prompts.
void progress(const load_state& st) {
    con_printf("\rload total %u record %u bad rows.", static_cast<uint32_t>(st.total),
               st.bad_rows.load());
    con_flush();
}

// True when the file now ends before the bytes already read from it (a pipe has no size to
// compare with).
bool file_shrank(int fd, uint64_t read_total) {
    int64_t size = 0;
    return regular_file_size(fd, size) && uint64_t(size) < read_total;
}

// The chunk loop: read, cut into records, send. Returns false when a record does not fit a chunk.
bool stream_chunks(db_conn* conn, int fd, const unsigned char* lt, int t, char sep,
                   load_state& st) {
    batcher batch{conn, sep};
    const bool terminator_is_separator = static_cast<unsigned char>(sep) == lt[0];
    size_t carry = 0;
    bool more = true;
    uint64_t read_total = 0;  // bytes of the file read so far
    while (!st.failed && more) {
        size_t got = 0;
        if (!read_upto(fd, load_read_buf + carry, chunk_size - carry, got)) {
            // What the server holds stays whole: the records before the failed read.
            int error = errno;
            batch.send();
            st.total = batch.sent;
            con_printf("\r\nReading the data file failed after record %llu: %s\r\n",
                       static_cast<unsigned long long>(batch.sent), std::strerror(error));
            return false;
        }
        more = got == chunk_size - carry;
        read_total += got;
        size_t len = carry + got;
        load_read_buf[len] = '\0';
        if (len == 0) break;
        auto add = [&](const char* record, size_t n) {
            batch.add(record, n, terminator_is_separator);
        };
        size_t offset = load_cut_records(load_read_buf, len, lt, t, add);
        size_t left = len - offset;
        if (!more && left > 0 && file_shrank(fd, read_total)) {
            // Cut short while it was read: what follows the last terminator is part of a record
            // that is no longer in the file, not a last record without its terminator.
            con_printf(
                "\r\nThe data file shrank during the load: its unfinished last record "
                "(%zu bytes) is not sent.\r\n",
                left);
            left = 0;
        } else if (!more && left > 0) {
            // The file's last record, without its terminator, is a record all the same.
            batch.add(load_read_buf + offset, left, false);
            left = 0;
        } else if (left == chunk_size) {
            batch.send();
            st.total = batch.sent;
            con_printf("\r\nRecord %llu is longer than 8 MiB: the load stops here.\r\n",
                       static_cast<unsigned long long>(batch.sent + 1));
            return false;
        }
        batch.send();
        st.total = batch.sent;
        progress(st);
        std::memmove(load_read_buf, load_read_buf + len - left, left);
        carry = left;
    }
    return true;
}

}  // namespace

bool load_table_stream(db_conn* conn, const load_request& r) {
    load_state st;
    unsigned char lt_char[row_terminator_max + 1] = {};
    int t = decode_row_terminator(r.rt, lt_char);
    if (t < 0) {
        con_printf("Row separator error\r\n\r\n");
        return false;
    }
    const char separator = r.ft[0] ? r.ft[1] : '\0';
    if (!r.datafile) {
        con_printf("Loss data file path\r\n\r\n");
        return false;
    }
    const char* log_path = r.log ? r.log : default_log;
    const char* err_path = r.errlog ? r.errlog : default_errlog;
    fd_closer data{open_for_reading(r.datafile)};
    if (data.fd < 0) {
        con_printf("Open data file %s failed\r\n\r\n", r.datafile);
        return false;
    }
    file_ptr log(std::fopen(log_path, "w+b"));
    if (!log) {
        con_printf("Open log file %s failed\r\n\r\n", log_path);
        return false;
    }
    file_ptr err(std::fopen(err_path, "w+b"));
    if (!err) {
        con_printf("Open error log file %s failed\r\n\r\n", err_path);
        return false;
    }
    st.err_file = err.get();
    con_printf("append_mode:%d\r\n", r.mode);

    // The reply reader is woken through this when the data has been sent.
    struct waker_owner {
        plat_waker w;
        ~waker_owner() { plat_waker_close(w); }
    } wake;
    if (!plat_waker_open(wake.w)) {
        con_printf("The load cannot start: %s\r\n\r\n", std::strerror(errno));
        return false;
    }

    std::string sql = build_load_statement(r);
    if (!db_send_statement(conn, sql.c_str())) return false;
    bool refused = false;
    bool ok = db_run_exchange(conn, [&] {
        unsigned char letter;
        db_recv_exact(conn, &letter, 1);
        if (letter == 'E') {
            std::string text = get_reply_text(conn);
            if (!text.empty()) {
                std::fputs(text.c_str(), err.get());
                con_printf("%s\r\n\r\n", text.c_str());
            }
            db_recv_exact(conn, &letter, 1);
            refused = true;
            return;
        }
        static const unsigned char zero[8] = {};
        db_put_bytes(conn, zero, 8);
        db_flush(conn);
        unsigned char ignored[8];
        db_recv_exact(conn, ignored, 8);
    });
    if (!ok) {
        // A broken answer to the load statement: what is left of it must not answer a later
        // statement.
        db_close_socket(conn);
        return false;
    }
    if (refused) return false;

    // The reader needs no head start: replies only follow batches, and until then it waits in
    // its receive. (A fixed pause here would add a second to every load.)
    st.receiving = true;
    db_duplex_begin(conn);
    std::thread reader = [&] {
        plat_signals_held held;  // the console thread alone takes the signals
        return std::thread(load_reply_reader, conn, &st, &wake.w);
    }();

    bool whole = true;
    bool sent = db_run_exchange(conn, [&] {
        whole = stream_chunks(conn, data.fd, lt_char, t, separator, st);
        // Before the end marker is queued, the reader reads everything that has arrived: a
        // closing 'K' among it ends nothing, it fails the load.
        st.end_asked = true;
        plat_waker_wake(wake.w);
        while (!st.ending && st.receiving)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (!st.ending) return;  // the reader has given up: the load has failed
        db_put_int32(conn, 0);
        db_flush(conn);
    });
    // The reader is waited for (or stopped, when the connection failed) before the files it
    // writes to are closed.
    // At a terminal a Ctrl+C cancels the wait for the server's last replies: the connection is
    // shut down, which ends the reader.
    if (!sent) db_shutdown(conn);
    while (st.receiving) {
        if (plat_take_cancel())
            db_shutdown(conn);
        else
            plat_end_on_signal();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    reader.join();
    db_duplex_end(conn);
    if (!sent || !st.ended) {
        // Either the sends failed, or the reader lost the connection before the server confirmed
        // the end: the batches it was still reading are not in the table, and the connection is
        // out of step. Nothing of it may answer a later statement.
        db_close_socket(conn);
        return false;
    }
    progress(st);
    return whole && !st.failed;
}
