// Windows implementation of the process services. The console control handler runs on a thread
// of its own that the system starts for each event: it calls the control handler (a listing's,
// which sets a flag), or records the event as pending, wakes the console thread's socket waits
// through a waker and cancels its blocking read of standard input (that read only: no other
// call of the console thread is cut short). The console thread then ends the process in order
// (plat_end_on_signal), with the status the POSIX build gives the matching signal (130 for
// Ctrl+C), so that scripts see one status on both platforms, or, when the event is a Ctrl+C
// during a wait for a reply with cancel_waits on, abandons that wait (plat_take_cancel).
// winsock2.h before windows.h
#include <winsock2.h>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/console.h"
#include "platform/sockets.h"
#include "platform/system.h"
#include "platform/system_shared.h"

namespace {

// The POSIX signal numbers the events stand for: the exit status is 128 + the number.
inline constexpr int interrupt_number = plat_interrupt_number;  // Ctrl+C, Ctrl+Break
inline constexpr int hangup_number = 1;                         // the console window closed
inline constexpr int terminate_number = 15;                     // log-off, shut-down

std::atomic<bool> in_editor{false};  // EDIT's editor runs: a Ctrl+C is the editor's
std::atomic<bool> signals_handled{false};
DWORD console_thread_id = 0;
HANDLE console_thread = nullptr;  // for cancelling its blocking reads
plat_waker wake;                  // watched by the console thread's socket waits

int event_of(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            return ctrl_c_event;
        case CTRL_CLOSE_EVENT:
            return ctrl_close_event;
        case CTRL_LOGOFF_EVENT:
            return ctrl_logoff_event;
        default:
            return ctrl_shutdown_event;
    }
}

int number_of(int event) {
    switch (event) {
        case ctrl_c_event:
            return interrupt_number;
        case ctrl_close_event:
            return hangup_number;
        default:
            return terminate_number;
    }
}

// Cancels the console thread's blocking read of standard input, when it is in one. A read just
// starting may not take the cancel yet: it is tried again for a while, in short slices.
void cancel_input_read() {
    if (!console_thread) return;
    for (int tries = 0; tries < 50 && plat_reading_input.load(); ++tries) {
        if (CancelSynchronousIo(console_thread)) return;
        Sleep(10);
    }
}

BOOL WINAPI on_ctrl(DWORD type) {
    const int event = event_of(type);
    if (event == ctrl_c_event && in_editor.load()) return TRUE;
    bool (*handler)(int) = plat_installed_ctrl_handler.load();
    if (!(handler && handler(event))) {
        if (plat_signal_ending.load() || plat_signal_pending.load() != 0 ||
            (event == ctrl_c_event && plat_cancel_in_progress(plat_monotonic_ms()))) {
            // A second event before the console thread has ended for the first (its output
            // may be stuck on a reader that does not read), or a second Ctrl+C while the first
            // still cancels a wait: end now.
            con_restore_terminal();
            _exit(128 + number_of(event));
        }
        plat_signal_pending = number_of(event);
    }
    if (wake.wake >= 0) plat_waker_wake(wake);
    cancel_input_read();
    if (event != ctrl_c_event && handler == nullptr) {
        // The system ends the process when this returns: give the console thread the time to
        // end in order first.
        Sleep(5000);
    }
    return TRUE;
}

}  // namespace

bool plat_on_console_thread() {
    return signals_handled.load() && GetCurrentThreadId() == console_thread_id;
}

int64_t plat_monotonic_ms() {
    return int64_t(GetTickCount64());
}

void plat_init() {
    // Every byte as it is: the texts carry their own CR LF, and 0x1A ends no input.
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
    _setmode(2, _O_BINARY);
}

void plat_handle_signals() {
    if (signals_handled.load()) return;
    console_thread_id = GetCurrentThreadId();
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &console_thread,
                    0, FALSE, DUPLICATE_SAME_ACCESS);
    if (!plat_waker_open(wake)) wake = plat_waker{};
    signals_handled = true;
    SetConsoleCtrlHandler(on_ctrl, TRUE);
}

int plat_process_id() {
    return int(GetCurrentProcessId());
}

bool plat_set_env(const char* name, const char* value) {
    return _putenv_s(name, value) == 0;
}

int plat_wait_fd(int fd, int events, int timeout_ms) {
    if (fd < 0) return plat_ready;  // a closed socket: the caller's call fails at once
    const bool watch = plat_on_console_thread() && wake.watch >= 0;
    const short poll_events = short(((events & plat_wait_in) ? POLLRDNORM : 0) |
                                    ((events & plat_wait_out) ? POLLWRNORM : 0));
    WSAPOLLFD p[2] = {{static_cast<SOCKET>(fd), poll_events, 0},
                      {static_cast<SOCKET>(wake.watch), POLLRDNORM, 0}};
    if (watch && plat_signal_pending.load()) return plat_woken;
    int r = WSAPoll(p, watch ? 2 : 1, timeout_ms);
    if (r < 0) return watch && plat_signal_pending.load() ? plat_woken : plat_ready;
    if (r == 0) return plat_timed_out;
    if (watch && p[1].revents) {
        // The wake stays readable: take its bytes only once the event has been dealt with.
        char buf[64];
        while (plat_socket_recv_now(wake.watch, buf, sizeof buf) > 0) {
        }
        return plat_woken;
    }
    return plat_ready;
}

void plat_deliver_ctrl_event(int event) {
    const DWORD type = event == ctrl_c_event        ? CTRL_C_EVENT
                       : event == ctrl_close_event  ? CTRL_CLOSE_EVENT
                       : event == ctrl_logoff_event ? CTRL_LOGOFF_EVENT
                                                    : CTRL_SHUTDOWN_EVENT;
    std::thread([type] { on_ctrl(type); }).join();
}

// The control handler has a thread of its own: no thread needs to keep events away.
plat_signals_held::plat_signals_held() = default;
plat_signals_held::~plat_signals_held() = default;

bool plat_run_editor(const char* path) {
    con_flush();
    const char* editor = std::getenv("VISUAL");
    if (!editor || !*editor) editor = std::getenv("EDITOR");
    if (!editor || !*editor) editor = "notepad";
    // The editor may carry arguments ("code -w"): the system splits the command line.
    std::string command = std::string(editor) + " \"" + path + "\"";
    STARTUPINFOA start{};
    start.cb = sizeof start;
    PROCESS_INFORMATION proc{};
    in_editor = true;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &start, &proc)) {
        in_editor = false;
        return false;
    }
    WaitForSingleObject(proc.hProcess, INFINITE);
    CloseHandle(proc.hThread);
    CloseHandle(proc.hProcess);
    in_editor = false;
    return true;
}
