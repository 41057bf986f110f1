// POSIX implementation of the process services: signals stand in for the console control events.
// One handler serves SIGINT, SIGHUP and SIGTERM for the whole run. It does only what signal
// context allows: it calls the control handler (a listing's, which sets a flag), or records the
// signal as pending; either way it writes one byte into a pipe that the console thread's waits
// poll. The console thread then ends the process in order (plat_end_on_signal).
#include "platform/system.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include "platform/console.h"
#include "platform/system_shared.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

inline constexpr int kept_free_memory = 16 << 20;  // bytes of freed heap kept for reuse

std::atomic<bool> in_editor{false};  // EDIT's editor runs: a Ctrl+C is the editor's
int wake_pipe[2] = {-1, -1};         // the handler writes [1], the console thread's waits poll [0]
pthread_t console_thread;
std::atomic<bool> signals_handled{false};

static_assert(SIGINT == plat_interrupt_number);

int event_of(int sig) {
    switch (sig) {
        case SIGINT:
            return ctrl_c_event;
        case SIGHUP:
            return ctrl_close_event;
        default:
            return ctrl_shutdown_event;
    }
}

void wake_console() {
    if (wake_pipe[1] < 0) return;
    char byte = 1;
    ssize_t w = ::write(wake_pipe[1], &byte, 1);  // a full pipe already wakes the waits
    (void)w;
}

void on_signal(int sig) {
    const int saved_errno = errno;
    if (sig == SIGINT && in_editor.load()) return;
    bool (*handler)(int) = plat_installed_ctrl_handler.load();
    if (!(handler && handler(event_of(sig)))) {
        if (plat_signal_ending.load() || plat_signal_pending.load() != 0 ||
            (sig == SIGINT && plat_cancel_in_progress(plat_monotonic_ms()))) {
            // A second signal before the console thread has ended for the first (its output
            // may be stuck on a reader that does not read), or a second Ctrl+C while the first
            // still cancels a wait: end now.
            con_restore_terminal();
            _exit(128 + sig);
        }
        plat_signal_pending = sig;
    }
    wake_console();
    errno = saved_errno;
}

void drain_wake_pipe() {
    char buf[64];
    while (::read(wake_pipe[0], buf, sizeof buf) > 0) {
    }
}

void set_held(int how) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(how, &set, nullptr);
}

}  // namespace

bool plat_on_console_thread() {
    return signals_handled.load() && pthread_equal(pthread_self(), console_thread);
}

int64_t plat_monotonic_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void plat_init() {
    std::signal(SIGPIPE, SIG_IGN);
#ifdef __GLIBC__
    // A result's memory freed at the top of the heap stays for the next result up to this much,
    // instead of going back to the system and being faulted in again: the export frees and
    // takes a batch's memory 200 times for a million rows.
    mallopt(M_TRIM_THRESHOLD, kept_free_memory);
#endif
}

void plat_handle_signals() {
    if (signals_handled.load()) return;
    if (pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) wake_pipe[0] = wake_pipe[1] = -1;
    console_thread = pthread_self();
    signals_handled = true;
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sigaddset(&sa.sa_mask, SIGINT);
    sigaddset(&sa.sa_mask, SIGHUP);
    sigaddset(&sa.sa_mask, SIGTERM);
    sa.sa_handler = on_signal;
    sa.sa_flags = 0;  // no SA_RESTART: a blocking call of the console thread returns EINTR
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int plat_process_id() {
    return int(::getpid());
}

bool plat_set_env(const char* name, const char* value) {
    return ::setenv(name, value, 1) == 0;
}

int plat_wait_fd(int fd, int events, int timeout_ms) {
    if (fd < 0) return plat_ready;  // a closed descriptor: the caller's call fails at once
    const bool watch = plat_on_console_thread() && wake_pipe[0] >= 0;
    const short poll_events =
        short(((events & plat_wait_in) ? POLLIN : 0) | ((events & plat_wait_out) ? POLLOUT : 0));
    pollfd p[2] = {{fd, poll_events, 0}, {wake_pipe[0], POLLIN, 0}};
    for (;;) {
        if (watch && plat_signal_pending.load()) return plat_woken;
        int r = ::poll(p, watch ? 2 : 1, timeout_ms);
        if (r < 0 && errno == EINTR) {
            if (watch) {
                drain_wake_pipe();
                return plat_woken;
            }
            continue;
        }
        if (r < 0) return plat_ready;
        if (r == 0) return plat_timed_out;
        if (watch && p[1].revents) {
            drain_wake_pipe();
            return plat_woken;
        }
        return plat_ready;
    }
}

void plat_deliver_ctrl_event(int event) {
    ::kill(::getpid(), event == ctrl_c_event       ? SIGINT
                       : event == ctrl_close_event ? SIGHUP
                                                   : SIGTERM);
}

plat_signals_held::plat_signals_held() {
    set_held(SIG_BLOCK);
}

plat_signals_held::~plat_signals_held() {
    set_held(SIG_UNBLOCK);
}

bool plat_run_editor(const char* path) {
    con_flush();
    const char* editor = std::getenv("VISUAL");
    if (!editor || !*editor) editor = std::getenv("EDITOR");
    if (!editor || !*editor) editor = "vi";
    // The editor may carry arguments ("code -w"): let the shell split them. Spawned rather than
    // forked: a console holding a large result would otherwise copy its page tables first.
    char sh[] = "sh", c[] = "-c", script[] = "exec $0 \"$1\"";
    char* argv[] = {sh, c, script, const_cast<char*>(editor), const_cast<char*>(path), nullptr};
    // Ctrl+C typed in the editor is the editor's; SIGTERM or SIGHUP meanwhile end the console
    // once the editor has ended.
    in_editor = true;
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) {
        in_editor = false;
        return false;
    }
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    in_editor = false;
    return r == pid && WIFEXITED(status) && WEXITSTATUS(status) != 127;
}
