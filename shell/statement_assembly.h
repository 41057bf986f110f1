// Statement assembly: the rules that decide, line by line, what a line typed at the prompt is: a
// part of the statement being entered, its end, the "/" that runs the buffer, a client command,
// or a line that is refused. Pure: no I/O, no server, no globals; a step writes only the
// statement buffer it is given. The statement loop reads, prints and dispatches what a step says.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "shell/commands.h"
#include "shell/keywords.h"
#include "state/console_state.h"

// The three counts taken of every line.
struct line_counts {
    int raw;      // characters read
    int trimmed;  // raw less trailing blanks and tabs
    int lead;     // leading blanks and tabs
};

line_counts count_line(std::string_view line);

// The statement being entered. A fresh record (statement_assembly{}) is a new statement: the
// loop makes one at every "SQL> " prompt.
struct statement_assembly {
    int stmt_lines = 0;    // lines of the statement already in the buffer; non-zero: the next
                           // line continues it
    int state = 0;         // 1 while a block statement is entered (it ends only with "/")
    int totallastlen = 0;  // bytes of the statement in the buffer, each line with its line end
    char keyword[keyword_size] = {};  // first word of the statement's first line, as typed
    bool need_semicolon = false;      // the statement runs only once a line ends with ';'
    bool header_pending = false;      // the words after CREATE are still awaited on later lines
    create_header header;             // the CREATE header recognition carried across lines
    bool refused = false;  // the statement outgrew the buffer: its lines are dropped to its end
};

enum class assembly_action {
    wait,     // the statement goes on: the next prompt shows the continuation number
    run,      // run the statement buffer (its end, or the "/" line that runs it again)
    drop,     // the statement ends without running (the message, if any, says why)
    command,  // a client command: run it on the line (command_line_for)
};

// What to do with one line.
struct assembly_step {
    assembly_action action = assembly_action::wait;
    bool begins = false;         // the line is the first line of a statement
    int continuation = 0;        // wait: the number of the next line of the statement
    std::string message;         // printed before anything else is done; empty: none
    std::string spool;           // the statement's first line as copied into the spool after
                                 // "\r\nSQL> " (ordinary statements only); empty: no copy
    bool keyword_taken = false;  // the line's first word became the statement's keyword
    const client_command* command = nullptr;  // command: the command to run
    int word_len = 0;                         // command: length of its word (or sign)
    line_counts counts{};

    // The statement is over: the next prompt starts a new one. A command ends it unless it
    // finds that the line is an ordinary statement after all (step_as_statement then says).
    bool ends() const { return action != assembly_action::wait; }
};

// Takes one line (without its newline, shorter than line_buff_size) into the statement being
// entered, writing sql_buff as the statement grows; says what the loop is to do. The buffer
// keeps its text after a statement ran or was dropped, for "/" to run again.
assembly_step step_line(statement_assembly& a, std::span<char, sql_buff_size> sql_buff,
                        std::string_view line);

// The first line of a statement whose client command found it to be an ordinary statement (DESC
// without a name): the line goes into the buffer and the completion test decides. counts: those
// of the command's step (the command may have cut the line since).
assembly_step step_as_statement(statement_assembly& a, std::span<char, sql_buff_size> sql_buff,
                                std::string_view line, const line_counts& counts);

// The command line of a command step, on the line it was stepped from (line_buff, which the
// command may change).
command_line command_line_for(char* line, const assembly_step& step);
