// The tool under careless hands and a hostile system: outputs are whole or
// untouched, write errors are reported, bad logs and positions are named.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fcntl.h>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli_support.h"
#include "sample/sample.h"

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

class Reliability : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleOptions o;
    o.days = 2;
    o.perDay = 60;
    o.seed = 9;
    bytes = sampleLog(o);
    writeFile(log, bytes);
    writeFile(keep, kOld);
  }

  // Names in the folder, for finding temporaries left behind.
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir.path(""))) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  static constexpr std::string_view kOld = "OLD\r\n";
  TempDir dir;
  std::string log = dir.path("events.log"), keep = dir.path("keep.log");
  std::string bytes;
};

TEST_F(Reliability, OutputsAreWholeOrUntouchedAndWriteErrorsAreReported) {
  const std::string second = std::to_string(bytes.find("\r\n") + 3);  // the second record's position
  const std::string lfOnly = dir.path("lf.log"), nuls = dir.path("nul.log"), torn = dir.path("torn.log");
  std::string lf = bytes;
  for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  writeFile(lfOnly, lf);
  writeFile(nuls, std::string(1000, '\0'));
  const std::string tail = "20050102;23:00:00;" + cp1251(u"Петров");  // a record still being written
  writeFile(torn, bytes + tail);
  writeFile(dir.path("list.txt"), "20050105;00:00:00;1\r\n");
  fs::create_directory(dir.path("folder"));
  fs::create_symlink("new.log", dir.path("dl"));  // resolves to new.log, not there yet
  ASSERT_EQ(runVelmora({"strip-errors", log, dir.path("ref.log")}).exitCode, 0);
  const std::string stripped = readFile(dir.path("ref.log"));

  const std::string keepOld(kOld);
  const auto keepUntouched = [&](const RunResult&) { EXPECT_EQ(readFile(keep), keepOld); };
  const auto logUntouched = [&](const RunResult&) { EXPECT_EQ(readFile(log), bytes); };
  struct Case {
    std::vector<std::string> args;
    Stdout to;
    int exit;
    std::string err;
    std::function<void(const RunResult&)> check;
  };
  const std::vector<Case> cases{
      // Every output is checked before any is touched.
      {{"strip-errors", log, keep, dir.path("missing/e.log")}, {}, 2, "does not exist", keepUntouched},
      {{"strip-errors", log, keep, dir.path("folder")}, {}, 2, "a folder", keepUntouched},
      {{"replace-keys", lfOnly, dir.path("list.txt"), keep}, {}, 3, "no CR LF", keepUntouched},
      // Two outputs, one of them through a link that does not resolve yet.
      {{"strip-errors", log, dir.path("new.log"), dir.path("dl")}, {}, 2, "different files",
       [&](const RunResult&) { EXPECT_FALSE(exists(dir.path("new.log"))); }},
      // Write errors of standard output; the resume position given back is
      // where the run began, since no row is known to have arrived.
      {{"data", log, "--resume", second}, {"/dev/full"}, 3, "cannot write",
       [&](const RunResult& r) { EXPECT_EQ(resumePosition(r.err), std::stoll(second)) << r.err; }},
      {{"data", log}, {"", false, true}, 3, "cannot write", {}},
      {{"stats", log}, {"/dev/full"}, 3, "cannot write", {}},
      {{"users", log}, {"/dev/full"}, 3, "cannot write", {}},
      {{"sample", "-", "--days", "2"}, {"/dev/full"}, 3, "cannot write", {}},
      // Standard output into the log itself.
      {{"data", log}, {log, true}, 3, "standard output is the log", logUntouched},
      {{"stats", log}, {log, true}, 3, "standard output is the log", logUntouched},
      // Bytes a copy leaves out are counted; a file without CR LF is no log.
      {{"strip-errors", torn, keep}, {}, 0, "the last " + std::to_string(tail.size()) + " byte(s)",
       [&](const RunResult&) { EXPECT_EQ(readFile(keep), stripped); }},
      {{"strip-errors", nuls, keep}, {}, 3, "only NUL bytes", keepUntouched},
      {{"data", lfOnly}, {}, 3, "no CR LF", {}},
      {{"stats", lfOnly}, {}, 3, "no CR LF", {}},
      // "-" is standard output for every output.
      {{"strip-errors", log, "-"}, {}, 0, "standard output",
       [&](const RunResult& r) { EXPECT_EQ(r.out, stripped); }},
      {{"replace-keys", log, dir.path("list.txt"), "-"}, {}, 0, "standard output",
       [&](const RunResult& r) { EXPECT_EQ(r.out.size(), bytes.size()); }},
      {{"report", log, "-o", "-"}, {}, 0, "report of",
       [&](const RunResult& r) { EXPECT_NE(r.out.find("</html>"), std::string::npos); }},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown + (c.to.file.empty() ? "" : "> " + c.to.file));
    writeFile(keep, kOld);
    const RunResult r = runVelmora(c.args, c.to);
    EXPECT_EQ(r.exitCode, c.exit) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    if (c.check) c.check(r);
    EXPECT_FALSE(exists("-")) << "a file named -";
  }
  // No temporary is left behind by any of them.
  const std::vector<std::string> expected{"dl", "events.log", "folder", "keep.log", "lf.log", "list.txt", "nul.log",
                                          "ref.log", "torn.log"};
  EXPECT_EQ(names(), expected);
}

TEST_F(Reliability, AnInterruptedWriteLeavesTheOldFile) {
  for (const int signal : {SIGTERM, SIGINT, SIGKILL}) {
    SCOPED_TRACE(signal);
    writeFile(keep, kOld);
    Running velmora({"sample", keep, "--size", "2G"});
    // Midway: some megabytes written, under whatever name.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      std::uintmax_t most = 0;
      for (const auto& e : fs::directory_iterator(dir.path(""))) most = std::max(most, e.file_size());
      if (most > (8u << 20)) break;
      ASSERT_LT(std::chrono::steady_clock::now(), limit) << "the sample never got going";
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    velmora.signal(signal);
    velmora.wait();
    EXPECT_EQ(readFile(keep), kOld);
    if (signal != SIGKILL) {
      EXPECT_EQ(names(), (std::vector<std::string>{"events.log", "keep.log"})) << "a temporary left behind";
    }
    for (const auto& name : names())  // what a SIGKILL leaves
      if (name != "events.log" && name != "keep.log") fs::remove(dir.path(name));
  }
}

TEST_F(Reliability, BadLogsAndPositionsAreNamedNotMisread) {
  const auto lines = linesOf(bytes);
  ASSERT_GT(lines.size(), 3u);
  const std::string fifo = dir.path("fifo.log");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // A position inside the first record moves to the second; inside the user
  // field, no event code becomes a user.
  const RunResult torn = runVelmora({"data", log, "--resume", "2", "--format", "csv", "--columns", "date,time"});
  EXPECT_EQ(torn.exitCode, 0) << torn.err;
  EXPECT_NE(torn.err.find("inside a record"), std::string::npos) << torn.err;
  const auto rows = parseCsv(torn.out);
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[1][0] + ";" + rows[1][1] + ";", std::string(lines[1].substr(0, 18)));
  const RunResult users = runVelmora({"users", log, "--start", "20"});
  EXPECT_EQ(users.exitCode, 0) << users.err;
  std::set<std::string> known{"Пользователь"};  // the header
  for (auto line : lines) known.insert(utf8From1251(splitOn(line, ';')[2]));
  for (auto name : linesOf(users.out, "\n")) EXPECT_TRUE(known.count(std::string(name))) << "not a user: " << name;
  const RunResult past = runVelmora({"data", log, "--resume", std::to_string(bytes.size() + 100)});
  EXPECT_NE(past.err.find("past the end"), std::string::npos) << past.err;

  // A FIFO is refused at once by every reading command.
  for (const char* command : {"stats", "data", "users"}) {
    Running velmora({command, fifo});
    const int code = velmora.waitUpTo(20000);
    if (code == -2) {
      const int unblock = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (unblock >= 0) close(unblock);
    }
    EXPECT_EQ(code, 3) << command << ": " << velmora.err();
    EXPECT_NE(velmora.err().find("not a regular file"), std::string::npos) << velmora.err();
  }
  Running report({"report", fifo, "-o", dir.path("r.html")});
  EXPECT_EQ(report.waitUpTo(20000), 3);
  if (exists(fifo)) {
    const int unblock = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (unblock >= 0) close(unblock);
  }

  // Users of a log past 2 GiB: a sparse file whose records lie past the mark.
  const std::string big = dir.path("big.log");
  const off_t at = (off_t{1} << 31) + 100;
  writeFile(big, "\r\n");
  {
    const int fd = open(big.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string tailRecords = std::string(bytes.substr(0, bytes.find("\r\n", 2000) + 2));
    ASSERT_EQ(pwrite(fd, "\r\n", 2, at - 2), 2);
    ASSERT_EQ(pwrite(fd, tailRecords.data(), tailRecords.size(), at), static_cast<ssize_t>(tailRecords.size()));
    close(fd);
  }
  const RunResult far = runVelmora({"users", big, "--start", std::to_string(at + 1)});
  EXPECT_EQ(far.exitCode, 0) << far.err;
  EXPECT_FALSE(far.out.empty());
  EXPECT_GT(resumePosition(far.err, "--start"), static_cast<long long>(at)) << far.err;

  // A record over 64 MiB (a damaged stretch) is left out, and said so.
  const std::string huge = dir.path("huge.log");
  const std::size_t second = lines[0].size() + 2;
  writeFile(huge, bytes.substr(0, second) + std::string(lines[1]) + std::string(65 << 20, 'x') + bytes.substr(second));
  for (const char* command : {"data", "stats"}) {
    const RunResult r = runVelmora({command, huge, "--format", "csv"});
    EXPECT_EQ(r.exitCode, 0) << command << ": " << r.err;
    EXPECT_NE(r.err.find("1 record of the period over 64 MiB left out"), std::string::npos) << command << ": " << r.err;
    EXPECT_NE(r.err.find("position " + std::to_string(second + 1) + "\n"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace velmora::testing
