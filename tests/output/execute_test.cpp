// Classification of statements for the replay list.
#include <gtest/gtest.h>

#include "output/execute.h"

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
