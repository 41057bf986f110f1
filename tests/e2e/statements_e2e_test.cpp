// norvlite's statements through the protocol client: create, insert, select, update and delete
// with db_execute; every type code stored in a table of its declared type and read back as the
// client decodes it (host order); parameters; transactions with auto-commit off; the console's
// own statements; messages among rows; and the fault switches as the client sees them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "protocol/db.h"
#include "tests/support/process.h"

using namespace std::literals;

namespace {

// A result freed at scope end.
struct result_ptr {
    db_result* r = nullptr;
    explicit result_ptr(db_result* p) : r(p) {}
    result_ptr(const result_ptr&) = delete;
    result_ptr& operator=(const result_ptr&) = delete;
    ~result_ptr() { db_result_free(r); }
    db_result* operator->() const { return r; }
    explicit operator bool() const { return r != nullptr; }
};

template <class T>
T host_value(const db_row* row, int col) {
    T v{};
    EXPECT_EQ(db_row_value_len(row, col), static_cast<int>(sizeof v));
    std::memcpy(&v, db_row_value(row, col), sizeof v);
    return v;
}

std::string bytes_of(const db_row* row, int col) {
    return std::string(db_row_value(row, col), static_cast<size_t>(db_row_value_len(row, col)));
}

class statements_e2e : public ::testing::Test {
protected:
    void start(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"--data", dir.path, "--port", "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string error;
        ASSERT_TRUE(server.start(args, dir.path + "/server.log", error)) << error;
    }

    db_conn* connect(int auto_commit) {
        db_conn* c = db_connect("", "127.0.0.1", static_cast<uint16_t>(server.port), "demo", "norv",
                                "norv", nullptr, nullptr, nullptr, nullptr, 0, auto_commit, 0, 0);
        EXPECT_NE(c, nullptr);
        if (c) conns.push_back(c);
        return c;
    }

    void TearDown() override {
        for (db_conn* c : conns)
            db_disconnect(c);
    }

    // Runs sql and expects success of the given kind.
    static void run(db_conn* c, const char* sql, int kind = db_kind_none) {
        result_ptr r(db_execute(c, sql));
        ASSERT_TRUE(r) << sql;
        EXPECT_EQ(db_result_ok(r.r), 1) << sql << ": " << db_result_message(r.r);
        EXPECT_EQ(db_result_kind(r.r), kind) << sql;
    }

    static int64_t count(db_conn* c, const char* table) {
        std::string sql = "select count(*) from "s + table;
        result_ptr r(db_execute(c, sql.c_str()));
        if (!r) return -1;
        db_row* row = db_result_next(r.r);
        return row ? host_value<int64_t>(row, 0) : -1;
    }

    temp_dir dir;
    norvlite_server server;
    std::vector<db_conn*> conns;
};

TEST_F(statements_e2e, create_insert_select_update_delete) {
    start();
    db_conn* c = connect(1);
    ASSERT_NE(c, nullptr);
    run(c, "create table t(id integer not null, name varchar(10), price numeric(8,2));");

    result_ptr ins(db_execute(c, "insert into t values (1, 'pen', 1.5), (2, 'ink', null);"));
    ASSERT_TRUE(ins);
    EXPECT_EQ(db_result_kind(ins.r), db_kind_insert);
    EXPECT_EQ(db_result_inserted(ins.r), 2);
    int key_len = 0;
    const unsigned char* key = db_result_insert_key(ins.r, &key_len);
    ASSERT_EQ(key_len, 8);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(key), 8), "\0\0\0\0\0\0\0\x02"s);

    result_ptr sel(db_execute(c, "select id, name, price from t order by id;"));
    ASSERT_TRUE(sel);
    EXPECT_EQ(db_result_ok(sel.r), 1);
    EXPECT_EQ(db_result_kind(sel.r), db_kind_query);
    ASSERT_EQ(db_result_col_count(sel.r), 3);
    EXPECT_STREQ(db_result_col_name(sel.r, 0), "id");
    EXPECT_EQ(db_result_col_type(sel.r, 0), 5);
    EXPECT_EQ(db_result_col_flags(sel.r, 0), 2);
    EXPECT_EQ(db_result_col_type(sel.r, 1), 30);
    EXPECT_EQ(db_result_col_type_mod(sel.r, 1), 10);
    EXPECT_EQ(db_result_col_flags(sel.r, 1), 0);
    EXPECT_EQ(db_result_col_type(sel.r, 2), 7);
    EXPECT_EQ(db_result_col_type_mod(sel.r, 2), (8 << 16) | 2);
    ASSERT_EQ(db_result_row_count(sel.r), 2);
    db_row* row = db_result_next(sel.r);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(host_value<int32_t>(row, 0), 1);
    EXPECT_STREQ(db_row_value(row, 1), "pen");
    EXPECT_STREQ(db_row_value(row, 2), "1.50");
    row = db_result_next(sel.r);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(host_value<int32_t>(row, 0), 2);
    EXPECT_EQ(db_row_value_len(row, 2), 0);
    EXPECT_EQ(db_result_next(sel.r), nullptr);

    result_ptr upd(db_execute(c, "update t set price = price + 1 where price is not null;"));
    ASSERT_TRUE(upd);
    EXPECT_EQ(db_result_kind(upd.r), db_kind_update);
    EXPECT_EQ(db_result_updated(upd.r), 1);
    result_ptr del(db_execute(c, "delete from t;"));
    ASSERT_TRUE(del);
    EXPECT_EQ(db_result_kind(del.r), db_kind_delete);
    EXPECT_EQ(db_result_deleted(del.r), 2);

    result_ptr err(db_execute(c, "select nosuch from t;"));
    ASSERT_TRUE(err);
    EXPECT_EQ(db_result_ok(err.r), 0);
    EXPECT_EQ(db_result_msg_level(err.r), db_level_error);
    EXPECT_STREQ(db_result_message(err.r), "no such column: nosuch");
}

struct type_case {
    int code;
    const char* decl;
    const char* literal;
    std::function<void(const db_row*)> check;
};

TEST_F(statements_e2e, every_type_code_round_trips_through_a_table_of_its_declared_type) {
    start();
    db_conn* c = connect(1);
    ASSERT_NE(c, nullptr);
    auto bytes = [](std::string expected) {
        return [expected](const db_row* row) { EXPECT_EQ(bytes_of(row, 0), expected); };
    };
    auto doubles = [](std::vector<double> expected) {
        return [expected](const db_row* row) {
            ASSERT_EQ(db_row_value_len(row, 0), static_cast<int>(expected.size() * 8));
            for (size_t i = 0; i < expected.size(); ++i) {
                double v = 0;
                std::memcpy(&v, db_row_value(row, 0) + i * 8, 8);
                EXPECT_EQ(v, expected[i]) << i;
            }
        };
    };
    auto int32_is = [](int32_t expected) {
        return [expected](const db_row* row) { EXPECT_EQ(host_value<int32_t>(row, 0), expected); };
    };
    auto int64_is = [](int64_t expected) {
        return [expected](const db_row* row) { EXPECT_EQ(host_value<int64_t>(row, 0), expected); };
    };
    const std::vector<type_case> cases = {
        {0, "EMPTY", "'ab'", bytes("ab")},
        {1, "NULLTYPE", "x'01'", bytes("\x01")},
        {2, "BOOLEAN", "'true'", bytes("T")},
        {3, "TINYINT", "-5", [](const db_row* row) { EXPECT_EQ(host_value<int8_t>(row, 0), -5); }},
        {4, "SMALLINT", "258",
         [](const db_row* row) { EXPECT_EQ(host_value<int16_t>(row, 0), 258); }},
        {5, "INTEGER", "-2", int32_is(-2)},
        {6, "BIGINT", "1234567890123", int64_is(1234567890123)},
        {7, "NUMERIC(10,2)", "'3.14159'", bytes("3.14")},
        {8, "FLOAT", "1.5", [](const db_row* row) { EXPECT_EQ(host_value<float>(row, 0), 1.5f); }},
        {9, "DOUBLE", "2.25",
         [](const db_row* row) { EXPECT_EQ(host_value<double>(row, 0), 2.25); }},
        {10, "DATE", "'2024-02-29'", int32_is(19782)},
        {11, "TIME", "'01:02:03.004'", int32_is(3723004)},
        {12, "TIME WITH TIME ZONE", "'00:30:00+01:00'",
         [](const db_row* row) {
             ASSERT_EQ(db_row_value_len(row, 0), 6);
             int32_t ms = 0;
             int16_t zone = 0;
             std::memcpy(&ms, db_row_value(row, 0), 4);
             std::memcpy(&zone, db_row_value(row, 0) + 4, 2);
             EXPECT_EQ(ms, 84600000);
             EXPECT_EQ(zone, 60);
         }},
        {13, "DATETIME", "'1970-01-01 00:00:01.500'", int64_is(1500)},
        {14, "DATETIME WITH TIME ZONE", "'1970-01-01 01:00:00.000001+01:00'",
         [](const db_row* row) {
             ASSERT_EQ(db_row_value_len(row, 0), 10);
             int64_t us = 0;
             int16_t zone = 0;
             std::memcpy(&us, db_row_value(row, 0), 8);
             std::memcpy(&zone, db_row_value(row, 0) + 8, 2);
             EXPECT_EQ(us, 1);
             EXPECT_EQ(zone, 60);
         }},
        {15, "INTERVAL_Y", "15", int32_is(15)},
        {16, "INTERVAL_Y2M", "-16", int32_is(-16)},
        {17, "INTERVAL_M", "17", int32_is(17)},
        {18, "INTERVAL_D", "18", int32_is(18)},
        {19, "INTERVAL_D2H", "19", int32_is(19)},
        {20, "INTERVAL_H", "20", int32_is(20)},
        {21, "INTERVAL_D2M", "21", int32_is(21)},
        {22, "INTERVAL_H2M", "22", int32_is(22)},
        {23, "INTERVAL_MI", "23", int32_is(23)},
        {24, "INTERVAL_D2S", "86400000024", int64_is(86400000024)},
        {25, "INTERVAL_H2S", "-25", int64_is(-25)},
        {26, "INTERVAL_M2S", "26", int64_is(26)},
        {27, "INTERVAL_S", "-1500000", int64_is(-1500000)},
        {28, "ROWVERSION", "x'0102'", bytes("\x01\x02")},
        {29, "GUID", "x'00112233445566778899aabbccddeeff'",
         bytes("00112233-4455-6677-8899-aabbccddeeff")},
        {30, "VARCHAR(8)", "'hello'", bytes("hello")},
        {31, "NCHAR(4)", "'ab'", bytes("ab")},
        {32, "CLOB", "'long text'", bytes("long text")},
        {33, "BINARY", "x'00ff'", bytes("\x00\xff"s)},
        {34, "BLOB", "x'0102'", bytes("\x01\x02")},
        {35, "GEOMETRY", "'1,2,3,4'", doubles({1, 2, 3, 4})},
        {36, "POINT", "'(1.5,2)'", doubles({1.5, 2})},
        {37, "BOX", "'(1,2),(3,4)'", doubles({1, 2, 3, 4})},
        {38, "POLYLINE", "x'0a0b'", bytes("\x0a\x0b")},
        {39, "POLYGON", "x'0c'", bytes("\x0c")},
        {40, "TYPE40", "x'28'", bytes("\x28")},
        {41, "TYPE41", "x'29'", bytes("\x29")},
        {42, "TYPE42", "x'2a'", bytes("\x2a")},
        {43, "TYPE43", "x'2b'", bytes("\x2b")},
        {44, "STREM", "x'2c2d'", bytes("\x2c\x2d")},
        {45, "ROWID", "'r-1'", bytes("r-1")},
    };
    ASSERT_EQ(cases.size(), 46u);
    for (const type_case& tc : cases) {
        SCOPED_TRACE(tc.decl);
        const std::string table = "t" + std::to_string(tc.code);
        run(c, ("create table " + table + "(v " + tc.decl + ")").c_str());
        run(c, ("insert into " + table + " values(" + tc.literal + ")").c_str(), db_kind_insert);
        run(c, ("insert into " + table + " values(null)").c_str(), db_kind_insert);
        result_ptr r(db_execute(c, ("select v from " + table + " order by rowid").c_str()));
        ASSERT_TRUE(r);
        ASSERT_EQ(db_result_col_count(r.r), 1);
        EXPECT_EQ(db_result_col_type(r.r, 0), tc.code);
        // (p,s) travels as (p << 16) | s, a length (n) as n; no figures as -1.
        int32_t type_mod = -1;
        const std::string decl = tc.decl;
        if (size_t open = decl.find('('); open != std::string::npos) {
            int p = std::atoi(decl.c_str() + open + 1);
            size_t comma = decl.find(',', open);
            type_mod =
                comma == std::string::npos ? p : (p << 16) | std::atoi(decl.c_str() + comma + 1);
        }
        EXPECT_EQ(db_result_col_type_mod(r.r, 0), type_mod);
        ASSERT_EQ(db_result_row_count(r.r), 2);
        tc.check(db_result_next(r.r));
        EXPECT_EQ(db_row_value_len(db_result_next(r.r), 0), 0);  // NULL
    }
}

TEST_F(statements_e2e, parameters_travel_as_text_and_bytes) {
    start();
    db_conn* c = connect(1);
    ASSERT_NE(c, nullptr);
    run(c, "create table p(a clob, b blob, c text)");
    db_stmt* st = db_stmt_new("insert into p values(?, ?, ?)");
    ASSERT_TRUE(db_stmt_bind(st, 0, "it's", 4, db_param_text));
    ASSERT_TRUE(db_stmt_bind(st, 1, "\x00\xff", 2, db_param_bytes));
    ASSERT_TRUE(db_stmt_bind(st, 2, "", 0, db_param_text));  // sent as one zero byte
    result_ptr ins(db_execute_params(c, st));
    db_stmt_free(st);
    ASSERT_TRUE(ins);
    EXPECT_EQ(db_result_inserted(ins.r), 1);
    result_ptr r(db_execute(c, "select a, b, length(c), typeof(c) from p"));
    ASSERT_TRUE(r);
    db_row* row = db_result_next(r.r);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(bytes_of(row, 0), "it's");
    EXPECT_EQ(bytes_of(row, 1), "\x00\xff"s);
    EXPECT_EQ(host_value<int64_t>(row, 2), 0);
    EXPECT_EQ(bytes_of(row, 3), "text");
}

TEST_F(statements_e2e, auto_commit_off_keeps_changes_until_commit_or_rollback) {
    start();
    db_conn* a = connect(0);
    db_conn* b = connect(1);
    ASSERT_TRUE(a && b);
    run(a, "create table t(x integer)");
    run(a, "insert into t values(1)", db_kind_insert);
    EXPECT_EQ(count(b, "t"), 0);
    EXPECT_EQ(count(a, "t"), 1);
    run(a, "commit");
    EXPECT_EQ(count(b, "t"), 1);
    run(a, "insert into t values(2)", db_kind_insert);
    run(a, "update t set x = 10", db_kind_update);
    run(a, "rollback");
    EXPECT_EQ(count(a, "t"), 1);
    result_ptr r(db_execute(b, "select x from t"));
    ASSERT_TRUE(r);
    EXPECT_EQ(host_value<int32_t>(db_result_next(r.r), 0), 1);
    // db_set_option sends "set auto commit on", which commits what is open.
    run(a, "insert into t values(3)", db_kind_insert);
    EXPECT_EQ(count(b, "t"), 1);
    EXPECT_EQ(db_set_option(a, "auto_commit", "on"), 0);
    EXPECT_EQ(count(b, "t"), 2);
    EXPECT_EQ(db_set_option(b, "auto_commit", "off"), 0);
    run(b, "delete from t", db_kind_delete);
    EXPECT_EQ(count(a, "t"), 2);
    run(b, "commit");
    EXPECT_EQ(count(a, "t"), 0);
}

TEST_F(statements_e2e, the_consoles_own_statements_and_options) {
    start({"--max-idle-time", "77"});
    db_conn* c = connect(1);
    ASSERT_NE(c, nullptr);
    result_ptr idle(db_execute(c, "show max_idle_time"));
    ASSERT_TRUE(idle);
    ASSERT_EQ(db_result_row_count(idle.r), 1);
    EXPECT_EQ(host_value<int32_t>(db_result_next(idle.r), 0), 77);
    result_ptr dual(db_execute(c, "SELECT * FROM DUAL"));
    ASSERT_TRUE(dual);
    EXPECT_EQ(db_result_row_count(dual.r), 1);
    run(c, "create table zeta(a); create table alpha(a)");
    result_ptr tables(db_execute(c, "select table_name from dba_tables"));
    ASSERT_TRUE(tables);
    ASSERT_EQ(db_result_row_count(tables.r), 2);
    EXPECT_STREQ(db_row_value(db_result_next(tables.r), 0), "alpha");
    EXPECT_STREQ(db_row_value(db_result_next(tables.r), 0), "zeta");
    run(c, "Set session authorization 'ann';");
    db_set_option(c, "char_set", "GBK");
    db_set_option(c, "iso_level", "read committed");
    db_set_option(c, "time_zone", "+08:00");
    db_set_option(c, "lock_timeout", "30");
    for (auto [name, value] :
         {std::pair{"client_encoding", "GBK"}, std::pair{"transaction_isolation", "read committed"},
          std::pair{"time_zone", "+08:00"}, std::pair{"session_authorization", "ann"}}) {
        result_ptr r(db_execute(c, ("show "s + name).c_str()));
        ASSERT_TRUE(r);
        ASSERT_EQ(db_result_row_count(r.r), 1) << name;
        EXPECT_STREQ(db_row_value(db_result_next(r.r), 0), value) << name;
    }
    result_ptr lock(db_execute(c, "show lock_timeout"));
    ASSERT_TRUE(lock);
    EXPECT_EQ(host_value<int32_t>(db_result_next(lock.r), 0), 30);
}

TEST_F(statements_e2e, messages_reach_the_result_with_their_levels_and_codes) {
    start();
    db_conn* c = connect(1);
    ASSERT_NE(c, nullptr);
    result_ptr w(db_execute(c, "norvlite warning 'careful'"));
    ASSERT_TRUE(w);
    EXPECT_EQ(db_result_ok(w.r), 1);
    EXPECT_EQ(db_result_msg_level(w.r), db_level_warning);
    EXPECT_STREQ(db_result_message(w.r), "careful");
    result_ptr f(db_execute(c, "norvlite fatal 'over'"));
    ASSERT_TRUE(f);
    EXPECT_EQ(db_result_ok(f.r), 0);
    EXPECT_EQ(db_result_msg_level(f.r), db_level_fatal);
    result_ptr o(db_execute(c, "norvlite output 'dropped'"));
    ASSERT_TRUE(o);
    EXPECT_EQ(db_result_ok(o.r), 1);
    // Among rows: every row still arrives, the message is kept with ok 0.
    result_ptr among(db_execute(
        c, "select norv_warn(x, 'w' || x) as x from (select 1 as x union all select 2)"));
    ASSERT_TRUE(among);
    EXPECT_EQ(db_result_row_count(among.r), 2);
    EXPECT_EQ(db_result_ok(among.r), 0);
    EXPECT_EQ(db_result_msg_level(among.r), db_level_warning);
    EXPECT_STREQ(db_result_message(among.r), "w2");
    // A failure after rows have gone carries SQLite's code.
    result_ptr late(
        db_execute(c, "select abs(x) from (select 1 as x union all select -9223372036854775808)"));
    ASSERT_TRUE(late);
    EXPECT_EQ(db_result_row_count(late.r), 1);
    EXPECT_EQ(db_result_msg_level(late.r), db_level_error);
    EXPECT_EQ(db_result_error_code(late.r), -1);
    EXPECT_STREQ(db_result_message(late.r), "integer overflow");
}

TEST_F(statements_e2e, dropped_connections_give_no_result_or_a_cut_short_one) {
    start({"--drop-on", "drop me", "--drop-after-rows", "2"});
    db_conn* c = connect(1);
    ASSERT_NE(c, nullptr);
    run(c, "create table t(a integer); insert into t values(1),(2),(3)", db_kind_insert);
    result_ptr cut(db_execute(c, "select a from t order by a"));
    ASSERT_TRUE(cut);
    EXPECT_TRUE(db_result_cut_short(cut.r));
    EXPECT_EQ(db_result_row_count(cut.r), 2);
    db_conn* d = connect(1);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(db_execute(d, "select 'drop me'"), nullptr);
    db_conn* e = connect(1);
    ASSERT_NE(e, nullptr);
    result_ptr whole(db_execute(e, "select a from t order by a"));
    ASSERT_TRUE(whole);
    EXPECT_FALSE(db_result_cut_short(whole.r));
    EXPECT_EQ(db_result_row_count(whole.r), 3);
}

}  // namespace
