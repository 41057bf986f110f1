// Process plumbing for the end-to-end tests: fork/exec with pipes, time-outs, clean-up.
#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

const std::string banner =
    "\nNORVDB Windows Console Release V1.2.1 Win64\n\n"
    "Copyright (c) the NORVDB developers. All rights reserved.\n\n";

namespace {

using clock_type = std::chrono::steady_clock;

// The console's command: NORVSQL_COMMAND when set (words split at spaces, e.g.
// "/usr/bin/wine /path/norvsql.exe"), the built norvsql otherwise.
std::vector<std::string> command(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    if (const char* cmd = std::getenv("NORVSQL_COMMAND"); cmd && *cmd) {
        std::istringstream words(cmd);
        for (std::string w; words >> w;)
            argv.push_back(w);
    } else {
        argv.push_back(program);
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

int wait_status(pid_t pid, int timeout_ms) {
    int st = wait_until(pid, clock_type::now() + std::chrono::milliseconds(timeout_ms));
    if (st < 0) kill_and_reap(pid);
    return st;
}

}  // namespace

bool console_under_emulator() {
    const char* cmd = std::getenv("NORVSQL_COMMAND");
    return cmd && *cmd;
}

std::unique_ptr<norvlite> start_norvlite(const std::vector<std::string>& extra) {
    auto s = std::make_unique<norvlite>();
    std::vector<std::string> args = {"--data", s->data.path + "/db", "--port", "0",
                                     "--log-statements"};
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

console_session::~console_session() {
    if (to_child >= 0 && to_child != from_child) close(to_child);
    if (from_child >= 0) close(from_child);
    if (pid > 0) {
        kill(pid, SIGKILL);
        wait_status(pid, 5000);
    }
}

bool console_session::expect(const std::string& text, int timeout_ms) {
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        auto at = seen.find(text, consumed);
        if (at != std::string::npos) {
            consumed = at + text.size();
            return true;
        }
        if (clock_type::now() > deadline) return false;
        pollfd p{from_child, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[4096];
        ssize_t r = read(from_child, buf, sizeof buf);
        if (r <= 0) return false;
        seen.append(buf, static_cast<size_t>(r));
    }
}

void console_session::type(const std::string& keys) {
    if (to_child != from_child) {  // a pipe takes the keys at once
        size_t off = 0;
        while (off < keys.size()) {
            ssize_t w = write(to_child, keys.data() + off, keys.size() - off);
            if (w <= 0) return;
            off += static_cast<size_t>(w);
        }
        return;
    }
    for (char ch : keys) {  // a terminal gets them one by one, as typed
        if (write(to_child, &ch, 1) != 1) return;
        usleep(1000);
    }
}

void console_session::paste(const std::string& keys) {
    size_t off = 0;
    while (off < keys.size()) {
        ssize_t w = write(to_child, keys.data() + off, keys.size() - off);
        if (w <= 0) return;
        off += static_cast<size_t>(w);
    }
}

long console_session::terminal_modes() const {
    termios t{};
    if (to_child != from_child || tcgetattr(from_child, &t) != 0) return -1;
    return static_cast<long>(t.c_lflag);
}

int console_session::finish(int timeout_ms) {
    if (to_child != from_child && to_child >= 0) {
        close(to_child);
        to_child = -1;
    }
    // Drain what is left so the child never blocks on a full pipe or terminal.
    auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    bool open = true;
    while (clock_type::now() < deadline) {
        pollfd p{from_child, POLLIN, 0};
        if (open && poll(&p, 1, 50) > 0) {
            char buf[4096];
            ssize_t r = read(from_child, buf, sizeof buf);
            if (r > 0) {
                seen.append(buf, static_cast<size_t>(r));
                continue;
            }
            open = false;  // the other end is closed (a terminal says EIO): wait for the exit
        }
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) == pid) {
            pid = -1;
            signalled = WIFSIGNALED(st);
            return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        }
        if (!open) usleep(10000);
    }
    kill_and_reap(pid);
    pid = -1;
    return -1;
}

std::unique_ptr<console_session> start_norvsql_pty(const std::vector<std::string>& args,
                                                   const std::string& cwd) {
    auto s = std::make_unique<console_session>();
    // Under an emulator the terminal is the emulated platform's console, on this terminal.
    std::vector<std::string> words = command(NORVSQL_BIN, args);
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return nullptr;
    if (pid == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        // The line editor keeps no history file unless the test names one.
        setenv("NORVSQL_HISTORY", "", 0);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    s->pid = pid;
    s->to_child = s->from_child = master;
    return s;
}

std::unique_ptr<console_session> start_norvsql_piped(const std::vector<std::string>& args,
                                                     const std::string& cwd,
                                                     const std::vector<std::string>& env) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return nullptr;
    auto s = std::make_unique<console_session>();
    s->pid = spawn_process(command(NORVSQL_BIN, args), in[0], out[1], -1, cwd, env);
    close(in[0]);
    close(out[1]);
    s->to_child = in[1];
    s->from_child = out[0];
    return s;
}

std::string test_clock::env() const {
    return "NORV_TEST_CLOCK_FILE=" + dir.path + "/clock";
}

void test_clock::advance_seconds(int seconds) {
    moved_ms += 1000LL * seconds;
    // Written aside and renamed over the file, so that the console never reads half of it.
    const std::string file = dir.path + "/clock";
    std::ofstream(file + ".new", std::ios::binary) << moved_ms;
    std::error_code ec;
    fs::rename(file + ".new", file, ec);
    EXPECT_FALSE(ec) << "the test clock could not be moved: " << ec.message();
}

std::string normalise_use_time(const std::string& out) {
    std::string res;
    res.reserve(out.size());
    const std::string mark = "Use time:";
    size_t at = 0;
    for (;;) {
        size_t found = out.find(mark, at);
        if (found == std::string::npos) break;
        size_t digits = found + mark.size();
        size_t end = digits;
        while (end < out.size() && out[end] >= '0' && out[end] <= '9')
            ++end;
        res.append(out, at, digits - at);
        res += end > digits ? "N" : "";
        at = end;
    }
    res.append(out, at, std::string::npos);
    return res;
}

std::vector<std::string> server_statements(const norvlite& s) {
    // Lines "norvlite: conn N ADDR: statement "TEXT"" with \n, \r, \t, \\ and \" escaped.
    std::vector<std::string> found;
    const std::string mark = ": statement \"";
    std::string log = s.proc.log();
    size_t at = 0;
    while ((at = log.find(mark, at)) != std::string::npos) {
        at += mark.size();
        std::string text;
        while (at < log.size() && log[at] != '"') {
            char c = log[at++];
            if (c == '\\' && at < log.size()) {
                char e = log[at++];
                c = e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
            }
            text += c;
        }
        found.push_back(text);
    }
    return found;
}

const std::string sql_prompt = "\r\nSQL> ";
const std::string heading_rule =
    "\r\n------------------------------------------------------------------------------\r\n";

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    std::ofstream(path, std::ios::binary) << bytes;
}

const std::string& test_certs() {
    static temp_dir dir;  // kept to the end of the process, and removed then
    static const std::string path = make_certs(dir.path + "/set") ? dir.path + "/set" : "";
    return path;
}

void norvlite_test::start(const std::vector<std::string>& extra) {
    server = start_norvlite(extra);
    ASSERT_NE(server, nullptr);
    port = std::to_string(server->port);
}

std::vector<std::string> norvlite_test::login(const std::string& mode) const {
    return {mode, "127.0.0.1", port, "demo", "norv", "norv"};
}

std::string norvlite_test::run_console(const std::string& lines, const std::string& cwd,
                                       const std::string& mode, int timeout_ms) {
    run_result r = run_norvsql(login(mode), lines + "exit\n", cwd, timeout_ms);
    EXPECT_EQ(r.status, 0);
    return r.out;
}

std::string norvlite_test::session(const std::string& lines, const std::string& cwd) {
    return after_login(run_console(lines, cwd));
}

std::string norvlite_test::after_login(const std::string& out) const {
    std::string head =
        banner + "\r\nConnect to 127.0.0.1:" + port + " demo norv \r\nConnect ok.\r\n";
    EXPECT_EQ(out.substr(0, head.size()), head);
    return normalise_use_time(out.substr(std::min(head.size(), out.size())));
}
