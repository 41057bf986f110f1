// End-to-end harness: runs the built norvlite on an ephemeral port and the built norvsql with a
// transcript on standard input, capturing standard output byte for byte. Every process started
// here is killed and every temporary directory removed, also when a test fails.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

// A running norvlite with a database directory of its own.
struct norvlite {
    temp_dir data;
    norvlite_server proc;
    int port = 0;
};

// Starts norvlite with --data in a fresh directory, --port 0 and the extra arguments; null (with a
// test failure) when it does not report its port within a few seconds.
std::unique_ptr<norvlite> start_norvlite(const std::vector<std::string>& extra = {});

struct run_result {
    int status = -1;  // exit status, or -1 when killed after the time-out
    std::string out;  // standard output
};

// Runs norvsql with the arguments, feeding input on standard input (then closing it), in the
// working directory cwd (empty: the current one).
run_result run_norvsql(const std::vector<std::string>& args, const std::string& input,
                       const std::string& cwd = "", int timeout_ms = 20000);

// Gives cwd a security/ folder with the CA, its CRL and the client pair named prefix.crt/.key
// (driver or revoked) taken from certs.
bool install_client_certs(const std::string& certs, const std::string& cwd,
                          const std::string& prefix);

// The banner the console prints at every pass of the login cycle.
extern const std::string banner;

// norvsql on a pseudo-terminal, driven step by step like a user at the keyboard.
struct pty_session {
    pid_t pid = -1;
    int master = -1;
    std::string seen;  // everything the terminal showed so far
    ~pty_session();
    // Waits until text has appeared after what earlier expects consumed; false on time-out.
    bool expect(const std::string& text, int timeout_ms = 10000);
    void type(const std::string& keys);
    // Closes the terminal and returns the exit status.
    int finish(int timeout_ms = 10000);
    size_t consumed = 0;
};

std::unique_ptr<pty_session> start_norvsql_pty(const std::vector<std::string>& args,
                                               const std::string& cwd = "");
