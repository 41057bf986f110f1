// TABLDR end to end against norvlite: what lands in the table, the counts, the logs and the
// outcome lines, on the clear channel and (counting in norvlite's sink) over TLS and the own
// cipher.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/e2e/harness.h"

namespace {

namespace fs = std::filesystem;

}  // namespace

class load_e2e : public norvlite_test {
protected:
    std::string session(const std::string& lines, const std::string& mode = "NSSL") {
        return run_console(lines, cwd.path, mode, 120000);
    }
    std::string file(const std::string& name) const { return cwd.path + "/" + name; }
    void write(const std::string& name, const std::string& bytes) { write_file(file(name), bytes); }
    temp_dir cwd;
};

TEST_F(load_e2e, rows_land_in_the_table_with_their_line_ends_as_the_terminator_says) {
    write("lf.txt", "1|a\n2|b\n3|c");  // the last line has no terminator: it is loaded too
    write("crlf.txt", "4|d\r\n5|e\r\n");
    std::string out = session(
        "create table t(a int, b varchar(5));\n"
        "TABLDR table=t datafile=lf.txt ft='|' rt=X'0a'\n"
        "TABLDR table=t datafile=crlf.txt ft='|' rt=X'0d0a' mode=append\n"
        "tabldr TABLE=t DATAFILE=crlf.txt FT='|' RT=X'0a' MODE=Append\n"
        "select a, length(b) as l from t order by a, l;\n");
    EXPECT_NE(out.find("append_mode:0\r\n\rload total 3 record 0 bad rows.\rload total 3 record 0 "
                       "bad rows.\r\nLoad table t Sucessed\r\n\r\nUse time:"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("append_mode:1\r\n"), std::string::npos);
    // CR LF lines cut at LF keep their CR in the last field.
    EXPECT_NE(
        out.find("1 | 1 |\r\n2 | 1 |\r\n3 | 1 |\r\n4 | 1 |\r\n4 | 2 |\r\n5 | 1 |\r\n5 | 2 |\r\n"),
        std::string::npos)
        << out;
    EXPECT_TRUE(fs::exists(file("norv_load.log")));
    EXPECT_TRUE(fs::exists(file("norv_load_err.log")));
}

TEST_F(load_e2e, bad_rows_errors_and_refusals_end_as_they_should) {
    write("bad.txt", "1|a\nx|y|z\n2|b\n3|way too long for five\n4|d\nq|r|s\n");
    write("stop.txt", "1|a\n#norvlite-stop#\n2|b\n");
    std::string out = session(
        "create table t(a int not null, b varchar(5) check(length(b) <= 5));\n"
        "create table s(a int, b varchar(5));\n"
        "TABLDR table=t datafile=bad.txt ft='|' rt=X'0a' errlog=bad.log\n"
        "TABLDR table=s datafile=stop.txt ft='|' rt=X'0a' errlog=stop.log\n"
        "TABLDR table=nosuch datafile=bad.txt ft='|' rt=X'0a' errlog=refused.log\n"
        "TABLDR table=t datafile=bad.txt ft='|' rt=X'0G'\n");
    EXPECT_NE(out.find("record 3 bad rows.\r\nLoad table t Sucessed"), std::string::npos) << out;
    std::string bad_log = read_file(file("bad.log"));
    size_t entries = 0;
    for (size_t at = 0; (at = bad_log.find("W\t", at)) != std::string::npos; ++at)
        ++entries;
    EXPECT_EQ(entries, 3u) << bad_log;
    EXPECT_NE(out.find("Load table s failed"), std::string::npos)
        << "an error reply fails the load";
    const std::string stop_log = read_file(file("stop.log"));
    EXPECT_TRUE(stop_log.starts_with("E\t")) << stop_log;
    EXPECT_NE(out.find("Load table nosuch failed"), std::string::npos) << out;
    EXPECT_FALSE(read_file(file("refused.log")).empty());
    EXPECT_NE(out.find("Row separator error\r\n\r\n\r\nLoad table t failed"), std::string::npos);
}

TEST_F(load_e2e, a_100_mb_file_is_counted_exactly_on_every_channel) {
    ASSERT_FALSE(test_certs().empty());
    ASSERT_TRUE(install_client_certs(test_certs(), cwd.path, "driver"));
    server.reset();
    start({"--load-sink", "--certs", test_certs()});
    std::string data;
    long long rows = 0;
    {
        std::ofstream f(file("big.txt"), std::ios::binary);
        std::string line;
        while (data.size() < (100u << 20)) {
            ++rows;
            line = std::to_string(rows) + "|customer|" + std::string(size_t(rows % 90), 'x') + "\n";
            data += line;
        }
        f << data;
    }
    for (const char* mode : {"NSSL", "tls", "ssl"}) {
        std::string out = session("TABLDR table=sink datafile=big.txt ft='|' rt=X'0a'\n", mode);
        EXPECT_NE(out.find("\rload total " + std::to_string(rows) +
                           " record 0 bad rows.\r\nLoad "
                           "table sink Sucessed"),
                  std::string::npos)
            << mode << ": " << out.substr(out.size() > 400 ? out.size() - 400 : 0);
    }
    std::string log = server->proc.log();
    size_t sinks = 0;
    std::string expected = "load sink: " + std::to_string(rows) + " records, ";
    for (size_t at = 0; (at = log.find(expected, at)) != std::string::npos; ++at)
        ++sinks;
    EXPECT_EQ(sinks, 3u) << log;
}
