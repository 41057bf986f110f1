// POSIX implementation of the process services: signals stand in for the console control events.
#include "platform/system.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"

namespace {

bool (*volatile ctrl_handler)(int) = nullptr;
void (*exit_hook)(int) = nullptr;

int event_of(int sig) {
    switch (sig) {
        case SIGINT: return ctrl_c_event;
        case SIGHUP: return ctrl_close_event;
        default: return ctrl_shutdown_event;
    }
}

void on_signal(int sig) {
    bool (*handler)(int) = ctrl_handler;
    if (handler && handler(event_of(sig))) return;
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

void plat_init() { std::signal(SIGPIPE, SIG_IGN); }

void plat_exit(int status) {
    con_flush();
    std::fflush(nullptr);
    if (exit_hook) exit_hook(status);
    std::_Exit(status);
}

void plat_set_exit_hook(void (*hook)(int status)) { exit_hook = hook; }

int64_t plat_clock_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t plat_time_seconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

void plat_set_ctrl_handler(bool (*handler)(int event), bool add) {
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    if (add) {
        ctrl_handler = handler;
        sa.sa_handler = on_signal;
    } else {
        ctrl_handler = nullptr;
        sa.sa_handler = SIG_DFL;
    }
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
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
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    return r == pid && WIFEXITED(status) && WEXITSTATUS(status) != 127;
}
