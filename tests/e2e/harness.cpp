// Process plumbing for the end-to-end tests: fork/exec with pipes, time-outs, clean-up.
#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

const std::string banner =
    "\nNORVDB Windows Console Release V1.2.1 Win64\n\n"
    "Copyright (c) the NORVDB developers. All rights reserved.\n\n";

namespace {

using clock_type = std::chrono::steady_clock;

std::vector<std::string> command(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

int wait_status(pid_t pid, int timeout_ms) {
    int st = wait_until(pid, clock_type::now() + std::chrono::milliseconds(timeout_ms));
    if (st < 0) kill_and_reap(pid);
    return st;
}

}  // namespace

std::unique_ptr<norvlite> start_norvlite(const std::vector<std::string>& extra) {
    auto s = std::make_unique<norvlite>();
    std::vector<std::string> args = {"--data", s->data.path + "/db", "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    if (!s->proc.start(args, s->data.path + "/norvlite.log", error)) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    s->port = s->proc.port;
    return s;
}

run_result run_norvsql(const std::vector<std::string>& args, const std::string& input,
                       const std::string& cwd, int timeout_ms) {
    run_result res;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return res;
    pid_t pid = spawn_process(command(NORVSQL_BIN, args), in[0], out[1], -1, cwd);
    close(in[0]);
    close(out[1]);
    fcntl(in[1], F_SETFL, O_NONBLOCK);

    size_t written = 0;
    if (input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    bool out_open = true;
    while (out_open && clock_type::now() < deadline) {
        pollfd p[2] = {{out[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        int n = poll(p, in[1] >= 0 ? 2 : 1, 100);
        if (n <= 0) continue;
        if (p[0].revents) {
            char buf[65536];
            ssize_t r = read(out[0], buf, sizeof buf);
            if (r <= 0)
                out_open = false;
            else
                res.out.append(buf, static_cast<size_t>(r));
        }
        if (in[1] >= 0 && p[1].revents) {
            ssize_t w = write(in[1], input.data() + written, input.size() - written);
            if (w > 0) written += static_cast<size_t>(w);
            if (w < 0 || written == input.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
    }
    if (in[1] >= 0) close(in[1]);
    close(out[0]);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
    res.status = wait_status(pid, std::max<int>(1, static_cast<int>(left.count())));
    return res;
}


bool install_client_certs(const std::string& certs, const std::string& cwd,
                          const std::string& prefix) {
    std::error_code ec;
    fs::path sec = fs::path(cwd) / "security";
    fs::create_directories(sec, ec);
    auto copy = [&](const std::string& from, const std::string& to) {
        fs::copy_file(fs::path(certs) / from, sec / to, fs::copy_options::overwrite_existing, ec);
        return !ec;
    };
    return copy("ca.crt", "ca.crt") && copy("ca.crl", "ca.crl") &&
           copy(prefix + ".crt", "driver.crt") && copy(prefix + ".key", "driver.key");
}

pty_session::~pty_session() {
    if (master >= 0) close(master);
    if (pid > 0) {
        kill(pid, SIGKILL);
        wait_status(pid, 5000);
    }
}

bool pty_session::expect(const std::string& text, int timeout_ms) {
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        auto at = seen.find(text, consumed);
        if (at != std::string::npos) {
            consumed = at + text.size();
            return true;
        }
        if (clock_type::now() > deadline) return false;
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[4096];
        ssize_t r = read(master, buf, sizeof buf);
        if (r <= 0) return false;
        seen.append(buf, static_cast<size_t>(r));
    }
}

void pty_session::type(const std::string& keys) {
    for (char ch : keys) {
        if (write(master, &ch, 1) != 1) return;
        usleep(1000);
    }
}

int pty_session::finish(int timeout_ms) {
    // Drain what is left so the child never blocks on a full terminal.
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    while (clock_type::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            int st = 0;
            if (waitpid(pid, &st, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            continue;
        }
        char buf[4096];
        ssize_t r = read(master, buf, sizeof buf);
        if (r <= 0) break;
        seen.append(buf, static_cast<size_t>(r));
    }
    int st = wait_status(pid, 1000);
    pid = -1;
    return st;
}

std::unique_ptr<pty_session> start_norvsql_pty(const std::vector<std::string>& args,
                                               const std::string& cwd) {
    auto s = std::make_unique<pty_session>();
    std::string program = NORVSQL_BIN;
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = forkpty(&s->master, nullptr, nullptr, nullptr);
    if (pid < 0) return nullptr;
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    s->pid = pid;
    return s;
}
