// Shared by the fuzz targets that run console commands in-process: login values whose connection
// is refused at once (nothing listens on port 1), EXIT returning to the target through the exit
// hook, captured output, and a scratch working directory emptied for every input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "output/date_format.h"
#include "output/execute.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/system.h"
#include "state/console_state.h"

// Thrown by the exit hook: the console asked to end with this status.
struct console_exit {
    int status;
};

inline void throw_console_exit(int status) {
    throw console_exit{status};
}

// Once per process: the exit hook, a private working directory (removed at exit; libFuzzer must
// be given absolute corpus paths), an editor that changes nothing (a command that ends at once
// on either platform).
inline void console_sandbox_init() {
    static bool done = false;
    if (done) return;
    done = true;
    plat_init();
    plat_set_exit_hook(throw_console_exit);
    std::string dir;
    if (!make_temp_folder("norv-fuzz-", dir)) {
        std::fprintf(stderr, "no fuzz scratch directory could be made\n");
        std::abort();
    }
    std::error_code cd_error;
    std::filesystem::current_path(dir, cd_error);
    if (cd_error) {
        std::fprintf(stderr, "fuzz scratch directory %s: %s\n", dir.c_str(),
                     cd_error.message().c_str());
        std::abort();
    }
#ifdef _WIN32
    plat_set_env("VISUAL", "cmd /c rem");
#else
    plat_set_env("VISUAL", "true");
#endif
    static const std::string scratch = dir;
    std::atexit([] {
        // Windows removes no folder that is a process's working directory.
        std::error_code ec;
        std::filesystem::current_path(std::filesystem::temp_directory_path(ec), ec);
        std::filesystem::remove_all(scratch, ec);
    });
}

// For every input: the record in its start-up state with login values that fail fast, and an
// empty working directory.
inline void console_sandbox_reset() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(".", ec))
        std::filesystem::remove_all(entry.path(), ec);
    delete[] g_console.spool_path;
    console_state_reset(g_console);
    g_datef = datef_t{};
    g_console.host = "127.0.0.1";
    g_console.port = 1;
    g_console.database = "fuzzdb";
    g_console.user = "fuzzer";
    g_console.password = "fuzz-pw";
    g_console.max_idle_time = no_idle_limit;
}

// Captures the console's output for one input. A debug monitor thread may still print after the
// input is done: its bytes go to whichever buffer is the capture at that moment, so the buffer
// being emptied is never the current one (the writer switches under its lock).
// With NORV_FUZZ_ECHO set, the output of each input is copied to standard error (to read what
// an input does).
struct console_capture {
    std::string* sink;
    console_capture() {
        // Never destroyed: a monitor thread may still print while the process exits.
        static std::string* const buffers = new std::string[2];
        static int current = 0;
        current ^= 1;
        sink = &buffers[current];
        con_set_capture(sink);
        buffers[current ^ 1].clear();
    }
    ~console_capture() {
        con_flush();
        if (std::getenv("NORV_FUZZ_ECHO"))
            std::fprintf(stderr, "%.*s\n", int(sink->size()), sink->data());
    }
    console_capture(const console_capture&) = delete;
    console_capture& operator=(const console_capture&) = delete;
};
