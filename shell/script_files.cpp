// EXECFILE and EXECFILE2: SQL from files, one file or every file under a directory tree, read in
// blocks of 2 MB so that files of any size run in bounded memory. EXECFILE runs the texts
// between EXECBEGIN and EXECEND markers; EXECFILE2 sends the file's text in pieces cut at ';'.
#include "shell/script_files.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "output/execute.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/system.h"
#include "protocol/db.h"
#include "shell/input_loop.h"
#include "state/console_state.h"
#include "text/scan.h"

namespace {

inline constexpr size_t path_file_str_size = 1024;
inline constexpr long block_size = 2097152;
inline constexpr size_t small_read_size = 4096;
inline constexpr std::string_view begin_marker = "EXECBEGIN";
inline constexpr std::string_view end_marker = "EXECEND";
// A wrapped block of the large-file path: the block, "EXECBEGIN\r\n" before it, "EXECEND" after.
inline constexpr size_t wrapped_block_max = block_size + 50;

const char too_long_sh[] = "sql length >2M  ,the sql in sh-file should less than 2M \n";
const char too_long_wrapped[] =
    "sql length >2M  ,the sql in sh-file begin with EXECBEGIN and end with EXECEND should less "
    "than 2M \n";
const char no_begin[] =
    "Not find EXECBEGIN,the sql in sh-file should begin with EXECBEGIN and end with EXECEND \n";
const char no_end[] =
    "Not find EXECEND,the sql in sh-file should begin with EXECBEGIN and end with EXECEND \n";

void progress(long block) {
    con_printf("正在操作第%ld块数据\n", block + 1);
}

// The script file being run: its path for messages, and the offset in it of the next byte to be
// read, kept by the reads and step-backs below.
struct script_file {
    const std::string& path;
    FILE* f;
    int64_t pos = 0;
};

// A text holding a zero byte cannot be sent whole: the statement would end at that byte (a
// "delete from t<0> where ..." would empty the table). Such a text is not sent and the file stops
// there; the texts before it have run. origin is the offset in the file of the text's first
// byte. True (with the message) when the text holds one.
bool stops_at_zero_byte(const script_file& sf, std::string_view text, int64_t origin) {
    size_t zero = text.find('\0');
    if (zero == std::string_view::npos) return false;
    con_printf(
        "File %s: zero byte at offset %lld; the text holding it and the rest of the file "
        "are not sent.\r\n",
        sf.path.c_str(), static_cast<long long>(origin + int64_t(zero)));
    return true;
}

// Sends a statement text of the file that the console does not report. A statement that fails
// is a failure of the command; with ON_ERROR_STOP its message is shown, naming the file, and the
// console ends with status 3.
void run_unreported(const script_file& sf, const std::string& text, bool through_wrapper) {
    db_result* r = through_wrapper ? execute_statement(text.c_str())
                                   : db_execute(g_console.conn, text.c_str());
    if (!r || (db_result_ok(r) != 1 && db_result_msg_level(r) != db_level_warning)) {
        note_failure();
        if (g_console.on_error_stop) {
            const char* message = r ? db_result_message(r) : "the connection was lost";
            con_printf("Error in %s: %s\r\n", sf.path.c_str(), message ? message : "");
            db_result_free(r);
            plat_exit(on_error_stop_status);
        }
    }
    db_result_free(r);
}

// Reads up to n bytes; the count read.
size_t read_some(script_file& sf, char* buf, size_t n) {
    size_t got = std::fread(buf, 1, n, sf.f);
    sf.pos += int64_t(got);
    return got;
}

// Moves the file back by n bytes: the next block starts with them.
void step_back(script_file& sf, size_t n) {
    std::fseek(sf.f, -long(n), SEEK_CUR);
    sf.pos -= int64_t(n);
}

// EXECFILE, a file under 2 MB: EXECBEGIN ... EXECEND texts, each run as one statement.
void execfile_small(script_file& sf) {
    std::string text;
    int64_t origin = 0;  // offset in the file of text[0]
    size_t begin = std::string::npos;
    bool begin_unchecked = true;
    bool end_missing = true;
    char chunk[small_read_size];
    for (;;) {
        size_t got = read_some(sf, chunk, sizeof chunk);
        if (got == 0) break;
        text.append(chunk, got);
        if (text.size() > size_t(block_size)) {
            con_printf("%s", too_long_sh);
            break;
        }
        bool full_read = got == sizeof chunk;
        for (;;) {
            if (begin == std::string::npos) {
                size_t b = find_unquoted(text, begin_marker);
                if (b == std::string::npos) {
                    if (begin_unchecked) {
                        con_printf("%s", no_begin);
                        return;
                    }
                    break;
                }
                begin_unchecked = false;
                begin = b + begin_marker.size();
            }
            size_t e = find_unquoted(std::string_view(text).substr(begin), end_marker);
            if (e == std::string::npos) break;
            end_missing = false;
            std::string statement = text.substr(begin, e);
            if (stops_at_zero_byte(sf, statement, origin + int64_t(begin))) return;
            if (full_read) con_printf("%s", statement.c_str());
            con_printf("\n");
            run_unreported(sf, statement, true);
            // The rest starts at the marker's second letter.
            text.erase(0, begin + e + 1);
            origin += int64_t(begin + e + 1);
            begin = std::string::npos;
            if (text.size() < 17) break;
        }
        if (!full_read && end_missing) {
            con_printf("%s", no_end);
            break;
        }
    }
}

// Reads one block at the file's current position; complete when the whole block came.
bool read_block(script_file& sf, std::string& block) {
    block.resize(size_t(block_size));
    size_t got = read_some(sf, block.data(), block.size());
    block.resize(got);
    return got == size_t(block_size);
}

// Cuts text after its last unquoted ';' and moves the file back to just after it. False when
// the text holds no such ';' (a statement longer than a block).
bool cut_at_statement_end(script_file& sf, std::string& text, size_t read_len) {
    size_t cut = after_last_unquoted(text, ';');
    if (cut == std::string::npos) return false;
    step_back(sf, read_len - cut);
    text.resize(cut);
    return true;
}

// Runs every EXECBEGIN ... EXECEND text of a wrapped block, in order, the first beginning at the
// marker at b; texts that are empty or blank (the wrapping makes one where a block was cut
// between a ';' and its EXECEND) are not sent. origin is the offset in the file that wrapped[0]
// stands for. False when a zero byte stopped the file.
bool run_marked_texts(script_file& sf, std::string_view wrapped, size_t b, int64_t origin) {
    for (;;) {
        size_t start = b + begin_marker.size();
        size_t e = find_unquoted(wrapped.substr(start), end_marker);
        std::string_view text = wrapped.substr(start, e);
        if (text.find_first_not_of(" \t\r\n") != std::string_view::npos) {
            if (stops_at_zero_byte(sf, text, origin + int64_t(start))) return false;
            run_unreported(sf, std::string(text), false);
        }
        if (e == std::string_view::npos) return true;
        // The rest starts at the marker's second letter, as in the small-file path.
        size_t rest = start + e + 1;
        size_t next = find_unquoted(wrapped.substr(rest), begin_marker);
        if (next == std::string_view::npos) return true;
        b = rest + next;
    }
}

// EXECFILE, a file of 2 MB or more: each block is wrapped in markers, cut at a statement end,
// and each of its marked texts is sent as one statement text.
void execfile_large(script_file& sf) {
    std::string block, wrapped;
    wrapped.reserve(wrapped_block_max);
    for (long number = 0;; ++number) {
        int64_t origin = sf.pos;  // the offset in the file that wrapped[0] stands for
        bool complete = read_block(sf, block);
        if (complete) progress(number);
        wrapped.clear();
        if (number == 0) {
            wrapped = block;
            if (complete && !cut_at_statement_end(sf, wrapped, block.size())) {
                con_printf("%s", too_long_wrapped);
                return;
            }
            if (complete) wrapped += end_marker;
        } else {
            size_t skip = block.find_first_not_of("\n\r\t");
            wrapped = "EXECBEGIN\r\n";
            std::string_view body =
                std::string_view(block).substr(skip == std::string::npos ? block.size() : skip);
            origin += int64_t(block.size() - body.size()) - int64_t(wrapped.size());
            wrapped += body;
            bool has_end = find_unquoted(wrapped, end_marker) != std::string::npos;
            // A complete block is cut after its last unquoted ';' also when it holds an EXECEND:
            // taken whole it would end inside the marked text that goes on in the next block,
            // which would then start out of step (its quotes too) and lose that text and more.
            if (!has_end || complete) {
                size_t cut = after_last_unquoted(body, ';');
                if (cut != std::string::npos) {
                    if (complete) step_back(sf, body.size() - cut);
                    wrapped.resize(11 + cut);
                } else if (complete && !has_end) {
                    con_printf("%s", too_long_wrapped);
                    return;
                }
                if (cut != std::string::npos || !has_end) wrapped += end_marker;
            }
        }
        if (wrapped.size() >= size_t(block_size) + 51) {
            con_printf("%s", too_long_wrapped);
            return;
        }
        size_t b = wrapped.find(begin_marker);
        if (b == std::string::npos) {
            con_printf("%s", no_begin);
            return;
        }
        if (!run_marked_texts(sf, wrapped, b, origin)) return;
        if (!complete) return;
    }
}

// EXECFILE2, a file under 2 MB: the whole text, sent when it ends with ';'.
void execfile2_small(script_file& sf) {
    std::string text;
    char chunk[small_read_size];
    size_t got;
    while ((got = read_some(sf, chunk, sizeof chunk)) > 0) {
        text.append(chunk, got);
        if (text.size() > size_t(block_size)) {
            con_printf("%s", too_long_sh);
            return;
        }
    }
    size_t last = text.find_last_not_of("\n\r\t");
    if (last == std::string::npos || text[last] != ';') return;
    text.resize(last + 1);
    if (stops_at_zero_byte(sf, text, 0)) return;
    con_printf("%s\n", text.c_str());
    run_unreported(sf, text, false);
}

// EXECFILE2, a file of 2 MB or more: blocks cut after their last unquoted ';'.
void execfile2_large(script_file& sf) {
    std::string block;
    for (long number = 0;; ++number) {
        int64_t origin = sf.pos;  // offset in the file of block[0]
        bool complete = read_block(sf, block);
        progress(number);
        if (complete) {
            block.resize(size_t(block_size) - 1);
            if (!cut_at_statement_end(sf, block, size_t(block_size))) {
                con_printf("%s", too_long_sh);
                return;
            }
        }
        size_t skip = block.find_first_not_of("\n\r");
        if (skip != std::string::npos) {
            if (stops_at_zero_byte(sf, std::string_view(block).substr(skip),
                                   origin + int64_t(skip)))
                return;
            run_unreported(sf, block.substr(skip), false);
        }
        if (!complete || std::feof(sf.f)) return;
        int next = std::fgetc(sf.f);
        if (next == EOF) return;
        std::ungetc(next, sf.f);
    }
}

void run_file(const std::string& path, bool second_form) {
    con_printf("Current file is %s\n", path.c_str());
    // Only a regular file is read: a FIFO would otherwise hold the console for good.
    int64_t file_size = 0;
    file_ptr f = open_regular_file(path.c_str(), file_size);
    if (!f) {
        report_failure("the file_path is not a file \r\n");
        return;
    }
    script_file sf{path, f.get()};
    long size = long(file_size);
    int blocks = int(size / block_size);
    int64_t start = 0;
    if (second_form) {
        con_printf("file_size %ld\n", size);
        start = plat_clock_ms();
    } else {
        con_printf("%ld %d\n", size, blocks + 1);
        start = plat_clock_ms();
    }
    if (second_form)
        blocks == 0 ? execfile2_small(sf) : execfile2_large(sf);
    else
        blocks == 0 ? execfile_small(sf) : execfile_large(sf);
    con_printf("\r\nUse time:%d ms.      \r\n", int(plat_clock_ms() - start));
}

command_result command_script_files(command_line& cl, bool second_form) {
    const char* p = cl.rest;
    p += std::strspn(p, " '\"");
    std::string path = p;
    if (path.size() >= path_file_str_size) {
        con_printf("the file_path is too long! \r\n");
        return command_result::done;
    }
    while (!path.empty() && std::strchr(" '\"\t;", path.back()))
        path.pop_back();
    std::vector<std::string> files;
    if (path_is_folder(path.c_str()))
        list_directory(path, files);
    else
        files.push_back(path);
    for (const std::string& file : files)
        run_file(file, second_form);
    return command_result::done;
}

// Takes the walk's regular files; tells of the rest as the console always has.
bool take_listed(void* context, walk_entry kind, const std::string& path) {
    auto& files = *static_cast<std::vector<std::string>*>(context);
    if (kind == walk_entry::unreadable) {
        con_printf("Failed to find first file!\n");
        return false;
    }
    if (path.size() >= path_file_str_size) {
        con_printf("the file_path is too long! \r\n");
        return false;
    }
    // Only regular files run: opening a FIFO would wait for a writer without end.
    if (kind == walk_entry::file)
        files.push_back(path);
    else if (kind == walk_entry::other)
        con_printf("Skipped %s: not a regular file\r\n", path.c_str());
    return true;
}

}  // namespace

void list_directory(const std::string& dir, std::vector<std::string>& files) {
    walk_folder(dir, take_listed, &files);
}

command_result command_execfile(command_line& cl) {
    return command_script_files(cl, false);
}
command_result command_execfile2(command_line& cl) {
    return command_script_files(cl, true);
}
