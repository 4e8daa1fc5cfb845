// velmora data --follow: a growing log, read as the host appends to it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <thread>
#include <set>
#include <string>

#include "cli_support.h"

namespace velmora::testing {
namespace {

std::string record(const std::string& time, const std::u16string& comment) {
  return "20050310;" + time + ";" + cp1251(u"Иванова Н.П.;E;Docs;DocWrite;1;") + cp1251(comment) +
         cp1251(u";O/12/000001;Приходная накладная\r\n");
}

std::vector<std::string> dataLines(const std::string& out) {
  std::vector<std::string> lines;
  for (auto l : linesOf(out, "\n")) lines.emplace_back(l);
  return lines;
}

class Follow : public ::testing::Test {
 protected:
  std::vector<std::string> args(std::vector<std::string> more = {}) {
    std::vector<std::string> a{"data", log, "--from", "20050310", "--to", "20050310", "--follow",
                               "--format", "tsv", "--columns", "0100000100", "--poll", "0.02"};
    a.insert(a.end(), more.begin(), more.end());
    return a;
  }

  TempDir dir;
  std::string log = dir.path("follow.log");
};

TEST_F(Follow, PrintsEachAppendedRecordOnceAndEndsCleanlyOnSigterm) {
  // A record before the period, two in it.
  writeFile(log, "20050309;23:00:00;" + cp1251(u"Петров;E;Sys;OpenSession;1;;;\r\n") +
                     record("08:00:00", u"первая") + record("08:01:00", u"вторая"));
  Running velmora(args());
  ASSERT_TRUE(velmora.waitForLines(3)) << velmora.err();

  appendFile(log, record("09:00:00", u"третья"));
  ASSERT_TRUE(velmora.waitForLines(4)) << velmora.out() << velmora.err();

  // The host writes a record in pieces: half a line is not a record yet.
  const std::string fourth = record("09:30:00", u"четвертая");
  appendFile(log, fourth.substr(0, 30));
  appendFile(log, fourth.substr(30));
  appendFile(log, record("09:31:00", u"пятая"));
  ASSERT_TRUE(velmora.waitForLines(6)) << velmora.out() << velmora.err();

  velmora.signal(SIGTERM);
  EXPECT_EQ(velmora.wait(), 0) << velmora.err();
  EXPECT_EQ(dataLines(velmora.out()),
            (std::vector<std::string>{"Время\tКомментарий", "08:00:00\tпервая", "08:01:00\tвторая",
                                      "09:00:00\tтретья", "09:30:00\tчетвертая", "09:31:00\tпятая"}));
  EXPECT_EQ(resumePosition(velmora.err()), static_cast<long long>(readFile(log).size()) + 1);
}

TEST_F(Follow, WaitsForThePeriodsFirstRecordAndEndsOnSigint) {
  writeFile(log, "20050309;23:00:00;" + cp1251(u"Петров;E;Sys;OpenSession;1;;;\r\n"));
  Running velmora(args());
  appendFile(log, record("10:00:00", u"наконец"));
  ASSERT_TRUE(velmora.waitForLines(2)) << velmora.err();
  velmora.signal(SIGINT);
  EXPECT_EQ(velmora.wait(), 0) << velmora.err();
  EXPECT_EQ(dataLines(velmora.out()), (std::vector<std::string>{"Время\tКомментарий", "10:00:00\tнаконец"}));
}

TEST_F(Follow, IdleLimitEndsTheRunByItself) {
  writeFile(log, record("08:00:00", u"одна"));
  Running velmora(args({"--max-idle", "0.2"}));
  EXPECT_EQ(velmora.wait(), 0) << velmora.err();
  EXPECT_EQ(dataLines(velmora.out()), (std::vector<std::string>{"Время\tКомментарий", "08:00:00\tодна"}));
}

TEST_F(Follow, AShortenedLogIsReadAgainFromThePeriodsStart) {
  writeFile(log, record("08:00:00", u"старая") + record("08:01:00", u"старая 2"));
  Running velmora(args());
  ASSERT_TRUE(velmora.waitForLines(3)) << velmora.err();
  // The log is archived and begun afresh, shorter than before.
  writeFile(log, record("11:00:00", u"новая"));
  ASSERT_TRUE(velmora.waitForLines(4)) << velmora.out() << velmora.err();
  velmora.signal(SIGTERM);
  EXPECT_EQ(velmora.wait(), 0);
  const auto lines = dataLines(velmora.out());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3], "11:00:00\tновая");
  EXPECT_NE(velmora.err().find("shorter"), std::string::npos) << velmora.err();
}

TEST_F(Follow, ReplacedRewrittenOrMissingLogsLoseNoRecord) {
  const std::string old = record("08:00:00", u"старая") + record("08:01:00", u"старая 2");
  std::string fresh;
  for (int k = 1; k <= 5; ++k) fresh += record("09:0" + std::to_string(k) + ":00", u"новая " + std::u16string(1, u'0' + k));
  // Of exactly the old length, written in place.
  const std::string same = record("09:00:00", u"новая!") + record("09:01:00", u"новая 2!");
  ASSERT_EQ(same.size(), old.size());
  struct Case {
    const char* what;
    std::function<void()> change;
    std::string expectedLog;
    const char* said;
  };
  const std::vector<Case> cases{
      {"rotated", [&] { std::filesystem::rename(log, log + ".1"); writeFile(log, fresh); }, fresh, "replaced"},
      {"rewritten in place, longer", [&] { writeFile(log, fresh); }, fresh, "the log"},
      {"rewritten in place, same length", [&] { writeFile(log, same); }, same, "rewritten"},
      {"missing for a while", [&] {
         std::filesystem::remove(log);
         std::this_thread::sleep_for(std::chrono::milliseconds(300));
         writeFile(log, fresh);
       }, fresh, "missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(log, old);
    Running velmora(args());
    ASSERT_TRUE(velmora.waitForLines(3)) << velmora.err();
    c.change();
    const std::size_t want = 1 + 2 + linesOf(c.expectedLog).size();
    ASSERT_TRUE(velmora.waitForLines(want)) << velmora.out() << velmora.err();
    velmora.signal(SIGTERM);
    EXPECT_EQ(velmora.wait(), 0) << velmora.err();
    const auto lines = dataLines(velmora.out());
    ASSERT_EQ(lines.size(), want) << velmora.out();
    for (std::size_t k = 0; k < linesOf(c.expectedLog).size(); ++k) {
      const auto fields = splitOn(linesOf(c.expectedLog)[k], ';');
      EXPECT_EQ(lines[3 + k], std::string(fields[1]) + "\t" + utf8From1251(fields[7]));
    }
    EXPECT_NE(velmora.err().find(c.said), std::string::npos) << velmora.err();
  }
}

TEST_F(Follow, EndsWhenItsReaderGoesAway) {
  writeFile(log, record("08:00:00", u"одна") + record("08:01:00", u"две"));
  // The idle limit only bounds a run that would otherwise never end.
  Running velmora(args({"--max-idle", "30"}));
  ASSERT_TRUE(velmora.waitForLines(3)) << velmora.err();
  velmora.closeOut();
  EXPECT_EQ(velmora.waitUpTo(20000), -1) << "ends by SIGPIPE, as tail -f | head does: " << velmora.err();
}

}  // namespace
}  // namespace velmora::testing
