// velmora stats against counts taken straight from the log's lines.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/format.h"
#include "cli/stats.h"
#include "cli/summary.h"
#include "cli_support.h"
#include "sample/sample.h"

namespace velmora::testing {
namespace {

struct Counts {
  long long records = 0, errors = 0;
  bool operator==(const Counts&) const = default;
};
using Group = std::map<std::string, Counts>;  // key -> counts

// Rows of stats --format csv by group.
std::map<std::string, Group> statsGroups(const std::string& csv) {
  std::map<std::string, Group> out;
  const auto rows = parseCsv(csv);
  EXPECT_FALSE(rows.empty());
  if (rows.empty()) return out;
  EXPECT_EQ(rows[0], (std::vector<std::string>{"group", "key", "records", "errors"}));
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].size(), 4u);
    Counts& c = out[rows[i][0]][rows[i][1]];
    EXPECT_EQ(c.records, 0) << rows[i][0] << " " << rows[i][1] << " twice";
    c = {std::stoll(rows[i][2]), std::stoll(rows[i][3])};
  }
  return out;
}

std::string isoDay(std::string_view yyyymmdd) {
  return std::string(yyyymmdd.substr(0, 4)) + "-" + std::string(yyyymmdd.substr(4, 2)) + "-" +
         std::string(yyyymmdd.substr(6, 2));
}

class Stats : public ::testing::Test {
 protected:
  void useSample(int days, int perDay, std::uint64_t seed = 21) {
    SampleOptions o;
    o.days = days;
    o.perDay = perDay;
    o.seed = seed;
    o.startDate = 20051227;  // across a year's end
    bytes = sampleLog(o);
    writeFile(log, bytes);
  }
  RunResult stats(std::vector<std::string> more) {
    std::vector<std::string> args{"stats", log};
    args.insert(args.end(), more.begin(), more.end());
    return runVelmora(args);
  }
  TempDir dir;
  std::string log = dir.path("events.log"), bytes;
};

TEST_F(Stats, CountsEqualThoseOfTheLogsLines) {
  useSample(10, 300);
  Group days, users, events, modes;
  Counts total;
  for (auto line : linesOf(bytes)) {
    const auto f = splitOn(line, ';');
    const bool error = f[6] == "5";
    const Counts one{1, error ? 1 : 0};
    auto add = [&](Counts& c) {
      c.records += one.records;
      c.errors += one.errors;
    };
    add(total);
    add(days[isoDay(line.substr(0, 8))]);
    add(users[utf8From1251(f[2])]);
    add(events[utf8From1251(f[5])]);
    add(modes[std::string(f[3])]);
  }
  ASSERT_GT(total.errors, 0);
  const RunResult r = stats({"--raw", "--format", "csv"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto got = statsGroups(r.out);
  EXPECT_EQ(got.at("total"), (Group{{"all", total}}));
  EXPECT_EQ(got.at("day"), days) << "ten days: by the day";
  EXPECT_EQ(got.at("user"), users);
  EXPECT_EQ(got.at("event"), events);
  EXPECT_EQ(got.at("mode"), modes);
  EXPECT_EQ(got.size(), 5u);
}

TEST_F(Stats, BucketsFollowTheSpanUnlessAsked) {
  useSample(10, 300);
  auto keys = [&](std::vector<std::string> more) {
    more.insert(more.end(), {"--format", "csv"});
    const RunResult r = stats(more);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> out;
    for (const auto& row : parseCsv(r.out))
      if (row[0] != "group" && row[0] != "total" && row[0] != "user" && row[0] != "event" && row[0] != "mode")
        out.push_back(row[0] + " " + row[1]);
    return out;
  };
  EXPECT_EQ(keys({"--by", "month"}), (std::vector<std::string>{"month 2005-12", "month 2006-01"}));
  EXPECT_EQ(keys({"--by", "week"}), (std::vector<std::string>{"week 2005-12-26", "week 2006-01-02"}))
      << "weeks start on Monday, 26 December 2005 the first";
  const auto hours = keys({"--from", "2005-12-31", "--to", "2006-01-01"});
  ASSERT_EQ(hours.size(), 48u) << "two days: by the hour, the empty hours too";
  EXPECT_EQ(hours.front(), "hour 2005-12-31 00:00");
  EXPECT_EQ(hours.back(), "hour 2006-01-01 23:00");
  const auto noon = keys({"--from", "2005-12-31T12:00:00", "--to", "2005-12-31T15:30:00"});
  EXPECT_EQ(noon, (std::vector<std::string>{"hour 2005-12-31 12:00", "hour 2005-12-31 13:00", "hour 2005-12-31 14:00",
                                            "hour 2005-12-31 15:00"}))
      << "a given period spans the chart even where it holds no record";
}

TEST_F(Stats, TranslatedUnlessRawAndFilteredLikeData) {
  useSample(3, 400);
  RunResult r = stats({"--format", "csv", "--user", "Бухгалтер", "--not-mode", "C"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto got = statsGroups(r.out);
  long long expected = 0;
  for (auto line : linesOf(bytes)) {
    const auto f = splitOn(line, ';');
    expected += f[2] == cp1251(u"Бухгалтер") && f[3] != "C";
  }
  EXPECT_EQ(got.at("total").at("all").records, expected);
  EXPECT_EQ(got.at("user").size(), 1u);
  EXPECT_TRUE(got.at("event").count("Документ записан")) << r.out;
  EXPECT_FALSE(got.at("event").count("DocWrite"));
  EXPECT_TRUE(got.at("mode").count("Пользовательский"));
  EXPECT_FALSE(got.at("mode").count("Конфигуратор"));

  r = stats({"--format", "csv", "--top", "3"});
  got = statsGroups(r.out);
  EXPECT_EQ(got.at("user").size(), 3u);
  EXPECT_EQ(got.at("event").size(), 3u);
}

TEST_F(Stats, RecordsWithoutACalendarDateAreCountedApartAndAWrongClockStretchesTheSpan) {
  useSample(3, 100);
  appendFile(log, "20061301;10:00:00;" + cp1251(u"Козлова;E;Docs;DocWrite;1;;;\r\n"));  // no month 13
  appendFile(log, "20990315;10:00:00;" + cp1251(u"Козлова;E;Docs;DocWrite;5;сбой;;\r\n"));
  const RunResult r = stats({"--format", "csv"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  long long sampleErrors = 0;
  for (auto line : linesOf(bytes)) sampleErrors += splitOn(line, ';')[6] == "5";
  const auto got = statsGroups(r.out);
  EXPECT_EQ(got.at("total").at("all"), (Counts{302, sampleErrors + 1}));
  ASSERT_TRUE(got.count("month")) << "a span of 93 years: by the month";
  const Group& months = got.at("month");
  EXPECT_EQ(months.at("undated"), (Counts{1, 0}));
  EXPECT_EQ(months.at("2099-03"), (Counts{1, 1}));
  EXPECT_EQ(months.at("2050-06"), (Counts{0, 0})) << "empty months inside the span are shown";
  EXPECT_EQ(months.size(), (2099 * 12 + 2) - (2005 * 12 + 11) + 1 + 1u) << "every month and the undated row";
}

TEST_F(Stats, BarsOnATerminalAndNumbersInJson) {
  useSample(5, 200);
  RunResult r = stats({"--format", "table", "--by", "day"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("█"), std::string::npos);
  EXPECT_NE(r.out.find("1000 records"), std::string::npos) << r.out;
  // The day lines: the label, a bar, the two counts; all end at one column.
  std::vector<std::size_t> widths;
  for (auto line : linesOf(r.out, "\n"))
    if (line.rfind("2005-", 0) == 0 || line.rfind("2006-", 0) == 0) widths.push_back(cli::displayWidth(line));
  ASSERT_EQ(widths.size(), 5u);
  for (std::size_t w : widths) EXPECT_EQ(w, widths.front());

  r = stats({"--format", "jsonl", "--top", "1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto lines = linesOf(r.out, "\n");
  const std::string head = "{\"group\":\"total\",\"key\":\"all\",\"records\":1000,\"errors\":";
  ASSERT_EQ(lines.front().substr(0, head.size()), head) << "counts are JSON numbers";
  const std::string_view errors = lines.front().substr(head.size());
  EXPECT_EQ(errors.find_first_not_of("0123456789"), errors.size() - 1) << lines.front();
  EXPECT_EQ(errors.back(), '}');
}

TEST_F(Stats, NothingFoundMissingLogAndBadBuckets) {
  useSample(2, 50);
  EXPECT_EQ(stats({"--user", "Никто"}).exitCode, 1);
  EXPECT_EQ(stats({"--from", "2004-01-01", "--to", "2004-12-31"}).exitCode, 1);
  const RunResult bad = stats({"--by", "fortnight"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("fortnight"), std::string::npos) << bad.err;
  EXPECT_EQ(runVelmora({"stats", dir.path("missing.log")}).exitCode, 3);
}

// Counted in two halves at once, as long logs are, the counts, the span and
// the error records kept for the report are those of one reading; also when
// the period ends before the log's middle and the second half is not used.
TEST_F(Stats, ALogCountedInTwoHalvesGivesTheCountsOfOneReading) {
  using namespace cli;
  useSample(20, 300);
  // The same log with a line without a key in its first quarter: a
  // reading stops there, and so the second half must not count.
  std::string broken = bytes;
  broken.insert(broken.find("\r\n", broken.size() / 4) + 2, "a line without a key\r\n");
  const std::string brokenLog = dir.path("broken.log");
  writeFile(brokenLog, broken);
  struct Case {
    PeriodOptions period;
    std::vector<std::string> filters;
    std::string log;
  };
  const std::vector<Case> cases{
      {{}, {}, log},
      {{"2005-12-29", "", "2006-01-09", "12:00:00", ""}, {}, log},
      {{}, {"FilterUsers=|Кладовщик|"}, log},
      {{"", "", "2005-12-30", "", ""}, {}, log},
      {{"2005-12-27", "", "2006-01-31", "", ""}, {}, brokenLog},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.period.from + ".." + c.period.to + (c.filters.empty() ? "" : " " + c.filters[0]) + " " + c.log);
    std::ostringstream out, err;
    Io io{out, err, Format::Csv, false};
    FilterOptions filters;
    filters.filters = c.filters;
    Tally one(50), halves(50);
    PeriodKeys oneKeys, halvesKeys;
    ASSERT_EQ(collect(c.log, c.period, filters, one, oneKeys, io, -1), kSuccess) << err.str();
    ASSERT_EQ(collect(c.log, c.period, filters, halves, halvesKeys, io, 0), kSuccess) << err.str();
    auto rows = [](const Tally& t, const PeriodKeys& keys) {
      std::vector<std::string> out;
      const Summary summary = summarise(t, keys, BucketSize::Hour, true);
      for (const StatRow& r : statRows(summary, 0))
        out.push_back(std::string(r.group) + " " + std::string(r.key) + " " + std::to_string(r.count.records) + " " + std::to_string(r.count.errors));
      return out;
    };
    EXPECT_EQ(rows(halves, halvesKeys), rows(one, oneKeys));
    EXPECT_EQ(halves.firstKey(), one.firstKey());
    EXPECT_EQ(halves.lastKey(), one.lastKey());
    ASSERT_EQ(halves.errorRecords().size(), one.errorRecords().size());
    for (std::size_t i = 0; i < one.errorRecords().size(); ++i)
      EXPECT_EQ(halves.errorRecords()[i].fields, one.errorRecords()[i].fields) << i;
    EXPECT_GT(one.total().records, 0u);
  }
}

}  // namespace
}  // namespace velmora::testing
