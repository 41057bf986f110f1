// Client commands: the console executes these itself instead of sending them to the server.
// Two tables, each read in its fixed order (first words, and the signs a first line can begin
// with); one small handler per command, named command_<word>.
#pragma once

#include <string_view>

// The line a command was typed on, as the statement loop hands it over.
struct command_line {
    char* line;                // line_buff, zero-terminated at its raw length
    int raw;                   // characters read
    int trimmed;               // raw less trailing blanks and tabs
    int lead;                  // leading blanks and tabs
    std::string_view keyword;  // the first word as typed
    char* rest;                // just after the first word
};

enum class command_result {
    done,       // the command ran; the next prompt starts a new statement
    statement,  // not a command after all: the line is an ordinary statement
};

struct client_command {
    const char* word;
    bool prefix;  // matches any first word that starts with word (six letters)
    command_result (*run)(command_line& cl);
};

// The command for a first word, or null. Words compare without regard to case.
const client_command* find_client_command(std::string_view keyword);

// The command that a first line, from its first non-blank character, begins with: '$' (change
// the current user), '#' (debug monitor on or off), c/ or C/ (replace text in the buffer); null
// for any other line. Its command_line's keyword is the sign's first character.
const client_command* find_sign_command(std::string_view line);
