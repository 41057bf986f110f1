// Feeds a text to the console reader as its standard input, through a pipe.
#pragma once

#include <unistd.h>

#include <string>

#include "platform/console.h"

struct fed_input {
    int fds[2] = {-1, -1};
    // REQUIRES: text fits in a pipe's buffer (the writer does not wait for a reader).
    explicit fed_input(const std::string& text) {
        if (pipe(fds) != 0) return;
        size_t off = 0;
        while (off < text.size()) {
            ssize_t w = write(fds[1], text.data() + off, text.size() - off);
            if (w <= 0) break;
            off += static_cast<size_t>(w);
        }
        close(fds[1]);
        con_set_input(fds[0]);
    }
    ~fed_input() {
        con_set_input(STDIN_FILENO);
        close(fds[0]);
    }
    fed_input(const fed_input&) = delete;
    fed_input& operator=(const fed_input&) = delete;
};
