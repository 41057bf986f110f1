// The pipes open in this process and the writer of each. Sessions format a statement's line once
// and push it into every pipe's queue under the hub lock; a pipe's own connection thread sleeps in
// poll on its socket (to see the client close) and on a wake-up pipe (written when its queue
// turns non-empty), takes the whole queue at once and sends it in one write.
#include "server/debug_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "server/log.h"
#include "server/text.h"

namespace {

constexpr int pipe_socket_buffer = 65536;  // bytes; the kernel doubles it
// How long the read of what a pipe's client sent (or of its close) may wait once poll said there
// is something: only a TLS record cut in the middle could make it wait at all.
constexpr auto discard_read_time = std::chrono::seconds(1);

struct pipe_entry {
    srv_pipe_queue queue;
    int wake[2] = {-1, -1};  // [1] written by sessions, [0] polled by the pipe's thread
};

struct pipe_hub {
    std::mutex lock;                 // guards pipes; held while lines are pushed
    std::vector<pipe_entry*> pipes;  // the registered pipes, owned by their threads
    std::atomic<int> open{0};        // pipes.size(), read without the lock
};

pipe_hub& hub() {
    static pipe_hub h;
    return h;
}

// Appends t cleaned: blanks trimmed, control bytes as blanks, at most max bytes (the cut moved
// back to the start of a UTF-8 character, "..." added).
void append_shown(std::string& out, std::string_view t, size_t max) {
    t = srv_trim(t);
    bool cut = false;
    if (t.size() > max) {
        size_t n = max;
        while (n > 0 && (static_cast<unsigned char>(t[n]) & 0xc0) == 0x80)
            --n;
        t = t.substr(0, n);
        cut = true;
    }
    for (char c : t) {
        const unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7f) ? ' ' : c;
    }
    if (cut) out += "...";
}

void wake(int fd) {
    const char byte = 1;
    ssize_t unused = write(fd, &byte, 1);  // a full wake-up pipe already wakes the writer
    (void)unused;
}

void drain(int fd) {
    char buf[64];
    while (read(fd, buf, sizeof buf) > 0) {
    }
}

// Registers e for the sessions' lines while it lives.
struct registration {
    pipe_entry& e;
    explicit registration(pipe_entry& entry) : e(entry) {
        pipe_hub& h = hub();
        std::lock_guard guard(h.lock);
        h.pipes.push_back(&e);
        h.open.store(static_cast<int>(h.pipes.size()), std::memory_order_relaxed);
    }
    ~registration() {
        pipe_hub& h = hub();
        std::lock_guard guard(h.lock);
        std::erase(h.pipes, &e);
        h.open.store(static_cast<int>(h.pipes.size()), std::memory_order_relaxed);
    }
    registration(const registration&) = delete;
    registration& operator=(const registration&) = delete;
};

struct wake_pipe_closer {
    int* fds;
    ~wake_pipe_closer() {
        for (int i = 0; i < 2; ++i)
            if (fds[i] >= 0) close(fds[i]);
    }
};

}  // namespace

std::string srv_pipe_line(int session, std::string_view user, std::string_view database,
                          std::string_view text, const srv_outcome& outcome) {
    std::string line = "[session " + std::to_string(session) + " ";
    append_shown(line, user, srv_pipe_text_shown);
    line += '@';
    append_shown(line, database, srv_pipe_text_shown);
    line += "] ";
    append_shown(line, text, srv_pipe_text_shown);
    line += " -> ";
    switch (outcome.kind) {
        case srv_outcome_kind::ok:
            line += "ok";
            break;
        case srv_outcome_kind::rows:
            line += std::to_string(outcome.count) + " rows";
            break;
        case srv_outcome_kind::changed:
            line += std::to_string(outcome.count) + " changed";
            break;
        case srv_outcome_kind::error:
            line += "error ";
            append_shown(line, outcome.text, srv_pipe_error_shown);
            break;
        case srv_outcome_kind::note:
            append_shown(line, outcome.text, srv_pipe_error_shown);
            break;
    }
    line += '\n';
    return line;
}

bool srv_pipe_push(srv_pipe_queue& q, std::string_view line) {
    std::lock_guard guard(q.lock);
    const bool was_empty = q.lines == 0 && q.dropped == 0;
    if (q.lines >= q.max_lines || q.text.size() + line.size() > q.max_bytes) {
        ++q.dropped;
        return was_empty;
    }
    q.text += line;
    ++q.lines;
    return was_empty;
}

srv_pipe_taken srv_pipe_take(srv_pipe_queue& q, std::string& out) {
    out.clear();
    std::lock_guard guard(q.lock);
    out.swap(q.text);
    const srv_pipe_taken taken{q.lines, q.dropped};
    if (q.dropped > 0) out += "[" + std::to_string(q.dropped) + " lines dropped]\n";
    q.lines = 0;
    q.dropped = 0;
    return taken;
}

void srv_pipe_note(const srv_session& s, std::string_view text) {
    pipe_hub& h = hub();
    if (h.open.load(std::memory_order_relaxed) == 0) return;
    const std::string line = srv_pipe_line(s.id, s.user, s.database, text, s.outcome);
    std::lock_guard guard(h.lock);
    for (pipe_entry* e : h.pipes) {
        if (srv_pipe_push(e->queue, line)) wake(e->wake[1]);
    }
}

void srv_serve_debug_pipe(srv_session& s) {
    pipe_entry entry;
    wake_pipe_closer closer{entry.wake};
    if (pipe2(entry.wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        const std::string why = std::string("cannot open a debug pipe: ") + std::strerror(errno);
        srv_log("conn %d %s: %s", s.id, s.peer.c_str(), why.c_str());
        srv_put_message(s.out, 'E', why);
        srv_put_u8(s.out, 'K');
        srv_flush(s.out);
        return;
    }
    // A small kernel send buffer, so that the queue, not the kernel, holds what a slow reader
    // has not taken yet, and the dropped-lines count tells what it missed.
    setsockopt(s.channel.fd, SOL_SOCKET, SO_SNDBUF, &pipe_socket_buffer, sizeof pipe_socket_buffer);
    registration reg(entry);
    srv_log("conn %d %s: debug pipe open", s.id, s.peer.c_str());
    srv_put_u8(s.out, 'K');
    if (!srv_flush(s.out)) return;
    const std::chrono::seconds idle_limit(s.opts->max_idle_time);
    std::string batch;
    unsigned long long lines = 0, dropped = 0;
    const char* end = "closed by the client";
    char ignored[4096];
    for (;;) {
        pollfd fds[2] = {{s.channel.fd, POLLIN, 0}, {entry.wake[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            end = "poll failed";
            break;
        }
        if (fds[1].revents) drain(entry.wake[0]);
        const srv_pipe_taken taken = srv_pipe_take(entry.queue, batch);
        lines += taken.lines;
        dropped += taken.dropped;
        if (!batch.empty()) {
            if (!srv_send_all(s.channel, batch.data(), batch.size(),
                              std::chrono::steady_clock::now() + idle_limit)) {
                end = "a write failed or stalled";
                break;
            }
        }
        if (fds[0].revents) {
            // The client sends nothing on a pipe; a read of 0 is its close.
            long got = srv_recv_some(s.channel, ignored, sizeof ignored,
                                     std::chrono::steady_clock::now() + discard_read_time);
            if (got <= 0) break;
        }
    }
    srv_log("conn %d %s: debug pipe closed (%s): %llu lines, %llu dropped", s.id, s.peer.c_str(),
            end, lines, dropped);
}
