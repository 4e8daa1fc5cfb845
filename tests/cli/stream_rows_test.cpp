// The data command prints rows as the reader finds them. Held against the
// way it printed them before, GetData into the in-memory value table and the
// table printed by RowPrinter, over many combinations of columns,
// translation, grouping, sorting, filters, periods and formats: the same
// bytes out, the same exit code, the same resume position or failure. The
// logs' values fit the table's column widths, so the table cuts nothing.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/host_rows.h"
#include "cli_support.h"
#include "core/failure.h"
#include "script/journal.h"
#include "memhost/memory_host.h"
#include "sample/sample.h"
#include "text/codepage.h"

namespace velmora::cli {
namespace {

using testing::TempDir;

struct Outcome {
  int code = -1;
  std::string out;
  std::string tail;  // "resume N", or the failure's number and text
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << "exit " << o.code << ", " << o.tail << ", " << o.out.size() << " bytes:\n" << o.out.substr(0, 2000);
}

// GetData into the in-memory table, printed whole: the tool before it
// streamed. The script class is set up from the request's options as a
// script would write them (the requests here use the script's spellings).
Outcome throughTable(const DataRequest& r, Format format) {
  std::ostringstream out;
  Journal journal;
  const auto u16 = [](const std::string& text) { return fromUtf8(text); };
  journal.SetFilePath(u16(r.log));
  journal.SetDateTimes(u16(r.period.from), u16(r.period.fromTime), u16(r.period.to), u16(r.period.toTime));
  for (const std::string& f : r.filters.filters) {
    const std::size_t eq = f.find('=');
    journal.SetFilter(u16(f.substr(eq + 1)), u16(f.substr(0, eq)));
  }
  if (r.filters.invert) journal.SetInvertFilters(u16(*r.filters.invert));
  if (r.filters.exactId) journal.SetCoincidenceObject(1);
  if (r.columns) journal.SetInsertColumn(u16(*r.columns));
  if (r.translate) journal.SetTransformStr(u16(*r.translate));
  if (r.group) journal.SetGroupBy(u16(*r.group));
  if (r.order) journal.SetOrderBy(u16(*r.order));
  MemoryValueTable table;
  const std::int32_t next = journal.GetStartPos(static_cast<std::int32_t>(r.resume), table);
  if (journal.NumErr() != 0) {
    // The tool words the table's failure as a failure of the host object.
    return {kFailed, "",
            describe(Failure(FailureKind::Host, {}, journal.NumErr(), FileAction::None, journal.TextErr()))};
  }
  if (next < 0) return {kNothingFound, "", ""};
  TableRows rows(table);
  RowPrinter(format, out).print(rows);
  return {rows.rows() > 0 ? kSuccess : kNothingFound, out.str(), "resume " + std::to_string(next)};
}

Outcome throughStream(const DataRequest& r, Format format) {
  std::ostringstream out, err;
  Io io{out, err};
  io.format = format;
  Outcome o;
  try {
    o.code = runData(r, io);
  } catch (const UsageError& e) {
    return {kBadUsage, "", e.what()};
  }
  o.out = out.str();
  const std::string text = err.str();
  if (const auto at = text.find("failed, "); at != std::string::npos) {
    o.tail = text.substr(at + 8, text.find('\n', at) - at - 8);
  } else if (const long long resume = testing::resumePosition(text); resume >= 0) {
    o.tail = "resume " + std::to_string(resume);
  }
  return o;
}

class StreamRows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CodePage::select(1251));
    SampleOptions o;
    o.days = 4;
    o.perDay = 120;
    o.seed = 11;
    writeSampleLogFile(log, o);
  }
  static void writeSampleLogFile(const std::string& path, const SampleOptions& o) {
    testing::writeFile(path, sampleLog(o));
  }
  DataRequest request() const {
    DataRequest r;
    r.log = log;
    r.period.from = "20050102";
    r.period.to = "20050103";
    return r;
  }

  TempDir dir;
  std::string log = dir.path("events.log");
};

TEST_F(StreamRows, SameOutputAsTheTableForManyCombinationsOfOptions) {
  using Opt = std::optional<std::string>;
  const std::vector<Opt> columns{std::nullopt, std::nullopt, "1011110001", "0011110000",
                                 "0000000100", "1110000010", "0000001000"};
  const std::vector<Opt> translate{std::nullopt, "1111", "0100", "1001"};
  const std::vector<Opt> group{std::nullopt, std::nullopt, std::nullopt, "Пользователь", "Пользователь, Действие",
                               "Режим,ТипОбъекта", "1", "Чис", "Нет такой"};
  // Sorting by what grouping keeps, or by the plain columns; now and then a
  // column that is not there.
  const std::vector<Opt> groupedOrder{std::nullopt, "Чис desc", "Чис, 1 desc", "1-", "Нет такой"};
  const std::vector<Opt> order{std::nullopt, std::nullopt, "Пользователь", "Действие-, Время",
                               "Дата desc,Время desc", "2 asc", "Нет такой"};
  const std::vector<std::vector<std::string>> filters{
      {}, {}, {"FilterUsers=|Бухгалтер|иванова н.п.|"}, {"FilterRem=|накладн|ошибк|"},
      {"FilterMode=|E|"}, {"FilterIdObj=|O/12/|", "FilterTypeObj=|Docs|Refs|"}};
  const std::vector<std::array<std::string, 4>> periods{{"20050102", "", "20050103", ""},
                                                        {"20050102", "", "20050103", ""},
                                                        {"20050101", "12:00:00", "20050104", "08:30:00"},
                                                        {"20050101", "12:00:00", "20050104", "08:30:00"},
                                                        {"20040101", "", "20040105", ""}};
  const Format formats[] = {Format::Csv, Format::Tsv, Format::Jsonl, Format::Table};

  std::mt19937 random(20050317);
  auto pick = [&](const auto& v) -> const auto& { return v[random() % v.size()]; };
  int withRows = 0, grouped = 0, sorted = 0, failures = 0, refused = 0;
  for (int k = 0; k < 600; ++k) {
    DataRequest r = request();
    r.columns = pick(columns);
    r.translate = pick(translate);
    r.group = pick(group);
    r.order = r.group ? pick(groupedOrder) : pick(order);
    r.filters.filters = pick(filters);
    const auto& period = pick(periods);
    r.period.from = period[0];
    r.period.fromTime = period[1];
    r.period.to = period[2];
    r.period.toTime = period[3];
    if (random() % 5 == 0) r.filters.invert = "01";
    if (random() % 8 == 0) r.filters.exactId = true;
    const Format format = formats[k % 4];
    std::string shown = "format " + std::to_string(k % 4) + ", period " + r.period.from + " " + r.period.fromTime +
                        ".." + r.period.to + " " + r.period.toTime;
    for (const auto& [name, value] : {std::pair{"columns", r.columns}, {"translate", r.translate},
                                      {"group", r.group}, {"order", r.order}, {"invert", r.filters.invert}}) {
      if (value) shown += std::string(", ") + name + " " + *value;
    }
    for (const auto& f : r.filters.filters) shown += ", " + f;
    SCOPED_TRACE(shown);
    const Outcome table = throughTable(r, format);
    const Outcome stream = throughStream(r, format);
    if (stream.code == kBadUsage) {
      // The tool refuses a list naming a column the table lacks before it
      // reads; the table fails on it once the period has a start.
      EXPECT_NE(stream.tail.find("is not a column of the output"), std::string::npos) << stream.tail;
      EXPECT_TRUE(table.code == kFailed || table.code == kNothingFound) << table;
      ++refused;
      failures += table.code == kFailed;
      continue;
    }
    ASSERT_EQ(stream, table);
    withRows += !table.out.empty();
    grouped += !table.out.empty() && r.group.has_value();
    sorted += !table.out.empty() && r.order.has_value();
    failures += table.code == kFailed;
  }
  // The combinations reach rows, grouped and sorted rows, and failures.
  EXPECT_GT(withRows, 250);
  EXPECT_GT(grouped, 60);
  EXPECT_GT(sorted, 60);
  EXPECT_GT(failures, 30);
  EXPECT_GT(refused, 30);
}

TEST_F(StreamRows, ResumingAtAReturnedPositionAgrees) {
  DataRequest r = request();
  r.period.to = "20050131";
  // Half the log, then the rest from the position returned.
  const std::string bytes = testing::readFile(log);
  testing::writeFile(log, bytes.substr(0, bytes.rfind("\r\n", bytes.size() / 2) + 2));
  const Outcome first = throughStream(r, Format::Csv);
  ASSERT_EQ(first, throughTable(r, Format::Csv));
  ASSERT_EQ(first.tail.rfind("resume ", 0), 0u);
  testing::writeFile(log, bytes);
  r.resume = std::stoll(first.tail.substr(7));
  for (const Format format : {Format::Csv, Format::Jsonl, Format::Table}) {
    const Outcome rest = throughStream(r, format);
    EXPECT_EQ(rest, throughTable(r, format));
    EXPECT_EQ(rest.tail, "resume " + std::to_string(bytes.size() + 1));
  }
}

}  // namespace
}  // namespace velmora::cli
