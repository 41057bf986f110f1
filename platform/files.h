// Owners of the user's files and descriptors, shared by the modules that read and write them.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

struct file_closer {
    void operator()(FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

// Closes its descriptor, if it holds one, when it goes.
struct fd_closer {
    int fd;
    ~fd_closer() {
        if (fd >= 0) ::close(fd);
    }
};

// Opens path read-only; -1 when it cannot be opened or is a folder (a folder opens here, but
// holds no data to read).
inline int open_for_reading(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Opens path as a byte stream for reading, only when it is a regular file; null for a folder,
// a FIFO, a device or a path that cannot be opened. The type is taken from the opened file itself,
// and the open does not wait for a FIFO's writer (which could never come). size receives the
// file's size.
inline file_ptr open_regular_file(const char* path, int64_t& size) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat info {};
    int flags = -1;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (flags = ::fcntl(fd, F_GETFL)) < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    file_ptr f(::fdopen(fd, "rb"));
    if (!f) {
        ::close(fd);
        return nullptr;
    }
    size = int64_t(info.st_size);
    return f;
}

// Reads up to n bytes into buf, as many as the file holds (got); false on a read error.
inline bool read_upto(int fd, char* buf, size_t n, size_t& got) {
    got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, buf + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) break;
        got += size_t(r);
    }
    return true;
}
