// Statement classification: the statements norvlite answers itself, with their arguments and
// refusals, and the SQL keywords that steer the transaction rules.
#include "server/classify.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using enum srv_stmt_kind;

struct text_case {
    std::string text;
    srv_stmt_kind kind;
    std::string arg;
};

void expect_classes(const std::vector<text_case>& cases) {
    for (const text_case& c : cases) {
        srv_stmt_class got = srv_classify(c.text);
        EXPECT_EQ(static_cast<int>(got.kind), static_cast<int>(c.kind)) << c.text;
        EXPECT_EQ(got.arg, c.arg) << c.text;
    }
}

TEST(srv_classify, show_takes_the_rest_as_a_lower_case_name) {
    expect_classes({
        {"show max_idle_time", show, "max_idle_time"},
        {"SHOW Max_Idle_Time;", show, "max_idle_time"},
        {"  show  time   zone ;; ", show, "time_zone"},
        {"show", bad_command, "show needs a name"},
        {"showx", sql, ""},
        {"shows max_idle_time", sql, ""},
    });
}

TEST(srv_classify, set_statements_of_the_console_read_their_values) {
    expect_classes({
        {"set client_encoding to 'GBK'", set_client_encoding, "GBK"},
        {"SET CLIENT_ENCODING 'UTF8';", set_client_encoding, "UTF8"},
        {"set client_encoding = latin1", set_client_encoding, "latin1"},
        {"set client_encoding toto", set_client_encoding, "toto"},
        {"set client_encoding to 'it''s'", set_client_encoding, "it's"},
        {"set client_encoding to 'open", bad_command, "set client_encoding: unclosed quote"},
        {"set client_encoding", bad_command, "set client_encoding needs a value"},
        {"set time zone '+08:00'", set_time_zone, "+08:00"},
        {"set transaction isolation  'read committed'", set_isolation, "read committed"},
        {"set transaction isolation level serializable", set_isolation, "serializable"},
        {"Set session authorization 'ann';", set_session_authorization, "ann"},
    });
    srv_stmt_class c = srv_classify("set lock_timeout to 30");
    EXPECT_EQ(c.kind, set_lock_timeout);
    EXPECT_EQ(c.number, 30);
    EXPECT_EQ(srv_classify("set lock_timeout = -1;").number, -1);
    EXPECT_EQ(srv_classify("set lock_timeout to 3x").kind, bad_command);
    EXPECT_EQ(srv_classify("set lock_timeout to 99999999999").kind, bad_command);
}

TEST(srv_classify, set_auto_commit_takes_on_or_off_only) {
    EXPECT_EQ(srv_classify("set auto commit on").kind, set_auto_commit);
    EXPECT_TRUE(srv_classify("SET AUTO COMMIT ON;").flag);
    EXPECT_FALSE(srv_classify("set auto commit off").flag);
    EXPECT_TRUE(srv_classify("set auto_commit on").flag);
    expect_classes({
        {"set auto commit maybe", bad_command, "set auto commit needs on or off"},
        {"set auto commit on off", bad_command, "set auto commit needs on or off"},
        {"set auto commit", bad_command, "set auto commit needs on or off"},
    });
}

TEST(srv_classify, norvlite_message_statements_carry_their_letter_and_text) {
    struct {
        const char* text;
        char letter;
        const char* arg;
    } cases[] = {
        {"norvlite notice 'hello'", 'M', "hello"},
        {"NORVLITE WARNING 'careful';", 'W', "careful"},
        {"norvlite error 'it''s wrong'", 'E', "it's wrong"},
        {"norvlite fatal ''", 'F', ""},
    };
    for (const auto& c : cases) {
        srv_stmt_class got = srv_classify(c.text);
        EXPECT_EQ(got.kind, norvlite_message) << c.text;
        EXPECT_EQ(got.letter, c.letter) << c.text;
        EXPECT_EQ(got.arg, c.arg) << c.text;
    }
    srv_stmt_class out = srv_classify("norvlite output 'bytes'");
    EXPECT_EQ(out.kind, norvlite_output);
    EXPECT_TRUE(out.flag);
    EXPECT_EQ(out.arg, "bytes");
    EXPECT_FALSE(srv_classify("norvlite output;").flag);
    expect_classes({
        {"norvlite notice hello", bad_command, "norvlite notice needs one quoted text"},
        {"norvlite notice 'a' 'b'", bad_command, "norvlite notice needs one quoted text"},
        {"norvlite output x", bad_command, "norvlite output takes nothing or one quoted text"},
    });
    EXPECT_EQ(srv_classify("norvlite shout 'x'").kind, bad_command);
    EXPECT_EQ(srv_classify("norvlite").kind, bad_command);
}

TEST(srv_classify, sql_keywords_steer_the_transaction_rules) {
    expect_classes({
        {"select 1", sql, ""},
        {"BEGIN", begin, ""},
        {"begin transaction;", begin, ""},
        {"commit", commit, ""},
        {"COMMIT WORK;", commit, ""},
        {"end transaction", commit, ""},
        {"rollback", rollback, ""},
        {"rollback to sp1", sql, ""},
        {"commit; select 1", sql, ""},
        {"  -- note\n/* c */ create table t(a)", ddl, ""},
        {"Drop table t", ddl, ""},
        {"alter table t add b", ddl, ""},
        {"vacuum", no_transaction, ""},
        {"insert into t values(1)", sql, ""},
        {"setting", sql, ""},
        {"set foo = 1", sql, ""},
    });
}

TEST(srv_classify, debug_pipe_switch_and_loads_are_norvlites_own) {
    srv_stmt_class c = srv_classify("Set debug_pipe on;");
    EXPECT_EQ(c.kind, set_debug_pipe);
    EXPECT_TRUE(c.flag);
    c = srv_classify("  SET  DEBUG_PIPE = OFF ");
    EXPECT_EQ(c.kind, set_debug_pipe);
    EXPECT_FALSE(c.flag);
    EXPECT_EQ(srv_classify("set debug_pipe maybe").kind, bad_command);
    EXPECT_EQ(srv_classify("set debug_piper on").kind, sql);

    c = srv_classify("LOAD TABLE t  FROM STREAM ... '|'  PARALLEL 1,1 ;");
    EXPECT_EQ(c.kind, load_stream);
    EXPECT_EQ(c.query, "LOAD TABLE t  FROM STREAM ... '|'  PARALLEL 1,1");
    EXPECT_EQ(srv_classify("load").kind, load_stream);  // refused by the load's own reader
    EXPECT_EQ(srv_classify("loader x").kind, sql);
}

TEST(srv_skip_trivia, skips_blanks_semicolons_and_both_comment_forms) {
    EXPECT_EQ(srv_skip_trivia(" ;\n-- a\n /* b */ ; x"), "x");
    EXPECT_EQ(srv_skip_trivia("-- only a comment"), "");
    EXPECT_EQ(srv_skip_trivia("/* unclosed"), "");
    EXPECT_EQ(srv_first_word("  /**/ Insert into t"), "insert");
    EXPECT_EQ(srv_first_word("(select 1)"), "");
}

}  // namespace
