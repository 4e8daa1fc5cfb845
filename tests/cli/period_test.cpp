// The period as a person gives it: open ends, relative days against an
// injected today, and a time of day joined to the date. The clock is never read.
#include "cli/period.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli_support.h"
#include "sample/sample.h"

namespace velmora::testing {
namespace {

using cli::PeriodKeys;
using cli::PeriodOptions;
using cli::resolvePeriod;
using cli::UsageError;

PeriodKeys resolve(std::string from, std::string to, int today, std::string fromTime = "", std::string toTime = "") {
  PeriodOptions o;
  o.from = std::move(from);
  o.to = std::move(to);
  o.fromTime = std::move(fromTime);
  o.toTime = std::move(toTime);
  return resolvePeriod(o, today);
}

TEST(PeriodOptions, RelativeDaysCountFromTodayAcrossMonthsAndLeapYears) {
  EXPECT_EQ(resolve("today", "today", 20050105).begin, "20050105;00:00:00;");
  EXPECT_EQ(resolve("today", "today", 20050105).end, "20050105;23:59:59;");
  EXPECT_EQ(resolve("yesterday", "", 20050101).begin, "20041231;00:00:00;");
  EXPECT_EQ(resolve("-1d", "", 20040301).begin, "20040229;00:00:00;");
  EXPECT_EQ(resolve("-1d", "", 20050301).begin, "20050228;00:00:00;");
  EXPECT_EQ(resolve("-366d", "", 20050101).begin, "20040101;00:00:00;");
  EXPECT_EQ(resolve("-1d", "Yesterday", 20050105).end, "20050104;23:59:59;");
  EXPECT_EQ(resolve("-0d", "", 20050105).begin, "20050105;00:00:00;");
  EXPECT_EQ(resolve("-7d", "", 20050105, "12:30:00").begin, "20041229;12:30:00;") << "a time still applies";
}

TEST(PeriodOptions, DatesWithATimeOfDay) {
  const PeriodKeys k = resolve("2005-01-03T10:15:00", "2005-01-04 18:00:05", 20050105);
  EXPECT_EQ(k.begin, "20050103;10:15:00;");
  EXPECT_EQ(k.end, "20050104;18:00:05;");
  EXPECT_FALSE(k.openBegin);
  EXPECT_FALSE(k.openEnd);
  EXPECT_EQ(resolve("20050103T08:00:00", "20050103", 20050105).begin, "20050103;08:00:00;");
  EXPECT_EQ(resolve("2005-01-03", "2005-01-03", 20050105, "", "12:00:00").end, "20050103;12:00:00;");
}

TEST(PeriodOptions, OpenEndsLieBeyondEveryRecord) {
  const PeriodKeys k = resolve("", "", 20050105);
  EXPECT_TRUE(k.openBegin);
  EXPECT_TRUE(k.openEnd);
  ASSERT_EQ(k.begin.size(), 18u);
  ASSERT_EQ(k.end.size(), 18u);
  for (const std::string key : {"00000000;00:00:00;", "20050105;10:00:00;", "99991231;23:59:59;", "abc"}) {
    EXPECT_LE(k.begin, key);
    EXPECT_GE(k.end, key);
  }
  EXPECT_TRUE(resolve("2005-01-01", "", 20050105).openEnd);
  EXPECT_FALSE(resolve("2005-01-01", "", 20050105).openBegin);
}

TEST(PeriodOptions, WhatCannotBeAPeriodIsRefused) {
  EXPECT_THROW(resolve("2005-01-03T10:15:00", "", 20050105, "09:00:00"), UsageError) << "two times for one bound";
  EXPECT_THROW(resolve("", "", 20050105, "09:00:00"), UsageError) << "a time without its date";
  EXPECT_THROW(resolve("", "", 20050105, "", "09:00:00"), UsageError);
  EXPECT_THROW(resolve("2005-01-03T25:00:00", "", 20050105), UsageError);
  EXPECT_THROW(resolve("-9999999d", "", 20050105), UsageError);
  EXPECT_THROW(resolve("tomorrow", "", 20050105), UsageError);
  EXPECT_THROW(resolve("today", "yesterday", 20050105), UsageError) << "the start after the end";
  EXPECT_THROW(resolve("1900-01-01", "", 20050105), UsageError) << "the script's year bound holds for given dates";
}

// ---- the tool ---------------------------------------------------------------------

class OpenPeriod : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleOptions o;
    o.days = 4;
    o.perDay = 50;
    o.seed = 3;
    bytes = sampleLog(o);
    // A record a wrong clock dated far past today, at the end where the host appended it.
    bytes += "20990101;12:00:00;" + cp1251(u"Петров А.С.;E;Docs;DocWrite;1;часы спешат;O/12/000777;Счет") + "\r\n";
    writeFile(log, bytes);
  }
  std::size_t rows(std::vector<std::string> more) {
    std::vector<std::string> args{"data", log, "--format", "csv", "--columns", "date,time,comment"};
    args.insert(args.end(), more.begin(), more.end());
    const RunResult r = runVelmora(args);
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.err;
    last = r.out;
    return r.out.empty() ? 0 : parseCsv(r.out).size() - 1;
  }
  TempDir dir;
  std::string log = dir.path("events.log"), bytes, last;
};

TEST_F(OpenPeriod, WithoutBoundsTheWholeLogEvenPastToday) {
  const std::size_t all = linesOf(bytes).size();
  EXPECT_EQ(rows({}), all);
  EXPECT_NE(last.find("20990101"), std::string::npos) << "the record dated past today is in the whole log";
  EXPECT_EQ(rows({"--from", "2005-01-03"}), 2 * 50u + 1);
  EXPECT_NE(last.find("часы спешат"), std::string::npos);
  EXPECT_EQ(rows({"--to", "2005-01-02"}), 2 * 50u);
  EXPECT_EQ(rows({"--to", "2005-01-01", "--to-time", "12:00:00"}), rows({"--from", "20050101", "--to", "2005-01-01T12:00:00"}));
}

TEST_F(OpenPeriod, RelativeDaysAgainstAGivenToday) {
  EXPECT_EQ(rows({"--today", "2005-01-04", "--from", "-1d", "--to", "today"}), 2 * 50u);
  const std::string relative = last;
  rows({"--from", "2005-01-03", "--to", "2005-01-04"});
  EXPECT_EQ(relative, last);
  EXPECT_EQ(rows({"--today", "2005-01-04", "--from", "yesterday"}), 2 * 50u + 1);
  const RunResult bad = runVelmora({"data", log, "--today", "2005-02-30", "--from", "today"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("--today"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace velmora::testing
