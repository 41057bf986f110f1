// The reply bytes of one query, and the memory its result holds: connects to a server on the
// clear channel, sends the query and reads its reply letter by letter, counting every byte as it
// travels (this count knows nothing of how a result is stored); then runs the query again through
// db_execute and reports the peak memory of the process holding that result, and the two side by
// side. For the result-memory figure: the console's peak memory listing the same query, divided
// by the reply bytes printed here.
// Usage: reply_bytes HOST PORT DATABASE "SQL"   (user norv, password norv)
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "protocol/db.h"
#include "protocol/db_wire.h"

namespace {

struct counter {
    db_conn* c = nullptr;
    uint64_t bytes = 0;
    uint64_t rows = 0;
    std::string scratch;

    int byte() {
        unsigned char b;
        db_recv_exact(c, &b, 1);
        bytes += 1;
        return b;
    }
    int32_t int32() {
        unsigned char b[4];
        db_recv_exact(c, b, 4);
        bytes += 4;
        return int32_t(uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]);
    }
    void skip(int32_t n) {
        if (n < 0) db_abort_exchange(c);
        scratch.resize(size_t(n));
        db_recv_exact(c, scratch.data(), n);
        bytes += uint64_t(n);
    }
    // One reply to its "K" or "$" (only the letters a query's reply carries).
    void reply() {
        int32_t cols = 0;
        for (;;) {
            switch (byte()) {
                case 'A':
                    cols = int32();
                    for (int32_t i = 0; i < cols; ++i) {
                        skip(int32());  // name
                        int32(), int32(), int32();
                    }
                    break;
                case 'R':
                    rows += 1;
                    for (int32_t i = 0; i < cols; ++i)
                        skip(int32());
                    break;
                case 'W':
                case 'E':
                case 'F':
                case 'M':
                    skip(int32());
                    break;
                case '$':
                    int32();
                    return;
                case 'K':
                    return;
                default:
                    std::fprintf(stderr, "reply_bytes: a letter this counter does not know\n");
                    std::exit(1);
            }
        }
    }
};

long peak_kib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: reply_bytes HOST PORT DATABASE SQL\n");
        return 2;
    }
    auto port = uint16_t(std::atoi(argv[2]));
    db_conn* c = db_connect("", argv[1], port, argv[3], "norv", "norv", nullptr, nullptr, nullptr,
                            nullptr, 0, 1, 0, 0);
    if (!c) {
        std::fprintf(stderr, "reply_bytes: cannot connect\n");
        return 1;
    }
    counter n;
    n.c = c;
    if (!db_send_statement(c, argv[4]) || !db_run_exchange(c, [&] { n.reply(); })) {
        std::fprintf(stderr, "reply_bytes: the reply broke off\n");
        return 1;
    }
    long before = peak_kib();
    db_result* r = db_execute(c, argv[4]);
    if (!r || db_result_cut_short(r) || uint64_t(db_result_row_count(r)) != n.rows) {
        std::fprintf(stderr, "reply_bytes: the second run differs\n");
        return 1;
    }
    long held = peak_kib() - before;
    double mib = double(n.bytes) / 1048576.0;
    std::printf("rows %llu\nreply bytes %llu (%.1f MiB)\n", (unsigned long long)n.rows,
                (unsigned long long)n.bytes, mib);
    std::printf("peak growth holding the result %.1f MiB (%.2fx the reply)\n", held / 1024.0,
                held / 1024.0 / mib);
    db_result_free(r);
    db_disconnect(c);
    return 0;
}
