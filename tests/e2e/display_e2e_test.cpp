// Settings, the result grid and the client commands end to end.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tests/e2e/harness.h"

namespace {

const std::string& prompt = sql_prompt;
const std::string& rule = heading_rule;

// Creates table n(a) holding 1..count.
std::string numbers_table(int count) {
    std::string sql = "create table n(a int);\ninsert into n values";
    for (int i = 1; i <= count; ++i)
        sql += (i > 1 ? ",(" : "(") + std::to_string(i) + ")";
    return sql + ";\n";
}

}  // namespace

class display_e2e : public norvlite_test {};

TEST_F(display_e2e, set_show_and_reset_print_their_messages) {
    std::string out = session(
        "set pagesize 20;\nset pagesize 20 x\nset pagesize 123456789\nset pagesize 12345678\n"
        "set pagesize 0\nset str_size 007\nset str_size 0\nshow str_size\nset num_size 38\n"
        "set num_size 39\nset num_size 100\nset heading onx\nset heading on x\nset heading off\n"
        "show heading\nset show_type on\nshow show_type\nset sput_head maybe\nset b_pause on;;\n"
        "set show_time off\nset null -\nset null toolong\nreset pagesize\nshow pagesize\n"
        "reset num_size\nreset heading;\nRESET foo bar\nset auto_commit maybe\n"
        "set date_format xx\nset date_format yyyy/mm\n");
    std::string expected;
    for (const char* line : {"pagesize 20\r\n",
                             "Invalid number:20 x\r\n",
                             "Invalid number:123456789\r\n",
                             "pagesize 12345678\r\n",
                             "Fail! pagesize Need to be greater than 0\r\n",
                             "str_size 7\r\n",
                             "Fail! str_size Need to be greater than 0\r\n",
                             "str_size 0\r\n",
                             "NUM_SIZE 38\r\n",
                             "The specified precision too large",
                             "Invalid number:100\r\n",
                             "heading must be ON or OFF\r\n",
                             "HEADING must be ON or OFF\r\n",
                             "HEADING OFF\r\n",
                             "heading off\r\n",
                             "SHOW_TYPE ON\r\n",
                             "show_type on\r\n",
                             "SPUT_HEAD MUST BE ON or OFF\r\n",
                             "B_PAUSE ON\r\n",
                             "SHOW_TIME OFF\r\n",
                             "NULL will be display as -\r\n",
                             "NULL must specify a format \r\n",
                             "pagesize 5\r\n",
                             "pagesize 5\r\n",
                             "num_size 12\r\n",
                             "heading on\r\n",
                             "reset type RESET is unknown\r\n",
                             "AUTO_COMMIT must be ON or OFF\r\n",
                             "\r\nERROR:参数错误，请指定正确日期名称",
                             "\r\nERROR:Wrong date format!"})
        expected += prompt + line;
    EXPECT_EQ(out, expected + prompt);
}

TEST_F(display_e2e, unknown_options_go_to_the_server) {
    std::string out = session("show max_idle_time\nset client_encoding utf8\nshow tables\n");
    EXPECT_EQ(out, prompt + "\r\nmax_idle_time | " + rule + "28800 |\r\nUse time:N ms.     \r\n" +
                       prompt + "\r\nExecute successful.Use time:N ms.     \r\n" + prompt +
                       "\r\ntable_name | " + rule + "Use time:N ms.     \r\n" + prompt);
}

TEST_F(display_e2e, headings_null_text_types_and_date_formats) {
    std::string out = session(
        "create table d(x date, n numeric(10,2), c char(20), \"S.T.COL\" int, \"A%B\" int);\n"
        "insert into d values('2024-01-15', 1.5, 'ab', null, 2);\nselect * from d;\n"
        "set null -\nset date_format dd.mm.yyyy\nset show_type on\nselect * from d;\n");
    size_t listing = out.find("\r\nx | n | c | T.COL | B | " + rule +
                              "2024-01-15 AD | 1.50| ab| <NULL>| 2 |\r\n\r\nTotal 1 records.");
    EXPECT_NE(listing, std::string::npos) << out;
    EXPECT_NE(out.find("\r\nx(DATE) | n(NUMERIC(10,2)) | c(CHAR(20)) | T.COL(INTEGER) | "
                       "B(INTEGER) | " +
                       rule + "15.01.2024 AD | 1.50| ab| -| 2 |\r\n"),
              std::string::npos)
        << out;
}

TEST_F(display_e2e, an_empty_result_prints_its_heading_and_a_zero_total) {
    std::string out =
        session("create table e(a int);\nselect a from e;\nset heading off\nselect a from e;\n");
    EXPECT_NE(
        out.find(prompt + "\r\na | " + rule + "\r\nTotal 0 records.\r\nUse time:N ms.     \r\n"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find(prompt + "\r\nTotal 0 records.\r\n"), std::string::npos) << out;
}

TEST_F(display_e2e, pages_repeat_the_heading_and_pause_until_a_key) {
    // pagesize 10 switches B_PAUSE on; the key read after each page is the next input byte.
    auto listing = [](int shown, bool last_row_ends) {
        std::string expected = "\r\na | " + rule;
        for (int i = 1; i <= shown; ++i) {
            if (i % 10 == 1 && i > 1) expected += "\r\na | " + rule;
            expected += std::to_string(i) + " |";
            if (i != shown || last_row_ends) expected += "\r\n";
        }
        return expected + "\r\nTotal 25 records.\r\nUse time:N ms.     \r\n";
    };
    // Keys that go on: headings before rows 1, 11 and 21, every row listed.
    std::string out = session(numbers_table(25) + "set pagesize 10\nselect a from n;\n  \n");
    EXPECT_NE(out.find(prompt + listing(25, true)), std::string::npos) << out;
    // Q after row 10 stops the listing; the total still counts every row.
    out = session("set pagesize 10\nselect a from n;\nQ\n");
    EXPECT_NE(out.find(prompt + listing(10, false)), std::string::npos) << out;
    // q after row 20.
    out = session("set pagesize 10\nselect a from n;\n q\n");
    EXPECT_NE(out.find(prompt + listing(20, false)), std::string::npos) << out;
}

TEST_F(display_e2e, pagesize_0_prints_one_heading_and_never_pauses) {
    std::string out = session(numbers_table(12) + "set pagesize 0\nselect a from n;\n");
    std::string expected = "\r\na | " + rule;
    for (int i = 1; i <= 12; ++i)
        expected += std::to_string(i) + " |\r\n";
    EXPECT_NE(out.find(prompt + expected + "\r\nTotal 12 records."), std::string::npos) << out;
}

TEST_F(display_e2e, spool_copies_statements_and_rows_into_the_file) {
    temp_dir cwd;
    std::string listed = session(numbers_table(2) +
                                     "spool out.txt;\nselect a from n;\nspool off;\n"
                                     "select 9;\nspool off\n",
                                 cwd.path);
    // With no spool active, SPOOL OFF only switches spooling off: nothing printed or written.
    EXPECT_EQ(listed.substr(listed.size() - 2 * prompt.size()), prompt + prompt) << listed;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cwd.path),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_EQ(read_file(cwd.path + "/out.txt"),
              "\r\nSQL> spool out.txt\r\n\r\nSQL> select a from n;\n\r\na | " + rule +
                  " 1 |\r\n 2 |\r\n\r\nSQL> spool off\r\n");
    std::string out = session("spool /no/such/dir/x.txt\n", cwd.path);
    EXPECT_EQ(out, prompt + "ERROR：指定文件的路径不正确！" + prompt);
}

TEST_F(display_e2e, replace_command_edits_the_buffer_and_runs_it) {
    std::string out = session("select 'emp' as a, 'emp' as b;\nc/emp/dept\nc/a/b/\nc/zzz/y\n");
    EXPECT_NE(out.find(prompt + "\nselect 'dept' as a, 'dept' as b;\r\na | b | " + rule +
                       "dept| dept|\r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(prompt + "\n“C/”Command correct usage：c/string1/string2\n" + prompt +
                       "A string that needs replacing is not found in the source string." + prompt),
              std::string::npos)
        << out;
}

TEST_F(display_e2e, session_user_use_probe_help_and_clbuff) {
    std::string out = session("$ scott\nsqlldrx table=t\nuse other\nclbuff\n/\nhelp\n");
    const std::string user_set =
        prompt + "Set session authorization ok. current session user is scott\r\n\r\n" + prompt;
    EXPECT_EQ(out.substr(0, user_set.size()), user_set);
    EXPECT_NE(out.find(" db_name other \n\r\nExecute successful.Use time:N ms.     \r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(prompt + "nothing in the buffer\r\n"), std::string::npos);
    EXPECT_NE(out.find(prompt + "Type command as fallow:\r\n"), std::string::npos);
    auto sent = server_statements(*server);
    bool user = false, probe = false;
    for (const auto& s : sent) {
        user |= s == "Set session authorization 'scott';";
        probe |= s == "SELECT * FROM DUAL";
    }
    EXPECT_TRUE(user);
    EXPECT_TRUE(probe) << "sqlldrx probes the connection";
    // The probe is all it does: its reply is not shown and the next statement is USE's.
    const std::string next = prompt + " db_name other \n";
    EXPECT_EQ(out.compare(user_set.size(), next.size(), next), 0) << out;
    auto at = std::find(sent.begin(), sent.end(), "SELECT * FROM DUAL");
    ASSERT_NE(at, sent.end());
    ASSERT_NE(at + 1, sent.end());
    EXPECT_EQ(at[1], "use other");
}

TEST_F(display_e2e, use_changes_the_database_of_later_reconnects) {
    session("use other\nreconnect\n");
    std::string log = server->proc.log();
    size_t first = log.find("login accepted");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("database 'demo'", first), std::string::npos) << log;
    size_t second = log.find("login accepted", first + 1);
    ASSERT_NE(second, std::string::npos) << "the reconnect logged in: " << log;
    std::string line = log.substr(second, log.find('\n', second) - second);
    EXPECT_NE(line.find("database 'other',"), std::string::npos) << line;
}

TEST_F(display_e2e, login_returns_to_the_banner_and_asks_again) {
    run_result r = run_norvsql(login(), "login\n127.0.0.1\n" + port + "\ndemo\nnorv\nnorv\nexit\n");
    EXPECT_EQ(r.status, 0);
    std::string connected = "\r\nConnect to 127.0.0.1:" + port + " demo norv \r\nConnect ok.\r\n";
    EXPECT_EQ(r.out, banner + connected + prompt + banner +
                         "Please input server URL:Please input server port:"
                         "Please input database name:Please input user name:"
                         "Please input password:****\n" +
                         connected + prompt);
}

TEST_F(display_e2e, edit_runs_the_editor_on_the_buffer_and_lists_it) {
    NORV_NATIVE_CONSOLE_ONLY("a shell-script editor, which Wine starts without waiting for it");
    temp_dir cwd;
    // The "editor" appends a line to the file it is given.
    std::string editor = cwd.path + "/ed.sh";
    {
        std::ofstream e(editor);
        e << "#!/bin/sh\nprintf 'from dual\\n' >> \"$1\"\n";
    }
    std::filesystem::permissions(editor, std::filesystem::perms::owner_all);
    setenv("VISUAL", editor.c_str(), 1);
    std::string out = session("select 1\n\nedit\n", cwd.path);
    unsetenv("VISUAL");
    EXPECT_NE(out.find("Has been written in edit.txt\t\n1    select 1\n2    from dual\n"),
              std::string::npos)
        << out;
}

TEST_F(display_e2e, ctrl_c_while_the_editor_runs_is_the_editors) {
    NORV_NATIVE_CONSOLE_ONLY("a POSIX signal and a shell-script editor");
    // The editor gets Ctrl+C twice (its terminal sends it to the console too): the console
    // neither ends nor acts on it later.
    temp_dir cwd;
    std::string editor = cwd.path + "/ed.sh";
    {
        std::ofstream e(editor);
        e << "#!/bin/sh\nkill -INT $PPID; kill -INT $PPID; sleep 0.2\n"
             "printf 'from dual\\n' >> \"$1\"\n";
    }
    std::filesystem::permissions(editor, std::filesystem::perms::owner_all);
    setenv("VISUAL", editor.c_str(), 1);
    std::string out = session("select 1\n\nedit\n/\n", cwd.path);
    unsetenv("VISUAL");
    EXPECT_NE(out.find("Has been written in edit.txt\t\n1    select 1\n2    from dual\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\r\n1 | " + rule + "1 |\r\n"), std::string::npos) << out;
}

TEST_F(display_e2e, the_time_of_day_prompt_shows_when_show_time_is_on) {
    std::string out = session("set show_time on\n");
    EXPECT_TRUE(std::regex_search(
        out, std::regex("SHOW_TIME ON\r\n\r\n[0-2][0-9]:[0-5][0-9]:[0-6][0-9]  SQL>$")))
        << out;
}

TEST_F(display_e2e, edit_without_an_editor_leaves_the_buffer_alone) {
    temp_dir cwd;
    setenv("VISUAL", "/no/such/editor", 1);
    std::string out = session("select 1\n\nedit\n/\n", cwd.path);
    unsetenv("VISUAL");
    EXPECT_NE(out.find("No editor could be started: the buffer is unchanged.\r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\r\n1 | " + rule + "1 |\r\n"), std::string::npos)
        << "/ still runs select 1";
}

TEST_F(display_e2e, ctrl_c_ends_a_listing_and_the_total_still_counts_every_row) {
    NORV_NATIVE_CONSOLE_ONLY("needs a pseudo-terminal");
    auto term = start_norvsql_pty(login());
    ASSERT_NE(term, nullptr);
    ASSERT_TRUE(term->expect("SQL> "));
    term->type("create table n(a int);\r");
    ASSERT_TRUE(term->expect("SQL> "));
    term->type(
        "insert into n with recursive c(x) as (select 1 union all select x + 1 from c "
        "where x < 300000) select x from c;\r");
    ASSERT_TRUE(term->expect("Total 300000 records effected."));
    ASSERT_TRUE(term->expect("SQL> "));
    term->type("set pagesize 0\r");
    ASSERT_TRUE(term->expect("SQL> "));
    term->type("select a from n;\r");
    ASSERT_TRUE(term->expect("\n1000 |"));
    term->type("\x03");
    ASSERT_TRUE(term->expect("Total 300000 records.", 30000));
    EXPECT_EQ(term->seen.find("\n300000 |"), std::string::npos) << "the listing went on to the end";
    ASSERT_TRUE(term->expect("SQL> "));
    term->type("select 5 as b;\r");
    ASSERT_TRUE(term->expect("5 |")) << "the console goes on after the cancel";
    term->type("exit\r");
    EXPECT_EQ(term->finish(), 0);
}

TEST_F(display_e2e, a_key_typed_while_a_paused_listing_prints_waits_unechoed_for_the_pause) {
    NORV_NATIVE_CONSOLE_ONLY("needs a pseudo-terminal");
    auto term = start_norvsql_pty(login());
    ASSERT_NE(term, nullptr);
    ASSERT_TRUE(term->expect("SQL> "));
    term->type("create table n(a int);\r");
    ASSERT_TRUE(term->expect("SQL> "));
    term->type(
        "insert into n with recursive c(x) as (select 1 union all select x + 1 from c "
        "where x < 50000) select x from c;\r");
    ASSERT_TRUE(term->expect("Total 50000 records effected."));
    // Each line is typed at its own prompt: typed earlier, its echo would mix with the output.
    ASSERT_TRUE(term->expect("SQL> "));
    term->type("set pagesize 20000\r");
    ASSERT_TRUE(term->expect("SQL> "));
    // At the prompt the line editor has the terminal in its own mode (echo off, keys one by
    // one); it sets it once it waits for keys.
    usleep(200000);
    const long at_prompt = term->terminal_modes();
    ASSERT_FALSE(at_prompt & ICANON);
    term->type("select a from n;\r");
    ASSERT_TRUE(term->expect("\n1 |"));
    // The console is still printing the first page: the terminal holds what was not read yet.
    const long listing = term->terminal_modes();
    EXPECT_FALSE(listing & ECHO) << "keys typed now would show among the rows";
    EXPECT_TRUE(listing & ISIG) << "Ctrl+C must still cancel the listing at once";
    term->type("Z");
    // The Z waited for the first pause and went on past it; Q at the second pause ends it.
    ASSERT_TRUE(term->expect("\n40000 |", 60000)) << term->seen.substr(term->seen.size() - 200);
    term->type("q");
    ASSERT_TRUE(term->expect("Total 50000 records."));
    ASSERT_TRUE(term->expect("SQL> "));
    const size_t from = term->seen.find("select a from n;");
    const std::string rows =
        term->seen.substr(from, term->seen.find("Total 50000 records.") - from);
    EXPECT_EQ(rows.find('Z'), std::string::npos) << "the key was echoed into the listing";
    EXPECT_NE(rows.find("\n20001 |"), std::string::npos);
    EXPECT_EQ(rows.find("\n40001 |"), std::string::npos);
    EXPECT_EQ(term->terminal_modes(), at_prompt) << "the terminal is restored after the listing";
    term->type("exit\r");
    EXPECT_EQ(term->finish(), 0);
}
