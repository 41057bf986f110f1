// Reply decoding speed: a captured reply of 1,000,000 rows of five columns (INTEGER,
// VARCHAR(32), NUMERIC(12,2), DATETIME, VARCHAR(64)) is written into a local socket pair by a
// writer thread and decoded by db_execute; beside it the same bytes are only received and copied.
// A reply of 5,000,000 narrow rows (INTEGER, VARCHAR(32)) is decoded the same way.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "protocol/conn.h"
#include "protocol/db.h"

namespace {

inline constexpr int bench_rows = 1000000;
inline constexpr int narrow_rows = 5000000;

void be32(std::string& out, uint32_t v) {
    char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    out.append(b, 4);
}

void be_value(std::string& out, const void* p, int n) {
    be32(out, uint32_t(n));
    out.append(static_cast<const char*>(p), size_t(n));
}

void column(std::string& out, const char* name, int type, int type_mod) {
    be_value(out, name, int(std::strlen(name)));
    be32(out, uint32_t(type));
    be32(out, uint32_t(type_mod));
    be32(out, 0);
}

const std::string& captured_reply() {
    static const std::string reply = [] {
        std::string r;
        r.reserve(size_t(bench_rows) * 110);
        r += 'A';
        be32(r, 5);
        column(r, "ID", 5, -1);
        column(r, "NAME", 30, 32);
        column(r, "AMOUNT", 7, (12 << 16) | 2);
        column(r, "CREATED", 13, -1);
        column(r, "NOTE", 30, 64);
        char text[96];
        for (int i = 0; i < bench_rows; ++i) {
            r += 'R';
            uint32_t id = uint32_t(i);
            char id_be[4] = {char(id >> 24), char(id >> 16), char(id >> 8), char(id)};
            be_value(r, id_be, 4);
            int n = std::snprintf(text, sizeof text, "customer-%08d", i);
            be_value(r, text, n);
            n = std::snprintf(text, sizeof text, "%d.%02d", i % 100000, i % 100);
            be_value(r, text, n);
            uint64_t ms = 1700000000000ull + uint64_t(i) * 1000;
            char ms_be[8];
            for (int k = 0; k < 8; ++k)
                ms_be[k] = char(ms >> (56 - 8 * k));
            be_value(r, ms_be, 8);
            n = std::snprintf(text, sizeof text, "note %d: delivered on time, nothing to add", i);
            be_value(r, text, n);
        }
        r += 'K';
        return r;
    }();
    return reply;
}

// Rows of an integer and a text such as "name-4711", as norvlite sends them.
const std::string& narrow_reply() {
    static const std::string reply = [] {
        std::string r;
        r.reserve(size_t(narrow_rows) * 25);
        r += 'A';
        be32(r, 2);
        column(r, "ID", 5, -1);
        column(r, "NAME", 30, 32);
        char text[32];
        for (int i = 1; i <= narrow_rows; ++i) {
            r += 'R';
            uint32_t id = uint32_t(i);
            char id_be[4] = {char(id >> 24), char(id >> 16), char(id >> 8), char(id)};
            be_value(r, id_be, 4);
            int n = std::snprintf(text, sizeof text, "name-%d", i);
            be_value(r, text, n);
        }
        r += 'K';
        return r;
    }();
    return reply;
}

// Writes the reply into one end of a socket pair from a thread of its own.
struct feeder {
    int sv[2] = {-1, -1};
    std::thread writer;
    explicit feeder(const std::string& r = captured_reply()) {
        socketpair(AF_UNIX, SOCK_STREAM, 0, sv);
        writer = std::thread([fd = sv[1], &r] {
            size_t off = 0;
            while (off < r.size()) {
                ssize_t w = ::write(fd, r.data() + off, r.size() - off);
                if (w <= 0) return;
                off += size_t(w);
            }
        });
    }
    ~feeder() {
        writer.join();
        close(sv[1]);
    }
};

void decode_reply(benchmark::State& state) {
    const std::string& reply = captured_reply();
    for (auto _ : state) {
        feeder f;
        auto* c = new db_conn;
        c->sock = f.sv[0];  // the statement goes out unread: the reply is already on its way
        db_result* r = db_execute(c, "select * from bench");
        if (!r || db_result_row_count(r) != bench_rows) state.SkipWithError("bad decode");
        db_result_free(r);
        db_disconnect(c);
    }
    state.SetItemsProcessed(state.iterations() * bench_rows);
    state.SetBytesProcessed(state.iterations() * int64_t(reply.size()));
}

void decode_narrow_reply(benchmark::State& state) {
    const std::string& reply = narrow_reply();
    for (auto _ : state) {
        feeder f(reply);
        auto* c = new db_conn;
        c->sock = f.sv[0];
        db_result* r = db_execute(c, "select * from narrow");
        if (!r || db_result_row_count(r) != narrow_rows) state.SkipWithError("bad decode");
        db_result_free(r);
        db_disconnect(c);
    }
    state.SetItemsProcessed(state.iterations() * narrow_rows);
    state.SetBytesProcessed(state.iterations() * int64_t(reply.size()));
}

void copy_reply(benchmark::State& state) {
    const std::string& reply = captured_reply();
    std::string sink(reply.size(), '\0');
    for (auto _ : state) {
        feeder f;
        size_t got = 0;
        while (got < reply.size()) {
            ssize_t n =
                ::read(f.sv[0], sink.data() + got, std::min<size_t>(65536, reply.size() - got));
            if (n <= 0) break;
            got += size_t(n);
        }
        close(f.sv[0]);
        benchmark::DoNotOptimize(sink.data());
    }
    state.SetItemsProcessed(state.iterations() * bench_rows);
    state.SetBytesProcessed(state.iterations() * int64_t(reply.size()));
}

}  // namespace

BENCHMARK(decode_reply)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(copy_reply)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(decode_narrow_reply)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
