// The typed reader's scans: the rows of GetData as log bytes with 64-bit
// positions, a sink that stops, and two scans split at a line start.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/filter_text.h"
#include "core/period.h"
#include "core/reader.h"
#include "script/journal.h"
#include "log_builder.h"
#include "text/codepage.h"

namespace velmora {
namespace {

using test::TempDir;

using Rows = std::vector<std::vector<std::string>>;

// Every record as its ten fields in UTF-8, as a table row would hold them
// before any width is applied.
class Collect : public RecordSink {
 public:
  bool record(const Record& record) override {
    const RecordFields& fields = record.fields;
    std::vector<std::string> row;
    for (int k = 1; k <= 10; ++k) row.push_back(toUtf8(CodePage::current().decode(fields[k])));
    rows.push_back(std::move(row));
    return stopAfter == 0 || rows.size() < stopAfter;
  }
  Rows rows;
  std::size_t stopAfter = 0;
};

// The query of a period and one filter text; no period when from is empty.
ReadQuery query(U16View from, U16View fromTime, U16View to, int field = 3, U16View filter = u"") {
  ReadQuery q;
  if (!from.empty()) {
    const auto keys = periodKeys(from, fromTime, to, u"");
    EXPECT_TRUE(keys);
    q.begin = keys->begin;
    q.end = keys->end;
  }
  q.filters[static_cast<std::size_t>(field)] = parseFilterText(field, filter, false).value();
  return q;
}

class Scan : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CodePage::select(1251)); }
  void useLog(const std::string& bytes) { tmp.write("log.txt", bytes); }
  Reader reader(ReadQuery q) { return Reader(tmp.u16("log.txt"), std::move(q), CodePage::current()); }

  TempDir tmp;
};

// GetData's rows through the script class, and the typed reader's for the
// same period and filter.
TEST_F(Scan, GivesTheRowsAndPositionsOfGetData) {
  // Short fields only, so that the table's column widths cut nothing.
  std::string log;
  for (int day = 1; day <= 6; ++day)
    for (int k = 0; k < 400; ++k) {
      test::Rec r = test::at(test::janDay(day), test::clock(k * 200), k % 3 ? "Петров" : "Иванов");
      // Not one of two literals in a conditional: MinGW's g++ 12 reports a
      // false -Wrestrict overlap in std::string's assignment from that.
      r.comment.clear();
      if (k % 7 == 0) r.comment = "Ошибка; строка";
      r.number.assign(1, k % 5 ? '1' : '5');
      r.id = std::to_string(k);
      log += r.line();
    }
  useLog(log);
  struct Case {
    int field;
    const char16_t* name;
    const char16_t* text;
  };
  for (const Case& c : {Case{3, u"FilterUsers", u""}, Case{3, u"FilterUsers", u"|петров|"},
                        Case{8, u"FilterRem", u"|ошибка|"}}) {
    SCOPED_TRACE(test::utf8(c.name) + "=" + test::utf8(c.text));
    Journal j;
    j.SetFilePath(tmp.u16("log.txt"));
    ASSERT_TRUE(j.SetDateTimes(u"20050102", u"12:00:00", u"20050104", u""));
    j.SetFilter(c.text, c.name);
    MemoryValueTable table;
    const std::int32_t next = j.GetStartPos(0, table);
    Rows expected;
    for (int r = 1; r <= table.rowCount(); ++r) {
      std::vector<std::string> row;
      for (int col = 1; col <= 10; ++col) row.push_back(test::cell(table, r, col));
      expected.push_back(std::move(row));
    }
    Reader r = reader(query(u"20050102", u"12:00:00", u"20050104", c.field, c.text));
    Collect sink;
    EXPECT_EQ(r.scan(0, sink).next, next);
    EXPECT_EQ(sink.rows, expected);
    EXPECT_FALSE(expected.empty());
  }
}

TEST_F(Scan, ASinkThatStopsGetsAResumePosition) {
  useLog(test::dailyLog(1, 3, 50));
  Reader r = reader(query(u"20050101", u"", u"20050131"));
  Collect all;
  const std::int64_t end = r.scan(0, all).next;
  ASSERT_EQ(all.rows.size(), 150u);

  // Ten at a time, each call resuming where the last one stopped, gives
  // every record once and ends where one call ends.
  Rows pieced;
  std::int64_t pos = 0;
  for (int call = 0; call < 20 && pos != end; ++call) {
    Collect some;
    some.stopAfter = 10;
    pos = r.scan(pos, some).next;
    ASSERT_GT(pos, 0);
    pieced.insert(pieced.end(), some.rows.begin(), some.rows.end());
  }
  EXPECT_EQ(pos, end);
  EXPECT_EQ(pieced, all.rows);
}

// Where the start search and a scan from 0 begin, or that they find no
// start; neither is a failure.
TEST_F(Scan, StartSearchAndScanAgreeOnTheStart) {
  const std::string log = test::dailyLog(1, 2, 5);
  const struct {
    const char* what;
    const char* file;
    const char16_t *from, *to;
    std::string startsWith;  // "": no start
  } cases[] = {
      {"a missing log", "missing.txt", u"20050101", u"20050131", ""},
      {"no period", "log.txt", u"", u"", ""},
      {"no record of the period", "log.txt", u"20060101", u"20060131", ""},
      {"the second day", "log.txt", u"20050102", u"20050131", "20050102"},
  };
  useLog(log);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Reader r(tmp.u16(c.file), query(c.from, u"", c.to), CodePage::current());
    const ScanResult found = r.findStart();
    EXPECT_FALSE(found.failure);
    Collect sink;
    const ScanResult scan = r.scan(0, sink);
    EXPECT_FALSE(scan.failure);
    if (c.startsWith.empty()) {
      EXPECT_EQ(found.next, -1);
      EXPECT_EQ(scan.next, -1);
      EXPECT_TRUE(sink.rows.empty());
    } else {
      ASSERT_GE(found.next, 1);
      EXPECT_EQ(log.substr(static_cast<std::size_t>(found.next - 1), 8), c.startsWith);
      EXPECT_EQ(sink.rows.size(), 5u);
    }
  }
}

TEST_F(Scan, PositionsPast2GiBAreGivenWhole) {
  // A sparse log: a hole, then records past the 2 GiB mark, which GetData
  // could not hand back as a 32-bit position.
  const std::int64_t first = (std::int64_t{1} << 31) + 1000;
  { std::ofstream out(tmp.path("log.txt"), std::ios::binary); }
  std::error_code ec;
  std::filesystem::resize_file(tmp.path("log.txt"), static_cast<std::uintmax_t>(first - 3), ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  const std::string records = test::dailyLog(1, 1, 10);
  tmp.append("log.txt", "\r\n" + records);
  Reader r = reader(query(u"20050101", u"", u"20050101"));

  Collect sink;
  const ScanResult scan = r.scan(first, sink);
  EXPECT_FALSE(scan.failure);
  EXPECT_EQ(scan.next, first + static_cast<std::int64_t>(records.size()));
  EXPECT_EQ(sink.rows.size(), 10u);
}

// A log read by two readers, the first up to a line start and the second
// from it, as the tool counts long logs: the rows of one reader, in order,
// at every line start; or, when the first scan ends before that line (the
// period over), the first scan's rows are all. A line without a key ends
// no scan.
TEST_F(Scan, TwoReadersSplitAtALineStartGiveTheRowsOfOne) {
  struct Case {
    const char16_t *from, *to, *users;
    bool keyless;  // a line without a key on the third day
  };
  for (const Case& c : {Case{u"20050101", u"20050104", u"", true}, Case{u"20050101", u"20050104", u"|петров|", false},
                        Case{u"20050102", u"20050103", u"|петров|", false}, Case{u"20050101", u"20050102", u"", false}}) {
    SCOPED_TRACE(test::utf8(c.from) + ".." + test::utf8(c.to) + " " + test::utf8(c.users));
    std::string log;
    for (int day = 1; day <= 4; ++day)
      for (int k = 0; k < 60; ++k) {
        if (c.keyless && day == 3 && k == 1) log += "a line without a key\r\n";
        test::Rec r = test::at(test::janDay(day), test::clock(k * 1400), k % 4 ? "Петров" : "Иванов");
        r.comment.clear();
        if (k % 9 == 0) {
          r.number.assign(1, '5');
          r.comment = "Ошибка; деление; на ноль";
          r.id.clear();
          r.presentation.clear();
        }
        if (day == 2 && k == 30) r.comment.assign(Reader::kScanWindow + 500, 'x');  // longer than a window
        log += r.line();
      }
    useLog(log);
    std::vector<std::int64_t> lineStarts;
    for (std::size_t cr = log.find("\r\n"); cr + 2 < log.size(); cr = log.find("\r\n", cr + 2))
      lineStarts.push_back(static_cast<std::int64_t>(cr) + 3);

    Reader r = reader(query(c.from, u"", c.to, 3, c.users));
    const std::int64_t start = r.findStart().next;
    ASSERT_GE(start, 1);
    Collect whole;
    const std::int64_t end = r.scan(start, whole).next;
    Collect searched;
    ASSERT_EQ(r.scan(0, searched).next, end) << "the start search finds the same start";
    ASSERT_EQ(searched.rows, whole.rows);
    ASSERT_FALSE(whole.rows.empty());

    int reached = 0, ended = 0;
    for (const std::int64_t split : lineStarts) {
      if (split <= start) continue;
      Collect first, second;
      const ScanResult firstScan = r.scan(start, first, split);
      ASSERT_FALSE(firstScan.failure);
      if (firstScan.reachedStop) {
        ++reached;
        ASSERT_EQ(firstScan.next, split);
        ASSERT_EQ(r.scan(split, second).next, end) << split;
        first.rows.insert(first.rows.end(), second.rows.begin(), second.rows.end());
      } else {
        ++ended;
        ASSERT_EQ(firstScan.next, end) << split;
      }
      ASSERT_EQ(first.rows, whole.rows) << "split at " << split;
    }
    EXPECT_GT(reached, 10);
    // A scan that stops before the log's end (the period over) never
    // reaches a split past that point.
    EXPECT_EQ(ended > 0, U16View(c.to) != u"20050104");
  }
}

}  // namespace
}  // namespace velmora
