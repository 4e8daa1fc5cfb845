// The velmora program end to end, on generated logs.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli_support.h"
#include "sample/sample.h"
#include "text/text.h"

namespace velmora::testing {
namespace {

struct LogRecord {
  std::string_view line;  // without CR LF
  long long position;     // 1-based byte position of its first byte
  std::vector<std::string_view> fields;  // split at every ";"
  bool error() const { return fields[6] == "5"; }
};

std::vector<LogRecord> recordsOf(const std::string& log) {
  std::vector<LogRecord> out;
  long long position = 1;
  for (auto line : linesOf(log)) {
    out.push_back({line, position, splitOn(line, ';')});
    position += static_cast<long long>(line.size()) + 2;
  }
  return out;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleOptions o;
    o.days = 5;
    o.perDay = 300;
    o.seed = 5;
    bytes = sampleLog(o);
    log = dir.path("events.log");
    writeFile(log, bytes);
    records = recordsOf(bytes);
  }

  std::vector<const LogRecord*> onDay(std::string_view date) const {
    std::vector<const LogRecord*> out;
    for (const auto& r : records)
      if (r.line.substr(0, 8) == date) out.push_back(&r);
    return out;
  }

  RunResult data(std::vector<std::string> more) {
    std::vector<std::string> args{"data", log};
    args.insert(args.end(), more.begin(), more.end());
    return runVelmora(args);
  }

  TempDir dir;
  std::string log, bytes;
  std::vector<LogRecord> records;
};

// ---- data ---------------------------------------------------------------------

TEST_F(Cli, DataPrintsEveryRecordOfThePeriodAndWhereToResume) {
  const RunResult r = data({"--from", "2005-01-03", "--to", "20050103", "--format", "csv"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto rows = parseCsv(r.out);
  const auto day = onDay("20050103");
  ASSERT_EQ(rows.size(), day.size() + 1);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"Дата", "Время", "Пользователь", "Режим", "ТипОбъекта", "Действие",
                                               "НомерДействия", "Комментарий", "Идентификатор", "Представление"}));
  for (std::size_t i = 0; i < day.size(); ++i) {
    const LogRecord& rec = *day[i];
    ASSERT_EQ(rows[i + 1].size(), 10u);
    EXPECT_EQ(rows[i + 1][1], rec.fields[1]);
    EXPECT_EQ(rows[i + 1][2], utf8From1251(rec.fields[2]));
    EXPECT_EQ(rows[i + 1][5], utf8From1251(rec.fields[5]));
    if (rec.error()) {
      EXPECT_NE(rows[i + 1][7].find(';'), std::string::npos) << "an error comment keeps its ';'";
      EXPECT_EQ(rows[i + 1][8], "");
    } else {
      EXPECT_EQ(rows[i + 1][7], utf8From1251(rec.fields[7]));
      EXPECT_EQ(rows[i + 1][9], utf8From1251(rec.fields[9]));
    }
  }
  // The scan stops at the first record of the next day and resumes after it.
  const auto next = onDay("20050104");
  ASSERT_GE(next.size(), 2u);
  EXPECT_EQ(resumePosition(r.err), next[1]->position);
}

TEST_F(Cli, ResumeReadsExactlyWhatWasAppended) {
  const RunResult first = data({"--from", "20050101", "--to", "20050131"});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_EQ(linesOf(first.out, "\n").size(), records.size() + 1);
  const long long resume = resumePosition(first.err);
  ASSERT_EQ(resume, static_cast<long long>(bytes.size()) + 1);

  const std::string added = cp1251(
      u"20050106;09:00:00;Иванова Н.П.;E;Docs;DocWrite;1;новая запись 1;O/12/000500;Приходная накладная\r\n"
      u"20050106;09:00:05;Петров А.С.;E;Refs;RefWrite;1;новая запись 2;R/41/000001;Номенклатура: Гвоздь\r\n");
  appendFile(log, added);
  const RunResult second = data({"--from", "20050101", "--to", "20050131", "--resume", std::to_string(resume)});
  ASSERT_EQ(second.exitCode, 0) << second.err;
  const auto lines = linesOf(second.out, "\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("новая запись 1"), std::string_view::npos);
  EXPECT_NE(lines[2].find("новая запись 2"), std::string_view::npos);
  const long long again = resumePosition(second.err);
  EXPECT_EQ(again, resume + static_cast<long long>(added.size()));

  const RunResult third = data({"--from", "20050101", "--to", "20050131", "--resume", std::to_string(again)});
  EXPECT_EQ(third.exitCode, 1) << "nothing new";
  EXPECT_EQ(third.out, "");
  EXPECT_EQ(resumePosition(third.err), again);
}

TEST_F(Cli, FiltersAsScriptsSetThemInEitherLanguage) {
  const auto day = onDay("20050102");
  std::size_t ivanova = 0, clerk = 0, notE = 0, type12 = 0;
  for (const LogRecord* r : day) {
    ivanova += r->fields[2] == cp1251(u"Иванова Н.П.");
    clerk += r->fields[2] == cp1251(u"Бухгалтер");
    notE += r->fields[3] != "E";
    type12 += !r->error() && r->fields[8].find("O/12/") != std::string_view::npos;
  }
  ASSERT_GT(ivanova, 0u);
  ASSERT_GT(clerk, 0u);
  ASSERT_GT(notE, 0u);
  ASSERT_GT(type12, 0u);
  auto rowsOf = [&](std::vector<std::string> more) {
    std::vector<std::string> args{"--from", "20050102", "--to", "20050102", "--format", "tsv"};
    args.insert(args.end(), more.begin(), more.end());
    const RunResult r = data(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::vector<std::string>> rows;
    const auto lines = linesOf(r.out, "\n");
    for (std::size_t i = 1; i < lines.size(); ++i) {
      rows.emplace_back();
      for (auto cell : splitOn(lines[i], '\t')) rows.back().emplace_back(cell);
    }
    return rows;
  };

  const auto users = rowsOf({"--filter", "FilterUsers=|Иванова Н.П.|Бухгалтер|"});
  EXPECT_EQ(users.size(), ivanova + clerk);
  for (const auto& row : users) EXPECT_TRUE(row[2] == "Иванова Н.П." || row[2] == "Бухгалтер") << row[2];

  EXPECT_EQ(rowsOf({"--filter", "ФильтерПользователей=|бухгалтер|"}).size(), clerk) << "values ignore letter case";
  EXPECT_EQ(rowsOf({"--filter", "3=|Бухгалтер|"}).size(), clerk) << "filters are named by number too";
  const RunResult before = runVelmora({"data", "--filter", "FilterUsers=|Бухгалтер|", log, "--from", "20050102", "--to",
                                       "20050102", "--filter", "FilterMode=|E|C|M|D|"});
  EXPECT_EQ(before.exitCode, 0) << "one value per --filter, the log may follow it: " << before.err;
  EXPECT_EQ(linesOf(before.out, "\n").size(), clerk + 1);

  const auto inverted = rowsOf({"--filter", "FilterMode=|E|", "--invert", "01"});
  EXPECT_EQ(inverted.size(), notE);
  for (const auto& row : inverted) EXPECT_NE(row[3], "E");

  EXPECT_EQ(rowsOf({"--filter", "FilterIdObj=|O/12/|"}).size(), type12) << "items are searched inside identifiers";
  const RunResult exact = data({"--from", "20050102", "--to", "20050102", "--filter", "FilterIdObj=|O/12/|", "--exact-id"});
  EXPECT_EQ(exact.exitCode, 1) << "with --exact-id only whole identifiers match";
}

TEST_F(Cli, ColumnsTranslationGroupingAndOrder) {
  RunResult r = data({"--from", "20050103", "--to", "20050103", "--columns", "1000010000", "--translate", "1001",
                      "--format", "csv"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto rows = parseCsv(r.out);
  ASSERT_EQ(rows[0], (std::vector<std::string>{"Дата", "Действие"}));
  std::set<std::string> actions;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][0], "03.01.05");
    actions.insert(rows[i][1]);
  }
  EXPECT_TRUE(actions.count("Документ записан")) << "DocWrite in Russian";
  EXPECT_FALSE(actions.count("DocWrite"));

  r = data({"--from", "20050101", "--to", "20050105", "--group", "Пользователь", "--order", "Чис desc", "--format",
            "jsonl"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::map<std::string, long long> byUser;
  for (const auto& rec : records) ++byUser[utf8From1251(rec.fields[2])];
  const auto lines = linesOf(r.out, "\n");
  ASSERT_EQ(lines.size(), byUser.size());
  long long previous = -1;
  for (auto line : lines) {
    constexpr std::string_view countKey = "\"Чис\":", nameKey = "\"Пользователь\":\"";
    const std::size_t at = line.find(countKey);
    ASSERT_NE(at, std::string_view::npos) << line;
    const long long count = std::stoll(std::string(line.substr(at + countKey.size())));
    const std::size_t nameAt = line.find(nameKey) + nameKey.size();
    const std::string name(line.substr(nameAt, line.find('"', nameAt) - nameAt));
    EXPECT_EQ(count, byUser[name]) << name;
    if (previous >= 0) {
      EXPECT_LE(count, previous) << "sorted by count, descending";
    }
    previous = count;
  }
}

TEST_F(Cli, ValuesComeOutWholeAndEveryCsvRowIsARecord) {
  // An identifier of 32 characters (the host's table keeps 30 of them), and
  // records whose comment, the only column asked for, is empty.
  const std::string id32 = "O/12/000000000000000000000000001";
  ASSERT_EQ(id32.size(), 32u);
  writeFile(log, cp1251(u"20050110;09:00:00;Петров;E;Docs;DocWrite;1;;") + id32 + cp1251(u";Накладная\r\n") +
                     cp1251(u"20050110;09:00:01;Петров;E;Docs;DocWrite;1;;O/1;Накладная\r\n") +
                     cp1251(u"20050110;09:00:02;Петров;E;Docs;DocWrite;1;Важно;O/2;Накладная\r\n"));
  RunResult r = data({"--from", "20050110", "--to", "20050110", "--format", "csv"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto rows = parseCsv(r.out);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1][8], id32);
  for (const char* format : {"tsv", "jsonl", "table"}) {
    r = data({"--from", "20050110", "--to", "20050110", "--format", format, "--columns", "0000000010"});
    EXPECT_NE(r.out.find(id32), std::string::npos) << format << "\n" << r.out;
  }

  r = data({"--from", "20050110", "--to", "20050110", "--format", "csv", "--columns", "0000000100"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "Комментарий\r\n\"\"\r\n\"\"\r\nВажно\r\n");
  rows = parseCsv(r.out);
  EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{{"Комментарий"}, {""}, {""}, {"Важно"}}));
}

TEST_F(Cli, ResumePositionsPast2GiBAreTaken) {
  // A position beyond any 32-bit number: nothing is there to read, and the
  // same position comes back.
  const RunResult r = data({"--from", "20050101", "--to", "20050105", "--resume", "5000000000"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(resumePosition(r.err), 5000000000LL) << r.err;
}

TEST_F(Cli, DefaultOutputOffATerminalIsTabSeparatedWithoutProgress) {
  const RunResult r = data({"--from", "20050101", "--to", "20050105"});
  ASSERT_EQ(r.exitCode, 0);
  for (auto line : linesOf(r.out, "\n")) ASSERT_EQ(splitOn(line, '\t').size(), 10u) << line;
  EXPECT_EQ(r.err.find('\r'), std::string::npos) << "no progress line when standard error is not a terminal";
  EXPECT_EQ(r.err.find('%'), std::string::npos);
}

TEST_F(Cli, NothingFoundEndsWithOne) {
  const RunResult r = data({"--from", "20040101", "--to", "20041231"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  const RunResult filtered = data({"--from", "20050101", "--to", "20050105", "--filter", "FilterUsers=|Никто|"});
  EXPECT_EQ(filtered.exitCode, 1);
  EXPECT_EQ(filtered.out, "");
}

// ---- bad usage and failures -------------------------------------------------

TEST_F(Cli, BadArgumentsSayWhatIsExpectedAndEndWithTwo) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"frob"}, "data LOG"},
      {{"data", "--from", "20050101"}, "LOG"},
      {{"data", log, "--from", "20051301", "--to", "20051302"}, "YYYYMMDD"},
      {{"data", log, "--from", "29990101", "--to", "29990102"}, "year"},
      {{"data", log, "--from", "20050105", "--to", "20050101"}, "later"},
      {{"data", log, "--from", "20050101", "--to", "20050101", "--from-time", "25:00:00"}, "HH:MM:SS"},
      {{"data", log, "--from", "20050101", "--to", "20050101", "--to-time", "9:05"}, "HH:MM:SS"},
      {{"data", log, "--from", "20050101", "--to", "20050101", "--filter", "FilterPeople=|x|"}, "FilterUsers"},
      {{"data", log, "--from", "20050101", "--to", "20050101", "--filter", "FilterUsers"}, "NAME=TEXT"},
      {{"data", log, "--from", "20050101", "--to", "20050101", "--filter", "FilterRem=ошибка"}, "|"},
      {{"data", log, "--from", "20050101", "--to", "20050101", "--resume", "-5"}, "range"},
      {{"data", log, "--from", "20050101", "--to", "20050101", "--format", "xml"}, "csv"},
      {{"data", log, "--from", "20050101", "--to", "20050101", "--codepage", "12345"}, "1251"},
      {{"data", log, "--from", "20050101", "--to", "20050101", "--follow", "--group", "Действие"}, "--group"},
      {{"users", log, "--start", "abc"}, "--start"},
      {{"strip-errors", log}, "OUT"},
      {{"strip-errors", log, log}, "different files"},
      {{"replace-keys", log, dir.path("no-list"), dir.path("out")}, "does not exist"},
      {{"sample", dir.path("s.log"), "--days", "-1"}, "--days"},
      {{"sample", dir.path("s.log"), "--size", "12Q"}, "K, M or G"},
      {{"sample", dir.path("s.log"), "--start", "20050230"}, "date"},
      // Refused before the log is read, not after it as a failure.
      {{"data", log, "--order", "nosuch"}, "not a column"},
      {{"data", log, "--columns", "date,time", "--order", "user"}, "not a column"},
      {{"data", log, "--group", "user", "--order", "time"}, "not a column"},
      {{"data", log, "--group", ","}, "empty column name"},
      {{"report", log, "-o", dir.path("missing/r.html")}, "does not exist"},
      // Values that were taken, and read as something else.
      {{"data", log, "--from", "2005-02-30"}, "calendar"},
      {{"data", log, "--to", "2005-04-31"}, "calendar"},
      {{"data", log, "--from", "200501051"}, "calendar"},
      {{"data", log, "--from", "20050105abc"}, "calendar"},
      {{"data", log, "--invert", "yes"}, "mask"},
      {{"data", log, "--columns", "11111111111"}, "at most 10"},
      {{"data", log, "--translate", "11111"}, "at most 4"},
      {{"data", log, "--resume", "0x10"}, "decimal"},
      {{"users", log, "--start", "0x10"}, "decimal"},
      {{"sample", dir.path("s.log"), "--size", "-5"}, "not a size"},
      {{"data", log, "--filter", "FilterUsers=|A|", "--filter", "ФильтерПользователей=|B|"}, "same filter"},
  };
  for (const auto& [args, expected] : cases) {
    const RunResult r = runVelmora(args);
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_EQ(r.exitCode, 2) << shown << "\n" << r.err;
    EXPECT_EQ(r.out, "") << shown;
    EXPECT_EQ(r.err.rfind("velmora: ", 0), 0u) << shown << "\n" << r.err;
    EXPECT_NE(r.err.find(expected), std::string::npos) << shown << "\n" << r.err;
    EXPECT_EQ(r.err.find("terminate"), std::string::npos) << shown;
  }
  EXPECT_EQ(readFile(log), bytes) << "a refused run leaves the log alone";
  EXPECT_FALSE(exists(dir.path("s.log")));
}

TEST_F(Cli, FailuresPrintTheErrorAndEndWithThree) {
  RunResult r = runVelmora({"data", dir.path("missing.log"), "--from", "20050101", "--to", "20050101"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;

  r = runVelmora({"users", dir.path("missing.log")});
  EXPECT_EQ(r.exitCode, 3);

  // An output in a missing folder is refused before any work, as bad usage.
  r = runVelmora({"strip-errors", log, dir.path("no/such/folder/out.log")});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;

  r = runVelmora({"sample", dir.path("no/such/folder/s.log")});
  EXPECT_EQ(r.exitCode, 2) << r.err;
}

TEST_F(Cli, GroupAndOrderTakeTheColumnNamesOfColumns) {
  // English, Russian in any case, and numbers name the same columns.
  const RunResult english = data({"--format", "csv", "--group", "user,event", "--order", "count desc,user"});
  const RunResult russian = data({"--format", "csv", "--group", "Пользователь,Действие", "--order", "Чис desc,1"});
  const RunResult lower = data({"--format", "csv", "--group", "пользователь, действие", "--order", "чис-, Пользователь"});
  ASSERT_EQ(english.exitCode, 0) << english.err;
  EXPECT_GT(linesOf(english.out).size(), 10u);
  EXPECT_EQ(english.out, russian.out);
  EXPECT_EQ(english.out, lower.out);
}

TEST_F(Cli, HelpEndsWithZero) {
  const RunResult r = runVelmora({"data", "--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("--filter"), std::string::npos);
}

// ---- users ----------------------------------------------------------------------

TEST_F(Cli, UsersListsEachNameOnceSorted) {
  const RunResult r = runVelmora({"users", log, "--format", "csv"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const auto rows = parseCsv(r.out);
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[0], std::vector<std::string>{"Пользователь"});
  std::set<std::u16string> expected;
  for (const auto& rec : records) expected.insert(fromUtf8(utf8From1251(rec.fields[2])));
  std::vector<std::u16string> got;
  for (std::size_t i = 1; i < rows.size(); ++i) got.push_back(fromUtf8(rows[i][0]));
  EXPECT_EQ(got, std::vector<std::u16string>(expected.begin(), expected.end()));
  EXPECT_EQ(resumePosition(r.err, "--start"), static_cast<long long>(bytes.size()) + 1);

  const RunResult after = runVelmora({"users", log, "--start", std::to_string(bytes.size() + 1)});
  EXPECT_EQ(after.exitCode, 1);
  EXPECT_EQ(after.out, "");
}

TEST_F(Cli, UsersOfAnEmptyLogFindNothing) {
  writeFile(log, "");
  EXPECT_EQ(runVelmora({"users", log}).exitCode, 1);
}

// ---- strip-errors and replace-keys -------------------------------------------------

TEST_F(Cli, StripErrorsSplitsTheLog) {
  const std::string out = dir.path("clean.log"), errors = dir.path("errors.log");
  const RunResult r = runVelmora({"strip-errors", log, out, errors});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string kept, removed;
  std::size_t count = 0;
  for (const auto& rec : records) {
    (rec.error() ? removed : kept).append(rec.line).append("\r\n");
    count += rec.error();
  }
  ASSERT_GT(count, 0u);
  EXPECT_EQ(r.out, std::to_string(count) + "\n");
  EXPECT_EQ(readFile(out), kept);
  EXPECT_EQ(readFile(errors), removed);
}

TEST_F(Cli, ReplaceKeysRewritesListedRecords) {
  const std::string list = dir.path("list.txt"), out = dir.path("copy.log");
  writeFile(list, "20050201;10:00:00;3\r\n20050201;11:00:00;7\r\n");
  const RunResult r = runVelmora({"replace-keys", log, list, out});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
  std::string expected = bytes;
  expected.replace(static_cast<std::size_t>(records[2].position - 1), 18, "20050201;10:00:00;");
  expected.replace(static_cast<std::size_t>(records[6].position - 1), 18, "20050201;11:00:00;");
  EXPECT_EQ(readFile(out), expected);

  writeFile(list, "");
  const std::string none = dir.path("none.log");
  const RunResult empty = runVelmora({"replace-keys", log, list, none});
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_FALSE(exists(none));

  const RunResult onto = runVelmora({"replace-keys", log, list, log});
  EXPECT_EQ(onto.exitCode, 2);
  EXPECT_EQ(readFile(log), bytes);
}

// ---- sample ------------------------------------------------------------------------

TEST_F(Cli, SampleWritesTheGeneratorsLog) {
  const std::string out = dir.path("s.log");
  RunResult r = runVelmora({"sample", out, "--size", "100K"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_GE(readFile(out).size(), 100u * 1024u);
  EXPECT_LT(readFile(out).size(), 100u * 1024u + 1024u);

  r = runVelmora({"sample", out, "--days", "2", "--per-day", "50", "--seed", "9", "--start", "2005-03-01"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  SampleOptions o;
  o.days = 2;
  o.perDay = 50;
  o.seed = 9;
  o.startDate = 20050301;
  EXPECT_EQ(readFile(out), sampleLog(o)) << "the same bytes, and nothing of the older, longer file";

  r = runVelmora({"sample", "-", "--days", "1", "--per-day", "20"});
  ASSERT_EQ(r.exitCode, 0);
  o = SampleOptions{};
  o.days = 1;
  o.perDay = 20;
  EXPECT_EQ(r.out, sampleLog(o));
}

}  // namespace
}  // namespace velmora::testing
