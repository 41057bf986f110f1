// Entry of the console: defaults, the command-line values (all six or seven, or none), then the
// login cycle: banner, prompts for what is missing, validation, connect; a failed connect clears
// the values and starts over at the banner. After "Connect ok." the statement loop takes over.
#include "shell/startup.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "output/execute.h"
#include "platform/console.h"
#include "platform/system.h"
#include "protocol/db.h"
#include "shell/input_loop.h"
#include "state/console_state.h"

namespace {

void store_arguments(int argc, char** argv) {
    int values = argc - 1;
    if (values != 6 && values != 7) return;
    g_console.ssl_mode = argv[1];
    g_console.host = argv[2];
    g_console.port = std::atoi(argv[3]);
    g_console.database = argv[4];
    g_console.user = argv[5];
    g_console.password = argv[6];
    if (values == 7) g_console.encryptor = argv[7];
}

void print_banner() {
    con_printf("\nNORVDB Windows Console Release V1.2.1 Win64\n\n");
    con_printf("Copyright (c) the NORVDB developers. All rights reserved.");
    con_printf("\n\n");
}

bool is_empty(const char* s) {
    return s == nullptr || *s == '\0';
}

// A port outside 1..65535 would be cut to 16 bits and reach some other port: refused like 0.
bool values_valid() {
    return is_ipv4_text(g_console.host) && g_console.port > 0 && g_console.port <= 65535 &&
           !is_empty(g_console.database) && !is_empty(g_console.user) &&
           !is_empty(g_console.password);
}

bool is_secure_mode(const char* mode) {
    return std::strcmp(mode, "ssl") == 0 || std::strcmp(mode, "SSL") == 0 ||
           std::strcmp(mode, "tls") == 0 || std::strcmp(mode, "TLS") == 0;
}

void clear_login_values() {
    g_console.host = g_console.database = g_console.user = g_console.password = nullptr;
    g_console.encryptor = nullptr;
    g_console.ssl_mode = "NSSL";
}

// One pass of the login cycle per iteration; returns once connected.
void login_cycle() {
    for (;;) {
        print_banner();
        if (!g_console.host) prompt_host_port();
        if (!g_console.database) prompt_database();
        if (!g_console.user) prompt_user();
        if (!g_console.password) prompt_password();
        g_console.b_pause = false;

        db_conn* conn = nullptr;
        if (!g_console.host || !values_valid()) {
            con_printf("URL set error \r\n");
        } else {
            g_console.secure_login = is_secure_mode(g_console.ssl_mode);
            conn = db_connect(
                g_console.ssl_mode, g_console.host, static_cast<uint16_t>(g_console.port),
                g_console.database, g_console.user, g_console.password, g_console.encryptor, "GBK",
                nullptr, nullptr, 0, g_console.auto_commit, g_console.secure_login ? 1 : 0, 0);
        }
        g_console.conn = conn;
        if (!conn) {
            clear_login_values();
            con_clear_screen();
            continue;
        }
        con_printf("\r\nConnect to %s:%d %s %s \r\n", g_console.host, g_console.port,
                   g_console.database, g_console.user);
        con_printf("Connect ok.\r\n");
        g_console.logged_in = true;
        idle_tracking_start();
        return;
    }
}

const char usage_text[] =
    "Usage: norvsql MODE ADDRESS PORT DATABASE USER PASSWORD [ENCRYPTOR]\n"
    "       norvsql                  (asks for every value, the password without echo)\n"
    "       norvsql --help | -h | --version\n"
    "\n"
    "MODE    tls or TLS: TLS with a client certificate; ssl or SSL: the console's own cipher\n"
    "        channel; any other word (by convention NSSL): a clear connection.\n"
    "ADDRESS a dotted IPv4 address.\n"
    "\n"
    "TLS and the own cipher read these files under security/ in the working directory:\n"
    "ca.crt (the CA that signed the server), ca.crl (its revocation list), driver.crt and\n"
    "driver.key (the console's certificate and key).\n"
    "\n"
    "Exit status: 0 after EXIT or the end of input, 2 when input ended before any login\n"
    "succeeded, 3 when ON_ERROR_STOP is ON and a statement or command failed.\n"
    "\n"
    "Type HELP at the prompt for the console's commands.\n";

const char version_text[] = "norvsql V1.2.1\n";

// --help, -h and --version given alone print their text and end the console.
void answer_lone_option(int argc, char** argv) {
    if (argc != 2) return;
    std::string_view a = argv[1];
    if (a == "--help" || a == "-h") {
        con_write(usage_text, sizeof usage_text - 1);
        plat_exit(0);
    }
    if (a == "--version") {
        con_write(version_text, sizeof version_text - 1);
        plat_exit(0);
    }
}

}  // namespace

int console_main(int argc, char** argv) {
    plat_init();
    answer_lone_option(argc, argv);
    plat_handle_signals();
    console_state_reset(g_console);
    store_arguments(argc, argv);
    for (;;) {
        login_cycle();
        run_statement_loop();
    }
}
