// Feeds a text to the console reader as its standard input, through a pipe.
#pragma once

#include <string>

#include "platform/console.h"
#include "platform/files.h"

struct fed_input {
    int fds[2] = {-1, -1};
    // REQUIRES: text fits in a pipe's buffer (the writer does not wait for a reader).
    explicit fed_input(const std::string& text) {
        if (!open_pipe(fds[0], fds[1])) return;
        write_all(fds[1], text.data(), text.size());
        close_file(fds[1]);
        con_set_input(fds[0]);
    }
    ~fed_input() {
        con_set_input(0);  // standard input
        if (fds[0] >= 0) close_file(fds[0]);
    }
    fed_input(const fed_input&) = delete;
    fed_input& operator=(const fed_input&) = delete;
};
