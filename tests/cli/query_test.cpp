// The plain options against the script-shaped ones: the same rows from both
// spellings of every filter, and the refusals of what would be ambiguous.
#include "cli/query.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli_support.h"
#include "sample/sample.h"

namespace velmora::testing {
namespace {

using cli::FilterOptions;
using cli::planFilters;
using cli::UsageError;

class Spellings : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleOptions o;
    o.days = 3;
    o.perDay = 400;
    o.seed = 11;
    writeFile(log, sampleLog(o));
  }

  // The rows of a query over the whole sample, as CSV.
  std::string rows(std::vector<std::string> more) {
    std::vector<std::string> args{"data", log, "--format", "csv"};
    args.insert(args.end(), more.begin(), more.end());
    const RunResult r = runVelmora(args);
    EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << r.err;
    return r.out;
  }
  static std::size_t count(const std::string& csv) { return csv.empty() ? 0 : parseCsv(csv).size() - 1; }

  TempDir dir;
  std::string log = dir.path("events.log");
};

struct Case {
  std::string plain;   // the plain option without its dashes
  std::string filter;  // the script's filter name
  int position;        // 1..8 in the invert mask
  std::vector<std::string> values;
};

TEST_F(Spellings, EveryFilterGivesTheSameRowsBothWaysAndItsExclusionTheRest) {
  const std::vector<Case> cases{
      {"user", "FilterUsers", 1, {"Бухгалтер"}},
      {"user", "ФильтерПользователей", 1, {"Бухгалтер", "кладовщик"}},
      {"mode", "FilterMode", 2, {"C"}},
      {"category", "FilterTypeObj", 3, {"Refs", "Accs"}},
      {"event", "FilterOperation", 4, {"DocPassed"}},
      {"number", "FilterNum", 5, {"5"}},
      {"comment", "FilterRem", 6, {"компьютер"}},
      {"id", "FilterIdObj", 7, {"O/12/", "R/41/"}},
      {"object", "FilterDeclarationObj", 8, {"Номенклатура"}},
  };
  const std::size_t all = count(rows({}));
  ASSERT_GT(all, 1000u);
  for (const Case& c : cases) {
    std::string text = "|";
    std::vector<std::string> plain, excluded;
    for (const std::string& v : c.values) {
      text += v + "|";
      plain.insert(plain.end(), {"--" + c.plain, v});
      excluded.insert(excluded.end(), {"--not-" + c.plain, v});
    }
    std::string invert(8, '0');
    invert[static_cast<std::size_t>(c.position - 1)] = '1';

    const std::string script = rows({"--filter", c.filter + "=" + text});
    const std::string mine = rows(plain);
    EXPECT_EQ(mine, script) << c.plain;
    EXPECT_GT(count(mine), 0u) << c.plain << " finds something";
    EXPECT_LT(count(mine), all) << c.plain << " leaves something out";

    const std::string scriptOut = rows({"--filter", c.filter + "=" + text, "--invert", invert});
    const std::string mineOut = rows(excluded);
    EXPECT_EQ(mineOut, scriptOut) << "--not-" << c.plain;
    EXPECT_EQ(count(mine) + count(mineOut), all) << "--not-" << c.plain << " keeps exactly the others";
  }
}

TEST_F(Spellings, WholeIdentifiersWithExactIdAndFiltersTogether) {
  const std::string script =
      rows({"--filter", "FilterIdObj=|R/41/000001|", "--exact-id", "--filter", "FilterMode=|E|"});
  EXPECT_GT(count(script), 0u);
  EXPECT_EQ(rows({"--id", "R/41/000001", "--exact-id", "--mode", "E"}), script);
  EXPECT_EQ(count(rows({"--id", "R/41/", "--exact-id"})), 0u) << "a part of an identifier is no whole one";

  // A plain option for one field beside a --filter and an --invert of others.
  const std::string mixed = rows({"--user", "Бухгалтер", "--filter", "FilterMode=|E|", "--invert", "01"});
  EXPECT_EQ(mixed, rows({"--filter", "FilterUsers=|Бухгалтер|", "--filter", "FilterMode=|E|", "--invert", "01"}));
  EXPECT_GT(count(mixed), 0u);
}

TEST_F(Spellings, RussianNamesOfCodesFindTheirCodes) {
  EXPECT_EQ(rows({"--event", "Документ проведен"}), rows({"--event", "DocPassed"}));
  EXPECT_EQ(rows({"--mode", "Конфигуратор"}), rows({"--mode", "C"}));
  EXPECT_EQ(rows({"--category", "Документы"}), rows({"--category", "Docs"})) << "the name's trailing blank aside";
}

TEST_F(Spellings, ColumnsAndTranslationByName) {
  EXPECT_EQ(rows({"--columns", "date,time,user,event"}), rows({"--columns", "1110010000"}));
  EXPECT_EQ(rows({"--columns", "Пользователь, Действие"}), rows({"--columns", "0010010000"}));
  EXPECT_EQ(rows({"--columns", "event,USER"}), rows({"--columns", "0010010000"})) << "letter case and order aside";
  EXPECT_EQ(rows({"--columns", "all"}), rows({}));
  const std::string translated = rows({"--translate", "mode,event"});
  EXPECT_EQ(translated, rows({"--translate", "0101"}));
  EXPECT_NE(translated.find("Документ"), std::string::npos);
  EXPECT_EQ(rows({"--translate", "all"}), rows({"--translate", "1111"}));
  EXPECT_EQ(rows({"--translate", "none"}), rows({}));
  EXPECT_EQ(rows({"--translate", "Дата"}), rows({"--translate", "1"}));
}

TEST_F(Spellings, AmbiguousOrSplitValuesAreRefused) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"--user", "Иванов|Петров"}, "\"|\""},
      {{"--not-comment", "a|b"}, "\"|\""},
      {{"--user", "Бухгалтер", "--not-user", "Кладовщик"}, "not both"},
      {{"--user", "Бухгалтер", "--filter", "FilterUsers=|Кладовщик|"}, "ambiguous"},
      {{"--mode", "E", "--filter", "4=|C|"}, "ambiguous"},
      {{"--not-mode", "E", "--invert", "01"}, "ambiguous"},
      {{"--comment", ""}, "text to search"},
      {{"--columns", "date,colour"}, "colour"},
      {{"--columns", ","}, "names no column"},
      {{"--translate", "date,user"}, "user"},
  };
  for (const auto& [more, expected] : cases) {
    std::vector<std::string> args{"data", log};
    args.insert(args.end(), more.begin(), more.end());
    const RunResult r = runVelmora(args);
    std::string shown;
    for (const auto& a : more) shown += a + " ";
    EXPECT_EQ(r.exitCode, 2) << shown << r.err;
    EXPECT_EQ(r.out, "") << shown;
    EXPECT_NE(r.err.find(expected), std::string::npos) << shown << "\n" << r.err;
  }
}

// ---- the plan itself ---------------------------------------------------------------

// The typed filters of some options: field, exact, invert, values.
TEST(FilterPlan, OptionsBecomeTypedFilters) {
  struct Want {
    int field;
    bool exact, invert;
    std::vector<std::u16string> values;
  };
  FilterOptions plain;
  plain.plain[3].include = {"Иванова Н.П.", "Бухгалтер"};
  plain.plain[6].exclude = {"DocOpen"};
  plain.plain[8].include = {"ошибка"};
  FilterOptions script;  // the invert mask trimmed, the user exclusion added to it
  script.filters = {"ФильтерРежима=|E|", "FilterRem=|ошибка|"};
  script.invert = " 01";
  script.plain[3].exclude = {"Админ"};
  FilterOptions emptyUser;  // an empty user is a value: records without one
  emptyUser.plain[3].include = {""};
  FilterOptions exactId;
  exactId.plain[9].include = {"O/1"};
  exactId.exactId = true;
  const std::vector<std::pair<FilterOptions, std::vector<Want>>> cases{
      {plain,
       {{3, true, false, {u"Иванова Н.П.", u"Бухгалтер"}}, {6, true, true, {u"DocOpen"}}, {8, false, false, {u"ошибка"}}}},
      {script, {{3, true, true, {u"Админ"}}, {4, true, true, {u"E"}}, {8, false, false, {u"ошибка"}}}},
      {emptyUser, {{3, true, false, {u""}}}},
      {exactId, {{9, true, false, {u"O/1"}}}},
  };
  for (std::size_t c = 0; c < cases.size(); ++c) {
    std::ostringstream out, err;
    cli::Io io{out, err};
    const auto filters = cli::readFilters(cases[c].first, io);
    std::size_t on = 0;
    for (const auto& f : filters) on += f.on;
    EXPECT_EQ(on, cases[c].second.size()) << c;
    for (const Want& w : cases[c].second) {
      const FieldFilter& f = filters[static_cast<std::size_t>(w.field)];
      EXPECT_TRUE(f.on) << c << " field " << w.field;
      EXPECT_EQ(f.exact, w.exact) << c << " field " << w.field;
      EXPECT_EQ(f.invert, w.invert) << c << " field " << w.field;
      EXPECT_EQ(f.values, w.values) << c << " field " << w.field;
    }
  }

  FilterOptions unknown;
  unknown.filters = {"FilterPeople=|x|"};
  EXPECT_THROW(planFilters(unknown), UsageError);
  FilterOptions emptyId;
  emptyId.plain[9].include = {""};
  EXPECT_THROW(planFilters(emptyId), UsageError) << "an empty search text would match everything";
}

TEST(ColumnNames, MasksAndNamesBecomeFields) {
  using Fields = std::vector<int>;
  const std::vector<std::pair<std::string, Fields>> columns{
      {"101", {1, 3}}, {"date, object", {1, 10}}, {"Дата,представление", {1, 10}},
      {"ALL", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}, {"0000000000", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}}};
  for (const auto& [text, fields] : columns) EXPECT_EQ(cli::columnFields(text), fields) << text;
  EXPECT_THROW(cli::columnFields(std::string("date;time")), UsageError);
  const std::vector<std::pair<std::string, Fields>> translated{
      {"event, date", {1, 6}}, {"ТипОбъекта", {5}}, {"None", {}}, {" 01", {4}}, {"all", {1, 4, 5, 6}}};
  for (const auto& [text, fields] : translated) {
    const auto on = cli::translatedFields(text);
    Fields got;
    for (int k = 1; k <= 10; ++k)
      if (on[static_cast<std::size_t>(k)]) got.push_back(k);
    EXPECT_EQ(got, fields) << text;
  }
  EXPECT_THROW(cli::translatedFields(std::string("time")), UsageError) << "the time is never translated";
}

}  // namespace
}  // namespace velmora::testing
