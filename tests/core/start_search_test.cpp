// The search for the first record of the period, seen through a scan from
// position 0: which record comes first, where the scan ends, and how many
// windows were read.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/period.h"
#include "core/reader.h"
#include "text/codepage.h"
#include "log_builder.h"

namespace velmora {
namespace {

using test::TempDir;

// What a scan gave: each record's identifier, and the first one's time and
// user.
struct Rows final : RecordSink {
  std::vector<std::string> ids;
  std::string firstTime, firstUser;
  bool record(const Record& r) override {
    if (ids.empty()) {
      firstTime = r.fields[2];
      firstUser = test::utf8(CodePage::current().decode(r.fields[3]));
    }
    ids.emplace_back(r.fields[9]);
    return true;
  }
};

constexpr std::uint64_t kAny = std::numeric_limits<std::uint64_t>::max();

// Every member has an initializer, so that a case names only what it checks.
struct Case {
  std::string what = "";
  const std::string* log = nullptr;
  std::string date1 = "", time1 = "", date2 = "", time2 = "";
  std::string firstId = "none";  // of the first row
  std::size_t rows = 0;
  std::int64_t next = 0;  // 0: not checked
  std::uint64_t minReads = 0, maxReads = kAny;
  std::string lastId = "", firstTime = "", firstUser = "";  // "": not checked
};

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

TEST(StartSearch, FindsThePeriodsFirstRecordInFewWindows) {
  ASSERT_TRUE(CodePage::select(1251));
  std::vector<std::int64_t> smallStarts, edgeStarts, monthStarts;
  const std::string small = test::dailyLog(1, 10, 10, 100, &smallStarts);
  ASSERT_EQ(small.size(), 10000u);
  const std::string empty;
  const std::string threeDays = test::dailyLog(1, 3, 10);
  const std::string fromJan2 = test::dailyLog(2, 31, 100);  // about 300 KB
  const std::string edge = test::dailyLog(1, 32, 16, 128, &edgeStarts);
  ASSERT_EQ(edge.size(), 65536u);
  const std::string month = test::dailyLog(1, 31, 340, 100, &monthStarts);
  ASSERT_GT(month.size(), 1000000u);

  // 327 records of 100 bytes: the 328th starts at byte 32,701 and crosses
  // the end of the first 32 KiB window, so the scan meets it at the start
  // of its next window.
  std::string crossing;
  std::vector<std::int64_t> crossingStarts;
  for (int n = 0; n < 700; ++n) {
    test::Rec r = n < 200 ? test::at("20050101", "10:00:00") : n < 327 ? test::at("20050102", "10:00:00")
                                                                        : test::at("20050102", "12:00:00");
    r.id = test::numbered("O", n);
    r.comment.append(100 - r.line().size(), 'x');
    crossingStarts.push_back(static_cast<std::int64_t>(crossing.size()) + 1);
    crossing += r.line();
  }
  ASSERT_EQ(crossingStarts[327], 32701);

  // Records of 1,500 bytes whose comments are digits: the tail of a probe
  // window holds at most one or two line ends, and a date taken from the
  // middle of a comment would compare lower than any period.
  std::string digits;
  for (int day = 1, n = 0; day <= 31; ++day) {
    for (int k = 0; k < 60; ++k, ++n) {
      test::Rec r = test::at(test::janDay(day), test::clock(k * 1000));
      r.id = test::numbered("O", n);
      r.comment.clear();
      r.comment.assign(1500 - r.line().size(), '0');
      digits += r.line();
    }
  }

  // Every complete record precedes the period; the last line has no CR LF.
  // The scan cannot get past it and must stop rather than read it forever.
  const std::string unterminated = test::dailyLog(1, 5, 10) + test::at("20050106", "10:00:00").text();
  std::string unterminatedLong;
  while (unterminatedLong.size() < 32000) unterminatedLong += test::at("20050101", "10:00:00").line();
  test::Rec longLast = test::at("20050101", "13:00:00");
  longLast.comment.assign(100000, 'x');
  unterminatedLong += longLast.text();

  // Day 1 in 20 KB, one record of 200 KB on day 2, day 3 in 30 KB: the first
  // probe of the binary search lands inside the long record, where no line
  // end tells a date.
  std::string probed;
  int n = 0;
  auto add = [&](const char* day, std::size_t until) {
    while (probed.size() < until) {
      test::Rec r = test::at(day, test::clock(n % 80000));
      r.id = test::numbered("O", n++);
      probed += r.line();
    }
  };
  add("20050101", 20000);
  test::Rec veryLong = test::at("20050102", "12:00:00");
  veryLong.id = "LONG";
  veryLong.comment.assign(200 * 1024, 'x');
  probed += veryLong.line();
  const int firstOfDay3 = n;
  add("20050103", probed.size() + 30000);

  std::vector<Case> cases = {
      // The whole file once for the search, one window for the records; the
      // first record past the end ends the scan, and a later one resumes there.
      {.what = "a small log in one window", .log = &small, .date1 = "20050105", .date2 = "20050105", .firstId = "O40",
       .rows = 10, .next = smallStarts[51], .minReads = 2, .maxReads = 2},
      {.what = "an empty log", .log = &empty, .date1 = "20050105", .date2 = "20050105", .next = -1},
      {.what = "a period beginning at the first record", .log = &threeDays, .date1 = "20050101", .time1 = "00:00:00",
       .date2 = "20050101", .time2 = "00:00:00", .firstId = "O0", .rows = 1},
      {.what = "a period beginning before a large log", .log = &fromJan2, .date1 = "20050101", .date2 = "20050102",
       .firstId = "O0", .rows = 100},
      // First and last window, then a scan.
      {.what = "a log of exactly 64 KiB", .log = &edge, .date1 = "20050120", .date2 = "20050120", .firstId = "O304",
       .rows = 16, .next = edgeStarts[321], .minReads = 3},
      // A handful of probes, never the whole log (1 MB is 32 windows of 32 KiB).
      {.what = "a day of a month's log", .log = &month, .date1 = "20050115", .time1 = "00:00:00", .date2 = "20050115",
       .time2 = "23:59:59", .firstId = test::numbered("O", 14 * 340), .rows = 340, .maxReads = 14,
       .lastId = test::numbered("O", 15 * 340 - 1)},
      {.what = "a period after the log", .log = &month, .date1 = "20050201", .date2 = "20050205", .next = -1,
       .minReads = 2, .maxReads = 2},
      {.what = "a period before the log", .log = &month, .date1 = "20041201", .date2 = "20041231", .next = -1,
       .minReads = 1, .maxReads = 1},
      // 340 records a day, one every 254 seconds: 12:00:00 falls after the 170th.
      {.what = "a begin time within the day", .log = &month, .date1 = "20050115", .time1 = "12:00:00",
       .date2 = "20050115", .time2 = "23:59:59", .firstId = test::numbered("O", 14 * 340 + 171), .rows = 340 - 171,
       .firstTime = test::clock(171 * 254)},
      {.what = "a day whose records all precede the begin time", .log = &month, .date1 = "20050115",
       .time1 = "23:59:59", .date2 = "20050115", .time2 = "23:59:59", .next = -1},
      {.what = "a start at the first byte of a scan window", .log = &crossing, .date1 = "20050102", .time1 = "12:00:00",
       .date2 = "20050102", .time2 = "23:59:59", .firstId = "O327", .rows = 700 - 327},
      {.what = "an unterminated last line", .log = &unterminated, .date1 = "20050120", .date2 = "20050120", .next = -1},
      {.what = "an unterminated long last line", .log = &unterminatedLong, .date1 = "20050101", .time1 = "12:00:00",
       .date2 = "20050101", .time2 = "23:59:59", .next = -1},
      {.what = "a probe inside a very long record", .log = &probed, .date1 = "20050103", .date2 = "20050103",
       .firstId = test::numbered("O", firstOfDay3), .rows = static_cast<std::size_t>(n - firstOfDay3)},
      {.what = "the very long record's own day", .log = &probed, .date1 = "20050102", .date2 = "20050102",
       .firstId = "LONG", .rows = 1},
  };
  for (int day = 2; day <= 31; ++day) {
    cases.push_back({.what = "digit comments, day " + std::to_string(day), .log = &digits, .date1 = test::janDay(day),
                     .date2 = test::janDay(day), .firstId = test::numbered("O", (day - 1) * 60), .rows = 60});
  }
  std::vector<std::string> longLogs;
  longLogs.reserve(3);
  for (const std::size_t size : {std::size_t{40 * 1024}, std::size_t{70000}, std::size_t{200 * 1024}}) {
    std::vector<std::int64_t> starts;
    const std::string& log = longLogs.emplace_back(logWithALongRecord(size, starts));
    const auto longAt = static_cast<long long>(starts.size() - 101);
    const std::string what = "a long record of " + std::to_string(size) + ": ";
    cases.push_back({.what = what + "the period after it", .log = &log, .date1 = "20050101", .time1 = "12:00:00",
                     .date2 = "20050101", .time2 = "23:59:59", .firstId = test::numbered("O", longAt + 1), .rows = 100,
                     .next = static_cast<std::int64_t>(log.size()) + 1});
    cases.push_back({.what = what + "the period from it", .log = &log, .date1 = "20050101", .time1 = "11:00:00",
                     .date2 = "20050101", .time2 = "23:59:59", .firstId = test::numbered("O", longAt), .rows = 101,
                     .firstUser = "Длинный"});
  }

  TempDir tmp;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tmp.write("log.txt", *c.log);
    const auto keys = periodKeys(test::u16(c.date1), test::u16(c.time1), test::u16(c.date2), test::u16(c.time2));
    ASSERT_TRUE(keys);
    ReadQuery q;
    q.begin = keys->begin;
    q.end = keys->end;
    Reader reader(tmp.u16("log.txt"), q, CodePage::current());
    Rows rows;
    const ScanResult scan = reader.scan(0, rows);
    EXPECT_FALSE(scan.failure);
    EXPECT_EQ(rows.ids.empty() ? "none" : rows.ids.front(), c.firstId);
    EXPECT_EQ(rows.ids.size(), c.rows);
    if (c.next != 0) {
      EXPECT_EQ(scan.next, c.next);
    }
    EXPECT_GE(reader.windowReads(), c.minReads);
    EXPECT_LE(reader.windowReads(), c.maxReads);
    if (!c.lastId.empty()) {
      EXPECT_EQ(rows.ids.back(), c.lastId);
    }
    if (!c.firstTime.empty()) {
      EXPECT_EQ(rows.firstTime, c.firstTime);
    }
    if (!c.firstUser.empty()) {
      EXPECT_EQ(rows.firstUser, c.firstUser);
    }
  }
}

}  // namespace
}  // namespace velmora
