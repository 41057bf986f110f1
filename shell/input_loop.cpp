// The statement loop: prompt, read a line, and carry out what statement assembly makes of it
// (shell/statement_assembly.h): wait for more, run the buffer, run a client command, or print
// a message and drop the statement. Complete statements go to run_statement.
#include "shell/input_loop.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "output/execute.h"
#include "output/spool.h"
#include "platform/console.h"
#include "platform/system.h"
#include "shell/commands.h"
#include "shell/statement_assembly.h"
#include "shell/terminal_lines.h"
#include "state/console_state.h"

namespace {

// The prompt at the start of a statement, without the line end before it.
std::string statement_prompt() {
    if (!g_console.show_time) return "SQL> ";
    const plat_time_of_day now = plat_local_time_of_day();
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d  SQL>", now.hour, now.minute, now.second);
    return text;
}

// Shows the prompt and reads the next line into line_buff (read_console_line's returns, and
// terminal_interrupted). At a terminal the line editor shows the prompt; the "\r\n" before a
// statement's prompt is printed first, so that the editor redraws only its own line.
int prompt_and_read(bool editing, bool statement_start, int next_line) {
    console_state& s = g_console;
    std::string prompt;
    if (statement_start) {
        con_printf("\r\n");
        prompt = statement_prompt();
    } else {
        char number[16];
        std::snprintf(number, sizeof number, "%-4d ", next_line);
        prompt = number;
    }
    if (editing) return read_terminal_line(s.line_buff, prompt.c_str());
    con_write(prompt.data(), prompt.size());
    return read_console_line(s.line_buff);
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
    const bool editing = terminal_editing();
    // At a terminal or a Windows console a Ctrl+C abandons a wait for a reply.
    plat_set_cancel_waits(editing || con_at_console_host());
    s.line_count = 0;
    for (;;) {
        const bool statement_start = s.line_count == 0;
        if (statement_start) {
            a = statement_assembly{};
            s.desc_mode = false;
        }
        plat_wait_was_cancelled();  // a cancel has ended by the time the prompt shows
        int raw = prompt_and_read(editing, statement_start, next_line);
        if (raw == terminal_interrupted) {
            // Ctrl+C at the prompt drops the statement being entered, as a blank line does.
            terminal_statement_dropped();
            s.line_count = 0;
            continue;
        }
        if (raw < 0) plat_exit(0);
        if (raw >= line_buff_size) {
            con_printf("over max linesize");
            if (editing) terminal_statement_dropped();
            s.line_count = 0;
            continue;
        }
        ++s.line_count;
        s.line_buff[raw] = '\0';
        std::string_view line(s.line_buff, size_t(raw));
        if (editing) terminal_line_taken(line, false);
        assembly_step step = carry_out(a, step_line(a, s.sql_buff, line), line);
        // A failure ends a scripted run at once: nothing after it is sent.
        if (take_failure() && s.on_error_stop) plat_exit(on_error_stop_status);
        if (step.ends()) s.line_count = 0;
        // A statement over (or ended early by what it ran) is one history entry.
        if (editing && s.line_count == 0) terminal_line_taken({}, true);
        next_line = step.continuation;
        if (s.login_requested) {
            s.login_requested = false;
            if (editing) terminal_statement_dropped();
            return;
        }
    }
}
