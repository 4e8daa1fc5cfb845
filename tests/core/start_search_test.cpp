// The search for the first record of the period, seen through GetData from
// position 0: which record comes first, and how many windows were read.
#include <gtest/gtest.h>

#include "script/journal.h"
#include "log_builder.h"

namespace velmora {
namespace {

using test::cell;
using test::TempDir;

class StartSearch : public ::testing::Test {
 protected:
  void useLog(const std::string& bytes) {
    tmp.write("log.txt", bytes);
    j.SetFilePath(tmp.u16("log.txt"));
  }
  void period(const char* date1, const char* time1, const char* date2, const char* time2) {
    ASSERT_TRUE(j.SetDateTimes(test::u16(date1), test::u16(time1), test::u16(date2), test::u16(time2)));
  }
  // GetData from the beginning of the period; the windows it read.
  std::uint64_t search() {
    const std::uint64_t before = j.windowReads();
    result = j.GetStartPos(0, table);
    return j.windowReads() - before;
  }
  std::string firstId() const { return table.rowCount() > 0 ? cell(table, 1, 9) : "none"; }

  TempDir tmp;
  Journal j;
  MemoryValueTable table;
  std::int32_t result = 0;
  std::vector<std::int64_t> starts;  // position of every record
};

TEST_F(StartSearch, SmallLogIsReadInOneWindowWithoutProbes) {
  const std::string log = test::dailyLog(1, 10, 10, 100, &starts);
  ASSERT_EQ(log.size(), 10000u);
  useLog(log);
  period("20050105", "", "20050105", "");
  const auto reads = search();
  EXPECT_EQ(firstId(), "O40");
  EXPECT_EQ(table.rowCount(), 10);
  // The whole file once for the search, one window for the records.
  EXPECT_EQ(reads, 2u);
  // The first record past the end ends the call; the next one is where a
  // later call resumes.
  EXPECT_EQ(result, starts[51]);
  EXPECT_EQ(j.NumErr(), 0);
}

TEST_F(StartSearch, EmptyLogHasNoStart) {
  useLog("");
  period("20050105", "", "20050105", "");
  search();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(table.rowCount(), 0);
  EXPECT_EQ(j.NumErr(), 0);
}

TEST_F(StartSearch, PeriodBeginningAtTheFirstRecordKeepsThatRecord) {
  // Small log, read whole from position 1: its first line is a record.
  useLog(test::dailyLog(1, 3, 10));
  period("20050101", "00:00:00", "20050101", "00:00:00");
  search();
  EXPECT_EQ(firstId(), "O0");
  EXPECT_EQ(table.rowCount(), 1);
}

TEST_F(StartSearch, PeriodBeginningBeforeALargeLogKeepsItsFirstRecord) {
  useLog(test::dailyLog(2, 31, 100));  // about 300 KB, from 2 January on
  period("20050101", "", "20050102", "");
  search();
  EXPECT_EQ(firstId(), "O0");
  EXPECT_EQ(table.rowCount(), 100);
}

TEST_F(StartSearch, LogOfExactly64KiBTakesTheWindowedPath) {
  const std::string log = test::dailyLog(1, 32, 16, 128, &starts);
  ASSERT_EQ(log.size(), 65536u);
  useLog(log);
  period("20050120", "", "20050120", "");
  const auto reads = search();
  EXPECT_EQ(firstId(), "O304");
  EXPECT_EQ(table.rowCount(), 16);
  EXPECT_GE(reads, 3u);  // first and last window, then a scan
  EXPECT_EQ(result, starts[320 + 1]);
}

TEST_F(StartSearch, MonthLogFindsTheDayThroughTheBinarySearch) {
  const std::string log = test::dailyLog(1, 31, 340, 100, &starts);
  ASSERT_GT(log.size(), 1000000u);
  useLog(log);
  period("20050115", "00:00:00", "20050115", "23:59:59");
  const auto reads = search();
  EXPECT_EQ(firstId(), test::numbered("O", 14 * 340));
  EXPECT_EQ(table.rowCount(), 340);
  EXPECT_EQ(cell(table, 340, 9), test::numbered("O", 15 * 340 - 1));
  // A handful of probes, never the whole log (1 MB is 32 windows of 32 KiB).
  EXPECT_LE(reads, 14u);
}

TEST_F(StartSearch, PeriodAfterTheLogEndsAtTheLastWindow) {
  useLog(test::dailyLog(1, 31, 340));
  period("20050201", "", "20050205", "");
  EXPECT_EQ(search(), 2u);  // first and last window, no binary search
  EXPECT_EQ(result, -1);
  EXPECT_EQ(table.rowCount(), 0);
}

TEST_F(StartSearch, PeriodBeforeTheLogEndsAtTheFirstWindow) {
  useLog(test::dailyLog(1, 31, 340));
  period("20041201", "", "20041231", "");
  EXPECT_EQ(search(), 1u);
  EXPECT_EQ(result, -1);
}

TEST_F(StartSearch, BeginTimeSkipsEarlierRecordsOfThatDate) {
  useLog(test::dailyLog(1, 31, 340));
  period("20050115", "12:00:00", "20050115", "23:59:59");
  search();
  // 340 records a day, one every 254 seconds: 12:00:00 falls after the 170th.
  EXPECT_EQ(firstId(), test::numbered("O", 14 * 340 + 171));
  EXPECT_EQ(cell(table, 1, 2), test::clock(171 * 254));
  EXPECT_EQ(table.rowCount(), 340 - 171);
}

TEST_F(StartSearch, DayWhoseRecordsAllPrecedeTheBeginTimeHasNoStart) {
  useLog(test::dailyLog(1, 31, 340));
  period("20050115", "23:59:59", "20050115", "23:59:59");
  search();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(table.rowCount(), 0);
}

TEST_F(StartSearch, StartAtTheFirstByteOfAForwardScanWindow) {
  // 327 records of 100 bytes: the 328th starts at byte 32,701 and crosses
  // the end of the first 32 KiB window, so the scan meets it at the start
  // of its next window.
  std::string log;
  for (int n = 0; n < 700; ++n) {
    test::Rec r = n < 200 ? test::at("20050101", "10:00:00") : n < 327 ? test::at("20050102", "10:00:00")
                                                                        : test::at("20050102", "12:00:00");
    r.id = test::numbered("O", n);
    std::string line = r.line();
    r.comment.append(100 - line.size(), 'x');
    starts.push_back(static_cast<std::int64_t>(log.size()) + 1);
    log += r.line();
  }
  ASSERT_EQ(starts[327], 32701);
  useLog(log);
  period("20050102", "12:00:00", "20050102", "23:59:59");
  search();
  EXPECT_EQ(firstId(), "O327");
  EXPECT_EQ(table.rowCount(), 700 - 327);
}

TEST_F(StartSearch, LongRecordsDoNotMisleadTheProbes) {
  // Records of 1,500 bytes whose comments are digits: the tail of a probe
  // window holds at most one or two line ends, and a date taken from the
  // middle of a comment would compare lower than any period.
  std::string log;
  int n = 0;
  for (int day = 1; day <= 31; ++day) {
    for (int k = 0; k < 60; ++k, ++n) {
      test::Rec r = test::at(test::janDay(day), test::clock(k * 1000));
      r.id = test::numbered("O", n);
      r.comment.clear();
      r.comment.assign(1500 - r.line().size(), '0');
      log += r.line();
    }
  }
  useLog(log);
  for (int day = 2; day <= 31; ++day) {
    period(test::janDay(day).c_str(), "", test::janDay(day).c_str(), "");
    table.DeleteLines();
    search();
    EXPECT_EQ(firstId(), test::numbered("O", (day - 1) * 60)) << "day " << day;
    EXPECT_EQ(table.rowCount(), 60) << "day " << day;
  }
}

TEST_F(StartSearch, UnterminatedLastLineEndsTheScan) {
  // Every complete record precedes the period; the last line has no CR LF.
  // The scan cannot get past it and must stop rather than read it forever.
  useLog(test::dailyLog(1, 5, 10) + test::at("20050106", "10:00:00").text());
  period("20050120", "", "20050120", "");
  search();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(table.rowCount(), 0);
  EXPECT_EQ(j.NumErr(), 0);
}

// A long record (comment of the given size) at 11:00 between records of
// 10:00 and 13:00, all on 1 January; ids O0.. in log order.
std::string logWithALongRecord(std::size_t commentSize, std::vector<std::int64_t>& starts) {
  std::string log;
  int n = 0;
  auto add = [&](test::Rec r) {
    r.id = test::numbered("O", n++);
    starts.push_back(static_cast<std::int64_t>(log.size()) + 1);
    log += r.line();
  };
  while (log.size() < 32000) add(test::at("20050101", "10:00:00"));
  test::Rec longRec = test::at("20050101", "11:00:00", "Длинный");
  longRec.comment.assign(commentSize, 'x');
  add(longRec);
  for (int k = 0; k < 100; ++k) add(test::at("20050101", "13:00:00"));
  return log;
}

TEST_F(StartSearch, PeriodAfterALongRecordIsFound) {
  for (const std::size_t size : {std::size_t{40 * 1024}, std::size_t{70000}, std::size_t{200 * 1024}}) {
    SCOPED_TRACE(size);
    starts.clear();
    const std::string log = logWithALongRecord(size, starts);
    const auto longAt = static_cast<std::size_t>(starts.size() - 101);
    useLog(log);
    period("20050101", "12:00:00", "20050101", "23:59:59");
    table.DeleteLines();
    search();
    EXPECT_EQ(firstId(), test::numbered("O", longAt + 1));
    EXPECT_EQ(table.rowCount(), 100);
    EXPECT_EQ(result, static_cast<std::int32_t>(log.size()) + 1);
    EXPECT_EQ(j.NumErr(), 0);

    // The long record itself is found as the period's start.
    period("20050101", "11:00:00", "20050101", "23:59:59");
    table.DeleteLines();
    search();
    EXPECT_EQ(firstId(), test::numbered("O", longAt));
    EXPECT_EQ(cell(table, 1, 3), "Длинный");
    EXPECT_EQ(table.rowCount(), 101);
  }
}

TEST_F(StartSearch, ProbeInsideAVeryLongRecordStillFindsThePeriod) {
  // Day 1 in 20 KB, one record of 200 KB on day 2, day 3 in 30 KB: the first
  // probe of the binary search lands inside the long record, where no line
  // end tells a date.
  std::string log;
  int n = 0;
  auto add = [&](const char* day, std::size_t until) {
    while (log.size() < until) {
      test::Rec r = test::at(day, test::clock(n % 80000));
      r.id = test::numbered("O", n++);
      log += r.line();
    }
  };
  add("20050101", 20000);
  test::Rec longRec = test::at("20050102", "12:00:00");
  longRec.id = "LONG";
  longRec.comment.assign(200 * 1024, 'x');
  log += longRec.line();
  const int firstOfDay3 = n;
  add("20050103", log.size() + 30000);
  useLog(log);

  period("20050103", "", "20050103", "");
  search();
  EXPECT_EQ(firstId(), test::numbered("O", firstOfDay3));
  EXPECT_EQ(table.rowCount(), n - firstOfDay3);
  EXPECT_EQ(j.NumErr(), 0);

  period("20050102", "", "20050102", "");
  table.DeleteLines();
  search();
  EXPECT_EQ(firstId(), "LONG");
  EXPECT_EQ(table.rowCount(), 1);
}

TEST_F(StartSearch, UnterminatedLongLastLineEndsTheScan) {
  std::string log;
  while (log.size() < 32000) log += test::at("20050101", "10:00:00").line();
  test::Rec longRec = test::at("20050101", "13:00:00");
  longRec.comment.assign(100000, 'x');
  useLog(log + longRec.text());
  period("20050101", "12:00:00", "20050101", "23:59:59");
  search();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(table.rowCount(), 0);
  EXPECT_EQ(j.NumErr(), 0);
}

}  // namespace
}  // namespace velmora
