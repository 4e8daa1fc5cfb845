#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <string>

#include "text/codepage.h"
#include "script/journal.h"

namespace velmora {
namespace {

constexpr std::string_view kKey = "20050317;10:15:00;";

// Log bytes of a text (1251).
std::string enc(U16View text) {
  std::string out;
  for (char16_t u : text) out.push_back(static_cast<char>(CodePage::current().toByte(u).value()));
  return out;
}

std::string record(std::initializer_list<U16View> fields) {
  std::string line(kKey);
  bool first = true;
  for (U16View f : fields) {
    if (!first) line.push_back(';');
    line += enc(f);
    first = false;
  }
  return line;
}

struct Record : ::testing::Test {
  Journal j;
  std::deque<std::string> lines;  // the records given to FilterRecord
  void SetUp() override { ASSERT_TRUE(CodePage::select(1251)); }
  bool keep(std::string line) { return j.FilterRecord(lines.emplace_back(std::move(line))); }
  void expectFields(std::initializer_list<U16View> fields) {
    int k = 3;
    for (U16View f : fields) {
      EXPECT_EQ(j.Field(k), enc(f)) << "field " << k;
      ++k;
    }
  }
};

TEST_F(Record, CutsTenFields) {
  const std::string line = record({u"Иванов", u"E", u"Docs", u"DocWrite", u"4", u"Накладная 15", u"    12345   ",
                                   u"Накладная №15 от 17.03.2005"});
  ASSERT_TRUE(j.FilterRecord(line));
  EXPECT_EQ(j.Field(1), "20050317");
  EXPECT_EQ(j.Field(2), "10:15:00");
  expectFields({u"Иванов", u"E", u"Docs", u"DocWrite", u"4", u"Накладная 15", u"    12345   ",
                u"Накладная №15 от 17.03.2005"});
}

TEST_F(Record, KeyAloneIsNoRecord) {
  EXPECT_FALSE(j.FilterRecord(kKey));
  EXPECT_FALSE(j.FilterRecord(kKey.substr(0, 10)));
  EXPECT_FALSE(j.FilterRecord(""));
  const std::string shortest = std::string(kKey) + "U";
  ASSERT_TRUE(j.FilterRecord(shortest));
  EXPECT_EQ(j.Field(3), "U");
}

TEST_F(Record, TextAfterTheTenthFieldIsIgnored) {
  ASSERT_TRUE(keep(record({u"u", u"E", u"Docs", u"DocNew", u"1", u"c", u"id", u"pres", u"extra", u"more"})));
  EXPECT_EQ(j.Field(10), "pres");
  ASSERT_TRUE(keep(record({u"u", u"E", u"Docs", u"DocNew", u"1", u"c", u"id", u"pres;"})));
  EXPECT_EQ(j.Field(10), "pres");
}

TEST_F(Record, AShortRecordLeavesNothingOfThePreviousOne) {
  ASSERT_TRUE(keep(record({u"u", u"E", u"Docs", u"DocNew", u"1", u"comment", u"id", u"pres"})));
  ASSERT_TRUE(keep(record({u"Петров", u"C", u"Refs"})));
  expectFields({u"Петров", u"C", u"Refs", u"", u"", u"", u"", u""});
  ASSERT_TRUE(keep(record({u"u", u"E", u"Docs", u"DocNew", u"1", u"comment", u"id", u"pres"})));
  ASSERT_TRUE(keep(record({u"x", u"M", u"Sys", u"OpenSession", u"2", u"", u""})));
  expectFields({u"x", u"M", u"Sys", u"OpenSession", u"2", u"", u"", u""});
}

TEST_F(Record, ErrorRecordKeepsSeparatorsOfItsComment) {
  const std::string error = record({u"u", u"E", u"Grbgs", u"GrbgRuntimeErr", u"5", u"Модуль: стр. 5; деление на 0; конец", u"", u""});
  ASSERT_TRUE(j.FilterRecord(error));
  expectFields({u"u", u"E", u"Grbgs", u"GrbgRuntimeErr", u"5", u"Модуль: стр. 5; деление на 0; конец", u"", u""});
  // The same comment in an ordinary record is cut at its first ";".
  const std::string plain = record({u"u", u"E", u"Grbgs", u"GrbgRuntimeErr", u"4", u"Модуль: стр. 5; деление на 0; конец", u"", u""});
  ASSERT_TRUE(j.FilterRecord(plain));
  expectFields({u"u", u"E", u"Grbgs", u"GrbgRuntimeErr", u"4", u"Модуль: стр. 5", u" деление на 0", u" конец"});
}

TEST_F(Record, CommentRuleNeedsExactlyFiveAndTwoClosingSeparators) {
  ASSERT_TRUE(keep(record({u"u", u"E", u"Grbgs", u"GrbgSyntaxErr", u"5", u"a;b", u"id", u""})));
  expectFields({u"u", u"E", u"Grbgs", u"GrbgSyntaxErr", u"5", u"a", u"b", u"id"});
  ASSERT_TRUE(keep(record({u"u", u"E", u"Grbgs", u"GrbgSyntaxErr", u"55", u"a;b", u"", u""})));
  expectFields({u"u", u"E", u"Grbgs", u"GrbgSyntaxErr", u"55", u"a", u"b", u""});
  ASSERT_TRUE(keep(record({u"u", u"E", u"Grbgs", u"GrbgSyntaxErr", u" 5", u"a;b", u"", u""})));
  expectFields({u"u", u"E", u"Grbgs", u"GrbgSyntaxErr", u" 5", u"a", u"b", u""});
  // Empty comment: nothing odd happens.
  ASSERT_TRUE(keep(record({u"u", u"E", u"Grbgs", u"GrbgSyntaxErr", u"5", u"", u"", u""})));
  expectFields({u"u", u"E", u"Grbgs", u"GrbgSyntaxErr", u"5", u"", u"", u""});
}

TEST_F(Record, ErrorRecordEndingRightAfterItsNumberIsSafe) {
  // Field 7 is closed by the first of the two final separators: the comment
  // would have to end before it starts. It comes out empty.
  const std::string closed = std::string(kKey) + "u;E;Grbgs;GrbgSyntaxErr;5;;";
  ASSERT_TRUE(j.FilterRecord(closed));
  expectFields({u"u", u"E", u"Grbgs", u"GrbgSyntaxErr", u"5", u"", u"", u""});
  const std::string open = std::string(kKey) + "u;E;Grbgs;GrbgSyntaxErr;5;";
  ASSERT_TRUE(j.FilterRecord(open));
  expectFields({u"u", u"E", u"Grbgs", u"GrbgSyntaxErr", u"5", u"", u"", u""});
}

TEST_F(Record, OnlyCrLfEndsALine) {
  ASSERT_TRUE(keep(record({u"u", u"E", u"Docs", u"DocNew", u"1", u"line\rone\ntwo", u"id", u"pres"})));
  EXPECT_EQ(j.Field(8), "line\rone\ntwo");
  EXPECT_EQ(j.Field(10), "pres");
}

}  // namespace
}  // namespace velmora
