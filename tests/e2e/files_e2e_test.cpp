// Script files, DESC and IMP, file markers and the cursor export, end to end.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/e2e/harness.h"

namespace {

namespace fs = std::filesystem;

const std::string& prompt = sql_prompt;
const std::string& rule = heading_rule;

int count_of(const std::vector<std::string>& v, const std::string& s) {
    int n = 0;
    for (const auto& x : v)
        n += x == s;
    return n;
}

}  // namespace

class files_e2e : public norvlite_test {
protected:
    std::string session(const std::string& lines) {
        return norvlite_test::session(lines, cwd.path);
    }
    std::string file(const std::string& name) const { return cwd.path + "/" + name; }
    // The log lines of the fetches norvlite answered.
    int fetches() const {
        std::string log = server->proc.log();
        int n = 0;
        for (size_t at = 0;
             (at = log.find(": fetch 5000 from printf_cur1", at)) != std::string::npos; ++at)
            ++n;
        return n;
    }
    temp_dir cwd;
};

TEST_F(files_e2e, execfile_runs_each_marked_text_and_strips_the_path) {
    const std::string script =
        "EXECBEGIN create table a(x int, y varchar(30)) EXECEND\n"
        "EXECBEGIN insert into a values(1, 'EXECEND inside quotes') EXECEND\n";
    write_file(file("sql/a.sql"), script);
    std::string out = session("execfile 'sql/a.sql';\n");
    EXPECT_EQ(out, prompt + "Current file is sql/a.sql\n" + std::to_string(script.size()) +
                       " 1\n\n\n\r\nUse time:N ms.      \r\n" + prompt);
    auto sent = received();
    EXPECT_EQ(count_of(sent, " create table a(x int, y varchar(30)) "), 1);
    EXPECT_EQ(count_of(sent, " insert into a values(1, 'EXECEND inside quotes') "), 1);
}

TEST_F(files_e2e, execfile_without_execbegin_says_so_once_and_runs_nothing) {
    write_file(file("b.sql"), "create table b(x int);\n");
    std::string out = session("execfile b.sql\nexecfile missing.sql\n");
    EXPECT_EQ(out, prompt +
                       "Current file is b.sql\n23 1\nNot find EXECBEGIN,the sql in sh-file should "
                       "begin with EXECBEGIN and end with EXECEND \n\r\nUse time:N ms.      \r\n" +
                       prompt + "Current file is missing.sql\nthe file_path is not a file \r\n" +
                       prompt);
    EXPECT_EQ(received().size(), 1u) << "only the login's own statement";
}

TEST_F(files_e2e, execfile2_sends_files_of_a_directory_tree) {
    write_file(file("tree/x.sql"), "x;\n");
    const std::string y = "create table y(a int);\ninsert into y values(1);\n\n";
    write_file(file("tree/sub/y.sql"), y);
    write_file(file("tree/sub/z.txt"), "no semicolon at the end\n");
    // A link back to the top: the tree is listed once all the same.
    fs::create_directory_symlink("..", file("tree/sub/up"));
    std::string out = session("execfile2 \"tree\" ;\n");
    auto sent = received();
    EXPECT_EQ(count_of(sent, "x;"), 1);
    EXPECT_EQ(count_of(sent, "create table y(a int);\ninsert into y values(1);"), 1);
    EXPECT_EQ(sent.size(), 3u) << "a file not ending in ';' sends nothing";
    EXPECT_NE(
        out.find("Current file is tree/sub/y.sql\nfile_size " + std::to_string(y.size()) + "\n"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("Current file is tree/x.sql\nfile_size 3\nx;\n"), std::string::npos) << out;
}

TEST_F(files_e2e, scripts_over_4_mb_run_every_statement_once_and_whole) {
    std::string inserts;
    long long sum = 0;
    const int rows = 40000;
    for (int i = 1; i <= rows; ++i) {
        inserts += "insert into big values(" + std::to_string(i) + ", 'a; quoted '';'' text " +
                   std::string(60, 'x') + "');\n";
        sum += i;
    }
    ASSERT_GT(inserts.size(), 4u << 20);
    write_file(file("big1.sql"),
               "EXECBEGIN\ncreate table big(n int, t varchar(100));\n" + inserts + "EXECEND\n");
    write_file(file("big2.sql"), "create table big(n int, t varchar(100));\n" + inserts);
    for (const char* cmd : {"execfile big1.sql", "execfile2 big2.sql"}) {
        std::string out = session(std::string(cmd) +
                                  "\nselect count(*) as c, sum(n) as s, "
                                  "sum(length(t)) as l from big;\ndrop table big;\n");
        EXPECT_NE(out.find("\r\n" + std::to_string(rows) + " | " + std::to_string(sum) + " | " +
                           std::to_string(rows * 79) + " |\r\n"),
                  std::string::npos)
            << cmd << ": " << out.substr(0, 2000);
        EXPECT_NE(out.find("正在操作第2块数据\n"), std::string::npos) << cmd;
    }
}

TEST_F(files_e2e, desc_checks_the_name_and_describes_the_columns) {
    std::string out = session(
        "create table emp(id int not null, name char(20), pay numeric(10,2), \"emp.x\" int);\n"
        "desc emp;\ndesc \"emp\"\ndesc scott.emp\ndesc 1emp\ndesc emp$\ndesc emp x\n"
        "desc \"em p\ndesc " +
        std::string(256, 'e') + "\n");
    std::string description =
        "Column_Name                                       NULL       Data_Type" + rule +
        "id                                               | NOT NULL | INTEGER \r\n"
        "name                                             |          | CHAR(20) \r\n"
        "pay                                              |          | NUMERIC(10,2) \r\n"
        "x                                                |          | INTEGER \r\n";
    EXPECT_NE(out.find(prompt + description + prompt + description + prompt + "Error: "),
              std::string::npos)
        << out;
    EXPECT_NE(
        out.find(
            prompt + "Unexpected symbol:1\r\n" + prompt + "Unexpected symbol:$\r\n" + prompt +
            "\ndescCommand uses the error, the correct usage：desc [schemaname.]tablename[;]\n" +
            prompt + "Double quotation marks do not match\r\n" + prompt + "Character too many\r\n" +
            prompt),
        std::string::npos)
        << out;
    auto sent = received();
    EXPECT_EQ(count_of(sent, "select * from  emp limit 0"), 1);
    EXPECT_EQ(count_of(sent, "select * from  \"emp\" limit 0"), 1);
    EXPECT_EQ(count_of(sent, "select * from  scott.emp limit 0"), 1);
}

TEST_F(files_e2e, a_desc_whose_reply_is_lost_retries_its_own_query) {
    server.reset();
    start({"--drop-on", "limit 0"});
    std::string out = session(
        "create table t(a int);\ninsert into t values(1);\ndesc t\n"
        "select count(*) as n from t;\n");
    EXPECT_NE(
        out.find(prompt +
                 "Net disconnect,reconnect.\r\n\r\nConnect ok.\r\n"
                 "Column_Name                                       NULL       Data_Type" +
                 rule +
                 "a                                                |          | INTEGER \r\n" +
                 prompt),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("\r\nn | " + rule + "1 |\r\n"), std::string::npos)
        << "the insert ran once: " << out;
    auto sent = received();
    EXPECT_EQ(count_of(sent, "insert into t values(1);"), 1);
    EXPECT_EQ(count_of(sent, "select * from  t limit 0"), 2);
}

TEST_F(files_e2e, imp_checks_the_file_and_the_table_then_loads_it) {
    write_file(file("data.txt"), "1|a\n2|b\n");
    std::string out = session(
        "create table t(a int, b varchar(5));\nimp s.t data.txt\nimp t nofile.txt\n"
        "imp nosuch data.txt\nimp T data.txt\nimp main.t data.txt\n"
        "select count(*) as n from t;\n");
    EXPECT_NE(out.find(prompt + "tab:t   scs"), std::string::npos) << out;
    EXPECT_NE(out.find(prompt + "Open file nofile.txt failed!\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find(prompt + "There something wrong!Unable to identify the table!\r\n"),
              std::string::npos);
    // The command IMP builds runs through the loader: '|' fields, LF rows, ./load.log.
    EXPECT_NE(out.find(prompt + "append_mode:0\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\r\nLoad table T Sucessed\r\n\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find(prompt + "tab:t   scmainappend_mode:0\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\r\nLoad table main.t Sucessed\r\n\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\r\nn | " + rule + "4 |\r\n"), std::string::npos) << out;
    EXPECT_TRUE(fs::exists(file("load.log")));
}

TEST_F(files_e2e, parameter_files_are_stored_byte_for_byte) {
    std::string text = "line one\nline 'two'\n";
    std::string bytes("\x00\x01\xff\r\n\x7f", 6);
    write_file(file("text.txt"), text);
    write_file(file("bytes.bin"), bytes);
    write_file(file("out.bin"), std::string(100, '#'));  // longer than what is written over it
    write_file(file("huge.txt"), "");
    fs::resize_file(file("huge.txt"), std::uintmax_t(1) << 31);  // sparse: no disk space used
    std::string too_many = "insert into p values(3, ?, null) ;";
    for (int i = 0; i < 101; ++i)
        too_many += " <% text.txt";
    too_many += ";";
    std::string out = session(
        "create table p(n int, c clob, b blob);\n"
        "insert into p values(1, ?, ?) ; <% text.txt <# bytes.bin;\n"
        "select c from p ># out.txt;\nselect b from p ># out.bin;\nselect c from p >% crlf.txt;\n"
        "insert into p values(2, ?, null) ; <% missing.txt;\n"
        "insert into p values(2, ?, null) ; <% huge.txt;\n" +
        too_many +
        "\n"
        "select count(*) as n from p;\nselect 'a>%b' as v;\n");
    EXPECT_EQ(read_file(file("out.txt")), text);
    EXPECT_EQ(read_file(file("out.bin")), bytes) << "the old, longer file is replaced";
    EXPECT_EQ(read_file(file("crlf.txt")), "line one\r\nline 'two'\r\n");
    EXPECT_NE(out.find(prompt + "Open file missing.txt failed.\r\n" + prompt), std::string::npos)
        << out;
    EXPECT_NE(out.find(prompt + "File huge.txt is too large for a parameter.\r\n" + prompt),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(prompt + "Too many parameter files: at most 100\r\n" + prompt),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\r\nn | " + rule + "1 |\r\n"), std::string::npos)
        << "only the first insert ran";
    EXPECT_NE(out.find("\r\nv | " + rule + "a>%b|\r\n"), std::string::npos)
        << "a marker in quotes is text";
    EXPECT_NE(out.find(prompt + "Use time:N ms.      \r\n\r\nTotal 1 records.\r\n\r\n"),
              std::string::npos)
        << out;
}

TEST_F(files_e2e, parameter_files_are_read_to_their_end_whatever_their_status_says) {
    // A pipe and a file of /proc show no size in their status; a file over 1 MiB is sent from
    // the file as it is read.
    std::string piped(size_t(3) << 20, 'p'), big((size_t(3) << 20) + 7, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 % 251);
    write_file(file("big.bin"), big);
    ASSERT_EQ(mkfifo(file("pipe").c_str(), 0600), 0);
    signal(SIGPIPE, SIG_IGN);  // a console that stops reading must not end the test
    std::thread writer([&] { std::ofstream(file("pipe"), std::ios::binary) << piped; });
    std::string out = session(
        "create table p(n int, c clob, b blob);\n"
        "insert into p values(1, ?, ?) ; <% /proc/sys/kernel/ostype <# pipe;\n"
        "insert into p values(2, null, ?) ; <$ big.bin;\n"
        "select c from p where n = 1 ># ostype.txt;\nselect b from p where n = 1 ># piped.bin;\n"
        "select b from p where n = 2 ># big.out;\n");
    writer.join();
    EXPECT_EQ(read_file(file("ostype.txt")), read_file("/proc/sys/kernel/ostype")) << out;
    EXPECT_FALSE(read_file(file("ostype.txt")).empty());
    EXPECT_TRUE(read_file(file("piped.bin")) == piped);
    EXPECT_TRUE(read_file(file("big.out")) == big);
}

TEST_F(files_e2e, export_writes_bar_separated_rows_through_the_cursor) {
    std::string out = session(
        "create table x(n int, c varchar(20), d date, i interval_y2m);\n"
        "insert into x values(1, 'two\nlines', '-0001-03-01', -5), (2, null, '2024-01-15', 14);\n"
        "select * from x >$ plain.txt;\nset sput_head on\nselect n as \"T.N\", c from x >$ "
        "head.txt;\n");
    EXPECT_EQ(read_file(file("plain.txt")),
              "1|two^%lines|0002-03-01 BC|       -0-05|\r\n2||2024-01-15 AD|        1-02|\r\n");
    EXPECT_EQ(read_file(file("head.txt")), "N|c|\r\n1|two^%lines|\r\n2||\r\n");
    EXPECT_NE(out.find(prompt + "\r\nTotal:2 record" + prompt), std::string::npos) << out;
    auto sent = received();
    EXPECT_EQ(count_of(sent, "close printf_cur1"), 2);
}

TEST_F(files_e2e, output_files_that_cannot_take_the_rows_are_never_reported_complete) {
    // Every write to /dev/full fails with "no space left".
    std::string out = session(
        "create table t(a varchar(10));\ninsert into t values('x'),('y');\n"
        "select a from t >$ /dev/full;\nselect a from t ># /dev/full;\n");
    EXPECT_NE(out.find("\r\nWriting /dev/full failed after 2 records: the file is incomplete.\r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\r\nWriting /dev/full failed: the file holds only part of the result.\r\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Total:2 record"), std::string::npos) << out;
    EXPECT_EQ(out.find("Total 2 records."), std::string::npos) << out;
}

TEST_F(files_e2e, export_fetches_5000_rows_at_a_time_and_reports_progress) {
    std::string make =
        "create table big(n int);\ninsert into big with recursive c(x) as (select 1 "
        "union all select x + 1 from c where x < 100000) select x from c;\n";
    auto progress_lines = [](const std::string& out) {
        int n = 0;
        for (size_t at = 0; (at = out.find("Have export", at)) != std::string::npos; ++at)
            ++n;
        return n;
    };
    std::string out = session(make + "select n from big where n < 5000 >$ a.txt;\n");
    EXPECT_EQ(fetches(), 1) << "4999 rows: one fetch";
    EXPECT_EQ(progress_lines(out), 0) << out;
    out = session("select n from big where n <= 5000 >$ b.txt;\n");
    EXPECT_EQ(fetches(), 1 + 2) << "5000 rows: a second, empty fetch ends it";
    EXPECT_EQ(progress_lines(out), 0) << out;
    out = session("select n from big >$ c.txt;\n");
    EXPECT_EQ(fetches(), 3 + 21);
    EXPECT_NE(out.find("\r\nHave export 100000 redords\r\nTotal:100000 record"), std::string::npos)
        << out;
    EXPECT_EQ(progress_lines(out), 1) << out;
    std::string c = read_file(file("c.txt"));
    EXPECT_TRUE(c.starts_with("1|\r\n2|\r\n3|\r\n")) << c.substr(0, 100);
    EXPECT_EQ(c.substr(c.size() - 11), "\r\n100000|\r\n");
}
