// The user's files: descriptors, opening, reading, writing and folder identity. Files are
// opened in binary mode everywhere: every byte is read and written as it is (the console's own
// text modes are done once, in shared code), and no descriptor is inherited by a program the
// console starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

struct file_closer {
    void operator()(FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

// Closes a descriptor from the functions below; false when the close failed (what was written
// may not have reached the disk).
bool close_file(int fd);

// Closes its descriptor, if it holds one, when it goes.
struct fd_closer {
    int fd;
    ~fd_closer() {
        if (fd >= 0) close_file(fd);
    }
};

// Opens path read-only; -1 when it cannot be opened or is a folder (a folder opens here, but
// holds no data to read).
int open_for_reading(const char* path);

// Opens path as a byte stream for reading, only when it is a regular file; null for a folder,
// a FIFO, a device or a path that cannot be opened. The type is taken from the opened file itself,
// and the open does not wait for a FIFO's writer (which could never come). size receives the
// file's size.
file_ptr open_regular_file(const char* path, int64_t& size);

// Creates path for writing, or empties it when it exists; -1 when it cannot be opened. A new
// file is readable and writable by the user alone (private) or by everyone the process's
// permission mask allows (on POSIX; Windows gives the folder's permissions either way).
int create_for_writing(const char* path, bool private_file = true);

// Reads up to n bytes into buf, as many as the file holds (got); false on a read error.
bool read_upto(int fd, char* buf, size_t n, size_t& got);

// Reads up to n bytes at offset at, as many as the file gives; -1 on a read error.
int64_t read_at(int fd, char* buf, size_t n, int64_t at);

// Writes all n bytes; false when the file takes no more.
bool write_all(int fd, const char* data, size_t n);

// True when fd is a regular file; size then receives its size.
bool regular_file_size(int fd, int64_t& size);

// An anonymous pipe (of at least 64 KiB): false when none could be made.
bool open_pipe(int& read_end, int& write_end);

// Makes a new, empty folder in the system's folder for temporary files, its name beginning with
// prefix; path receives it. False when none could be made.
bool make_temp_folder(const char* prefix, std::string& path);

// What tells one folder from another, also through links: equal ids, the same folder.
struct folder_id {
    uint64_t volume = 0;
    uint64_t index = 0;
    friend auto operator<=>(const folder_id&, const folder_id&) = default;
};

// The id of the folder at path; false when it cannot be read.
bool folder_identity(const char* path, folder_id& id);

// True when path names a folder (a link to one counts).
bool path_is_folder(const char* path);

// What a folder walk meets.
enum class walk_entry {
    file,        // a regular file (also through a link)
    folder,      // a folder (also through a link or junction)
    other,       // neither: a FIFO, a device, a link that leads nowhere
    unreadable,  // a folder that cannot be listed
};

// Told of each entry of a walk with its path; for a folder, returns whether to list it.
using folder_visitor = bool (*)(void* context, walk_entry kind, const std::string& path);

// Walks the tree under dir depth first: each folder's entries come in the order the file system
// lists them ("." and ".." left out), each named dir + "/" + its name, and a folder the visitor
// takes is listed where the walk meets it. A folder reached again, also through a link or
// junction (its folder_identity, not a name, tells), is passed over without a word, so a link
// to a parent folder cannot make the walk endless. dir itself is told of only when it cannot be
// listed (unreadable).
void walk_folder(const std::string& dir, folder_visitor visit, void* context);
