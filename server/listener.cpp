// Accepts connections and runs one thread per client. The main thread waits with poll on the
// listening socket and a self-pipe that the SIGINT/SIGTERM handler writes to; at shutdown it
// shuts every client socket down so each connection thread ends, then joins them all.
// A connection's socket is closed under the registry lock, so shutdown never hits a reused fd.
#include "server/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>

#include "server/log.h"
#include "server/own_cipher_key.h"
#include "server/session.h"
#include "server/tls.h"

namespace {

inline constexpr int listen_backlog = 64;
inline constexpr int reap_interval_ms = 1000;  // finished threads are joined at least this often
inline constexpr int accept_retry_ms = 100;    // pause when accept fails for lack of resources

int stop_pipe[2] = {-1, -1};  // [1] written by the signal handler, [0] polled by the main thread

void on_stop_signal(int) {
    int saved = errno;
    char byte = 1;
    ssize_t unused = write(stop_pipe[1], &byte, 1);
    (void)unused;
    errno = saved;
}

struct conn_slot {
    int fd = -1;         // closed and set to -1 by the connection thread, under the lock
    bool done = false;   // set by the connection thread, under the lock, as its last act
    std::thread thread;  // joined by the main thread
};

struct conn_registry {
    std::mutex lock;
    std::list<conn_slot> slots;  // list: a slot's address is stable while its thread runs
};

void connection_main(conn_registry* reg, conn_slot* slot, int id, std::string peer,
                     const srv_options* opts) {
    srv_serve_connection(slot->fd, id, peer, *opts);
    std::lock_guard guard(reg->lock);
    close(slot->fd);
    slot->fd = -1;
    slot->done = true;
}

// Joins the threads that have finished; with everything, shuts the rest down first and joins all.
void reap(conn_registry& reg, bool everything) {
    std::list<conn_slot> finished;
    {
        std::lock_guard guard(reg.lock);
        for (auto it = reg.slots.begin(); it != reg.slots.end();) {
            auto next = std::next(it);
            if (everything && it->fd >= 0) shutdown(it->fd, SHUT_RDWR);
            if (everything || it->done) finished.splice(finished.end(), reg.slots, it);
            it = next;
        }
    }
    for (conn_slot& slot : finished)
        slot.thread.join();
}

std::string peer_text(const sockaddr_in& addr) {
    char ip[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &addr.sin_addr, ip, sizeof ip);
    return std::string(ip) + ":" + std::to_string(ntohs(addr.sin_port));
}

void start_connection(conn_registry& reg, int fd, int id, const std::string& peer,
                      const srv_options& opts) {
    // The new thread inherits a mask without the stop signals, so only the main thread takes
    // them and connection threads never see EINTR from them.
    sigset_t stop_signals, old_mask;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, &old_mask);
    {
        std::lock_guard guard(reg.lock);
        conn_slot& slot = reg.slots.emplace_back();
        slot.fd = fd;
        try {
            slot.thread = std::thread(connection_main, &reg, &slot, id, peer, &opts);
        } catch (const std::system_error& e) {
            srv_log("conn %d %s: cannot start a thread: %s", id, peer.c_str(), e.what());
            close(fd);
            reg.slots.pop_back();
        }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
}

int open_listener(const srv_options& opts, int& port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(opts.port));
    if (inet_pton(AF_INET, opts.listen_addr.c_str(), &addr.sin_addr) != 1) {
        srv_log("bad listen address %s", opts.listen_addr.c_str());
        return -1;
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        srv_log("cannot create a socket: %s", std::strerror(errno));
        return -1;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(fd, listen_backlog) != 0) {
        srv_log("cannot listen on %s:%d: %s", opts.listen_addr.c_str(), opts.port,
                std::strerror(errno));
        close(fd);
        return -1;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

bool install_stop_handlers() {
    if (pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        srv_log("cannot create the stop pipe: %s", std::strerror(errno));
        return false;
    }
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a client gone mid-write is an error return, not a signal
    return true;
}

void remove_stop_handlers() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    close(stop_pipe[0]);
    close(stop_pipe[1]);
    stop_pipe[0] = stop_pipe[1] = -1;
}

}  // namespace

int srv_run(const srv_options& opts) {
    std::error_code ec;
    std::filesystem::create_directories(opts.data_dir, ec);
    if (ec || !std::filesystem::is_directory(opts.data_dir, ec)) {
        srv_log("cannot use data directory %s: %s", opts.data_dir.c_str(),
                ec ? ec.message().c_str() : "not a directory");
        return 1;
    }
    if (!install_stop_handlers()) return 1;
    int port = 0;
    int listen_fd = open_listener(opts, port);
    if (listen_fd < 0) {
        remove_stop_handlers();
        return 1;
    }
    std::printf("norvlite listening on %s:%d\n", opts.listen_addr.c_str(), port);
    std::fflush(stdout);

    conn_registry reg;
    int next_id = 0;
    for (;;) {
        pollfd fds[2] = {{listen_fd, POLLIN, 0}, {stop_pipe[0], POLLIN, 0}};
        int r = poll(fds, 2, reap_interval_ms);
        reap(reg, false);
        if (r < 0 && errno != EINTR) {
            srv_log("poll failed: %s", std::strerror(errno));
            break;
        }
        if (r <= 0) continue;
        if (fds[1].revents) break;
        if (!(fds[0].revents & POLLIN)) continue;
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        int fd = accept4(listen_fd, reinterpret_cast<sockaddr*>(&addr), &len,
                         SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                srv_log("accept failed: %s", std::strerror(errno));
                poll(nullptr, 0, accept_retry_ms);
            }
            continue;
        }
        // A reply's last segment leaves at once instead of waiting for the client to acknowledge
        // the one before it: a client that reads a cursor batch by batch would wait each time.
        const int nodelay = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &nodelay, sizeof nodelay);
        start_connection(reg, fd, ++next_id, peer_text(addr), opts);
    }

    close(listen_fd);
    reap(reg, true);
    remove_stop_handlers();
    srv_tls_release_context();
    srv_cipher_key_release_shared();
    srv_log("stopped");
    return 0;
}
