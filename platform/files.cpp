// The user's files on POSIX (descriptors of open(2)) and on Windows (descriptors of the C
// runtime, in binary mode, over handles that no child inherits).
#include "platform/files.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#endif

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <set>

#ifdef _WIN32

namespace {

bool is_folder(int fd) {
    struct _stat64 info {};
    return _fstat64(fd, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFDIR;
}

int open_binary(const char* path, int flags, int mode = 0) {
    return _open(path, flags | _O_BINARY | _O_NOINHERIT, mode);
}

}  // namespace

bool close_file(int fd) {
    return _close(fd) == 0;
}

int open_for_reading(const char* path) {
    int fd = open_binary(path, _O_RDONLY);
    if (fd >= 0 && is_folder(fd)) {
        _close(fd);
        return -1;
    }
    return fd;
}

file_ptr open_regular_file(const char* path, int64_t& size) {
    // Windows opens no FIFO that could wait for a writer: a named pipe path opens at once or
    // fails.
    int fd = open_binary(path, _O_RDONLY);
    if (fd < 0) return nullptr;
    if (!regular_file_size(fd, size)) {
        _close(fd);
        return nullptr;
    }
    file_ptr f(_fdopen(fd, "rb"));
    if (!f) _close(fd);
    return f;
}

int create_for_writing(const char* path, bool) {
    return open_binary(path, _O_RDWR | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
}

bool read_upto(int fd, char* buf, size_t n, size_t& got) {
    got = 0;
    while (got < n) {
        size_t step = n - got < 0x40000000 ? n - got : 0x40000000;
        int r = _read(fd, buf + got, unsigned(step));
        if (r < 0) return false;
        if (r == 0) break;
        got += size_t(r);
    }
    return true;
}

int64_t read_at(int fd, char* buf, size_t n, int64_t at) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (h == INVALID_HANDLE_VALUE) return -1;
    size_t got = 0;
    while (got < n) {
        OVERLAPPED where{};
        const uint64_t offset = uint64_t(at) + got;
        where.Offset = DWORD(offset);
        where.OffsetHigh = DWORD(offset >> 32);
        DWORD step = n - got < 0x40000000 ? DWORD(n - got) : 0x40000000, r = 0;
        if (!ReadFile(h, buf + got, step, &r, &where)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (r == 0) break;
        got += r;
    }
    return int64_t(got);
}

bool write_all(int fd, const char* data, size_t n) {
    while (n > 0) {
        unsigned step = n < 0x40000000 ? unsigned(n) : 0x40000000;
        int w = _write(fd, data, step);
        if (w <= 0) return false;
        data += w;
        n -= size_t(w);
    }
    return true;
}

bool regular_file_size(int fd, int64_t& size) {
    struct _stat64 info {};
    if (_fstat64(fd, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return false;
    size = int64_t(info.st_size);
    return true;
}

bool open_pipe(int& read_end, int& write_end) {
    int fds[2];
    if (_pipe(fds, 65536, _O_BINARY | _O_NOINHERIT) != 0) return false;
    read_end = fds[0];
    write_end = fds[1];
    return true;
}

bool make_temp_folder(const char* prefix, std::string& path) {
    char base[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n > MAX_PATH) return false;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = std::string(base) + prefix + std::to_string(GetCurrentProcessId()) +
                           "-" + std::to_string(counter++) + "-" + std::to_string(GetTickCount());
        if (CreateDirectoryA(name.c_str(), nullptr)) {
            path = name;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

bool folder_identity(const char* path, folder_id& id) {
    // Folder walks see no inode numbers here (FAT and Wine report 0): the file ids of the
    // opened folder tell folders apart.
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool path_is_folder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

// One folder's entries, as FindFirstFileA and FindNextFileA give them.
struct folder_listing {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA found{};
    bool have = false;           // found holds an entry not yet handed out
    DWORD found_attributes = 0;  // those of the entry handed out last

    folder_listing() = default;
    folder_listing(const folder_listing&) = delete;
    folder_listing& operator=(const folder_listing&) = delete;
    ~folder_listing() {
        if (find != INVALID_HANDLE_VALUE) FindClose(find);
    }

    bool open(const std::string& dir) {
        find = FindFirstFileA((dir + "/*").c_str(), &found);
        have = find != INVALID_HANDLE_VALUE;
        return have || GetLastError() == ERROR_FILE_NOT_FOUND;  // the latter: no entry at all
    }

    bool next(std::string& name) {
        while (have) {
            name = found.cFileName;
            found_attributes = found.dwFileAttributes;
            have = FindNextFileA(find, &found) != 0;
            if (name != "." && name != "..") return true;
        }
        return false;
    }

    // The kind of the entry next() gave last, at path.
    walk_entry kind(const std::string& path) const {
        DWORD attributes = found_attributes;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A link or junction: what it leads to.
            HANDLE h =
                CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (h == INVALID_HANDLE_VALUE) return walk_entry::other;
            BY_HANDLE_FILE_INFORMATION info{};
            const bool ok = GetFileInformationByHandle(h, &info) != 0;
            CloseHandle(h);
            if (!ok) return walk_entry::other;
            attributes = info.dwFileAttributes;
        } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            // A listing may show as a file what the system cannot describe when asked by name
            // (Wine lists a FIFO of its host so): that is no regular file.
            attributes = GetFileAttributesA(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) return walk_entry::other;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return walk_entry::folder;
        if (attributes & FILE_ATTRIBUTE_DEVICE) return walk_entry::other;
        return walk_entry::file;
    }
};

}  // namespace

#else

bool close_file(int fd) {
    return ::close(fd) == 0;
}

int open_for_reading(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd >= 0 && ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

file_ptr open_regular_file(const char* path, int64_t& size) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    int flags = -1;
    if (!regular_file_size(fd, size) || (flags = ::fcntl(fd, F_GETFL)) < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    file_ptr f(::fdopen(fd, "rb"));
    if (!f) ::close(fd);
    return f;
}

int create_for_writing(const char* path, bool private_file) {
    return ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, private_file ? 0600 : 0666);
}

bool read_upto(int fd, char* buf, size_t n, size_t& got) {
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

int64_t read_at(int fd, char* buf, size_t n, int64_t at) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::pread(fd, buf + got, n - got, off_t(at) + off_t(got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += size_t(r);
    }
    return int64_t(got);
}

bool write_all(int fd, const char* data, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        n -= size_t(w);
    }
    return true;
}

bool regular_file_size(int fd, int64_t& size) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    size = int64_t(info.st_size);
    return true;
}

bool open_pipe(int& read_end, int& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end = fds[0];
    write_end = fds[1];
    return true;
}

bool make_temp_folder(const char* prefix, std::string& path) {
    const char* base = std::getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/" + prefix + "XXXXXX";
    if (!::mkdtemp(name.data())) return false;
    path = name;
    return true;
}

bool folder_identity(const char* path, folder_id& id) {
    struct stat info {};
    if (::stat(path, &info) != 0) return false;
    id.volume = uint64_t(info.st_dev);
    id.index = uint64_t(info.st_ino);
    return true;
}

bool path_is_folder(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

namespace {

// One folder's entries, as the directory iterator of the C++ library gives them.
struct folder_listing {
    std::filesystem::directory_iterator at;
    bool started = false;

    bool open(const std::string& dir) {
        std::error_code ec;
        at = std::filesystem::directory_iterator(dir, ec);
        return !ec;
    }

    bool next(std::string& name) {
        std::error_code ec;
        if (started) at.increment(ec);
        started = true;
        if (ec || at == std::filesystem::directory_iterator()) return false;
        name = at->path().filename().string();
        return true;
    }

    // The kind of the entry next() gave last (links followed).
    walk_entry kind(const std::string&) const {
        std::error_code ec;
        if (at->is_directory(ec)) return walk_entry::folder;
        if (at->is_regular_file(ec)) return walk_entry::file;
        return walk_entry::other;
    }
};

}  // namespace

#endif

namespace {

void walk_once(const std::string& dir, folder_visitor visit, void* context,
               std::set<folder_id>& listed) {
    folder_id id;
    if (folder_identity(dir.c_str(), id) && !listed.insert(id).second) return;
    folder_listing listing;
    if (!listing.open(dir)) {
        visit(context, walk_entry::unreadable, dir);
        return;
    }
    std::string name;
    while (listing.next(name)) {
        const std::string path = dir + "/" + name;
        const walk_entry kind = listing.kind(path);
        if (visit(context, kind, path) && kind == walk_entry::folder)
            walk_once(path, visit, context, listed);
    }
}

}  // namespace

void walk_folder(const std::string& dir, folder_visitor visit, void* context) {
    std::set<folder_id> listed;
    walk_once(dir, visit, context, listed);
}
