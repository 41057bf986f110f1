// Processes for tests: a temporary directory, the built norvlite (killed and reaped whatever the
// test does), and bounded waits, so that a broken binary fails a test instead of hanging it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

// The norvlite binary with stdout on a pipe (for the listening line) and stderr in a file.
struct norvlite_server {
    pid_t pid = -1;
    int port = 0;
    std::string log_path;  // the server's stderr
    norvlite_server() = default;
    norvlite_server(const norvlite_server&) = delete;
    norvlite_server& operator=(const norvlite_server&) = delete;
    ~norvlite_server();  // SIGKILL and reap if still running

    // Starts norvlite with args and waits (10 s at most) for "norvlite listening on ADDR:PORT".
    bool start(const std::vector<std::string>& args, const std::string& log_file,
               std::string& error);
    // Sends sig and waits up to timeout_ms. Returns the exit status, 128+signal when killed by a
    // signal, or -1 when it did not end in time (it is then killed).
    int stop(int sig, int timeout_ms);
    std::string log() const;
};

// Runs a program to completion with stdout and stderr into output. Returns its exit status, or
// -1 when it could not run or took longer than timeout_ms (it is then killed).
int run_program(const std::vector<std::string>& argv, std::string& output, int timeout_ms);

// Forks and execs argv with the given standard descriptors (-1 keeps the parent's), in cwd when
// it is not empty, with the "NAME=value" entries of env added to its environment. Returns the pid
// or -1.
pid_t spawn_process(const std::vector<std::string>& argv, int in_fd, int out_fd, int err_fd,
                    const std::string& cwd = "", const std::vector<std::string>& env = {});

// Waits for pid until the deadline; returns the exit status, 128+signal, or -1 (still running).
int wait_until(pid_t pid, std::chrono::steady_clock::time_point deadline);

// Milliseconds left until the deadline, never negative.
int ms_left(std::chrono::steady_clock::time_point deadline);

void kill_and_reap(pid_t pid);

// Makes a certificate set with scripts/gen-certs into dir.
bool make_certs(const std::string& dir);
