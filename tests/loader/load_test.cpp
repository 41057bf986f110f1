// TABLDR: the argument grammar, the row terminator, the load statement, and the load exchange
// against a scripted server on a socket pair (the bytes of every batch checked as they arrive).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <poll.h>
#include <sys/stat.h>
#endif

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loader/load.h"
#include "platform/console.h"
#include "protocol/conn.h"
#include "tests/protocol/socket_pair.h"
#include "tests/support/process.h"
#include "tests/support/wire_bytes.h"

namespace {

load_request parsed(std::string line, std::string& storage) {
    storage = line + "\t";
    return parse_load_arguments(storage.data());
}

std::string str(const char* s) {
    return s ? s : "<none>";
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool recv_all(int fd, void* buf, size_t n) {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        long r = plat_socket_recv(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= size_t(r);
    }
    return true;
}

uint32_t recv_be32(int fd) {
    unsigned char b[4] = {};
    recv_all(fd, b, 4);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

void send_all(int fd, const std::string& s) {
    size_t at = 0;
    while (at < s.size()) {
        long w = plat_socket_send(fd, s.data() + at, s.size() - at);
        if (w <= 0) return;
        at += size_t(w);
    }
}

// The server side of one load: accepts (or refuses) the statement, then collects every batch.
struct scripted_load {
    std::string statement;
    std::vector<std::string> records;
    std::vector<uint32_t> batch_counts;
    std::string refusal;  // non-empty: refuse the statement with this text
    std::string replies;  // sent after the first batch, before the final 'K'

    // The statement, then the refusal or the acceptance and the int64 exchange; true when the
    // batches follow.
    bool accept(int fd) {
        unsigned char letter;
        if (!recv_all(fd, &letter, 1)) return false;
        uint32_t n = recv_be32(fd);
        statement.resize(n + 1);
        recv_all(fd, statement.data(), n + 1);
        statement.resize(n);
        recv_be32(fd);  // parameter count
        if (!refusal.empty()) {
            send_all(fd, "E" + wire_text(refusal) + "K");
            return false;
        }
        send_all(fd, "K");
        char zero[8];
        recv_all(fd, zero, 8);
        send_all(fd, std::string(8, '\0'));
        return true;
    }

    void serve(int fd) {
        if (!accept(fd)) return;
        bool replied = false;
        for (;;) {
            uint32_t count = recv_be32(fd);
            if (count == 0) break;
            batch_counts.push_back(count);
            uint32_t length = recv_be32(fd);
            std::string body(length, '\0');
            recv_all(fd, body.data(), length);
            for (size_t at = 0; at < body.size();) {
                uint32_t l = uint32_t(uint8_t(body[at])) << 24 |
                             uint32_t(uint8_t(body[at + 1])) << 16 |
                             uint32_t(uint8_t(body[at + 2])) << 8 | uint8_t(body[at + 3]);
                records.push_back(body.substr(at + 4, l));
                at += 4 + l;
            }
            if (!replied) send_all(fd, replies);
            replied = true;
        }
        if (!replied) send_all(fd, replies);
        send_all(fd, "K");
    }
};

class load_stream : public ::testing::Test {
protected:
    void SetUp() override {
        std::error_code ec;
        std::filesystem::current_path(dir.path, ec);
        ASSERT_FALSE(ec) << "logs go to the working directory";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::current_path(previous, ec);
    }

    std::string write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir.path + "/" + name, std::ios::binary) << bytes;
        return name;
    }

    // Runs TABLDR with line against the scripted server; returns what the console printed.
    std::string load(const std::string& line, scripted_load& server) {
        socket_pair sp;
        auto conn = sp.conn();
        std::thread t([&] { server.serve(sp.peer); });
        std::string printed;
        con_set_capture(&printed);
        std::string text = line + "\t";
        run_load_command(conn.get(), text.data());
        con_set_capture(nullptr);
        t.join();
        return printed;
    }

    temp_dir dir;
    std::string previous = std::filesystem::current_path().string();
};

}  // namespace

TEST(parse_load_arguments, keys_values_and_separators_in_any_mix) {
    std::string s;
    load_request r = parsed("table t datafile=d.txt  ft = '|' rt==X'0a' MODE=Replace", s);
    EXPECT_EQ(str(r.table), "t");
    EXPECT_EQ(str(r.datafile), "d.txt");
    EXPECT_EQ(str(r.ft), "'|'");
    EXPECT_EQ(str(r.rt), "X'0a'");
    EXPECT_EQ(r.mode, 2);
    r = parsed("TABLE=t DATAFILE=d.txt FT='|' RT=X'0a' mode=update reindex=yes", s);
    EXPECT_EQ(r.mode, 0) << "an unknown mode word means insert";
    EXPECT_FALSE(r.reindex) << "an unknown reindex word changes nothing";
    r = parsed("reindex=TRUE imp_mode=3 parse_para=x ins_para= 4 log = ./load.log errlog", s);
    EXPECT_TRUE(r.reindex);
    EXPECT_EQ(r.imp_mode, 3);
    EXPECT_EQ(r.parse_para, 0);
    EXPECT_EQ(r.ins_para, 4);
    EXPECT_EQ(str(r.log), "./load.log");
    EXPECT_EQ(str(r.errlog), "") << "a last key without a value gets an empty one";
    r = parsed("datafile='C:\\my data.txt'", s);
    EXPECT_EQ(str(r.datafile), "'C:\\my") << "no quoting: a blank ends the value";
    r = parsed("table=a colour=red table=b", s);
    EXPECT_EQ(str(r.table), "b") << "the later value wins, unknown keys are skipped";
}

TEST(decode_row_terminator, hex_pairs_or_literal_bytes) {
    unsigned char t[row_terminator_max + 1] = {};
    EXPECT_EQ(decode_row_terminator("X'0a'", t), 1);
    EXPECT_EQ(t[0], 0x0a);
    EXPECT_EQ(decode_row_terminator("x'0D0a';", t), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(t), 2), "\r\n");
    EXPECT_EQ(decode_row_terminator("X'0a0'", t), 1) << "a lone last digit is ignored";
    EXPECT_EQ(decode_row_terminator("X'0G'", t), -1);
    EXPECT_EQ(decode_row_terminator("X''", t), -1);
    EXPECT_EQ(decode_row_terminator("X'0102030405060708'", t), -1) << "at most 7 bytes";
    EXPECT_EQ(decode_row_terminator("##", t), 2);
    EXPECT_EQ(decode_row_terminator("12345678", t), -1);
}

TEST(build_load_statement, mode_words_blanks_and_clauses) {
    std::string s;
    load_request r = parsed("table=t ft='|'", s);
    EXPECT_EQ(build_load_statement(r),
              "LOAD TABLE t         FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED "
              "BY '|'  PARALLEL 1,1 ;");
    r = parsed("table=t ft=',' mode=append reindex=true imp_mode=2 ins_para=4 parse_para=3", s);
    EXPECT_EQ(build_load_statement(r),
              "LOAD APPEND TABLE t  FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS TERMINATED "
              "BY ',' WITH REINDEX USE MODE 2  PARALLEL 4,3 ;");
    r = parsed("table=s.t ft='|' mode=REPLACE", s);
    EXPECT_TRUE(build_load_statement(r).starts_with("LOAD REPLACE TABLE s.t FROM STREAM "))
        << build_load_statement(r);
}

TEST_F(load_stream, missing_keys_are_reported_in_order_without_a_load) {
    scripted_load none;
    socket_pair sp;
    auto conn = sp.conn();
    std::string printed;
    con_set_capture(&printed);
    // Only the first missing key in the order table, datafile, ft, rt is reported.
    for (std::string line :
         {"TABLDR datafile=d.txt ft='|' rt=X'0a'", "TABLDR table=t ft='|'",
          "TABLDR table=t datafile=d.txt rt=X'0a'", "TABLDR table=t datafile=d.txt ft='|'",
          "TABLDR rt=X'0a'", "TABLDR table=t rt=X'0a'", "TABLDR"}) {
        line += "\t";
        run_load_command(conn.get(), line.data());
    }
    con_set_capture(nullptr);
    EXPECT_EQ(printed,
              "Loss table name\r\n\r\nLoss data file path\r\nLoss field separator\r\nLoss row "
              "separator\r\n"
              "Loss table name\r\n\r\nLoss data file path\r\nLoss table name\r\n\r\n");
    EXPECT_EQ(sp.drain(), "") << "nothing was sent";
}

TEST_F(load_stream, records_go_in_one_batch_with_a_separator_after_each) {
    write("lf.txt", "1|a\n2|b\n");
    write("crlf.txt", "1|a\r\n2|b\r\n\r\n3|c");
    scripted_load lf, crlf, crlf_as_lf;
    std::string out = load("TABLDR table=t datafile=lf.txt ft='|' rt=X'0a'", lf);
    EXPECT_EQ(lf.statement,
              "LOAD TABLE t         FROM STREAM RECORDS DELIMITED BY NEWLINE FIELDS "
              "TERMINATED BY '|'  PARALLEL 1,1 ;");
    EXPECT_EQ(lf.batch_counts, std::vector<uint32_t>{2});
    EXPECT_EQ(lf.records, (std::vector<std::string>{"1|a|", "2|b|"}));
    EXPECT_TRUE(out.starts_with("append_mode:0\r\n")) << out;
    EXPECT_NE(out.find("\rload total 2 record 0 bad rows.\rload total 2 record 0 bad rows.\r\nLoad "
                       "table t Sucessed\r\n\r\nUse time:"),
              std::string::npos)
        << out;
    // CR LF lines cut at LF keep their CR; cut at CR LF they do not. An empty line is a record,
    // and the last line is sent without its terminator.
    load("TABLDR table=t datafile=crlf.txt ft='|' rt=X'0a'", crlf_as_lf);
    EXPECT_EQ(crlf_as_lf.records, (std::vector<std::string>{"1|a\r|", "2|b\r|", "\r|", "3|c|"}));
    load("TABLDR table=t datafile=crlf.txt ft='|' rt=X'0d0a'", crlf);
    EXPECT_EQ(crlf.records, (std::vector<std::string>{"1|a|", "2|b|", "|", "3|c|"}));
    EXPECT_TRUE(std::filesystem::exists(dir.path + "/norv_load.log")) << "the default log";
    EXPECT_EQ(read_file(dir.path + "/norv_load.log"), "");
}

TEST_F(load_stream, a_record_across_chunks_is_sent_once_and_whole) {
    std::string data;
    int n = 0;
    while (data.size() < (9u << 20))
        data += std::to_string(++n) + "|" + std::string(97, 'x') + "\n";
    write("big.txt", data);
    scripted_load big;
    std::string out =
        load("TABLDR table=t datafile=big.txt ft='|' rt=X'0a' log=l.txt errlog=e.txt", big);
    ASSERT_EQ(big.records.size(), size_t(n));
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(big.records[size_t(i)], std::to_string(i + 1) + "|" + std::string(97, 'x') + "|")
            << i;
    EXPECT_EQ(big.batch_counts.size(), 2u) << "one batch per chunk";
    EXPECT_NE(out.find("\rload total " + std::to_string(n) +
                       " record 0 bad rows.\r\nLoad table t Sucessed"),
              std::string::npos);
}

TEST_F(load_stream, rejected_rows_are_counted_and_logged_errors_fail_the_load) {
    write("d.txt", "1|a\n2|b\n3|c\n");
    scripted_load warned;
    warned.replies =
        "W" + wire_text("row 1 bad") + "W" + wire_text("row 2 bad") + "W" + wire_text("row 3 bad");
    std::string out = load("TABLDR table=t datafile=d.txt ft='|' rt=X'0a' errlog=err.txt", warned);
    EXPECT_NE(out.find("record 3 bad rows.\r\nLoad table t Sucessed"), std::string::npos) << out;
    EXPECT_EQ(read_file(dir.path + "/err.txt"), "W\trow 1 badW\trow 2 badW\trow 3 bad");

    scripted_load stopped;
    stopped.replies = "E" + wire_text("disk full");
    out = load("TABLDR table=t datafile=d.txt ft='|' rt=X'0a' errlog=err.txt", stopped);
    EXPECT_NE(out.find("\xb5\xbc\xc8\xeb\xb4\xed\xce\xf3:disk full\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Load table t failed"), std::string::npos) << "an error is a failed load";
    EXPECT_EQ(read_file(dir.path + "/err.txt"), "E\tdisk full");
}

TEST_F(load_stream, a_refused_statement_and_bad_terminators_fail_before_any_data) {
    write("d.txt", "1|a\n");
    scripted_load refused;
    refused.refusal = "no such table: t";
    std::string out = load("TABLDR table=t datafile=d.txt ft='|' rt=X'0a' errlog=err.txt", refused);
    EXPECT_EQ(out, "append_mode:0\r\nno such table: t\r\n\r\n\r\nLoad table t failed\r\n\r\n" +
                       out.substr(out.find("Use time:")));
    EXPECT_EQ(read_file(dir.path + "/err.txt"), "no such table: t");
    scripted_load none;
    socket_pair sp;
    auto conn = sp.conn();
    std::string printed;
    con_set_capture(&printed);
    std::string line = "TABLDR table=t datafile=d.txt ft='|' rt=X'0G'\t";
    run_load_command(conn.get(), line.data());
    line = "TABLDR table=t datafile=nofile.txt ft='|' rt=X'0a'\t";
    run_load_command(conn.get(), line.data());
    std::filesystem::create_directory(dir.path + "/adir");
    line = "TABLDR table=t datafile=adir ft='|' rt=X'0a'\t";
    run_load_command(conn.get(), line.data());
    con_set_capture(nullptr);
    EXPECT_EQ(
        printed.rfind("Row separator error\r\n\r\n\r\nLoad table t failed\r\n\r\nUse time:", 0),
        0u);
    EXPECT_NE(printed.find("Open data file nofile.txt failed\r\n\r\n"), std::string::npos)
        << printed;
    EXPECT_NE(printed.find("Open data file adir failed\r\n\r\n\r\nLoad table t failed"),
              std::string::npos)
        << printed;
    EXPECT_EQ(sp.drain(), "");
}

TEST_F(load_stream, a_pipe_as_data_file_sends_its_unterminated_last_record) {
#ifdef _WIN32
    GTEST_SKIP() << "no FIFOs on Windows";
#else
    std::string fifo = dir.path + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << "1|a\n2|b"; });
    scripted_load server;
    std::string out = load("TABLDR table=t datafile=pipe ft='|' rt=X'0a'", server);
    writer.join();
    EXPECT_EQ(server.records, (std::vector<std::string>{"1|a|", "2|b|"}));
    EXPECT_NE(out.find("Load table t Sucessed"), std::string::npos) << out;
#endif
}

TEST_F(load_stream, a_read_error_in_the_data_file_fails_the_load) {
#ifdef _WIN32
    GTEST_SKIP() << "the file that fails to read is Linux's /proc/self/mem";
#else
    // Reading this file from its start fails with an I/O error.
    scripted_load server;
    std::string out = load("TABLDR table=t datafile=/proc/self/mem ft='|' rt=X'0a'", server);
    EXPECT_TRUE(server.records.empty());
    EXPECT_NE(out.find("\r\nReading the data file failed after record 0: "), std::string::npos)
        << out;
    EXPECT_NE(out.find("\r\nLoad table t failed\r\n\r\n"), std::string::npos) << out;
#endif
}

TEST_F(load_stream, a_broken_answer_to_the_load_statement_closes_the_connection) {
    write("d.txt", "1|a\n");
    socket_pair sp;
    auto conn = sp.conn();
    // A refusal whose text length is impossible, followed by bytes that would otherwise be taken
    // for the next statement's reply.
    sp.send_peer("E" + be32(-1) + "K");
    std::string printed;
    con_set_capture(&printed);
    std::string line = "TABLDR table=t datafile=d.txt ft='|' rt=X'0a'\t";
    run_load_command(conn.get(), line.data());
    db_result* next = db_execute(conn.get(), "commit");
    con_set_capture(nullptr);
    EXPECT_NE(printed.find("\r\nLoad table t failed\r\n\r\n"), std::string::npos) << printed;
    EXPECT_EQ(next, nullptr) << "the rest of the broken answer was taken for the commit's reply";
    db_result_free(next);
}

TEST_F(load_stream, a_reply_out_of_step_ends_the_load_while_the_server_waits) {
#ifdef _WIN32
    GTEST_SKIP() << "the server's wait for the console's shutdown is Linux's POLLRDHUP";
#else
    std::string data;
    while (data.size() < 20u << 20)
        data += "12345|abcdefgh\n";  // three chunks
    write("big.txt", data);
    // A reply the console cannot read, and a closing 'K' before the end of the data.
    for (const std::string& reply : {"W" + be32(-1), std::string("K")}) {
        socket_pair sp;
        auto conn = sp.conn();
        bool shut_down = false;
        std::thread server([&] {
            scripted_load load;
            if (!load.accept(sp.peer)) return;
            recv_be32(sp.peer);
            std::string body(recv_be32(sp.peer), '\0');
            recv_all(sp.peer, body.data(), body.size());
            // Then the server waits for its replies to be read before it reads on, as a server
            // whose socket buffers are full does.
            send_all(sp.peer, reply);
            pollfd p{sp.peer, POLLRDHUP, 0};
            shut_down = poll(&p, 1, 5000) == 1;
            plat_socket_shutdown(sp.peer);  // frees a console that did not give up by itself
        });
        std::string printed;
        con_set_capture(&printed);
        std::string line = "TABLDR table=t datafile=big.txt ft='|' rt=X'0a'\t";
        run_load_command(conn.get(), line.data());
        con_set_capture(nullptr);
        server.join();
        EXPECT_TRUE(shut_down) << reply << ": the console stayed blocked in its send";
        EXPECT_NE(printed.find("\r\nLoad table t failed\r\n\r\n"), std::string::npos) << printed;
    }
#endif
}

TEST_F(load_stream, an_empty_file_sends_only_the_end_marker) {
    write("empty.txt", "");
    scripted_load empty;
    std::string out = load("TABLDR table=t datafile=empty.txt ft='|' rt=X'0a'", empty);
    EXPECT_TRUE(empty.batch_counts.empty());
    EXPECT_NE(out.find("\rload total 0 record 0 bad rows.\r\nLoad table t Sucessed"),
              std::string::npos);
}
