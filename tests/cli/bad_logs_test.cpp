// What is no log is refused the same way by every face, before a record is
// read: a zip archive, a damaged compressed file, a file of NUL bytes, LF line ends, a pipe, a
// folder. And a stray line among the records hides none of them from a
// period with an end, in any command.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_support.h"

namespace velmora::testing {
namespace {

// The sqlite3 shell with the extension loaded, running one statement;
// its output (errors included) and whether it exited 0.
#ifdef VELMORA_SQLITE_EXTENSION
#ifndef VELMORA_SQLITE_SHELL_ENV
#define VELMORA_SQLITE_SHELL_ENV ""
#endif
RunResult sqliteShell(const TempDir& dir, const std::string& statement) {
  const std::string script = dir.path("shell.sql");
  writeFile(script, ".load " VELMORA_SQLITE_EXTENSION "\n" + statement + "\n");
  std::FILE* p = ::popen((VELMORA_SQLITE_SHELL_ENV "sqlite3 -bail :memory: < '" + script + "' 2>&1").c_str(), "r");
  RunResult r;
  if (p == nullptr) return r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.err.append(buf, n);
  r.exitCode = ::pclose(p) == 0 ? 0 : 1;
  return r;
}
#endif

TEST(BadLogs, EveryFaceRefusesWhatIsNoLog) {
  TempDir dir;
  const std::string record = "20050101;10:00:00;U;E;Sys;X;1;c;;\r\n";
  struct Bad {
    std::string name, bytes, says;
  };
  const std::vector<Bad> bads{
      // Compressed logs are read as their text: these are damaged archives.
      {"gz.log", std::string("\x1f\x8b\x08\0\0\0\0\0", 8) + record, "the gzip archive stops"},
      {"zst.log", std::string("\x28\xb5\x2f\xfd\0", 5) + record, "the zstd archive stops"},
      {"bz.log", "BZh91AY&SY" + record, "the bzip2 archive stops"},
      {"xz.log", std::string("\xfd" "7zXZ\0\0", 7) + record, "the xz archive stops"},
      {"zip.log", "PK\x03\x04" + record, "a zip archive"},
      {"nul.log", std::string(70000, '\0'), "only NUL bytes"},
      {"lf.log", "20050101;10:00:00;U;E;Sys;X;1;c;;\n20050102;10:00:00;U;E;Sys;X;1;c;;\n", "no CR LF"},
      {"folder", "", "a folder"},
      {"fifo.log", "", "not a regular file"},
  };
  for (const Bad& b : bads) {
    if (b.name == "folder") {
      std::filesystem::create_directory(dir.path(b.name));
    } else if (b.name == "fifo.log") {
      ASSERT_EQ(::mkfifo(dir.path(b.name).c_str(), 0600), 0);
    } else {
      writeFile(dir.path(b.name), b.bytes);
    }
  }
  const std::string good = dir.path("events.log");
  writeFile(good, record);
  for (const Bad& b : bads) {
    const std::string log = dir.path(b.name);
    std::vector<std::vector<std::string>> runs{
        {"data", log},
        {"data", log, "--from", "2005-01-01", "--to", "2005-01-02"},
        {"stats", log},
        {"report", log, "-o", dir.path("r.html")},
        {"users", log},
#ifdef VELMORA_SQLITE_EXTENSION
        {"sql", log, "SELECT count(*) FROM log"},
        {"sql", good, "SELECT count(*) FROM log('" + log + "')"},
        {"sql", good, "SELECT count(*) FROM sessions('" + log + "')"},
#endif
    };
    // A followed log may still be writing its first CR LF.
    if (b.name != "lf.log") runs.push_back({"data", log, "--follow"});
    for (const auto& args : runs) {
      std::string shown;
      for (const auto& a : args) shown += a + " ";
      SCOPED_TRACE(shown);
      const RunResult r = runVelmora(args);
      EXPECT_EQ(r.exitCode, 3) << r.err;
      EXPECT_NE(r.err.find(b.says), std::string::npos) << r.err;
      EXPECT_EQ(r.out.find("20050101"), std::string::npos) << "no record is read from it";
    }
#ifdef VELMORA_SQLITE_EXTENSION
    const RunResult shell = sqliteShell(dir, "SELECT count(*) FROM log('" + log + "');");
    EXPECT_EQ(shell.exitCode, 1) << b.name;
    EXPECT_NE(shell.err.find(b.says), std::string::npos) << shell.err;
#endif
  }
}

TEST(BadLogs, AStrayLineHidesNoRecordOfAPeriodWithAnEnd) {
  TempDir dir;
  const std::string log = dir.path("events.log");
  for (const std::string& stray : std::vector<std::string>{"x", "short", "Z long garbage line " + std::string(200, 'z')}) {
    SCOPED_TRACE(stray);
    writeFile(log, "20050101;10:00:00;U;E;Sys;X;1;c;;\r\n" + stray +
                       "\r\n20050102;10:00:00;U;E;Sys;X;1;c;;\r\n20050103;10:00:00;U;E;Sys;X;1;c;;\r\n");
    const RunResult data = runVelmora({"data", log, "--from", "2005-01-02", "--to", "2005-01-03", "--format", "csv"});
    EXPECT_EQ(data.exitCode, 0) << data.err;
    EXPECT_EQ(parseCsv(data.out).size(), 3u) << data.out;  // the header and two records
    const RunResult stats = runVelmora({"stats", log, "--from", "2005-01-02", "--to", "2005-01-03"});
    EXPECT_EQ(stats.exitCode, 0) << stats.err;
    const RunResult report = runVelmora({"report", log, "--from", "2005-01-02", "--to", "2005-01-03", "-o", dir.path("r.html")});
    EXPECT_EQ(report.exitCode, 0) << report.err;
#ifdef VELMORA_SQLITE_EXTENSION
    for (const char* pushDown : {"", "--no-pushdown"}) {
      std::vector<std::string> args{"sql", log, "SELECT count(*) FROM log WHERE date = '2005-01-02'", "--format", "csv"};
      if (*pushDown) args.emplace_back(pushDown);
      const RunResult sql = runVelmora(args);
      EXPECT_EQ(sql.exitCode, 0) << sql.err;
      EXPECT_EQ(parseCsv(sql.out).back(), std::vector<std::string>{"1"}) << pushDown << sql.out;
    }
#endif
  }
}

}  // namespace
}  // namespace velmora::testing
