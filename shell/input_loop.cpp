// The statement loop: prompt, read a line, and carry out what statement assembly makes of it
// (shell/statement_assembly.h): wait for more, run the buffer, run a client command, or print
// a message and drop the statement. Complete statements go to run_statement.
#include "shell/input_loop.h"

#include <cstring>
#include <ctime>
#include <string_view>

#include "output/execute.h"
#include "output/spool.h"
#include "platform/console.h"
#include "platform/system.h"
#include "shell/commands.h"
#include "shell/console_state.h"
#include "shell/statement_assembly.h"

namespace {

void print_statement_prompt() {
    if (g_console.show_time) {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        con_printf("\r\n%02d:%02d:%02d  SQL>", local.tm_hour, local.tm_min, local.tm_sec);
    } else {
        con_printf("\r\nSQL> ");
    }
}

// Carries out a step on the line in line_buff; returns the step that decided the line's fate (a
// command that finds its line to be a statement is followed by the statement's step).
assembly_step carry_out(statement_assembly& a, assembly_step step, std::string_view line) {
    console_state& s = g_console;
    if (step.keyword_taken) std::strcpy(s.keyword, a.keyword);
    if (!step.spool.empty()) spool_printf("\r\nSQL> %s", step.spool.c_str());
    if (!step.message.empty()) con_write(step.message.data(), step.message.size());
    switch (step.action) {
        case assembly_action::run:
            run_statement();
            break;
        case assembly_action::command: {
            command_line cl = command_line_for(s.line_buff, step);
            if (step.command->run(cl) == command_result::statement)
                return carry_out(a, step_as_statement(a, s.sql_buff, line, step.counts), line);
            break;
        }
        case assembly_action::wait:
        case assembly_action::drop:
            break;
    }
    return step;
}

}  // namespace

int read_console_line(char* line_buff) {
    std::memset(line_buff, 0, line_buff_size);
    int n = 0;
    for (;;) {
        int ch = con_read_byte();
        if (ch == con_eof) return n == 0 ? -1 : n;
        if (ch == '\n' || ch == '\0') return n;
        if (ch == '\r' && con_peek_byte() == '\n') continue;
        line_buff[n++] = static_cast<char>(ch);
        if (n == line_buff_size) {
            do {
                ch = con_read_byte();
            } while (ch != con_eof && ch != '\n');
            return n;
        }
    }
}

void run_statement_loop() {
    console_state& s = g_console;
    statement_assembly a;
    int next_line = 0;  // the continuation number shown while a statement waits for more
    s.line_count = 0;
    for (;;) {
        if (s.line_count != 0) {
            con_printf("%-4d ", next_line);
        } else {
            a = statement_assembly{};
            s.desc_mode = false;
            print_statement_prompt();
        }
        int raw = read_console_line(s.line_buff);
        if (raw < 0) plat_exit(0);
        if (raw >= line_buff_size) {
            con_printf("over max linesize");
            s.line_count = 0;
            continue;
        }
        ++s.line_count;
        s.line_buff[raw] = '\0';
        std::string_view line(s.line_buff, size_t(raw));
        assembly_step step = carry_out(a, step_line(a, s.sql_buff, line), line);
        // A failure ends a scripted run at once: nothing after it is sent.
        if (take_failure() && s.on_error_stop) plat_exit(on_error_stop_status);
        if (step.ends()) s.line_count = 0;
        next_line = step.continuation;
        if (s.login_requested) {
            s.login_requested = false;
            return;
        }
    }
}
