// Classification of statements for the replay list; the follow-on statement's look before it goes
// out.
#include <gtest/gtest.h>

#include "output/execute.h"
#include "platform/clock.h"
#include "state/console_state.h"
#include "tests/protocol/socket_pair.h"

TEST(is_data_changing, recognises_insert_update_delete_after_leading_white_space) {
    for (const char* s : {"insert into t values(1)", "INSERT INTO T VALUES(1)", " insert into t",
                          "\t\r\n update t set a=1", "Delete from t", "insertx"})
        EXPECT_TRUE(is_data_changing(s)) << s;
    for (const char* s : {"select 1", "commit", "", "   ", "upsert", "merge into t"})
        EXPECT_FALSE(is_data_changing(s)) << s;
}

TEST(ends_transaction, recognises_commit_and_ddl_words) {
    for (const char* s : {"commit", "COMMIT;", " create table t(a int)", "truncate table t",
                          "alter table t add b int", "drop table t", "dropx"})
        EXPECT_TRUE(ends_transaction(s)) << s;
    for (const char* s : {"rollback", "insert into t", "select 1", "comit"})
        EXPECT_FALSE(ends_transaction(s)) << s;
    EXPECT_TRUE(is_rollback("  ROLLBACK;"));
    EXPECT_TRUE(is_rollback("rollback"));
    EXPECT_FALSE(is_rollback("roll"));
}

TEST(may_change_data, recognises_dml_ddl_rights_blocks_and_calls_but_not_queries) {
    for (const char* s : {"insert into t values(1)", " MERGE INTO t", "create table t(a int)",
                          "\tTruncate table t", "grant select on t to u", "call p()",
                          "begin\nnull;\nend;", "update t set a = 1", "drop table t"})
        EXPECT_TRUE(may_change_data(s)) << s;
    for (const char* s : {"select * from t", "show tables", "desc t", "commit", "rollback",
                          "set auto_commit on", "with c as (select 1) select * from c", ""})
        EXPECT_FALSE(may_change_data(s)) << s;
}

TEST(execute_send_following, goes_out_only_on_the_same_live_connection_within_the_idle_limit) {
    // The connection the cursor lives on, and login values nothing answers: a reconnect would
    // replace g_console.conn.
    socket_pair sp;
    auto conn = sp.conn();
    g_console.conn = conn.get();
    g_console.host = "127.0.0.1";
    g_console.port = 1;
    g_console.max_idle_time = 60;
    const double now = static_cast<double>(plat_time_seconds());

    g_console.last_activity = now - 50;
    EXPECT_EQ(execute_send_following("fetch 1"), follow_on::sent);
    EXPECT_NE(sp.drain().find("fetch 1"), std::string::npos);
    EXPECT_GE(g_console.last_activity, now) << "the idle clock starts again";

    // The limit has passed: nothing goes out, and the idle clock stays where it was, so that the
    // next ordinary statement still reconnects first.
    g_console.last_activity = now - 60;
    EXPECT_EQ(execute_send_following("fetch 2"), follow_on::idle_passed);
    EXPECT_EQ(g_console.last_activity, now - 60);

    g_console.last_activity = now;
    sp.send_peer("K");  // a reply to no statement
    EXPECT_EQ(execute_send_following("fetch 3"), follow_on::stray);
    EXPECT_EQ(g_console.conn, conn.get()) << "a follow-on never reconnects: the cursor goes";
    socket_pair closed;
    auto closed_conn = closed.conn();
    closed.close_peer();
    g_console.conn = closed_conn.get();
    EXPECT_EQ(execute_send_following("fetch 4"), follow_on::lost);
    EXPECT_EQ(g_console.conn, closed_conn.get());
    EXPECT_EQ(g_console.last_activity, now);
    EXPECT_EQ(sp.drain(), "") << "only the first fetch went out";
    g_console.conn = nullptr;
}
