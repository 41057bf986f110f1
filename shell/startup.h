// Start-up of the console: connection values from the command line or the prompts, the banner,
// the login cycle, then the statement loop.
#pragma once

#include <string_view>

// Runs the console; returns only through EXIT or the end of standard input (status 0).
int console_main(int argc, char** argv);

// True when text looks like a dotted IPv4 address: 1 to 16 characters, groups of digits up to
// 255 separated by at most three dots, no empty group before a dot. The number of groups is not
// checked, so "10.1" and "10.1.2." pass; host names do not.
bool is_ipv4_text(std::string_view text);

// Password entry, one key at a time (keys in the Windows console's codes).
inline constexpr int password_max_chars = 63;

struct password_entry {
    char text[password_max_chars + 1] = {};
    int count = 0;             // characters stored
    bool ext_pending = false;  // an arrow-key or Delete prefix (224) was read
    bool done = false;         // Enter, or a key after 63 characters, ended the entry
};

// Applies one key; returns what to echo ("*", "\b \b" or "").
const char* password_key(password_entry& e, int key);

// Ends the console at the end of standard input: status 0 once a login has succeeded in this
// run, 2 before (the connection could not be made).
[[noreturn]] void end_of_input();

// The prompts of the login cycle. Each ends the console at end of input (end_of_input).
void prompt_host_port();
void prompt_database();
void prompt_user();
void prompt_password();
