#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "core/failure.h"
#include "script/num_err.h"
#include "script/journal.h"
#include "log_builder.h"

namespace velmora {
namespace {

using test::cell;
using test::column;
using test::TempDir;

// The in-memory table, noting the calls that matter for their order, and
// failing NewLine on request.
class RecordingTable : public MemoryValueTable {
 public:
  explicit RecordingTable(const std::filesystem::path* log = nullptr) : log_(log) {}

  void NewColumn(U16View name, U16View typeName, std::optional<std::int16_t> length) override {
    calls.push_back("NewColumn " + test::utf8(name));
    MemoryValueTable::NewColumn(name, typeName, length);
  }
  void NewLine() override {
    if (++newLines == failNewLineAt) throw HostError(kMemoryHostError, u"Строка не добавлена");
    MemoryValueTable::NewLine();
  }
  void GroupBy(U16View columns, U16View summed) override {
    calls.push_back("GroupBy " + test::utf8(columns) + " " + test::utf8(summed));
    if (log_ != nullptr) logOpenAtGroupBy = test::heldOpen(*log_);
    MemoryValueTable::GroupBy(columns, summed);
  }
  void Sort(U16View columns) override {
    calls.push_back("Sort " + test::utf8(columns));
    MemoryValueTable::Sort(columns);
  }

  std::vector<std::string> calls;
  int newLines = 0;
  int failNewLineAt = 0;
  bool logOpenAtGroupBy = true;

 private:
  const std::filesystem::path* log_;
};

class GetData : public ::testing::Test {
 protected:
  GetData() : table(&logPath) {}
  void useLog(const std::string& bytes) {
    tmp.write("log.txt", bytes);
    j.SetFilePath(tmp.u16("log.txt"));
  }
  void period(const char* date1, const char* date2) {
    ASSERT_TRUE(j.SetDateTimes(test::u16(date1), u"", test::u16(date2), u""));
  }

  TempDir tmp;
  std::filesystem::path logPath = tmp.path("log.txt");
  Journal j;
  RecordingTable table;
};

TEST_F(GetData, RowsHoldTheFieldsInTheResultColumns) {
  test::Rec r = test::at("20050317", "10:15:00", "Петров");
  r.comment = "Проведен";
  r.id = "12345";
  r.presentation = "Счет №7";
  useLog(test::at("20050316", "09:00:00").line() + r.line() + test::at("20050318", "09:00:00").line());
  period("20050317", "20050317");
  const std::int32_t next = j.GetStartPos(0, table);

  const std::vector<std::pair<std::string, std::int16_t>> expected = {
      {"Дата", 8}, {"Время", 8}, {"Пользователь", 0}, {"Режим", 0}, {"ТипОбъекта", 0},
      {"Действие", 0}, {"НомерДействия", 2}, {"Комментарий", 0}, {"Идентификатор", 30}, {"Представление", 0}};
  ASSERT_EQ(table.columns().size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(test::utf8(table.columns()[k].name), expected[k].first);
    EXPECT_EQ(test::utf8(table.columns()[k].type), "Строка");
    EXPECT_EQ(table.columns()[k].length.value_or(0), expected[k].second);
  }
  ASSERT_EQ(table.rowCount(), 1);
  const std::vector<std::string> fields = {"20050317", "10:15:00", "Петров", "E", "Docs",
                                           "DocWrite", "1", "Проведен", "12345", "Счет №7"};
  for (int k = 1; k <= 10; ++k) EXPECT_EQ(cell(table, 1, k), fields[static_cast<std::size_t>(k - 1)]) << k;
  EXPECT_EQ(j.ListStrSize(), 1);
  // The third record lies past the end: the next call starts after it.
  EXPECT_EQ(next, static_cast<std::int32_t>(std::filesystem::file_size(logPath)) + 1);
  EXPECT_EQ(j.MyFileSize(), static_cast<std::int32_t>(std::filesystem::file_size(logPath)));
}

TEST_F(GetData, PositionAtOrPastTheEndReturnsItUnchanged) {
  const std::string log = test::dailyLog(1, 2, 5);
  useLog(log);
  period("20050101", "20050131");
  const auto size = static_cast<std::int32_t>(log.size());
  EXPECT_EQ(j.GetStartPos(size, table), size);
  EXPECT_EQ(j.GetStartPos(size + 100, table), size + 100);
  EXPECT_EQ(table.rowCount(), 0);
}

TEST_F(GetData, TableWithTheSameColumnCountKeepsItsRows) {
  for (int k = 0; k < 10; ++k) table.NewColumn(u"К" + std::u16string(1, static_cast<char16_t>(u'0' + k)), u"Строка", std::nullopt);
  table.NewLine();
  table.NewLine();
  table.SetValue(2, 1, u"прежняя");
  useLog(test::dailyLog(1, 1, 3));
  period("20050101", "20050101");
  j.GetStartPos(0, table);
  ASSERT_EQ(table.rowCount(), 5);
  EXPECT_EQ(cell(table, 2, 1), "прежняя");
  EXPECT_EQ(cell(table, 3, 1), "20050101");  // new rows numbered from 3
  EXPECT_EQ(cell(table, 5, 9), "O2");
  EXPECT_EQ(j.ListStrSize(), 5);
  EXPECT_EQ(test::utf8(table.columns()[0].name), "К0");  // not rebuilt
}

TEST_F(GetData, TableWithAnotherColumnCountIsRebuilt) {
  table.NewColumn(u"Старая", u"Строка", std::nullopt);
  table.NewLine();
  table.NewLine();
  useLog(test::dailyLog(1, 1, 3));
  period("20050101", "20050101");
  j.GetStartPos(0, table);
  ASSERT_EQ(table.ColumnCount(), 10);
  EXPECT_EQ(test::utf8(table.columns()[0].name), "Дата");
  EXPECT_EQ(column(table, 9), (std::vector<std::string>{"O0", "O1", "O2"}));
  EXPECT_EQ(j.ListStrSize(), 3);
}

TEST_F(GetData, SelectedColumnsTakeTheirFieldsInOrder) {
  j.SetInsertColumn(u"1010000001");
  ASSERT_EQ(j.ColumnTotal(), 3);
  test::Rec r = test::at("20050105", "11:00:00", "Сидоров");
  r.presentation = "Склад";
  useLog(r.line());
  period("20050105", "20050105");
  j.GetStartPos(0, table);
  ASSERT_EQ(table.ColumnCount(), 3);
  EXPECT_EQ(test::utf8(table.columns()[0].name), "Дата");
  EXPECT_EQ(test::utf8(table.columns()[1].name), "Пользователь");
  EXPECT_EQ(test::utf8(table.columns()[2].name), "Представление");
  EXPECT_EQ(cell(table, 1, 1), "20050105");
  EXPECT_EQ(cell(table, 1, 2), "Сидоров");
  EXPECT_EQ(cell(table, 1, 3), "Склад");
}

TEST_F(GetData, TranslationRewritesTheFieldsItSelects) {
  j.SetTransformStr(u"1001");
  test::Rec r = test::at("20050317", "10:00:00");
  r.event = "DocWrite";
  r.category = "Docs";
  useLog(r.line());
  period("20050317", "20050317");
  j.GetStartPos(0, table);
  ASSERT_EQ(table.rowCount(), 1);
  EXPECT_EQ(cell(table, 1, 1), "17.03.05");
  EXPECT_EQ(cell(table, 1, 5), "Docs");  // category flag is off
  EXPECT_EQ(cell(table, 1, 6), "Документ записан");
}

TEST_F(GetData, TranslationOfSelectedColumnsUsesTheFieldNumber) {
  j.SetTransformStr(u"0111");
  j.SetInsertColumn(u"0000010000");  // the event code alone
  useLog(test::at("20050317", "10:00:00").line());
  period("20050317", "20050317");
  j.GetStartPos(0, table);
  ASSERT_EQ(table.ColumnCount(), 1);
  EXPECT_EQ(cell(table, 1, 1), "Документ записан");
}

TEST_F(GetData, GroupingCountsRecordsAfterTheLogIsClosed) {
  j.SetGroupBy(u"Пользователь");
  j.SetOrderBy(u"Пользователь");
  useLog(test::dailyLog(1, 1, 10));  // users take turns: Иванов, Петров, Сидоров, Админ
  period("20050101", "20050101");
  const std::int32_t next = j.GetStartPos(0, table);
  EXPECT_GT(next, 0);
  EXPECT_EQ(table.calls, (std::vector<std::string>{
                             "NewColumn Дата", "NewColumn Время", "NewColumn Пользователь", "NewColumn Режим",
                             "NewColumn ТипОбъекта", "NewColumn Действие", "NewColumn НомерДействия",
                             "NewColumn Комментарий", "NewColumn Идентификатор", "NewColumn Представление",
                             "NewColumn Чис", "GroupBy Пользователь Чис", "Sort Пользователь"}));
  EXPECT_FALSE(table.logOpenAtGroupBy);
  EXPECT_EQ(column(table, 1), (std::vector<std::string>{"Админ", "Иванов", "Петров", "Сидоров"}));
  EXPECT_EQ(column(table, 2), (std::vector<std::string>{"2", "3", "3", "2"}));
  EXPECT_EQ(j.ListStrSize(), 10);  // rows written before grouping

  // The grouped table no longer has ColumnTotal columns: rebuilt next time.
  table.calls.clear();
  j.GetStartPos(0, table);
  EXPECT_EQ(table.calls.front(), "NewColumn Дата");
  EXPECT_EQ(column(table, 2), (std::vector<std::string>{"2", "3", "3", "2"}));
}

TEST_F(GetData, PeriodNotSetGivesMinusOneAfterTheTableCheck) {
  j.SetOrderBy(u"Дата");
  useLog(test::dailyLog(1, 1, 3));
  EXPECT_EQ(j.GetStartPos(0, table), -1);
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_EQ(table.ColumnCount(), 10);  // the table was prepared
  EXPECT_EQ(std::count(table.calls.begin(), table.calls.end(), "Sort Дата"), 0);
}

TEST_F(GetData, MissingLogGivesMinusOneWithoutAnError) {
  j.SetFilePath(tmp.u16("missing.txt"));
  period("20050101", "20050101");
  EXPECT_EQ(j.GetStartPos(0, table), -1);
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_EQ(test::utf8(j.TextErr()), "");
}

TEST_F(GetData, NoRecordOfThePeriodStillSorts) {
  j.SetOrderBy(u"Дата");
  useLog(test::dailyLog(1, 3, 5));
  period("20050110", "20050111");
  EXPECT_EQ(j.GetStartPos(0, table), -1);
  EXPECT_EQ(table.rowCount(), 0);
  EXPECT_EQ(table.calls.back(), "Sort Дата");
}

TEST_F(GetData, RecordsRejectedByTheFiltersAddNoRows) {
  ASSERT_TRUE(j.SetFilter(u"|Петров|", u"FilterUsers"));
  useLog(test::dailyLog(1, 1, 8));
  period("20050101", "20050101");
  j.GetStartPos(0, table);
  EXPECT_EQ(column(table, 3), (std::vector<std::string>{"Петров", "Петров"}));
  EXPECT_EQ(j.ListStrSize(), 2);
}

TEST_F(GetData, FailingHostCallKeepsRowsAndReportsTheError) {
  table.failNewLineAt = 3;
  useLog(test::dailyLog(1, 1, 5));
  period("20050101", "20050101");
  EXPECT_EQ(j.GetStartPos(0, table), -1);
  EXPECT_EQ(j.NumErr(), static_cast<std::int16_t>(ErrorNumber::AutomationError));  // 0x80020009 folded
  EXPECT_EQ(test::utf8(j.TextErr()), "Строка не добавлена");
  EXPECT_EQ(table.rowCount(), 2);
  EXPECT_FALSE(test::heldOpen(logPath));

  // The next call starts clean.
  table.failNewLineAt = 0;
  EXPECT_GT(j.GetStartPos(0, table), 0);
  EXPECT_EQ(j.NumErr(), 0);
  EXPECT_EQ(j.TextErr(), u"");
}

TEST_F(GetData, UnterminatedLastRecordIsLeftForALaterCall) {
  std::vector<std::int64_t> starts;
  const std::string log = test::dailyLog(1, 1, 4, 100, &starts);
  const std::string last = test::at("20050101", "23:00:00", "Последний").text();
  useLog(log + last);
  period("20050101", "20050101");
  const std::int32_t next = j.GetStartPos(0, table);
  EXPECT_EQ(next, static_cast<std::int32_t>(log.size()) + 1);  // where the unfinished line starts
  EXPECT_EQ(table.rowCount(), 4);

  tmp.append("log.txt", "\r\n");
  EXPECT_EQ(j.GetStartPos(next, table), static_cast<std::int32_t>(log.size() + last.size()) + 3);
  ASSERT_EQ(table.rowCount(), 5);
  EXPECT_EQ(cell(table, 5, 3), "Последний");
}

// ---- records longer than a read window ------------------------------------

// A log of day 1 with a 40 KiB and a 200 KiB record among short ones; ids
// O0..O5 in log order, the long ones O1 and O3.
struct LongRecordLog {
  std::string bytes;
  std::vector<std::int64_t> starts;
  std::vector<std::string> comments;

  LongRecordLog() {
    const std::size_t sizes[] = {0, 40 * 1024, 0, 200 * 1024, 0, 0};
    for (int n = 0; n < 6; ++n) {
      const std::size_t size = sizes[static_cast<std::size_t>(n)];
      test::Rec r = test::at("20050101", test::clock(3600 * (n + 1)), size > 0 ? "Длинный" : "Петров");
      r.id = test::numbered("O", n);
      // Distinct text at both ends shows the comment is the whole one.
      if (size > 0) r.comment = "начало" + std::string(size, 'x') + "конец";
      comments.push_back(r.comment);
      starts.push_back(static_cast<std::int64_t>(bytes.size()) + 1);
      bytes += r.line();
    }
  }
  std::int32_t end() const { return static_cast<std::int32_t>(bytes.size()) + 1; }
};

TEST_F(GetData, RecordsLongerThanTheWindowBecomeRowsWithTheirWholeComment) {
  const LongRecordLog log;
  useLog(log.bytes);
  period("20050101", "20050101");
  // From the period's start (64 KiB windows), and resumed from the first
  // byte and from just before each long record (32 KiB windows).
  for (const std::int64_t from : {std::int64_t{0}, std::int64_t{1}, log.starts[1], log.starts[3]}) {
    SCOPED_TRACE(from);
    table.DeleteLines();
    EXPECT_EQ(j.GetStartPos(static_cast<std::int32_t>(from), table), log.end());
    EXPECT_EQ(j.NumErr(), 0);
    const std::size_t first = from <= 1 ? 0 : from == log.starts[1] ? 1 : 3;
    ASSERT_EQ(table.rowCount(), static_cast<int>(6 - first));
    for (std::size_t n = first; n < 6; ++n) {
      const int row = static_cast<int>(n - first) + 1;
      EXPECT_EQ(cell(table, row, 9), test::numbered("O", n));
      EXPECT_TRUE(cell(table, row, 8) == log.comments[n]) << n;
      EXPECT_EQ(cell(table, row, 10), "Накладная");  // fields after the comment
    }
  }
}

TEST_F(GetData, LongRecordsTakeEveryLoopAndTheFiltersSeeTheWholeRecord) {
  const LongRecordLog log;
  useLog(log.bytes);
  period("20050101", "20050101");
  // "конец" lies past the first 64 KiB of the 200 KiB record only.
  ASSERT_TRUE(j.SetFilter(u"|КОНЕЦ|", u"8"));
  EXPECT_EQ(j.GetStartPos(1, table), log.end());
  EXPECT_EQ(column(table, 9), (std::vector<std::string>{"O1", "O3"}));

  j.SetInvertFilters(u"00000100");  // the comment filter inverted
  j.SetInsertColumn(u"0010000110");
  j.SetGroupBy(u"Пользователь");
  j.SetTransformStr(u"0100");
  EXPECT_EQ(j.GetStartPos(1, table), log.end());
  EXPECT_EQ(column(table, 1), (std::vector<std::string>{"Петров"}));
  EXPECT_EQ(column(table, 2), (std::vector<std::string>{"4"}));
}

TEST_F(GetData, LongRecordsOutsideThePeriodAreSkippedOrEndTheCall) {
  test::Rec before = test::at("20050101", "23:00:00");
  before.comment.assign(100000, 'x');
  test::Rec after = test::at("20050103", "01:00:00");
  after.comment.assign(100000, 'x');
  const std::string log = before.line() + test::dailyLog(2, 2, 3) + after.line() +
                          test::dailyLog(3, 3, 3);
  useLog(log);
  period("20050102", "20050102");
  // The first is before the period; the second, past its end, ends the call,
  // which resumes after it.
  EXPECT_EQ(j.GetStartPos(1, table), static_cast<std::int32_t>(before.line().size() + 300 + after.line().size()) + 1);
  EXPECT_EQ(column(table, 9), (std::vector<std::string>{"O0", "O1", "O2"}));
}

TEST_F(GetData, UnterminatedLongLastLineIsLeftForALaterCall) {
  const std::string head = test::dailyLog(1, 1, 3);
  test::Rec longRec = test::at("20050101", "20:00:00", "Длинный");
  longRec.comment.assign(100000, 'x');
  useLog(head + longRec.text());
  period("20050101", "20050101");
  const auto at = static_cast<std::int32_t>(head.size()) + 1;
  EXPECT_EQ(j.GetStartPos(1, table), at);
  EXPECT_EQ(j.GetStartPos(at, table), at);  // still unfinished
  EXPECT_EQ(table.rowCount(), 3);

  // Its line end arrives while a call runs: past the length found at open,
  // so that call leaves it too; the next one reads it.
  j.setProgress([&](std::int64_t, std::int64_t) { tmp.append("log.txt", "\r\n"); });
  EXPECT_EQ(j.GetStartPos(at, table), at);
  EXPECT_EQ(table.rowCount(), 3);
  j.setProgress(nullptr);
  EXPECT_EQ(j.GetStartPos(at, table), at + static_cast<std::int32_t>(longRec.line().size()));
  ASSERT_EQ(table.rowCount(), 4);
  EXPECT_EQ(cell(table, 4, 3), "Длинный");
  EXPECT_EQ(j.NumErr(), 0);
}

TEST_F(GetData, PositionPast2GiBFailsWithOverflow) {
  // A sparse log: a hole, then records around the 2 GiB mark.
  const std::int64_t first = (std::int64_t{1} << 31) - 250;  // position of the first record
  {
    std::ofstream out(logPath, std::ios::binary);
  }
  std::error_code ec;
  std::filesystem::resize_file(logPath, static_cast<std::uintmax_t>(first - 1), ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  tmp.append("log.txt", test::dailyLog(1, 1, 10));
  j.SetFilePath(tmp.u16("log.txt"));
  period("20050101", "20050101");

  EXPECT_EQ(j.GetStartPos(static_cast<std::int32_t>(first), table), -1);
  EXPECT_EQ(j.NumErr(), static_cast<std::int16_t>(ErrorNumber::Overflow));
  EXPECT_NE(j.TextErr().find(u"log.txt"), U16String::npos);
  EXPECT_EQ(table.rowCount(), 10);  // written before the position was known
  EXPECT_EQ(j.MyFileSize(), std::numeric_limits<std::int32_t>::max());
}

}  // namespace
}  // namespace velmora
