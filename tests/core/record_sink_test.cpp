// GetRecords: the rows of GetData as log bytes, with 64-bit positions.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "script/journal.h"
#include "log_builder.h"
#include "text/codepage.h"

namespace velmora {
namespace {

using test::TempDir;

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
  std::vector<std::vector<std::string>> rows;
  std::size_t stopAfter = 0;
};

class GetRecords : public ::testing::Test {
 protected:
  void useLog(const std::string& bytes) {
    tmp.write("log.txt", bytes);
    j.SetFilePath(tmp.u16("log.txt"));
  }
  // The rows GetStartPos writes into a fresh in-memory table, all columns.
  std::vector<std::vector<std::string>> tableRows(std::int32_t from, std::int32_t* next) {
    MemoryValueTable table;
    *next = j.GetStartPos(from, table);
    std::vector<std::vector<std::string>> out;
    for (int r = 1; r <= table.rowCount(); ++r) {
      std::vector<std::string> row;
      for (int c = 1; c <= 10; ++c) row.push_back(test::cell(table, r, c));
      out.push_back(std::move(row));
    }
    return out;
  }

  TempDir tmp;
  Journal j;
};

TEST_F(GetRecords, GivesTheRowsAndPositionsOfGetData) {
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
  ASSERT_TRUE(j.SetDateTimes(u"20050102", u"12:00:00", u"20050104", u""));
  struct Case {
    const char16_t* name;
    const char16_t* text;
  };
  for (const Case& c : {Case{u"FilterUsers", u""}, Case{u"FilterUsers", u"|петров|"}, Case{u"FilterRem", u"|ошибка|"}}) {
    SCOPED_TRACE(test::utf8(c.name) + "=" + test::utf8(c.text));
    j.SetFilter(c.text, c.name);
    std::int32_t next = 0;
    const auto expected = tableRows(0, &next);
    Collect sink;
    EXPECT_EQ(j.GetRecords(0, sink), next);
    EXPECT_EQ(sink.rows, expected);
    EXPECT_FALSE(expected.empty());
    // Off again: an empty text, or for a list filter a text without items.
    j.SetFilter(U16View(c.name) == u"FilterRem" ? u"x" : u"", c.name);
  }
}

TEST_F(GetRecords, ASinkThatStopsGetsAResumePosition) {
  useLog(test::dailyLog(1, 3, 50));
  ASSERT_TRUE(j.SetDateTimes(u"20050101", u"", u"20050131", u""));
  Collect all;
  const std::int64_t end = j.GetRecords(0, all);
  ASSERT_EQ(all.rows.size(), 150u);

  // Ten at a time, each call resuming where the last one stopped, gives
  // every record once and ends where one call ends.
  std::vector<std::vector<std::string>> pieced;
  std::int64_t pos = 0;
  for (int call = 0; call < 20 && pos != end; ++call) {
    Collect some;
    some.stopAfter = 10;
    pos = j.GetRecords(pos, some);
    ASSERT_GT(pos, 0);
    pieced.insert(pieced.end(), some.rows.begin(), some.rows.end());
  }
  EXPECT_EQ(pos, end);
  EXPECT_EQ(pieced, all.rows);
}

TEST_F(GetRecords, FailuresAndRefusalsMatchGetData) {
  Collect sink;
  j.SetFilePath(tmp.u16("missing.txt"));
  ASSERT_TRUE(j.SetDateTimes(u"20050101", u"", u"20050131", u""));
  EXPECT_EQ(j.GetRecords(0, sink), -1);
  EXPECT_EQ(j.NumErr(), 0);

  useLog(test::dailyLog(1, 1, 5));
  Journal unset;  // no period
  unset.SetFilePath(tmp.u16("log.txt"));
  EXPECT_EQ(unset.GetRecords(0, sink), -1);
  EXPECT_TRUE(sink.rows.empty());
}

TEST_F(GetRecords, PositionsPast2GiBAreGivenWhole) {
  // A sparse log: a hole, then records past the 2 GiB mark, which GetData
  // could not hand back as a 32-bit position.
  const std::int64_t first = (std::int64_t{1} << 31) + 1000;
  { std::ofstream out(tmp.path("log.txt"), std::ios::binary); }
  std::error_code ec;
  std::filesystem::resize_file(tmp.path("log.txt"), static_cast<std::uintmax_t>(first - 3), ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  const std::string records = test::dailyLog(1, 1, 10);
  tmp.append("log.txt", "\r\n" + records);
  j.SetFilePath(tmp.u16("log.txt"));
  ASSERT_TRUE(j.SetDateTimes(u"20050101", u"", u"20050101", u""));

  Collect sink;
  EXPECT_EQ(j.GetRecords(first, sink), first + static_cast<std::int64_t>(records.size()));
  EXPECT_EQ(j.NumErr(), 0) << test::utf8(j.TextErr());
  EXPECT_EQ(sink.rows.size(), 10u);
}

// A log read by two readers, the first up to a line start and the second
// from it, as the tool counts long logs: the rows of one reader, in order,
// at every line start; or, when the first scan ends before that line (the
// period over), the first scan's rows are all. A line without a key ends
// no scan.
TEST_F(GetRecords, TwoReadersSplitAtALineStartGiveTheRowsOfOne) {
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
        if (day == 2 && k == 30) r.comment.assign(Journal::kScanWindow + 500, 'x');  // longer than a window
        log += r.line();
      }
    useLog(log);
    std::vector<std::int64_t> lineStarts;
    for (std::size_t cr = log.find("\r\n"); cr + 2 < log.size(); cr = log.find("\r\n", cr + 2))
      lineStarts.push_back(static_cast<std::int64_t>(cr) + 3);

    ASSERT_TRUE(j.SetDateTimes(c.from, u"", c.to, u""));
    j.SetFilter(c.users, u"FilterUsers");
    const std::int64_t start = j.FindPeriodStart();
    ASSERT_GE(start, 1);
    Collect whole;
    const std::int64_t end = j.GetRecords(start, whole);
    Collect searched;
    ASSERT_EQ(j.GetRecords(0, searched), end) << "the start search finds the same start";
    ASSERT_EQ(searched.rows, whole.rows);
    ASSERT_FALSE(whole.rows.empty());

    int reached = 0, ended = 0;
    for (const std::int64_t split : lineStarts) {
      if (split <= start) continue;
      Collect first, second;
      const std::int64_t firstEnd = j.GetRecords(start, first, split);
      ASSERT_EQ(j.NumErr(), 0);
      if (j.ReachedStop()) {
        ++reached;
        ASSERT_EQ(firstEnd, split);
        ASSERT_EQ(j.GetRecords(split, second), end) << split;
        first.rows.insert(first.rows.end(), second.rows.begin(), second.rows.end());
      } else {
        ++ended;
        ASSERT_EQ(firstEnd, end) << split;
      }
      ASSERT_EQ(first.rows, whole.rows) << "split at " << split;
    }
    EXPECT_GT(reached, 10);
    // A scan that stops before the log's end (the period over) never
    // reaches a split past that point.
    EXPECT_EQ(ended > 0, U16View(c.to) != u"20050104");
    j.SetFilter(u"", u"FilterUsers");
  }
}

TEST_F(GetRecords, FindPeriodStartFailsAsGetRecordsDoes) {
  ASSERT_TRUE(j.SetDateTimes(u"20050101", u"", u"20050131", u""));
  j.SetFilePath(tmp.u16("missing.txt"));
  EXPECT_EQ(j.FindPeriodStart(), -1);
  EXPECT_EQ(j.NumErr(), 0);
  useLog(test::dailyLog(1, 2, 5));
  ASSERT_TRUE(j.SetDateTimes(u"20060101", u"", u"20060131", u""));
  EXPECT_EQ(j.FindPeriodStart(), -1) << "no record of the period";
  ASSERT_TRUE(j.SetDateTimes(u"20050102", u"", u"20050131", u""));
  const std::int64_t start = j.FindPeriodStart();
  EXPECT_EQ(test::dailyLog(1, 2, 5).substr(static_cast<std::size_t>(start - 1), 8), "20050102");
}

}  // namespace
}  // namespace velmora
