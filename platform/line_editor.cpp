// The line editor on this platform: libedit's own interface (el_gets, history, a key bound to
// completion). libedit reads its keys through read_key below, which waits with signals in view
// (plat_wait_fd): Ctrl+C ends the line as interrupted, a resize redraws it, and the signals that
// end the console end it in order. libedit's own signal handling stays off.
#include "platform/line_editor.h"

#include <fcntl.h>
#include <histedit.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>
#include <cwchar>

#include "platform/console.h"
#include "platform/system.h"

namespace {

EditLine* editor = nullptr;
History* history_list = nullptr;
HistEvent history_event;
std::string history_file;  // empty: the history is not kept in a file
std::string prompt_text;
bool interrupted = false;  // read_key saw Ctrl+C
led_completer completer = nullptr;
std::string listed_at;  // the line and cursor when Tab last found nothing more to insert
std::atomic<bool> resized{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void on_resize(int) {
    resized = true;  // the wait it interrupts (poll, EINTR) sees the flag
}

char* prompt_of(EditLine*) {
    return prompt_text.data();
}

// One key for libedit: a character decoded from the terminal's UTF-8 bytes. Returns 1 with the
// character, 0 at the end of input, -1 for Ctrl+C (interrupted is then set).
int read_key(EditLine* el, wchar_t* out) {
    std::mbstate_t state{};
    for (;;) {
        if (plat_wait_fd(STDIN_FILENO, POLLIN, -1) == plat_woken) {
            if (resized.exchange(false)) {
                el_resize(el);
                el_set(el, EL_REFRESH);
            }
            int sig = plat_pending_signal();
            if (sig == SIGINT) {
                plat_take_signal();
                interrupted = true;
                return -1;
            }
            if (sig != 0) {
                el_set(el, EL_PREP_TERM, 0);  // the terminal as it was before the editor
                plat_end_on_signal();
            }
            continue;
        }
        char byte = 0;
        ssize_t r = ::read(STDIN_FILENO, &byte, 1);
        if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (r != 1) return 0;
        wchar_t wc = 0;
        size_t n = std::mbrtowc(&wc, &byte, 1, &state);
        if (n == size_t(-2)) continue;  // more bytes of the character to come
        if (n == size_t(-1)) {
            state = std::mbstate_t{};
            wc = static_cast<unsigned char>(byte);  // not UTF-8: the byte as it is
        }
        *out = wc;
        return 1;
    }
}

std::string line_state(const LineInfo* li) {
    std::string s(li->buffer, size_t(li->lastchar - li->buffer));
    s += '\0';
    s += std::to_string(li->cursor - li->buffer);
    return s;
}

// Shows the choices in columns under the line.
void list_choices(const std::vector<std::string>& choices) {
    size_t width = 0;
    for (const std::string& c : choices)
        width = std::max(width, c.size());
    width += 2;
    size_t per_line = std::max<size_t>(1, 80 / width);
    std::string out = "\r\n";
    for (size_t i = 0; i < choices.size(); ++i) {
        out += choices[i];
        bool last_in_line = (i + 1) % per_line == 0 || i + 1 == choices.size();
        out += last_in_line ? std::string("\r\n") : std::string(width - choices[i].size(), ' ');
    }
    con_write(out.data(), out.size());
    con_flush();
}

unsigned char complete_word(EditLine* el, int) {
    if (!completer) return CC_REFRESH_BEEP;
    const LineInfo* li = el_line(el);
    std::string_view before(li->buffer, size_t(li->cursor - li->buffer));
    size_t start = before.size();
    std::vector<std::string> choices;
    completer(before, start, choices);
    start = std::min(start, before.size());
    if (choices.empty()) return CC_REFRESH_BEEP;
    std::string common = choices[0];
    for (const std::string& c : choices) {
        size_t n = 0;
        while (n < common.size() && n < c.size() && common[n] == c[n])
            ++n;
        common.resize(n);
    }
    std::string_view word = before.substr(start);
    if (choices.size() == 1) common += choices[0].ends_with('/') ? "" : " ";
    if (common.size() > word.size() || (choices.size() == 1 && common != word)) {
        // The word is replaced whole: a keyword takes the case the user began typing in.
        el_deletestr(el, int(word.size()));
        el_insertstr(el, common.c_str());
        listed_at.clear();
        return CC_REFRESH;
    }
    // Nothing more to insert: the second Tab lists the choices.
    std::string state = line_state(li);
    if (listed_at == state) {
        list_choices(choices);
        return CC_REDISPLAY;
    }
    listed_at = state;
    return CC_REFRESH_BEEP;
}

// The terminal speaks UTF-8 (a Chinese name is edited character by character) even when the
// environment names no locale.
void use_utf8_characters() {
    const char* set = std::setlocale(LC_CTYPE, "");
    if (!set || (!std::strstr(set, "UTF-8") && !std::strstr(set, "utf8")))
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

void save_history() {
    if (history_file.empty()) return;
    // Created private before libedit writes it: it may hold statements with data in them.
    int fd = ::open(history_file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    ::close(fd);
    history(history_list, &history_event, H_SAVE, history_file.c_str());
}

}  // namespace

bool led_wanted() {
    return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1;
}

bool led_start(const std::string& history_path, int max_entries) {
    if (editor) return true;
    use_utf8_characters();
    editor = el_init("norvsql", stdin, stdout, stderr);
    if (!editor) return false;
    history_list = history_init();
    history(history_list, &history_event, H_SETSIZE, max_entries);
    history(history_list, &history_event, H_SETUNIQUE, 1);
    history_file = history_path;
    if (!history_file.empty()) history(history_list, &history_event, H_LOAD, history_file.c_str());
    el_set(editor, EL_EDITOR, "emacs");
    el_set(editor, EL_SIGNAL, 0);
    el_set(editor, EL_PROMPT, prompt_of);
    el_set(editor, EL_HIST, history, history_list);
    el_wset(editor, EL_GETCFN, read_key);  // wide: read_key decodes UTF-8 itself
    el_set(editor, EL_ADDFN, "norv-complete", "Complete the word before the cursor", complete_word);
    el_set(editor, EL_BIND, "^I", "norv-complete", nullptr);
    // Ctrl-R searches the history backwards; Alt-B/F move by words; Ctrl-W deletes a word back.
    el_set(editor, EL_BIND, "^R", "em-inc-search-prev", nullptr);
    el_set(editor, EL_BIND, "\\eb", "ed-prev-word", nullptr);
    el_set(editor, EL_BIND, "\\ef", "em-next-word", nullptr);
    el_set(editor, EL_BIND, "^W", "ed-delete-prev-word", nullptr);
    for (const char* home : {"\\e[H", "\\eOH", "\\e[1~"})
        el_set(editor, EL_BIND, home, "ed-move-to-beg", nullptr);
    for (const char* end : {"\\e[F", "\\eOF", "\\e[4~"})
        el_set(editor, EL_BIND, end, "ed-move-to-end", nullptr);
    el_set(editor, EL_BIND, "\\e[3~", "ed-delete-next-char", nullptr);
    el_source(editor, nullptr);  // the user's own ~/.editrc, when there is one
    struct sigaction sa {};
    sa.sa_handler = on_resize;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGWINCH, &sa, nullptr);
    return true;
}

int led_read_line(const char* prompt, std::string& line) {
    prompt_text = prompt;
    interrupted = false;
    listed_at.clear();
    con_flush();
    // The terminal goes into the editor's mode before the prompt shows: a key typed as soon as
    // the prompt is seen must reach the editor, not the terminal's own line handling.
    el_set(editor, EL_PREP_TERM, 1);
    int count = 0;
    const char* got = el_gets(editor, &count);
    if (interrupted) {
        // The line typed so far is dropped: the next read starts empty.
        el_reset(editor);
        return led_interrupted;
    }
    if (!got || count <= 0) return led_eof;
    line.assign(got, size_t(count));
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return int(line.size());
}

void led_remember(std::string_view entry) {
    std::string text(entry);
    history(history_list, &history_event, H_ENTER, text.c_str());
    save_history();
}

void led_set_completer(led_completer c) {
    completer = c;
}
