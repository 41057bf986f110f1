// Process, socket and TLS-client helpers of the norvlite tests. Every wait is bounded, so a
// broken server fails a test instead of hanging it.
#include "tests/server/norvlite_process.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using steady = std::chrono::steady_clock;

int ms_left(steady::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for pid until the deadline; returns the exit status, 128+signal, or -1.
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

// Forks and execs argv with stdout on out_fd and stderr on err_fd. Returns the pid or -1.
pid_t spawn(const std::vector<std::string>& args, int out_fd, int err_fd) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out_fd, STDOUT_FILENO);
        dup2(err_fd, STDERR_FILENO);
        int null_in = open("/dev/null", O_RDONLY);
        if (null_in >= 0) dup2(null_in, STDIN_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

temp_dir::temp_dir() {
    char name[] = "/tmp/norvlite-test-XXXXXX";
    if (mkdtemp(name)) path = name;
}

temp_dir::~temp_dir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
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
    std::vector<std::string> argv{NORVLITE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    pid = err_fd >= 0 ? spawn(argv, out[1], err_fd) : -1;
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
    pid_t pid = spawn(argv, out[1], out[1]);
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

test_socket::~test_socket() {
    if (fd >= 0) close(fd);
}

test_socket connect_local(int port) {
    test_socket s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s.fd >= 0 && connect(s.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(s.fd);
        s.fd = -1;
    }
    if (s.fd >= 0) {
        timeval tv{5, 0};  // no blocking read of a test lasts longer
        setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        setsockopt(s.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    }
    return s;
}

bool send_bytes(const test_socket& s, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = send(s.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string recv_upto(const test_socket& s, size_t max, int timeout_ms) {
    std::string got;
    auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < max) {
        pollfd p{s.fd, POLLIN, 0};
        if (poll(&p, 1, ms_left(deadline)) <= 0) break;
        char buf[256];
        ssize_t n = recv(s.fd, buf, std::min(sizeof buf, max - got.size()), 0);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

bool closed_within(const test_socket& s, int timeout_ms) {
    auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pollfd p{s.fd, POLLIN, 0};
        if (poll(&p, 1, ms_left(deadline)) <= 0) return false;
        char buf[256];
        ssize_t n = recv(s.fd, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) return true;
        if (n < 0) return false;
    }
}

tls_client::~tls_client() {
    SSL_free(ssl);
    SSL_CTX_free(ctx);
    ERR_clear_error();
}

bool tls_client::open(int port, const std::string& certs, const std::string& client) {
    sock = connect_local(port);
    if (sock.fd < 0 || !send_bytes(sock, "~tls~")) {
        why = "connect or marker failed";
        return false;
    }
    if (recv_upto(sock, 2, 5000).size() != 2) {
        why = "no 2 bytes after the marker";
        return false;
    }
    const std::string ca = certs + "/ca.crt";
    const std::string crl = certs + "/ca.crl";
    const std::string cert = certs + "/" + client + ".crt";
    const std::string key = certs + "/" + client + ".key";
    ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx || SSL_CTX_load_verify_file(ctx, ca.c_str()) != 1 ||
        X509_STORE_load_file(SSL_CTX_get_cert_store(ctx), crl.c_str()) != 1) {
        why = "client context set-up failed";
        return false;
    }
    if (!client.empty() &&
        (SSL_CTX_use_certificate_file(ctx, cert.c_str(), SSL_FILETYPE_PEM) != 1 ||
         SSL_CTX_use_PrivateKey_file(ctx, key.c_str(), SSL_FILETYPE_PEM) != 1)) {
        why = "client certificate set-up failed";
        return false;
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    X509_VERIFY_PARAM_set_flags(SSL_CTX_get0_param(ctx), X509_V_FLAG_CRL_CHECK);
    ssl = SSL_new(ctx);
    if (!ssl || SSL_set_fd(ssl, sock.fd) != 1 || SSL_connect(ssl) != 1) {
        why = "handshake failed";
        return false;
    }
    return true;
}

std::string tls_client::login(std::string_view text) {
    char block[256] = {};
    std::memcpy(block, text.data(), std::min(text.size(), sizeof block - 1));
    if (SSL_write(ssl, block, sizeof block) != static_cast<int>(sizeof block)) {
        why = "login block write failed";
        return "";
    }
    char verdict[32];
    size_t got = 0;
    if (SSL_read_ex(ssl, verdict, sizeof verdict, &got) != 1) {
        why = "no verdict";
        return "";
    }
    return std::string(verdict, got);
}

std::string tls_login(int port, const std::string& certs, const std::string& client,
                      std::string_view text, std::string& why) {
    tls_client c;
    std::string reply = c.open(port, certs, client) ? c.login(text) : "";
    why = c.why;
    return reply;
}
