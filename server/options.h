// norvlite's command line: the options record and the pure parser that fills it from argv.
// main() parses, prints usage on failure, then hands the record to srv_run (server/server.h).
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int srv_default_port = 5138;
inline constexpr int srv_default_login_timeout_ms = 10000;
inline constexpr int srv_default_max_idle_time = 28800;  // seconds, as "show max_idle_time" says
inline constexpr int srv_load_delay_max_ms = 600000;     // --load-delay-ms at most (10 minutes)
inline constexpr int srv_hold_max_ms = 60000;            // --hold-on holds a reply at most 1 minute

struct srv_user {
    std::string name;      // never empty
    std::string password;  // anything after the first ':' of --user, may be empty
};

struct srv_options {
    std::string data_dir;                   // --data: one SQLite file per database, NAME.db
    int port = srv_default_port;            // 0..65535, 0 = ephemeral
    std::string listen_addr = "127.0.0.1";  // IPv4 literal
    std::string certs_dir = "security";     // server.crt, server.key, ca.crt, ca.crl
    std::vector<srv_user> users;            // never empty after a successful parse
    int login_timeout_ms = srv_default_login_timeout_ms;  // whole login exchange, > 0
    int max_idle_time = srv_default_max_idle_time;        // seconds without a statement, >= 1
    std::string drop_on;             // fault: drop at the first statement holding it; empty = off
    long long drop_on_nth = 1;       // fault: with drop_on, the statement of that count holding it
    long long drop_after_rows = -1;  // fault: drop after this many rows of a stream; -1 = off
    bool drop_at_login = false;      // fault: drop after the first login text, without a verdict
    std::string garbage_on;          // fault: garbage instead of the reply to the first statement
                                     // holding it, then a close; empty = off
    long long drop_in_load_batch = -1;    // fault: drop after the header of this batch (from 1)
                                          // of a load; -1 = off
    bool drop_at_load_handshake = false;  // fault: drop after a load's int64, before the answer
    int load_delay_ms = 0;                // fault: pause after every batch of a load; 0 = off
    std::string hold_on;                  // fault: the reply to the first statement holding it
                                          // waits for the client (srv_fault_hold); empty = off
    bool load_early_k = false;            // fault: a load's closing K goes with its int64 answer
    std::string stray_after;      // fault: one more reply after the reply to the first statement
                                  // holding it; empty = off
    bool log_statements = false;  // log every statement text received (tests read it)
    bool load_sink = false;       // --load-sink: loads are read and counted, nothing stored
    bool help = false;            // --help: print srv_usage and exit 0
};

// Fills out from the arguments after the program name. When no --user is given the one user
// is "norv" with password "norv". Returns false with a one-line reason in error on a bad or
// missing argument; out may then hold partial values. Pure; any thread.
bool srv_parse_args(std::span<const char* const> args, srv_options& out, std::string& error);

// The usage text, several lines, each ending in '\n'.
std::string_view srv_usage();
