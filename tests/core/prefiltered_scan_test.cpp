// GetData and the typed reader with filters that let the scan pass over
// windows and lines: the rows and positions are those of a record-by-record
// reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/filter_text.h"
#include "core/period.h"
#include "core/reader.h"
#include "script/journal.h"
#include "log_builder.h"
#include "text/codepage.h"

namespace velmora {
namespace {

using test::TempDir;
using Row = std::vector<std::string>;

// A record's ten fields, as log bytes.
Row fieldsOf(const test::Rec& r) {
  return {r.date, r.time, test::cp1251(r.user), test::cp1251(r.mode), test::cp1251(r.category),
          test::cp1251(r.event), test::cp1251(r.number), test::cp1251(r.comment), test::cp1251(r.id),
          test::cp1251(r.presentation)};
}

class Collect : public RecordSink {
 public:
  bool record(const Record& record) override {
    const RecordFields& fields = record.fields;
    Row row;
    for (int k = 1; k <= 10; ++k) row.emplace_back(fields[k]);
    rows.push_back(std::move(row));
    return stopAfter == 0 || rows.size() < stopAfter;
  }
  std::vector<Row> rows;
  std::size_t stopAfter = 0;
};

// Twelve days of records, 1,500 a day (about two 64 KiB windows a day), in
// which one user is rare: a few records in each window, in three spellings,
// runs of them now and then, so that some stand at the edges of windows.
class PrefilteredScan : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CodePage::select(1251));
    static const char* const common[] = {"Иванов", "Петров", "Сидорова", "Администратор"};
    for (int day = 1; day <= 12; ++day) {
      for (int k = 0; k < 1500; ++k) {
        test::Rec r = test::at(test::janDay(day), test::clock(k * 57), common[(day + k) % 4]);
        r.id = test::numbered("O/", k);
        r.comment = k % 9 ? "" : "Проверка остатков";
        if (k % 37 == 5 || (k % 250 >= 100 && k % 250 < 106)) r.user = (k % 2) ? "Щукин" : "щукин";
        if (k % 307 == 7) r.user = "ЩУКИН";
        recs.push_back(r);
      }
    }
    for (const test::Rec& r : recs) log += r.line();
    tmp.write("log.txt", log);
    j.SetFilePath(tmp.u16("log.txt"));
  }

  // The period and filters, set on the script class by its texts and on the
  // typed query by the same texts.
  void period(const char* d1, const char* t1, const char* d2, const char* t2) {
    ASSERT_TRUE(j.SetDateTimes(test::u16(d1), test::u16(t1), test::u16(d2), test::u16(t2)));
    const auto keys = periodKeys(test::u16(d1), test::u16(t1), test::u16(d2), test::u16(t2));
    q.begin = keys->begin;
    q.end = keys->end;
  }
  void filter(int field, U16View text) {
    const bool set = j.SetFilter(text, fromUtf8(std::to_string(field)));
    const std::optional<FieldFilter> typed = parseFilterText(field, text, false);
    EXPECT_EQ(set, typed.has_value());
    const bool invert = q.filters[static_cast<std::size_t>(field)].invert;
    q.filters[static_cast<std::size_t>(field)] = typed.value_or(FieldFilter{});
    q.filters[static_cast<std::size_t>(field)].invert = invert;
  }
  void invert(U16View mask) {
    j.SetInvertFilters(mask);
    for (std::size_t k = 0; k < 8; ++k) q.filters[k + 3].invert = k < mask.size() && mask[k] == u'1';
  }
  Reader reader() const { return Reader(tmp.u16("log.txt"), q, CodePage::current()); }

  // The records of [from, to] (keys) that pass, and the position after the
  // first record past to's date (or after the log): a record-by-record
  // reading, done here by hand.
  std::pair<std::vector<Row>, std::int64_t> expected(const std::string& from, const std::string& to,
                                                      const std::function<bool(const test::Rec&)>& passes) {
    std::vector<Row> rows;
    std::int64_t position = 1;
    for (const test::Rec& r : recs) {
      const std::string key = r.date + ";" + r.time + ";";
      position += static_cast<std::int64_t>(r.line().size());
      if (key >= from && key <= to && passes(r)) rows.push_back(fieldsOf(r));
      if (r.date > to.substr(0, 8)) return {rows, position};
    }
    return {rows, position};
  }

  void expectBothMethods(const std::pair<std::vector<Row>, std::int64_t>& want) {
    Collect sink;
    Reader r = reader();
    const ScanResult scan = r.scan(0, sink);
    EXPECT_EQ(scan.next, want.second);
    EXPECT_FALSE(scan.failure);
    EXPECT_EQ(sink.rows, want.first);
    MemoryValueTable table;
    EXPECT_EQ(j.GetStartPos(0, table), want.second);
    EXPECT_EQ(j.NumErr(), 0) << test::utf8(j.TextErr());
    EXPECT_EQ(table.rowCount(), static_cast<std::int32_t>(want.first.size()));
  }

  TempDir tmp;
  Journal j;
  ReadQuery q;
  std::vector<test::Rec> recs;
  std::string log;
};

bool isShchukin(const test::Rec& r) { return r.user == "Щукин" || r.user == "щукин" || r.user == "ЩУКИН"; }

TEST_F(PrefilteredScan, GivesEveryRecordOfThePeriodThatPasses) {
  const struct {
    const char *d1, *t1, *d2, *t2;
    std::vector<std::pair<int, const char16_t*>> filters;
    const char16_t* invert;
    bool (*passes)(const test::Rec&);
    std::size_t atLeast;  // rows, so that the comparison means something
  } cases[] = {
      {"20050101", "", "20050131", "", {{3, u"|щУкИн|"}}, u"", isShchukin, 40},
      // A period whose ends fall inside days, so that the first and last
      // windows hold records on both sides of it.
      {"20050103", "13:07:00", "20050109", "", {{3, u"|щУкИн|"}}, u"", isShchukin, 40},
      // Nothing passes: the scan reads to the end.
      {"20050101", "", "20050131", "", {{3, u"|Никто|"}}, u"", [](const test::Rec&) { return false; }, 0},
      {"20050101", "", "20050131", "", {{3, u"Щукин"}}, u"", [](const test::Rec&) { return false; }, 0},
      {"20050101", "", "20050131", "", {{3, u"||"}}, u"", [](const test::Rec&) { return false; }, 0},
      // Other filters still apply to the lines found.
      {"20050101", "", "20050131", "", {{3, u"|Щукин|"}, {8, u"|остатк|"}}, u"",
       [](const test::Rec& r) { return isShchukin(r) && !r.comment.empty(); }, 1},
      // An inverted filter is not searched for: it keeps what lacks its items.
      {"20050101", "", "20050131", "", {{3, u"|Щукин|"}, {8, u"|остатк|"}}, u"10",
       [](const test::Rec& r) { return !isShchukin(r) && !r.comment.empty(); }, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.d1) + " " + c.t1 + " .. " + c.d2 + " " + c.t2 + " " + test::utf8(c.filters[0].second));
    period(c.d1, c.t1, c.d2, c.t2);
    for (int f = 3; f <= 10; ++f) filter(f, u"");
    for (const auto& [field, text] : c.filters) filter(field, text);
    invert(c.invert);
    const auto want = expected(q.begin, q.end, c.passes);
    ASSERT_GE(want.first.size(), c.atLeast);
    expectBothMethods(want);
  }
}

TEST_F(PrefilteredScan, AStoppedSinkResumesAfterItsLastRecord) {
  period("20050101", "", "20050131", "");
  filter(3, u"|Щукин|");
  const auto want = expected("20050101;00:00:00;", "20050131;23:59:59;", isShchukin);
  std::vector<Row> pieced;
  std::int64_t pos = 1;
  Reader r = reader();
  // The windows GetData reads in when it resumes at a position.
  r.setScanWindow(Reader::kSearchWindow);
  for (int call = 0; call < 1000 && pos <= static_cast<std::int64_t>(log.size()); ++call) {
    Collect some;
    some.stopAfter = 7;
    const std::int64_t next = r.scan(pos, some).next;
    ASSERT_GT(next, pos);
    pieced.insert(pieced.end(), some.rows.begin(), some.rows.end());
    pos = next;
  }
  EXPECT_EQ(pos, want.second);
  EXPECT_EQ(pieced, want.first);
}

TEST_F(PrefilteredScan, MatchesRightAtTheEndsOfLines) {
  // Half the records end with the item, among them the last complete line
  // of many windows.
  for (std::size_t k = 0; k < recs.size(); ++k) recs[k].presentation = k % 2 ? "Накладная" : "Счет-фактура";
  log.clear();
  for (const test::Rec& r : recs) log += r.line();
  tmp.write("log.txt", log);
  period("20050101", "", "20050131", "");
  filter(10, u"|ладная|");
  expectBothMethods(expected("20050101;00:00:00;", "20050131;23:59:59;",
                             [](const test::Rec& r) { return r.presentation == "Накладная"; }));
}

TEST_F(PrefilteredScan, ErrorCommentsAreSearchedWhole) {
  // Error records keep the ";" of their comment; an item holding ";" finds
  // them and nothing else.
  recs.clear();
  log.clear();
  for (int k = 0; k < 6000; ++k) {
    test::Rec r = test::at(test::janDay(1 + k / 1000), test::clock(k % 1000 * 80), "Петров");
    r.comment = k % 13 ? "Документ; проведен" : "Ошибка; строка 12";
    r.number = k % 2 ? "5" : "1";
    r.id = r.number == "5" ? "" : "O/1";
    r.presentation = r.number == "5" ? "" : "Накладная";
    recs.push_back(r);
    log += r.line();
  }
  tmp.write("log.txt", log);
  period("20050101", "", "20050131", "");
  filter(8, u"|КА; СТР|");
  expectBothMethods(expected("20050101;00:00:00;", "20050131;23:59:59;", [](const test::Rec& r) {
    return r.number == "5" && r.comment == "Ошибка; строка 12";
  }));
}

TEST_F(PrefilteredScan, LettersFoldThroughTheLogsCodePage) {
  // The same records in code page 866, whose upper and lower case letters
  // are not one bit apart.
  struct Restore {
    ~Restore() { CodePage::select(1251); }
  } restore;
  ASSERT_TRUE(CodePage::select(866));
  std::string log866;
  for (const test::Rec& r : recs) log866 += r.line();  // cp1251() encodes in the current code page
  tmp.write("log.txt", log866);
  period("20050101", "", "20050131", "");
  filter(3, u"|щукин|");
  Collect sink;
  Reader r = reader();
  EXPECT_EQ(r.scan(0, sink).next, static_cast<std::int64_t>(log866.size()) + 1);
  const auto shchukins = static_cast<std::size_t>(std::count_if(recs.begin(), recs.end(), isShchukin));
  EXPECT_EQ(sink.rows.size(), shchukins);
  for (const Row& row : sink.rows) {
    U16String user = CodePage::current().decode(row[2]);
    for (char16_t& u : user) u = CodePage::current().upperUnit(u);
    EXPECT_EQ(user, u"ЩУКИН");
  }
}

}  // namespace
}  // namespace velmora
