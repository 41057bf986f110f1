// The console's one door to the terminal: every byte printed goes through the buffered writer
// below, and every line, word and key read comes from standard input through its reader. The
// writer is flushed before the console blocks for input, before a shell command runs and at exit.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

// ---- output -------------------------------------------------------------------------------

// The format checks of printf-style functions: C99's conversions (%zu, %lld) on every platform
// (the Windows build formats with the C99 functions of its runtime, not the system's).
#ifdef __MINGW32__
#define NORV_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define NORV_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// Appends printf-style text to the output buffer. Safe to call from any thread; one call's bytes
// are never interleaved with another call's.
void con_printf(const char* fmt, ...) NORV_PRINTF(1, 2);
void con_vprintf(const char* fmt, va_list ap) NORV_PRINTF(1, 0);

// The writer's buffer. A con_write larger than this goes out at once, in one write and without
// a copy (after what the buffer holds).
inline constexpr size_t con_out_buf_size = 65536;

// Appends n bytes as they are.
void con_write(const void* data, size_t n);

// Writes out whatever the buffer holds.
void con_flush();

// Redirects all output into *sink (tests), or back to standard output when sink is null.
// The buffer is flushed to the previous destination first.
void con_set_capture(std::string* sink);

// ---- input --------------------------------------------------------------------------------

inline constexpr int con_eof = -1;
// con_getch: a signal woke the wait for the key and was handled (a listing's Ctrl+C).
inline constexpr int con_interrupted = -3;

// Reads from fd instead of standard input (tests); the read-ahead is dropped.
void con_set_input(int fd);

// Next byte of standard input, or con_eof at its end.
int con_read_byte();

// The byte con_read_byte would return next, without consuming it.
int con_peek_byte();

// Reads one whitespace-delimited word into buf (at most cap - 1 characters plus a zero byte),
// skipping leading white space and leaving the white space after the word unread.
// Returns the word's length; con_eof at end of input before any character; -2 when the word was
// longer than cap - 1 (the whole word is consumed and buf holds an empty text).
int con_read_word(char* buf, int cap);

// Discards the rest of the line that the last con_read_word left behind, its newline included.
// Does nothing when no word was read since the last discard.
void con_discard_line_rest();

// Reads one key without echo, in the codes of the Windows console: Enter is 13, Backspace 8,
// arrow keys and Delete arrive as 224 followed by 'H', 'P', 'M', 'K' or 'S'. On a terminal the key
// comes straight from the terminal in the key mode below (bytes waiting in the line reader stay
// there); otherwise it is the next byte of standard input, '\n' counting as Enter. Outside a
// key mode the terminal is in it for this one key only.
// Returns con_eof at end of input, con_interrupted when a handled signal woke the wait. A
// signal that ends the console ends it here (plat_end_on_signal).
int con_getch();

// The key mode: from con_keys_begin to con_keys_end, when standard input is a terminal, the
// terminal neither echoes keys nor gathers them into lines, so a key that arrives between two
// reads (typed fast, pasted, typed while rows are printed) waits for the next read unseen. With
// signal_keys the terminal's Ctrl+C (and its other signal keys) keep their meaning; without, the
// terminal passes Ctrl+C on as a key and con_getch raises SIGINT for it. Flow control and the
// terminal's Enter mapping stay as they are. con_keys_begin returns true when it switched the
// terminal; only then does con_keys_end belong to it (a begin inside a key mode, or off a
// terminal, does nothing and returns false). plat_exit and a signal's end restore the terminal
// too.
bool con_keys_begin(bool signal_keys);
void con_keys_end();

// The key mode for a scope (when active).
struct con_key_mode {
    explicit con_key_mode(bool signal_keys, bool active = true)
        : active_(active && con_keys_begin(signal_keys)) {}
    ~con_key_mode() {
        if (active_) con_keys_end();
    }
    con_key_mode(const con_key_mode&) = delete;
    con_key_mode& operator=(const con_key_mode&) = delete;

private:
    bool active_;
};

// Puts the terminal back into the mode con_keys_begin found, when it is still changed. Safe in
// signal context.
void con_restore_terminal();

// True when standard input is a terminal.
bool con_input_is_terminal();

// True on Windows when standard input and output are both consoles: the console host's line
// mode edits the lines typed there. False on POSIX, where the line editor takes that place.
bool con_at_console_host();

// ---- screen -------------------------------------------------------------------------------

// Clears the screen when standard output is a terminal; does nothing otherwise.
void con_clear_screen();
