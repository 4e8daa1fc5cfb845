// Cutting one record into its fields: the key, eight fields after it, and
// the error records' comment that keeps its separators.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/reader.h"
#include "text/codepage.h"
#include "tests/core/log_builder.h"

namespace velmora {
namespace {

using test::cp1251;

constexpr std::string_view kKey = "20050317;10:15:00;";

// A record of the key and fields given in UTF-8, joined by ";".
std::string record(std::vector<std::string_view> fields) {
  std::string line(kKey);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) line.push_back(';');
    line += cp1251(fields[i]);
  }
  return line;
}

struct Case {
  std::string what;
  std::string line;
  // Fields 3..10 in UTF-8; none when the line is no record.
  std::optional<std::array<std::string_view, 8>> fields;
};

TEST(Record, CutsFieldsAsTheCommentRuleSays) {
  ASSERT_TRUE(CodePage::select(1251));
  const std::vector<Case> cases = {
      {"ten fields",
       record({"Иванов", "E", "Docs", "DocWrite", "4", "Накладная 15", "    12345   ", "Накладная №15 от 17.03.2005"}),
       {{"Иванов", "E", "Docs", "DocWrite", "4", "Накладная 15", "    12345   ", "Накладная №15 от 17.03.2005"}}},
      {"the key alone", std::string(kKey), std::nullopt},
      {"part of a key", std::string(kKey.substr(0, 10)), std::nullopt},
      {"an empty line", "", std::nullopt},
      {"one byte after the key", std::string(kKey) + "U", {{"U", "", "", "", "", "", "", ""}}},
      {"text after the tenth field", record({"u", "E", "Docs", "DocNew", "1", "c", "id", "pres", "extra", "more"}),
       {{"u", "E", "Docs", "DocNew", "1", "c", "id", "pres"}}},
      {"a separator closing the tenth", record({"u", "E", "Docs", "DocNew", "1", "c", "id", "pres;"}),
       {{"u", "E", "Docs", "DocNew", "1", "c", "id", "pres"}}},
      // After a long record, so that nothing of it is left over.
      {"a long record", record({"u", "E", "Docs", "DocNew", "1", "comment", "id", "pres"}),
       {{"u", "E", "Docs", "DocNew", "1", "comment", "id", "pres"}}},
      {"a short record", record({"Петров", "C", "Refs"}), {{"Петров", "C", "Refs", "", "", "", "", ""}}},
      {"a long record again", record({"u", "E", "Docs", "DocNew", "1", "comment", "id", "pres"}),
       {{"u", "E", "Docs", "DocNew", "1", "comment", "id", "pres"}}},
      {"seven fields", record({"x", "M", "Sys", "OpenSession", "2", "", ""}),
       {{"x", "M", "Sys", "OpenSession", "2", "", "", ""}}},
      {"an error record keeps its comment's separators",
       record({"u", "E", "Grbgs", "GrbgRuntimeErr", "5", "Модуль: стр. 5; деление на 0; конец", "", ""}),
       {{"u", "E", "Grbgs", "GrbgRuntimeErr", "5", "Модуль: стр. 5; деление на 0; конец", "", ""}}},
      {"the same comment in an ordinary record is cut",
       record({"u", "E", "Grbgs", "GrbgRuntimeErr", "4", "Модуль: стр. 5; деление на 0; конец", "", ""}),
       {{"u", "E", "Grbgs", "GrbgRuntimeErr", "4", "Модуль: стр. 5", " деление на 0", " конец"}}},
      {"five without two closing separators", record({"u", "E", "Grbgs", "GrbgSyntaxErr", "5", "a;b", "id", ""}),
       {{"u", "E", "Grbgs", "GrbgSyntaxErr", "5", "a", "b", "id"}}},
      {"a number of 55", record({"u", "E", "Grbgs", "GrbgSyntaxErr", "55", "a;b", "", ""}),
       {{"u", "E", "Grbgs", "GrbgSyntaxErr", "55", "a", "b", ""}}},
      {"a number of \" 5\"", record({"u", "E", "Grbgs", "GrbgSyntaxErr", " 5", "a;b", "", ""}),
       {{"u", "E", "Grbgs", "GrbgSyntaxErr", " 5", "a", "b", ""}}},
      {"an error record's empty comment", record({"u", "E", "Grbgs", "GrbgSyntaxErr", "5", "", "", ""}),
       {{"u", "E", "Grbgs", "GrbgSyntaxErr", "5", "", "", ""}}},
      // The comment would have to end before it starts: it comes out empty.
      {"an error record closed right after its number", std::string(kKey) + "u;E;Grbgs;GrbgSyntaxErr;5;;",
       {{"u", "E", "Grbgs", "GrbgSyntaxErr", "5", "", "", ""}}},
      {"an error record ending at its number's separator", std::string(kKey) + "u;E;Grbgs;GrbgSyntaxErr;5;",
       {{"u", "E", "Grbgs", "GrbgSyntaxErr", "5", "", "", ""}}},
      {"only CR LF ends a line", record({"u", "E", "Docs", "DocNew", "1", "line\rone\ntwo", "id", "pres"}),
       {{"u", "E", "Docs", "DocNew", "1", "line\rone\ntwo", "id", "pres"}}},
  };
  Reader reader(u"", ReadQuery{}, CodePage::current());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A line of its own each time: the fields must not point into the
    // caller's bytes, which are gone before they are read.
    std::string line = c.line;
    const bool passed = reader.filterRecord(line);
    line.assign(line.size(), '#');
    ASSERT_EQ(passed, c.fields.has_value());
    if (!passed) continue;
    const Record& r = reader.lastRecord();
    EXPECT_EQ(r.fields[1], "20050317");
    EXPECT_EQ(r.fields[2], "10:15:00");
    for (int k = 3; k <= 10; ++k) EXPECT_EQ(r.fields[k], cp1251((*c.fields)[k - 3])) << "field " << k;
  }
}

}  // namespace
}  // namespace velmora
