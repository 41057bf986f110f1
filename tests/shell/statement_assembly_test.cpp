// Statement assembly, line by line, without a loop, a console or a server: what each line of an
// input makes of the statement being entered, and what the buffer holds at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "shell/statement_assembly.h"

namespace {

char buff[sql_buff_size];

struct fed {
    std::string trace;     // per line: the continuation number, run, drop or the command's word,
                           // then [the message] if any
    std::string begins;    // per line: 1 when it began a statement
    statement_assembly a;  // as the last line left it
};

// Feeds the lines of text as the loop does: a new statement after every line that ended one.
fed feed(std::string_view text) {
    buff[0] = '\0';
    fed f;
    for (size_t at = 0; at <= text.size();) {
        size_t nl = std::min(text.find('\n', at), text.size());
        assembly_step s = step_line(f.a, buff, text.substr(at, nl - at));
        at = nl + 1;
        using enum assembly_action;
        f.trace += (f.trace.empty() ? "" : " ") +
                   (s.action == wait      ? std::to_string(s.continuation)
                    : s.action == command ? s.command->word
                    : s.action == run     ? "run"
                                          : "drop") +
                   (s.message.empty() ? "" : "[" + s.message + "]");
        f.begins += s.begins ? '1' : '0';
        if (s.ends() && at <= text.size()) f.a = statement_assembly{};
    }
    return f;
}

struct rule_case {
    std::string lines;
    std::string trace;
    const char* buffer;  // what sql_buff holds at the end
};

const std::string w20(20, 'a'), w21(21, 'w');
const char prepare_msg[] = "[控制台暂时不支持带参数的prepare语句\n]";

const rule_case rule_cases[] = {
    // Words outside the multi-line table run at the end of their line; the buffer then holds
    // the line alone. Words compare whole and ignore case; the first word stops at ';'.
    {"commit", "run", "commit"},
    {"withdraw", "run", "withdraw"},
    {"LOADX", "run", "LOADX"},
    {"/x", "run", "/x"},
    {"cx", "run", "cx"},
    {std::string(19, 'a'), "run", nullptr},
    {"Select 2;", "run", "Select 2;"},
    {"select;", "run", "select;"},
    // Multi-line words wait for a line whose trimmed end is ';'; a command word there is text.
    {"select 1\n;", "2 run", "select 1\n;\n"},
    {"select 1\n; x\nexit \t;\t ", "2 3 run", "select 1\n; x\nexit \t;\t \n"},
    // Blocks end only with "/" (or "/" and a blank): ';' and blank lines are part of them.
    {"begin\nnull;\n\nend;\n/", "2 3 4 5 run", "begin\nnull;\n\nend;\n"},
    {"Declare x int;\n/x\n/\tnow", "2 3 run", "Declare x int;\n/x\n"},
    // A blank line drops a statement and leaves the buffer; "/" runs it, or finds it empty.
    {"select *\n\n/", "2 drop run", "select *\n"},
    {"\t\n/", "drop drop[nothing in the buffer\r\n]", ""},
    {"commit\n@file.sql\n  /  ", "run drop run", "commit"},
    // The CREATE header: block types open a block, VIEW and other words wait for ';', and the
    // words may come on later lines.
    {"create table t(a int)\n;", "2 run", "create table t(a int)\n;\n"},
    {"create or replace view v as select 1;", "run", "create or replace view v as select 1;"},
    {"create or replace procedure p\nbody;\n/", "2 3 run",
     "create or replace procedure p\nbody;\n"},
    {"create\nor\nreplace procedure q\n/", "2 3 4 run", "create\nor\nreplace procedure q\n"},
    {"create or replace force view v\n;", "2 3", nullptr},
    {"create\ntable t\nor remove", "2 3 4", "create\ntable t\nor remove\n"},
    {"create\nor replace\nforce view v", "2 3 drop[replace type unknown\r\n]", nullptr},
    {"create or replace table z;", "drop[replace type unknown\r\n]", nullptr},
    {"create or remove x", "drop[unknown command\r\n]", nullptr},
    {"create or\nremove x", "2 drop[unknown command]", nullptr},
    {"Create " + w21, "drop[create object type Create is unknown]", nullptr},
    {"CREATE\n" + w21, "2 drop[create object type CREATE is unknown\r\n]", nullptr},
    {"create or replace\n" + w20, "2 drop[create object type create is unknown]", nullptr},
    // PREPARE: a ':' outside quotes anywhere in the statement refuses it.
    {"prepare s as select ':x' from dual;", "run", nullptr},
    {"prepare s as select :x;", std::string("drop") + prepare_msg, nullptr},
    {"prepare s as\nselect ':x', :y", std::string("2 drop") + prepare_msg, nullptr},
    // Refused first words.
    {"notify x\nAnalyze", "drop[不支持此功能\n] drop[不支持此功能\n]", ""},
    {w20 + ";", "drop[ERROR：不支持的功能\\r\n]", ""},
    // Client commands: by the first character, then by the first word, on a first line only.
    {"$ scott\n#\nC/a/b\n  exit\nspool out.txt;\nsqlldrx table=t\nreconn\nexecfile2 f",
     "$ # c/ EXIT SPOOL SQLLDR RECONN EXECFILE2", ""},
};

}  // namespace

TEST(step_line, follows_the_assembly_rules) {
    for (const rule_case& c : rule_cases) {
        fed f = feed(c.lines);
        EXPECT_EQ(f.trace, c.trace) << c.lines;
        if (c.buffer) {
            EXPECT_STREQ(buff, c.buffer) << c.lines;
        }
    }
}

TEST(step_line, keeps_the_length_the_first_word_and_the_spool_copy) {
    fed f = feed("select *\nfrom t;");
    EXPECT_EQ(f.a.totallastlen, 17);
    EXPECT_STREQ(f.a.keyword, "select");
    EXPECT_EQ(feed("select 1\n;\n/\n\nbegin\n/").begins, "101110");

    statement_assembly a;
    EXPECT_EQ(step_line(a, buff, "  sel\t1").spool, "  sel\t1\n") << "an ordinary first line";
    for (const char* line : {"begin", "create table t(a int)", "$ x", w21.c_str()}) {
        assembly_step step = step_line(a = {}, buff, line);
        EXPECT_EQ(step.spool, "") << line;
        EXPECT_EQ(step.keyword_taken, line[0] != '$' && line != w21) << line;
    }
    // DESC without a name is a statement after all (the command says so).
    assembly_step step = step_as_statement(a = {}, buff, "desc", count_line("desc"));
    EXPECT_EQ(step.action, assembly_action::run);
    EXPECT_EQ(step.spool, "desc\n");
}

namespace {

// A statement "select" ... of exactly n bytes (each line counted with its line end) whose last
// line ends with last.
std::string statement_of(int n, char last) {
    std::string text = "select";
    int left = n - 7;
    for (; left > 8000; left -= 8000)
        text += "\n" + std::string(7999, 'x');
    return text + "\n" + std::string(size_t(left - 2), 'x') + last;
}

// The end of a trace, as long as expected.
std::string trace_end(const fed& f, const std::string& expected) {
    return f.trace.substr(f.trace.size() - std::min(f.trace.size(), expected.size()));
}

const std::string too_long = "[Statement too long: at most " + std::to_string(max_statement_len) +
                             " bytes; it was not run.\r\n]";

}  // namespace

TEST(step_line, refuses_a_statement_larger_than_the_buffer_up_to_its_end) {
    const std::string nothing = " drop[nothing in the buffer\r\n]";
    fed f = feed(statement_of(max_statement_len, ';'));
    EXPECT_EQ(trace_end(f, " 76 run"), " 76 run");
    EXPECT_EQ(std::strlen(buff), size_t(max_statement_len));

    f = feed(statement_of(max_statement_len + 1, ';') + "\n/");
    EXPECT_EQ(trace_end(f, " 76 drop" + too_long + nothing), " 76 drop" + too_long + nothing);

    // Its later lines are dropped up to the line that would have ended it.
    f = feed(statement_of(max_statement_len + 1, 'x') + "\n/x\n\nexit;");
    EXPECT_EQ(trace_end(f, " 76 77" + too_long + " 78 drop EXIT"),
              " 76 77" + too_long + " 78 drop EXIT");
    f = feed("begin" + statement_of(max_statement_len + 2, ';').substr(6) + "\n\nend;\n/\n/");
    EXPECT_EQ(trace_end(f, " 77" + too_long + " 78 79 drop" + nothing),
              " 77" + too_long + " 78 79 drop" + nothing);
}
