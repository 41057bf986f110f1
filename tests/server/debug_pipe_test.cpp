// The debug pipe's parts without sockets: the line of a statement for every outcome, the cuts of
// long texts, and the bounded queue (lines and bytes, the dropped-lines line in its place, and
// many sessions pushing while the writer takes, which ThreadSanitizer watches).
#include "server/debug_pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

srv_outcome outcome(srv_outcome_kind kind, long long count = 0, std::string text = {}) {
    return {kind, count, std::move(text)};
}

TEST(srv_pipe_line, names_session_user_database_statement_and_outcome) {
    EXPECT_EQ(srv_pipe_line(3, "norv", "demo", "select 1;", outcome(srv_outcome_kind::ok)),
              "[session 3 norv@demo] select 1; -> ok\n");
    EXPECT_EQ(srv_pipe_line(12, "max", "db", "select * from t", outcome(srv_outcome_kind::rows, 2)),
              "[session 12 max@db] select * from t -> 2 rows\n");
    EXPECT_EQ(srv_pipe_line(1, "u", "d", "delete from t", outcome(srv_outcome_kind::changed, 7)),
              "[session 1 u@d] delete from t -> 7 changed\n");
    EXPECT_EQ(srv_pipe_line(1, "u", "d", "selec 1",
                            outcome(srv_outcome_kind::error, 0, "near \"selec\": syntax error")),
              "[session 1 u@d] selec 1 -> error near \"selec\": syntax error\n");
    EXPECT_EQ(srv_pipe_line(1, "u", "d", "LOAD TABLE t",
                            outcome(srv_outcome_kind::note, 0, "5 records, 1 bad")),
              "[session 1 u@d] LOAD TABLE t -> 5 records, 1 bad\n");
}

TEST(srv_pipe_line, shows_line_ends_as_blanks_and_cuts_long_texts_at_a_character) {
    EXPECT_EQ(srv_pipe_line(1, "u", "d", "  select 1\r\nfrom\tdual;\n ",
                            outcome(srv_outcome_kind::rows, 1)),
              "[session 1 u@d] select 1  from dual; -> 1 rows\n");
    const std::string long_text = "select '" + std::string(200, 'x') + "'";
    EXPECT_EQ(srv_pipe_line(1, "u", "d", long_text, outcome(srv_outcome_kind::ok)),
              "[session 1 u@d] " + long_text.substr(0, srv_pipe_text_shown) + "... -> ok\n");
    // A two-byte character across the cut is left out whole.
    const std::string accents = std::string(srv_pipe_text_shown - 1, 'a') + "\xc3\xa9zz";
    EXPECT_EQ(srv_pipe_line(1, "u", "d", accents, outcome(srv_outcome_kind::ok)),
              "[session 1 u@d] " + std::string(srv_pipe_text_shown - 1, 'a') + "... -> ok\n");
    const std::string long_error(500, 'e');
    EXPECT_EQ(srv_pipe_line(1, "u", "d", "x", outcome(srv_outcome_kind::error, 0, long_error)),
              "[session 1 u@d] x -> error " + std::string(srv_pipe_error_shown, 'e') + "...\n");
}

TEST(srv_pipe_queue, keeps_lines_in_order_and_wakes_only_when_it_was_empty) {
    srv_pipe_queue q;
    EXPECT_TRUE(srv_pipe_push(q, "a\n"));
    EXPECT_FALSE(srv_pipe_push(q, "b\n"));
    std::string out = "old";
    srv_pipe_taken t = srv_pipe_take(q, out);
    EXPECT_EQ(out, "a\nb\n");
    EXPECT_EQ(t.lines, 2u);
    EXPECT_EQ(t.dropped, 0u);
    t = srv_pipe_take(q, out);
    EXPECT_EQ(out, "");
    EXPECT_EQ(t.lines, 0u);
    EXPECT_TRUE(srv_pipe_push(q, "c\n"));
}

TEST(srv_pipe_queue, drops_lines_past_its_bounds_and_says_how_many_after_the_kept_ones) {
    srv_pipe_queue q;
    q.max_lines = 3;
    for (int i = 0; i < 10; ++i)
        srv_pipe_push(q, std::to_string(i) + "\n");
    std::string out;
    srv_pipe_taken t = srv_pipe_take(q, out);
    EXPECT_EQ(out, "0\n1\n2\n[7 lines dropped]\n");
    EXPECT_EQ(t.lines, 3u);
    EXPECT_EQ(t.dropped, 7u);
    srv_pipe_push(q, "10\n");
    srv_pipe_take(q, out);
    EXPECT_EQ(out, "10\n");

    srv_pipe_queue bytes;
    bytes.max_bytes = 10;
    srv_pipe_push(bytes, "12345\n");
    srv_pipe_push(bytes, "123456\n");  // would make 13 bytes
    srv_pipe_push(bytes, "123\n");     // fits: 10 bytes
    srv_pipe_take(bytes, out);
    EXPECT_EQ(out, "12345\n123\n[1 lines dropped]\n");
}

TEST(srv_pipe_queue, many_sessions_push_while_the_writer_takes_and_nothing_is_lost_unseen) {
    srv_pipe_queue q;
    q.max_lines = 50;
    constexpr int sessions = 4, per_session = 20000;
    std::atomic<int> running{sessions};
    std::vector<std::thread> pushers;
    for (int s = 0; s < sessions; ++s) {
        pushers.emplace_back([&, s] {
            for (int i = 0; i < per_session; ++i)
                srv_pipe_push(q, "s" + std::to_string(s) + " " + std::to_string(i) + "\n");
            running.fetch_sub(1);
        });
    }
    unsigned long long lines = 0, dropped = 0;
    std::vector<int> last(sessions, -1);
    bool in_order = true;
    std::string out;
    for (;;) {
        const bool finished = running.load() == 0;
        srv_pipe_taken t = srv_pipe_take(q, out);
        lines += t.lines;
        dropped += t.dropped;
        size_t at = 0;
        while (at < out.size() && out[at] == 's') {
            const size_t end = out.find('\n', at);
            const int s = std::stoi(out.substr(at + 1));
            const int i = std::stoi(out.substr(out.find(' ', at) + 1));
            in_order = in_order && i > last[static_cast<size_t>(s)];
            last[static_cast<size_t>(s)] = i;
            at = end + 1;
        }
        if (finished) break;
    }
    for (std::thread& t : pushers)
        t.join();
    EXPECT_TRUE(in_order);
    EXPECT_EQ(lines + dropped, static_cast<unsigned long long>(sessions * per_session));
}

}  // namespace
