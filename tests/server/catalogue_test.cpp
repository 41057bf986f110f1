// The catalogue views on an in-memory SQLite database: the console's IMP existence queries exactly
// as it sends them, across case, schemas (main, temp, attached) and later changes of the schema.
#include "server/catalogue.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

namespace {

class catalogue_views : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
        std::string why;
        ASSERT_TRUE(srv_create_catalogue_views(db, why)) << why;
        run("create table Emp(id integer); create table dept(id integer);"
            "create view emp_view as select 1; attach ':memory:' as scott;"
            "create table scott.bonus(x); create temp table scratch(x)");
    }
    void TearDown() override { sqlite3_close(db); }

    void run(const std::string& sql) {
        char* err = nullptr;
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err), SQLITE_OK) << err;
    }

    // The single integer a query answers; -1 when it fails or gives anything else.
    int64_t count(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        int64_t n = -1;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) == SQLITE_INTEGER) {
            n = sqlite3_column_int64(st, 0);
            if (sqlite3_step(st) != SQLITE_DONE) n = -1;
        }
        sqlite3_finalize(st);
        return n;
    }

    // IMP's two queries, built as the console builds them.
    int64_t exists(const std::string& table) {
        return count(
            "select count(*) from sys_tables where db_id=current_db_id and "
            "upper(table_name)=upper('" +
            table + "') and schema_id=current_schemaid");
    }
    int64_t exists(const std::string& schema, const std::string& table) {
        return count(
            "select count(*) from sys_tables where db_id=current_db_id and "
            "upper(table_name)=upper('" +
            table +
            "') and schema_id=(select schema_id from sys_schemas where db_id=current_db_id and "
            "upper(schema_name)=upper('" +
            schema + "'))");
    }

    std::vector<std::string> column(const std::string& sql) {
        std::vector<std::string> out;
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
        while (st && sqlite3_step(st) == SQLITE_ROW)
            out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
        sqlite3_finalize(st);
        return out;
    }

    sqlite3* db = nullptr;
};

TEST_F(catalogue_views, a_table_of_the_default_schema_exists_in_any_case) {
    EXPECT_EQ(exists("emp"), 1);
    EXPECT_EQ(exists("EMP"), 1);
    EXPECT_EQ(exists("Dept"), 1);
    EXPECT_EQ(exists("nosuch"), 0);
    EXPECT_EQ(exists("emp_view"), 0);       // a view is no table to load into
    EXPECT_EQ(exists("bonus"), 0);          // in another schema
    EXPECT_EQ(exists("scratch"), 0);        // in temp
    EXPECT_EQ(exists("sqlite_schema"), 0);  // SQLite's own
    EXPECT_EQ(exists("sys_tables"), 0);
}

TEST_F(catalogue_views, a_schema_part_picks_main_temp_or_an_attached_schema) {
    EXPECT_EQ(exists("main", "emp"), 1);
    EXPECT_EQ(exists("MAIN", "EMP"), 1);
    EXPECT_EQ(exists("scott", "BONUS"), 1);
    EXPECT_EQ(exists("Scott", "emp"), 0);
    EXPECT_EQ(exists("temp", "scratch"), 1);
    EXPECT_EQ(exists("nosuch", "emp"), 0);
    EXPECT_EQ(exists("0", "emp"), 0);
}

TEST_F(catalogue_views, the_views_follow_later_changes_of_the_schema) {
    run("create table late(x); drop table dept; detach scott");
    EXPECT_EQ(exists("late"), 1);
    EXPECT_EQ(exists("dept"), 0);
    EXPECT_EQ(exists("scott", "bonus"), 0);
    EXPECT_EQ(column("select schema_name from sys_schemas order by schema_id"),
              (std::vector<std::string>{"main", "temp"}));
    EXPECT_EQ(column("select table_name from dba_tables"),
              (std::vector<std::string>{"Emp", "late"}));
    EXPECT_EQ(column("select dummy from dual"), (std::vector<std::string>{"X"}));
}

TEST_F(catalogue_views, the_views_live_in_temp_only) {
    EXPECT_EQ(count("select count(*) from main.sqlite_schema where name like 'sys%' or "
                    "name in ('dual', 'dba_tables')"),
              0);
    EXPECT_EQ(count("select count(*) from temp.sqlite_schema where type = 'view'"), 4);
}

}  // namespace
