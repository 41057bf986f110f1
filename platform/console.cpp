// Buffered console writer and standard-input reader (POSIX). Everything the console prints passes
// through out_buf; everything it reads passes through in_buf, except keys on a terminal (read
// straight from it in the key mode). Every blocking read also watches for signals (plat_wait_fd).
#include "platform/console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/system.h"

namespace {

inline constexpr size_t out_buf_size = con_out_buf_size;

std::mutex out_mutex;
char out_buf[out_buf_size];
size_t out_len = 0;
std::string* out_sink = nullptr;  // capture for tests; null = standard output

void write_all(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return;  // nobody left to read our output; nothing sensible to do
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
}

void emit_locked(const char* p, size_t n) {
    if (out_sink)
        out_sink->append(p, n);
    else
        write_all(STDOUT_FILENO, p, n);
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

int in_fd = STDIN_FILENO;
unsigned char in_buf[in_buf_size];
size_t in_pos = 0;
size_t in_len = 0;
bool in_eof = false;
bool line_rest_pending = false;
int pending_key = -1;  // second code of a two-code key

// The terminal's mode from before con_keys_begin, put back by con_keys_end, plat_exit and a
// signal's end. tio_changed is read in signal context.
termios saved_tio{};
int tio_fd = -1;
std::atomic<bool> tio_changed{false};
bool keys_active = false;
bool keys_signal = false;  // the terminal's signal keys are on during the key mode
static_assert(std::atomic<bool>::is_always_lock_free);

bool fill_input() {
    if (in_pos < in_len) return true;
    if (in_eof) return false;
    con_flush();  // the user sees the prompt before we block
    for (;;) {
        if (plat_wait_fd(in_fd, POLLIN, -1) == plat_woken) {
            // A signal at a prompt ends the console. (A reader that gives Ctrl+C a meaning of
            // its own here takes the signal first: plat_take_signal.)
            plat_end_on_signal();
            continue;
        }
        ssize_t r = ::read(in_fd, in_buf, in_buf_size);
        if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (r <= 0) {
            in_eof = true;
            return false;
        }
        in_pos = 0;
        in_len = static_cast<size_t>(r);
        return true;
    }
}

bool is_space(int ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
}

// Reads one byte from the terminal, in the key mode; with a time-out in milliseconds (-1 = wait).
// Returns the byte, con_eof, -2 on time-out, or con_interrupted when a signal woke the wait and
// did not end the console (a listing's Ctrl+C).
inline constexpr int escape_wait_ms = 100;  // the rest of an arrow key's sequence

int read_tty_byte(int timeout_ms) {
    for (;;) {
        int w = plat_wait_fd(in_fd, POLLIN, timeout_ms);
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

}  // namespace

void con_printf(const char* fmt, ...) {
    std::lock_guard lock(out_mutex);
    va_list ap;
    va_start(ap, fmt);
    va_list again;
    va_copy(again, ap);
    size_t room = out_buf_size - out_len;
    int n = std::vsnprintf(out_buf + out_len, room, fmt, ap);
    va_end(ap);
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
    return isatty(in_fd) == 1;
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
    if (tio_changed.exchange(false)) tcsetattr(tio_fd, TCSANOW, &saved_tio);
}

void con_clear_screen() {
    if (isatty(STDOUT_FILENO) != 1) return;
    static const char clear[] = "\x1b[H\x1b[2J\x1b[3J";
    con_write(clear, sizeof clear - 1);
}
