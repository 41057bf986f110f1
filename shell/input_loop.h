// The statement loop: prompt, read a line, dispatch it.
#pragma once

// Reads one line of standard input into line_buff (line_buff_size bytes, zero-filled first): up
// to a newline or a zero byte (neither stored) or until the buffer is full, in which case the
// rest of the line is discarded. A carriage return before the newline is dropped, as a console
// in text mode delivers lines. Returns the characters stored, or -1 at end of input.
int read_console_line(char* line_buff);

// The exit status after a failure while ON_ERROR_STOP is ON.
inline constexpr int on_error_stop_status = 3;

// Runs the statement loop until LOGIN returns control to the login cycle; EXIT and the end of
// standard input end the process with status 0.
void run_statement_loop();
