// Parses norvlite's command line into srv_options. No I/O here: main() prints the usage text
// and picks the exit status, so the parser can be tested on its own.
#include "server/options.h"

#include <arpa/inet.h>

#include <charconv>

namespace {

// The built-in account used when the command line names none.
constexpr std::string_view default_user = "norv";
constexpr std::string_view default_password = "norv";

template <class T>
bool parse_int(std::string_view text, T lo, T hi, T& out) {
    T value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi) {
        return false;
    }
    out = value;
    return true;
}

bool add_user(std::string_view user_arg, srv_options& out, std::string& error) {
    size_t colon = user_arg.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        error = "--user needs NAME:PASSWORD, got '" + std::string(user_arg) + "'";
        return false;
    }
    std::string_view name = user_arg.substr(0, colon);
    for (const srv_user& u : out.users) {
        if (u.name == name) {
            error = "user '" + std::string(name) + "' is given twice";
            return false;
        }
    }
    out.users.push_back({std::string(name), std::string(user_arg.substr(colon + 1))});
    return true;
}

}  // namespace

bool srv_parse_args(std::span<const char* const> args, srv_options& out, std::string& error) {
    out = srv_options{};
    bool have_data = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i] ? args[i] : "";
        if (arg == "--help" || arg == "-h") {
            out.help = true;
            return true;
        }
        // Every other option takes a value, as "--opt VALUE" or "--opt=VALUE".
        std::string_view name = arg;
        std::string_view value;
        bool inline_value = false;
        if (size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inline_value = true;
        }
        if (name == "--log-statements" && !inline_value) {
            out.log_statements = true;
            continue;
        }
        if (name == "--load-sink" && !inline_value) {
            out.load_sink = true;
            continue;
        }
        if (name == "--drop-at-login" && !inline_value) {
            out.drop_at_login = true;
            continue;
        }
        if (name == "--drop-at-load-handshake" && !inline_value) {
            out.drop_at_load_handshake = true;
            continue;
        }
        if (name == "--load-early-k" && !inline_value) {
            out.load_early_k = true;
            continue;
        }
        if (name != "--data" && name != "--port" && name != "--user" && name != "--listen" &&
            name != "--certs" && name != "--login-timeout-ms" && name != "--max-idle-time" &&
            name != "--drop-on" && name != "--drop-on-nth" && name != "--drop-after-rows" &&
            name != "--garbage-on" && name != "--drop-in-load-batch" && name != "--load-delay-ms" &&
            name != "--hold-on" && name != "--stray-after") {
            error = "unknown argument '" + std::string(arg) + "'";
            return false;
        }
        if (!inline_value) {
            if (i + 1 >= args.size() || args[i + 1] == nullptr) {
                error = std::string(name) + " needs a value";
                return false;
            }
            value = args[++i];
        }

        if (name == "--data") {
            if (value.empty()) {
                error = "--data needs a directory";
                return false;
            }
            out.data_dir = value;
            have_data = true;
        } else if (name == "--port") {
            if (!parse_int(value, 0, 65535, out.port)) {
                error = "--port needs a number from 0 to 65535, got '" + std::string(value) + "'";
                return false;
            }
        } else if (name == "--user") {
            if (!add_user(value, out, error)) return false;
        } else if (name == "--listen") {
            in_addr addr{};
            std::string text(value);
            if (inet_pton(AF_INET, text.c_str(), &addr) != 1) {
                error = "--listen needs an IPv4 address such as 127.0.0.1, got '" + text + "'";
                return false;
            }
            out.listen_addr = text;
        } else if (name == "--certs") {
            if (value.empty()) {
                error = "--certs needs a directory";
                return false;
            }
            out.certs_dir = value;
        } else if (name == "--login-timeout-ms") {
            if (!parse_int(value, 1, 3600000, out.login_timeout_ms)) {
                error = "--login-timeout-ms needs a number from 1 to 3600000";
                return false;
            }
        } else if (name == "--max-idle-time") {
            if (!parse_int(value, 1, 2147483647, out.max_idle_time)) {
                error = "--max-idle-time needs a number of seconds from 1 to 2147483647";
                return false;
            }
        } else if (name == "--drop-on") {
            if (value.empty()) {
                error = "--drop-on needs a text";
                return false;
            }
            out.drop_on = value;
        } else if (name == "--drop-on-nth") {
            if (!parse_int(value, 1LL, 9223372036854775807LL, out.drop_on_nth)) {
                error = "--drop-on-nth needs a count, 1 or more";
                return false;
            }
        } else if (name == "--drop-after-rows") {
            if (!parse_int(value, 0LL, 9223372036854775807LL, out.drop_after_rows)) {
                error = "--drop-after-rows needs a number of rows, 0 or more";
                return false;
            }
        } else if (name == "--garbage-on") {
            if (value.empty()) {
                error = "--garbage-on needs a text";
                return false;
            }
            out.garbage_on = value;
        } else if (name == "--drop-in-load-batch") {
            if (!parse_int(value, 1LL, 9223372036854775807LL, out.drop_in_load_batch)) {
                error = "--drop-in-load-batch needs a batch number, 1 or more";
                return false;
            }
        } else if (name == "--hold-on") {
            if (value.empty()) {
                error = "--hold-on needs a text";
                return false;
            }
            out.hold_on = value;
        } else if (name == "--stray-after") {
            if (value.empty()) {
                error = "--stray-after needs a text";
                return false;
            }
            out.stray_after = value;
        } else if (name == "--load-delay-ms") {
            if (!parse_int(value, 1, srv_load_delay_max_ms, out.load_delay_ms)) {
                error = "--load-delay-ms needs a number from 1 to " +
                        std::to_string(srv_load_delay_max_ms);
                return false;
            }
        }
    }
    if (!have_data) {
        error = "--data DIR is required";
        return false;
    }
    if (out.users.empty()) {
        out.users.push_back({std::string(default_user), std::string(default_password)});
    }
    return true;
}

std::string_view srv_usage() {
    return "usage: norvlite --data DIR [--port N] [--user NAME:PASSWORD]... [--listen ADDR]\n"
           "                [--certs DIR] [--login-timeout-ms MS] [--max-idle-time SECONDS]\n"
           "                [--drop-on TEXT [--drop-on-nth N]] [--drop-after-rows N]\n"
           "                [--log-statements]\n"
           "                [--load-sink] [--drop-at-login] [--garbage-on TEXT]\n"
           "                [--drop-in-load-batch N] [--drop-at-load-handshake]\n"
           "                [--load-delay-ms MS] [--hold-on TEXT] [--load-early-k]\n"
           "                [--stray-after TEXT]\n"
           "  --data DIR          directory of databases; database NAME is the file DIR/NAME.db,\n"
           "                      created on first use (DIR too)\n"
           "  --port N            TCP port, default 5138; 0 picks a free port\n"
           "  --user NAME:PASS    an account (repeatable); the first ':' ends the name.\n"
           "                      Without --user the only account is norv with password norv\n"
           "  --listen ADDR       IPv4 address to listen on, default 127.0.0.1\n"
           "  --certs DIR         TLS files server.crt, server.key, ca.crt, ca.crl;\n"
           "                      default ./security (scripts/gen-certs makes them)\n"
           "  --login-timeout-ms  time a client has to complete its login, default 10000\n"
           "  --max-idle-time S   a connection without a statement for S seconds is closed;\n"
           "                      \"show max_idle_time\" reports S. Default 28800\n"
           "  --log-statements    log the text of every statement received, escaped\n"
           "  --load-sink         read and count the records of every LOAD ... FROM STREAM and\n"
           "                      discard them (no table needed), for measuring the client\n"
           "  --drop-on TEXT      test fault: the first statement (of the whole run) holding\n"
           "                      TEXT, in any case, closes its connection without a reply\n"
           "  --drop-on-nth N     with --drop-on: the Nth such statement drops instead, default 1\n"
           "  --drop-after-rows N test fault: the first row stream to reach N rows closes its\n"
           "                      connection right after the Nth row (0: after the columns)\n"
           "  --drop-at-login     test fault: the first login text read closes its connection\n"
           "                      without a verdict\n"
           "  --garbage-on TEXT   test fault: the first statement holding TEXT, in any case,\n"
           "                      is answered with 100 fixed garbage bytes, then a close\n"
           "  --drop-in-load-batch N  test fault: the first load to reach its Nth batch closes\n"
           "                      its connection right after that batch's header\n"
           "  --drop-at-load-handshake  test fault: the first load closes its connection after\n"
           "                      the client's int64, before answering it\n"
           "  --load-delay-ms MS  test fault: every load pauses MS after each batch\n"
           "  --hold-on TEXT      test fault: the first statement holding TEXT, in any case,\n"
           "                      is answered once the client sends or closes (1 min at most)\n"
           "  --load-early-k      test fault: the first accepted load sends its closing K with\n"
           "                      its int64 answer and reads none of the data\n"
           "  --stray-after TEXT  test fault: the reply to the first statement holding TEXT,\n"
           "                      in any case, is followed by one more that answers nothing\n"
           "  --help              this text\n";
}
