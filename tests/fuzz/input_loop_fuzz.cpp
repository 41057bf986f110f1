// Fuzz target: the statement loop fed arbitrary lines on standard input (through a pipe), on a
// connection whose peer answers whatever arrives with "K"; reconnects are refused at once. LOGIN
// returns from the loop; EXIT and the end of input through the hook.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "platform/files.h"
#include "platform/sockets.h"
#include "protocol/conn.h"
#include "shell/input_loop.h"
#include "tests/fuzz/console_sandbox.h"
#include "tests/protocol/socket_pair.h"

namespace {

inline constexpr size_t max_input = 65536;  // one pipe buffer: the writer never waits

bool contains_word(std::string_view text, std::string_view word) {
    auto same = [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; };
    return std::search(text.begin(), text.end(), word.begin(), word.end(), same) != text.end();
}

// Everything that opens a file by a typed name (SPOOL, EXECFILE, IMP, the loader, the file
// markers) stays inside the scratch directory: an input that could name a path with a directory
// in it is not run. Every byte such a name could hold comes from the input itself.
bool reaches_outside(std::string_view text) {
    bool leaves =
        text.find('/') != std::string_view::npos || text.find("..") != std::string_view::npos;
    if (!leaves) return false;
    return text.find_first_of("<>") != std::string_view::npos || contains_word(text, "spool") ||
           contains_word(text, "execfile") || contains_word(text, "imp") ||
           contains_word(text, "tabldr") || contains_word(text, "sqlldr");
}

// The peer answers each piece the client sends with one "K", as it arrives: answers sent ahead
// would wait on the connection before the next statement, and the console drops a connection
// holding bytes that answer nothing. A load wants more than a "K" (its int64 exchange), so the
// peer closes the connection at a load statement: the load fails instead of waiting for good.
struct answering_peer {
    const socket_pair& sp;
    std::atomic<bool> stop{false};
    std::thread thread{[this] { answer(); }};
    ~answering_peer() {
        stop = true;
        thread.join();
    }
    void answer() {
        char buf[65536];
        std::string seen;
        while (!stop) {
            plat_wait_socket_or_waker(sp.peer, nullptr, 10);
            long got = plat_socket_recv_now(sp.peer, buf, sizeof buf);
            if (got == 0 || got == plat_sock_failed) return;
            if (got < 0) continue;
            // The text may be split between two pieces: the tail of the last one is kept.
            seen.append(buf, size_t(got));
            if (contains_word(seen, "from stream")) {
                plat_socket_shutdown(sp.peer);
                return;
            }
            if (seen.size() > 16) seen.erase(0, seen.size() - 16);
            plat_socket_send(sp.peer, "K", 1);
        }
    }
};

db_conn* answered_connection(const socket_pair& sp) {
    auto* c = new db_conn;
    c->sock = plat_socket_dup(sp.client);
    c->auto_commit = 1;
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), std::min(size, max_input));
    if (reaches_outside(text)) return 0;
    console_sandbox_init();
    console_sandbox_reset();

    int in_read = -1, in_write = -1;
    if (!open_pipe(in_read, in_write)) return 0;
    const bool written = write_all(in_write, text.data(), text.size());
    close_file(in_write);
    if (!written) {
        close_file(in_read);
        return 0;
    }
    socket_pair sp;
    answering_peer peer{sp};
    g_console.conn = answered_connection(sp);
    {
        console_capture capture;
        con_set_input(in_read);
        try {
            run_statement_loop();
        } catch (const console_exit&) {
        }
        con_set_input(0);  // standard input
    }
    db_disconnect(g_console.conn);
    g_console.conn = nullptr;
    close_file(in_read);
    return 0;
}
