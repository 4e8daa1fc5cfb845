// The plain options against the script-shaped ones: the same rows from both
// spellings of every filter, and the refusals of what would be ambiguous.
#include "cli/query.h"

#include <gtest/gtest.h>

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

TEST(FilterPlan, PlainValuesBecomeTheScriptsFilterTextsAndMask) {
  FilterOptions o;
  o.plain[3].include = {"Иванова Н.П.", "Бухгалтер"};
  o.plain[6].exclude = {"DocOpen"};
  o.plain[8].include = {"ошибка"};
  const cli::FilterPlan plan = planFilters(o);
  ASSERT_EQ(plan.settings.size(), 3u);
  EXPECT_EQ(plan.settings[0].name, "FilterUsers");
  EXPECT_EQ(plan.settings[0].text, "|Иванова Н.П.|Бухгалтер|");
  EXPECT_EQ(plan.settings[1].name, "FilterOperation");
  EXPECT_EQ(plan.settings[1].text, "|DocOpen|");
  EXPECT_EQ(plan.settings[2].text, "|ошибка|");
  ASSERT_TRUE(plan.invert);
  EXPECT_EQ(*plan.invert, "00010000");

  FilterOptions none;
  EXPECT_FALSE(planFilters(none).invert) << "no mask is set when nothing is excluded";
}

TEST(FilterPlan, ScriptOptionsPassThroughAndInvertKeepsItsOtherBits) {
  FilterOptions o;
  o.filters = {"ФильтерРежима=|E|", "FilterRem=ошибка"};
  o.invert = " 01";
  o.plain[3].exclude = {"Админ"};
  const cli::FilterPlan plan = planFilters(o);
  ASSERT_EQ(plan.settings.size(), 3u);
  EXPECT_EQ(plan.settings[0].field, 4);
  EXPECT_EQ(plan.settings[0].text, "|E|");
  EXPECT_EQ(plan.settings[1].field, 8);
  EXPECT_EQ(plan.settings[1].text, "ошибка") << "texts as given; SetFilter judges them";
  ASSERT_TRUE(plan.invert);
  EXPECT_EQ(*plan.invert, "11000000") << "trimmed like InvertFilters, the user exclusion added";

  FilterOptions unknown;
  unknown.filters = {"FilterPeople=|x|"};
  EXPECT_THROW(planFilters(unknown), UsageError);
  FilterOptions emptyUser;
  emptyUser.plain[3].include = {""};
  EXPECT_EQ(planFilters(emptyUser).settings.at(0).text, "||") << "an empty user is a value: records without one";
  FilterOptions emptyId;
  emptyId.plain[9].include = {""};
  EXPECT_THROW(planFilters(emptyId), UsageError) << "an empty search text would match everything";
  emptyId.exactId = true;
  EXPECT_EQ(planFilters(emptyId).settings.at(0).text, "||") << "compared whole, an empty identifier is a value";
}

TEST(ColumnNames, MasksPassAndNamesBecomeMasks) {
  EXPECT_EQ(cli::columnsMask("101"), "101") << "a script mask as it is";
  EXPECT_EQ(cli::columnsMask("date, object"), "1000000001");
  EXPECT_EQ(cli::columnsMask("Дата,представление"), "1000000001");
  EXPECT_EQ(cli::columnsMask("ALL"), "1111111111");
  EXPECT_THROW(cli::columnsMask("date;time"), UsageError);
  EXPECT_EQ(cli::translateMask("event, date"), "1001");
  EXPECT_EQ(cli::translateMask("ТипОбъекта"), "0010");
  EXPECT_EQ(cli::translateMask("None"), "0000");
  EXPECT_THROW(cli::translateMask("time"), UsageError) << "the time is never translated";
}

}  // namespace
}  // namespace velmora::testing
