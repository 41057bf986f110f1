// Process helpers of the tests. Every wait is bounded, so a broken binary fails a test instead of
// hanging it.
#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using steady = std::chrono::steady_clock;

int ms_left(steady::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int wait_until(pid_t pid, steady::time_point deadline) {
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
            return -1;
        }
        if (r < 0) return -1;
        if (steady::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void kill_and_reap(pid_t pid) {
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

pid_t spawn_process(const std::vector<std::string>& args, int in_fd, int out_fd, int err_fd,
                    const std::string& cwd, const std::vector<std::string>& env) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (in_fd < 0) in_fd = open("/dev/null", O_RDONLY);
        if (in_fd >= 0) dup2(in_fd, STDIN_FILENO);
        if (out_fd >= 0) dup2(out_fd, STDOUT_FILENO);
        if (err_fd >= 0) dup2(err_fd, STDERR_FILENO);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        for (const std::string& e : env) {
            const size_t eq = e.find('=');
            if (eq != std::string::npos) setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

norvlite_server::~norvlite_server() {
    if (pid > 0) kill_and_reap(pid);
}

bool norvlite_server::start(const std::vector<std::string>& args, const std::string& log_file,
                            std::string& error) {
    log_path = log_file;
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = "pipe failed";
        return false;
    }
    int err_fd = open(log_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    std::vector<std::string> argv{NORVLITE_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    pid = err_fd >= 0 ? spawn_process(argv, -1, out[1], err_fd) : -1;
    close(out[1]);
    if (err_fd >= 0) close(err_fd);
    if (pid < 0) {
        close(out[0]);
        error = "cannot start norvlite";
        return false;
    }
    std::string line;
    auto deadline = steady::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, ms_left(deadline)) <= 0) break;
        char buf[256];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    constexpr std::string_view prefix = "norvlite listening on 127.0.0.1:";
    if (!line.starts_with(prefix) || line.find('\n') == std::string::npos) {
        error = "no listening line, got '" + line + "'; log: " + log();
        return false;
    }
    port = std::atoi(line.c_str() + prefix.size());
    return port > 0;
}

int norvlite_server::stop(int sig, int timeout_ms) {
    if (pid <= 0) return -1;
    kill(pid, sig);
    int status = wait_until(pid, steady::now() + std::chrono::milliseconds(timeout_ms));
    if (status < 0) kill_and_reap(pid);
    pid = -1;
    return status;
}

std::string norvlite_server::log() const {
    std::ifstream in(log_path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int run_program(const std::vector<std::string>& argv, std::string& output, int timeout_ms) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return -1;
    pid_t pid = spawn_process(argv, -1, out[1], out[1]);
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return -1;
    }
    auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        if (poll(&p, 1, ms_left(deadline)) <= 0) break;
        char buf[1024];
        ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        output.append(buf, static_cast<size_t>(n));
    }
    close(out[0]);
    int status = wait_until(pid, deadline);
    if (status < 0) kill_and_reap(pid);
    return status;
}

bool make_certs(const std::string& dir) {
    std::string output;
    return run_program({REPO_ROOT "/scripts/gen-certs", dir}, output, 60000) == 0;
}
