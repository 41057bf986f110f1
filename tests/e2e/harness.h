// End-to-end harness: runs the built norvlite on an ephemeral port and the built norvsql with a
// transcript on standard input, capturing standard output byte for byte. Every process started
// here is killed and every temporary directory removed, also when a test fails.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

#include <gtest/gtest.h>

// A running norvlite with a database directory of its own.
struct norvlite {
    temp_dir data;
    norvlite_server proc;
    int port = 0;
};

// Starts norvlite with --data in a fresh directory, --port 0 and the extra arguments; null (with a
// test failure) when it does not report its port within a few seconds.
std::unique_ptr<norvlite> start_norvlite(const std::vector<std::string>& extra = {});

// True when the console runs as another platform's program under an emulator (NORVSQL_COMMAND
// is set): tests of the terminal, of POSIX signals and of Linux's devices belong to the native
// build alone, and skip themselves there with the reason.
bool console_under_emulator();
#define NORV_NATIVE_CONSOLE_ONLY(why)                      \
    do {                                                   \
        if (console_under_emulator()) GTEST_SKIP() << why; \
    } while (0)

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

// norvsql driven step by step like a user at the keyboard: on a pseudo-terminal, or with its
// standard input and output on pipes.
struct console_session {
    pid_t pid = -1;
    int to_child = -1;    // what the user types
    int from_child = -1;  // what the console shows (the same descriptor on a terminal)
    std::string seen;     // everything shown so far
    size_t consumed = 0;  // how far expect has matched
    ~console_session();
    // Waits until text has appeared after what earlier expects consumed; false on time-out.
    bool expect(const std::string& text, int timeout_ms = 10000);
    void type(const std::string& keys);
    // Writes the keys in one write, as a paste arrives.
    void paste(const std::string& keys);
    // The terminal's local modes (termios c_lflag: ECHO, ICANON, ISIG ...) as the console has
    // set them, read on the master side; -1 when the console is not on a terminal.
    long terminal_modes() const;
    // Ends standard input, waits for the end and returns the exit status (128 + the signal when
    // a signal ended the process; signalled then tells the two apart).
    int finish(int timeout_ms = 10000);
    bool signalled = false;
};

std::unique_ptr<console_session> start_norvsql_pty(const std::vector<std::string>& args,
                                                   const std::string& cwd = "");
// env: "NAME=value" entries added to the console's environment (test_clock::env()).
std::unique_ptr<console_session> start_norvsql_piped(const std::vector<std::string>& args,
                                                     const std::string& cwd = "",
                                                     const std::vector<std::string>& env = {});

// The test clock of the consoles a test starts with env() (platform/clock.h): their clocks run
// moved forward by what advance_seconds has added, so that a test lets the server's idle limit
// pass at once instead of sleeping through it.
struct test_clock {
    temp_dir dir;
    long long moved_ms = 0;
    std::string env() const;
    // From now on every clock reading of those consoles is seconds later than it would have been.
    void advance_seconds(int seconds);
};

// out with every "Use time:<digits> ms." made "Use time:N ms.".
std::string normalise_use_time(const std::string& out);

// The statement texts norvlite received (it runs with --log-statements), in order.
std::vector<std::string> server_statements(const norvlite& s);

// The console's prompt at the start of a statement, and the rule under every heading.
extern const std::string sql_prompt;
extern const std::string heading_rule;

std::string read_file(const std::string& path);
// Writes bytes to path, making its folders first.
void write_file(const std::string& path, const std::string& bytes);

// A certificate set made once per test process with scripts/gen-certs (its folder lives until
// the process ends, and goes with it); empty when it could not be made.
const std::string& test_certs();

// A fixture with a norvlite of its own, and console runs logged in to its database "demo".
class norvlite_test : public ::testing::Test {
protected:
    void SetUp() override { start(); }
    void start(const std::vector<std::string>& extra = {});
    std::vector<std::string> login(const std::string& mode = "NSSL") const;
    // The whole output of a console run with lines (then EXIT) on its input, in cwd.
    std::string run_console(const std::string& lines, const std::string& cwd = "",
                            const std::string& mode = "NSSL", int timeout_ms = 20000);
    // What followed "Connect ok." in such a run, "Use time" normalised.
    std::string session(const std::string& lines, const std::string& cwd = "");
    std::string after_login(const std::string& out) const;
    // The statements norvlite received, in order.
    std::vector<std::string> received() const { return server_statements(*server); }

    std::unique_ptr<norvlite> server;
    std::string port;
};
