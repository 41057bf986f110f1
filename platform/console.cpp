// Buffered console writer and standard-input reader. Everything the console prints passes
// through out_buf; everything it reads passes through in_buf, except keys on a terminal (read
// straight from it in the key mode). On POSIX every blocking read also watches for signals
// (plat_wait_fd); on Windows the control handler cancels the blocking read instead, and lines
// typed on a console come from the console host's own line mode (its editing keys and history).
#include "platform/console.h"

#ifdef _WIN32
#include <conio.h>
#include <io.h>
#include <windows.h>
#else
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/system.h"
#include "platform/system_shared.h"

namespace {

inline constexpr size_t out_buf_size = con_out_buf_size;

std::mutex out_mutex;
char out_buf[out_buf_size];
size_t out_len = 0;
std::string* out_sink = nullptr;  // capture for tests; null = standard output

#ifdef _WIN32
void write_out(const char* p, size_t n) {
    HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
    while (n > 0) {
        DWORD step = n < 0x40000000 ? DWORD(n) : 0x40000000, w = 0;
        if (!WriteFile(h, p, step, &w, nullptr) || w == 0) return;  // nobody reads our output
        p += w;
        n -= w;
    }
}
#else
void write_out(const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(STDOUT_FILENO, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;  // nobody left to read our output; nothing sensible to do
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}
#endif

void emit_locked(const char* p, size_t n) {
    if (out_sink)
        out_sink->append(p, n);
    else
        write_out(p, n);
}

void flush_locked() {
    if (out_len == 0) return;
    emit_locked(out_buf, out_len);
    out_len = 0;
}

void append_locked(const char* p, size_t n) {
    if (out_len + n > out_buf_size) {
        flush_locked();
        if (n > out_buf_size) {
            emit_locked(p, n);
            return;
        }
    }
    std::memcpy(out_buf + out_len, p, n);
    out_len += n;
}

inline constexpr size_t in_buf_size = 65536;

int in_fd = 0;  // standard input
unsigned char in_buf[in_buf_size];
size_t in_pos = 0;
size_t in_len = 0;
bool in_eof = false;
bool line_rest_pending = false;
int pending_key = -1;  // second code of a two-code key

bool keys_active = false;
bool keys_signal = false;  // the terminal's signal keys are on during the key mode

#ifdef _WIN32
// The console's mode from before con_keys_begin, put back by con_keys_end, plat_exit and an
// event's end (read on the control handler's thread).
HANDLE mode_handle = nullptr;
DWORD saved_mode = 0;
std::atomic<bool> mode_changed{false};

HANDLE input_handle() {
    return reinterpret_cast<HANDLE>(_get_osfhandle(in_fd));
}

bool is_console(HANDLE h) {
    DWORD mode;
    return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// One line from the console host's line mode, as bytes of the console's code page with "\n"
// for the line's end; 0 at Ctrl+Z (the console's end of input), -1 when the read was cancelled.
long read_console_line(HANDLE h, unsigned char* buf, size_t cap) {
    static wchar_t wide[8192];
    DWORD got = 0;
    if (!ReadConsoleW(h, wide, DWORD(std::size(wide)), &got, nullptr)) {
        return GetLastError() == ERROR_OPERATION_ABORTED ? -1 : 0;
    }
    if (got == 0) return -1;  // Ctrl+C ended the read: the control handler has the event
    if (wide[0] == 0x1a) return 0;
    if (got >= 2 && wide[got - 2] == L'\r' && wide[got - 1] == L'\n') {
        wide[got - 2] = L'\n';
        --got;
    }
    int n = WideCharToMultiByte(GetConsoleCP(), 0, wide, int(got), reinterpret_cast<char*>(buf),
                                int(cap), nullptr, nullptr);
    return n > 0 ? n : 0;
}

// Reads what standard input has (at least one byte) into buf; 0 at its end.
long read_input(unsigned char* buf, size_t cap) {
    HANDLE h = input_handle();
    for (;;) {
        // The control handler cancels the read while this is set; an event that came before
        // it was set is seen here.
        plat_reading_input = true;
        plat_end_on_signal();
        long r;
        if (is_console(h)) {
            r = read_console_line(h, buf, cap);
        } else {
            DWORD got = 0;
            DWORD step = cap < 0x40000000 ? DWORD(cap) : 0x40000000;
            if (ReadFile(h, buf, step, &got, nullptr))
                r = long(got);
            else
                r = GetLastError() == ERROR_OPERATION_ABORTED ? -1 : 0;
        }
        plat_reading_input = false;
        if (r >= 0) return r;
        // The control handler cancelled the read: an event at a prompt ends the console.
        plat_end_on_signal();
    }
}
#else
// The terminal's mode from before con_keys_begin, put back by con_keys_end, plat_exit and a
// signal's end. tio_changed is read in signal context.
termios saved_tio{};
int tio_fd = -1;
std::atomic<bool> tio_changed{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Reads what standard input has (at least one byte) into buf; 0 at its end.
long read_input(unsigned char* buf, size_t cap) {
    for (;;) {
        if (plat_wait_fd(in_fd, plat_wait_in, -1) == plat_woken) {
            // A signal at a prompt ends the console. (A reader that gives Ctrl+C a meaning of
            // its own here takes the signal first: plat_take_signal.)
            plat_end_on_signal();
            continue;
        }
        ssize_t r = ::read(in_fd, buf, cap);
        if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return r < 0 ? 0 : long(r);
    }
}
#endif

bool fill_input() {
    if (in_pos < in_len) return true;
    if (in_eof) return false;
    con_flush();  // the user sees the prompt before we block
    long r = read_input(in_buf, in_buf_size);
    if (r <= 0) {
        in_eof = true;
        return false;
    }
    in_pos = 0;
    in_len = static_cast<size_t>(r);
    return true;
}

bool is_space(int ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
}

#ifdef _WIN32
// One key of the console, in its own codes (224 or 0 before the second code of a special key).
int read_terminal_key() {
    int ch = _getch();
    if (ch == 0 || ch == 224) {
        pending_key = _getch();
        return 224;
    }
    return ch;
}
#else
// Reads one byte from the terminal, in the key mode; with a time-out in milliseconds (-1 = wait).
// Returns the byte, con_eof, -2 on time-out, or con_interrupted when a signal woke the wait and
// did not end the console (a listing's Ctrl+C).
inline constexpr int escape_wait_ms = 100;  // the rest of an arrow key's sequence

int read_tty_byte(int timeout_ms) {
    for (;;) {
        int w = plat_wait_fd(in_fd, plat_wait_in, timeout_ms);
        if (w == plat_woken) {
            plat_end_on_signal();
            return con_interrupted;
        }
        if (w == plat_timed_out) return -2;
        unsigned char ch = 0;
        ssize_t r = ::read(in_fd, &ch, 1);
        if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (r != 1) return con_eof;
        if (ch == 3 && !keys_signal) {
            // Ctrl+C read as a key: give it its usual meaning.
            raise(SIGINT);
            plat_end_on_signal();
            return con_interrupted;
        }
        return ch;
    }
}

// Maps the terminal's keys onto the console's key codes.
int read_terminal_key() {
    int ch = read_tty_byte(-1);
    if (ch == 127) return 8;
    if (ch == '\r' || ch == '\n') return 13;
    if (ch != 27) return ch;
    int next = read_tty_byte(escape_wait_ms);
    if (next != '[' && next != 'O') return 27;  // a lone ESC (any further byte is dropped)
    int code = read_tty_byte(escape_wait_ms);
    int second = -1;
    switch (code) {
        case 'A':
            second = 'H';
            break;
        case 'B':
            second = 'P';
            break;
        case 'C':
            second = 'M';
            break;
        case 'D':
            second = 'K';
            break;
        case '3':
            if (read_tty_byte(escape_wait_ms) == '~') second = 'S';
            break;
        default:
            break;
    }
    if (second < 0) return 27;
    pending_key = second;
    return 224;
}
#endif

}  // namespace

void con_printf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    con_vprintf(fmt, ap);
    va_end(ap);
}

void con_vprintf(const char* fmt, va_list ap) {
    std::lock_guard lock(out_mutex);
    va_list again;
    va_copy(again, ap);
    size_t room = out_buf_size - out_len;
    int n = std::vsnprintf(out_buf + out_len, room, fmt, ap);
    if (n >= 0 && static_cast<size_t>(n) < room) {
        out_len += static_cast<size_t>(n);
    } else if (n >= 0) {
        flush_locked();
        if (static_cast<size_t>(n) < out_buf_size) {
            std::vsnprintf(out_buf, out_buf_size, fmt, again);
            out_len = static_cast<size_t>(n);
        } else {
            std::string big(static_cast<size_t>(n) + 1, '\0');
            std::vsnprintf(big.data(), big.size(), fmt, again);
            emit_locked(big.data(), static_cast<size_t>(n));
        }
    }
    va_end(again);
}

void con_write(const void* data, size_t n) {
    std::lock_guard lock(out_mutex);
    append_locked(static_cast<const char*>(data), n);
}

void con_flush() {
    std::lock_guard lock(out_mutex);
    flush_locked();
}

void con_set_capture(std::string* sink) {
    std::lock_guard lock(out_mutex);
    flush_locked();
    out_sink = sink;
}

void con_set_input(int fd) {
    in_fd = fd;
    in_pos = in_len = 0;
    in_eof = false;
    line_rest_pending = false;
    pending_key = -1;
}

int con_read_byte() {
    if (!fill_input()) return con_eof;
    return in_buf[in_pos++];
}

int con_peek_byte() {
    if (!fill_input()) return con_eof;
    return in_buf[in_pos];
}

int con_read_word(char* buf, int cap) {
    int ch;
    do {
        ch = con_read_byte();
    } while (ch != con_eof && is_space(ch));
    if (ch == con_eof) return con_eof;
    int len = 0;
    bool too_long = false;
    for (;;) {
        if (len < cap - 1)
            buf[len++] = static_cast<char>(ch);
        else
            too_long = true;
        ch = con_peek_byte();
        if (ch == con_eof || is_space(ch)) break;
        con_read_byte();
    }
    line_rest_pending = true;
    if (too_long) {
        buf[0] = '\0';
        return -2;
    }
    buf[len] = '\0';
    return len;
}

void con_discard_line_rest() {
    if (!line_rest_pending) return;
    line_rest_pending = false;
    int ch;
    do {
        ch = con_read_byte();
    } while (ch != con_eof && ch != '\n');
}

bool con_input_is_terminal() {
#ifdef _WIN32
    return is_console(input_handle());
#else
    return isatty(in_fd) == 1;
#endif
}

bool con_at_console_host() {
#ifdef _WIN32
    return is_console(input_handle()) && is_console(GetStdHandle(STD_OUTPUT_HANDLE));
#else
    return false;
#endif
}

int con_getch() {
    if (pending_key >= 0) {
        int k = pending_key;
        pending_key = -1;
        return k;
    }
    con_flush();
    if (con_input_is_terminal()) {
        if (keys_active) return read_terminal_key();
        con_key_mode keys(false);  // a lone key: the key mode for this key only
        return read_terminal_key();
    }
    int ch = con_read_byte();
    return ch == '\n' ? 13 : ch;
}

bool con_keys_begin(bool signal_keys) {
    if (keys_active || !con_input_is_terminal()) return false;
#ifdef _WIN32
    HANDLE h = input_handle();
    DWORD mode = 0;
    if (!GetConsoleMode(h, &mode)) return false;
    saved_mode = mode;
    mode_handle = h;
    // Ctrl+C stays the control handler's in every key mode: a key read cannot be woken for it.
    mode &= ~DWORD(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    mode_changed = true;
    SetConsoleMode(h, mode);
#else
    termios t{};
    if (tcgetattr(in_fd, &t) != 0) return false;
    saved_tio = t;
    tio_fd = in_fd;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    if (!signal_keys) t.c_lflag &= ~static_cast<tcflag_t>(ISIG);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tio_changed = true;  // first: a signal from here on puts the saved mode back
    tcsetattr(in_fd, TCSANOW, &t);
#endif
    keys_active = true;
    keys_signal = signal_keys;
    return true;
}

void con_keys_end() {
    if (!keys_active) return;
    keys_active = false;
    con_restore_terminal();
}

void con_restore_terminal() {
#ifdef _WIN32
    if (mode_changed.exchange(false)) SetConsoleMode(mode_handle, saved_mode);
#else
    if (tio_changed.exchange(false)) tcsetattr(tio_fd, TCSANOW, &saved_tio);
#endif
}

void con_clear_screen() {
#ifdef _WIN32
    // The console's screen buffer itself, as CLS clears it; nothing off a console.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(out, &info)) return;
    con_flush();
    const DWORD cells = DWORD(info.dwSize.X) * DWORD(info.dwSize.Y);
    DWORD done = 0;
    FillConsoleOutputCharacterA(out, ' ', cells, COORD{0, 0}, &done);
    FillConsoleOutputAttribute(out, info.wAttributes, cells, COORD{0, 0}, &done);
    SetConsoleCursorPosition(out, COORD{0, 0});
#else
    if (isatty(STDOUT_FILENO) != 1) return;
    static const char clear[] = "\x1b[H\x1b[2J\x1b[3J";
    con_write(clear, sizeof clear - 1);
#endif
}
