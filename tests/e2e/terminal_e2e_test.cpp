// The console at a terminal: line editing, history, completion, Ctrl+C and Ctrl+D, through a
// pseudo-terminal, each line typed at its own prompt.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/e2e/harness.h"
#include "tests/support/process.h"

namespace {

const std::string up = "\x1b[A";
const std::string left = "\x1b[D";
const std::string ctrl_r = "\x12";

// The history file's entries (after its first line), lines joined by their encoded line ends.
std::vector<std::string> history_entries(const std::string& path) {
    std::vector<std::string> entries;
    std::string text = read_file(path);
    size_t at = text.find('\n');
    while (at != std::string::npos && at + 1 < text.size()) {
        size_t next = text.find('\n', at + 1);
        entries.push_back(text.substr(at + 1, next - at - 1));
        at = next;
    }
    return entries;
}

}  // namespace

class terminal_e2e : public norvlite_test {};

// Both platforms: the line editor here, on Windows a line of the console host's own line mode
// (ReadConsoleW), read as the bytes of its code page. Only what the server received is compared:
// a console under an emulator draws its screen with sequences of its own, and its terminal turns
// an arrow key's bytes into a key only now and then, so there the line is typed plain (the
// editing keys are the console host's, not the console's).
TEST_F(terminal_e2e, a_line_typed_at_the_terminal_is_read_with_its_editing_done) {
    auto term = start_norvsql_pty(login());
    ASSERT_NE(term, nullptr);
    ASSERT_TRUE(term->expect("SQL>", 20000));
    if (console_under_emulator())
        term->type("select 42 as n;\r");
    else
        term->type("select 4 as n;" + left + left + left + left + left + left + "2\r");
    // The emulator's screen may draw the prompt in pieces: wait for the server instead.
    auto sent_yet = [&] {
        auto sent = received();
        return std::find(sent.begin(), sent.end(), "select 42 as n;") != sent.end();
    };
    for (int i = 0; i < 400 && !sent_yet(); ++i)
        usleep(50000);
    EXPECT_TRUE(sent_yet()) << ::testing::PrintToString(received()) << term->seen;
    term->type("exit\r");
    EXPECT_EQ(term->finish(20000), 0);
}

TEST_F(terminal_e2e, lines_are_edited_recalled_completed_and_interrupted) {
    NORV_NATIVE_CONSOLE_ONLY("the line editor's history, completion and signals");
    temp_dir home;
    write_file(home.path + "/files/alpha.sql", "");
    const std::string hist = home.path + "/hist";
    std::string old = "_HiStOrY_V2_\n";
    for (int i = 0; i < 2100; ++i)
        old += "select\\040" + std::to_string(i) + ";\n";
    write_file(hist, old);
    setenv("NORVSQL_HISTORY", hist.c_str(), 1);
    auto term = start_norvsql_pty(login(), home.path);
    unsetenv("NORVSQL_HISTORY");
    ASSERT_NE(term, nullptr);
    auto line = [&](const std::string& keys, const std::string& then) {
        term->type(keys);
        bool seen = term->expect(then);
        if (!seen) ADD_FAILURE() << term->seen.substr(term->consumed);
        return seen;
    };
    ASSERT_TRUE(term->expect("SQL> "));
    // A typo in the middle of the line, mended with the arrow keys.
    ASSERT_TRUE(line("create tble w(a int);", "int);"));
    std::string back;
    for (int i = 0; i < 13; ++i)  // to just after the "t" of "tble"
        back += left;
    ASSERT_TRUE(line(back + "a\r", "Execute successful."));
    ASSERT_TRUE(term->expect("SQL> "));
    // A statement of three lines, recalled whole with Up and run again.
    ASSERT_TRUE(line("insert into w\r", "2    "));
    ASSERT_TRUE(line("values\r", "3    "));
    ASSERT_TRUE(line("(7);\r", "Total 1 records effected."));
    ASSERT_TRUE(term->expect("SQL> "));
    ASSERT_TRUE(line(up + "\r", "Total 1 records effected."));
    ASSERT_TRUE(term->expect("SQL> "));
    // Ctrl-R finds the create statement's entry by a piece of it.
    ASSERT_TRUE(line(ctrl_r, "bck:"));
    ASSERT_TRUE(line("create\r", "Error: ")) << "the table exists already";
    // Secrets are not kept.
    ASSERT_TRUE(line("alter user norv password 'x';\r", "SQL> "));
    // Tab: a command word, an option word, a table name, a file name.
    // (The editor redraws what a Tab inserts: what the line ran shows what was completed.)
    ASSERT_TRUE(line("sho\tpages\t\r", "pagesize 10\r"));
    ASSERT_TRUE(line("select a from \t;\r", "7 |"));
    // A new connection asks again, even where the closed one's memory is reused.
    ASSERT_TRUE(line("create table zq(b int);\r", "Execute successful."));
    ASSERT_TRUE(line("reconnect\r", "Connect ok."));
    ASSERT_TRUE(line("insert into z\t values(5);\r", "Total 1 records effected."));
    ASSERT_TRUE(line("execfile files/al\t\r", "Current file is files/alpha.sql"));
    ASSERT_TRUE(term->expect("SQL> "));
    // Ctrl+C drops the line, and a statement of several lines, without ending the console.
    ASSERT_TRUE(line("\x03", "SQL> "));
    ASSERT_TRUE(line("select a\r", "2    "));
    ASSERT_TRUE(line("from w\x03", "SQL> "));
    ASSERT_TRUE(line("select 9 as z;\r", "9 |"));
    ASSERT_TRUE(term->expect("SQL> "));
    term->type("\x04");
    EXPECT_EQ(term->finish(), 0) << "Ctrl+D on an empty line ends the console like EXIT";

    auto sent = received();
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "insert into w\nvalues\n(7);"), 2);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "create table w(a int);"), 2)
        << "the entry Ctrl-R found ran again";
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "select a\nfrom w;"), 0);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "select table_name from dba_tables"), 2);
    struct stat st {};
    ASSERT_EQ(stat(hist.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    auto entries = history_entries(hist);
    EXPECT_EQ(entries.size(), 2000u) << "the newest 2000 kept";
    EXPECT_EQ(entries.back(), "select\\0409\\040as\\040z;");
    EXPECT_NE(
        std::find(entries.begin(), entries.end(), "insert\\040into\\040w\\012values\\012(7);"),
        entries.end())
        << "three lines, one entry";
    for (const std::string& e : entries)
        EXPECT_EQ(e.find("password"), std::string::npos) << e;
}

class terminal_hold_e2e : public norvlite_test {
protected:
    void SetUp() override { start({"--hold-on", "slowquery"}); }
    // A held reply cancelled with Ctrl+C; the next statement reconnects and runs. line holds
    // the held text; held is the statement the server received for it.
    void cancel_a_held_reply(const std::string& mode, const std::string& cwd = "",
                             const std::string& line = "select 'slowquery' as s;",
                             const std::string& held = "select 'slowquery' as s;") {
        NORV_NATIVE_CONSOLE_ONLY("Ctrl+C as the terminal's signal");
        auto term = start_norvsql_pty(login(mode), cwd);
        ASSERT_NE(term, nullptr);
        ASSERT_TRUE(term->expect("SQL> "));
        term->type(line + "\r");
        ASSERT_TRUE(term->expect(line));
        usleep(300000);  // the reply is held: the console waits for it
        term->type("\x03");
        ASSERT_TRUE(term->expect(
            "Cancelled: the statement was sent and the server may still have run it.\r"));
        ASSERT_TRUE(term->expect("SQL> "));
        term->type("select 3 as c;\r");
        ASSERT_TRUE(term->expect("3 |")) << "the next statement reconnects and runs";
        ASSERT_TRUE(term->expect("SQL> "));
        term->type("exit\r");
        EXPECT_EQ(term->finish(), 0);
        auto sent = received();
        EXPECT_EQ(std::count(sent.begin(), sent.end(), held), 1)
            << "a cancelled statement is not run again";
    }
};

TEST_F(terminal_hold_e2e, ctrl_c_while_a_reply_is_awaited_cancels_it_and_the_console_goes_on) {
    cancel_a_held_reply("NSSL");
}

TEST_F(terminal_hold_e2e, ctrl_c_cancels_an_export_fetch_like_a_statement) {
    temp_dir cwd;
    cancel_a_held_reply("NSSL", cwd.path, "select 'slowquery' as s >$ out.txt;",
                        "declare printf_cur1 cursor for select 'slowquery' as s ");
}

class terminal_load_hold_e2e : public terminal_hold_e2e {
protected:
    void SetUp() override { start({"--load-delay-ms", "2000"}); }
};

TEST_F(terminal_load_hold_e2e, ctrl_c_cancels_the_wait_for_a_loads_replies) {
    temp_dir cwd;
    write_file(cwd.path + "/d.txt", "1\n2\n");
    run_console("create table t(a int);\n");
    cancel_a_held_reply("NSSL", cwd.path, "tabldr table=t datafile=d.txt ft='|' rt=X'0a'",
                        "LOAD TABLE t         FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS "
                        "TERMINATED BY '|'  PARALLEL 1,1 ;");
}

class terminal_hold_tls_e2e : public terminal_hold_e2e {
protected:
    void SetUp() override {
        ASSERT_FALSE(test_certs().empty()) << "scripts/gen-certs failed";
        start({"--hold-on", "slowquery", "--certs", test_certs()});
    }
};

TEST_F(terminal_hold_tls_e2e, ctrl_c_cancels_a_reply_awaited_on_tls) {
    temp_dir cwd;
    ASSERT_TRUE(install_client_certs(test_certs(), cwd.path, "driver"));
    cancel_a_held_reply("tls", cwd.path);
}
