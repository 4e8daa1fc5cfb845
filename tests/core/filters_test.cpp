#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "core/filter_text.h"
#include "core/reader.h"
#include "text/codepage.h"
#include "script/journal.h"
#include "log_builder.h"

namespace velmora {
namespace {

std::string enc(U16View text, const CodePage& cp = CodePage::current()) {
  std::string out;
  for (char16_t u : text) out.push_back(static_cast<char>(cp.toByte(u).value()));
  return out;
}

// A record line with the given user, mode, comment, identifier and
// presentation; other fields are fixed.
struct Rec {
  U16View user = u"Иванов";
  U16View mode = u"E";
  U16View num = u"4";
  U16View comment = u"";
  U16View id = u"";
  U16View pres = u"";
};

std::string line(const Rec& r, const CodePage& cp = CodePage::current()) {
  return "20050317;10:15:00;" + enc(r.user, cp) + ";" + enc(r.mode, cp) + ";Docs;DocWrite;" + enc(r.num, cp) + ";" +
         enc(r.comment, cp) + ";" + enc(r.id, cp) + ";" + enc(r.pres, cp);
}

// Whether GetData gives the one record of a log made of line; comment, when
// given, gets the row's comment.
bool keeps(Journal& j, const test::TempDir& tmp, std::string_view line, std::string* comment = nullptr) {
  tmp.write("log.txt", std::string(line) + "\r\n");
  j.SetFilePath(tmp.u16("log.txt"));
  EXPECT_TRUE(j.SetDateTimes(u"20050317", u"", u"20050317", u""));
  MemoryValueTable table;
  j.GetStartPos(0, table);
  EXPECT_EQ(j.NumErr(), 0);
  if (comment != nullptr && table.LinesCnt() == 1) *comment = test::cell(table, 1, 8);
  return table.LinesCnt() == 1;
}

struct Filters : ::testing::Test {
  test::TempDir tmp;
  Journal j;
  void SetUp() override { ASSERT_TRUE(CodePage::select(1251)); }
  bool keeps(std::string_view l, std::string* comment = nullptr) { return velmora::keeps(j, tmp, l, comment); }
  bool passes(const Rec& r) { return keeps(line(r)); }
  bool user(U16View u) { return passes({.user = u}); }
  bool mode(U16View m) { return passes({.mode = m}); }
  bool comment(U16View c) { return passes({.comment = c}); }
  bool id(U16View i) { return passes({.id = i}); }
};

TEST_F(Filters, NamesInEnglishRussianAndNumbers) {
  const struct {
    U16View number, english, russian;
  } names[] = {
      {u"3", u"FilterUsers", u"ФильтерПользователей"},
      {u"4", u"FilterMode", u"ФильтерРежима"},
      {u"5", u"FilterTypeObj", u"ФильтерТипаОбъекта"},
      {u"6", u"FilterOperation", u"ФильтерДействия"},
      {u"7", u"FilterNum", u"ФильтерЧисла"},
      {u"8", u"FilterRem", u"ФильтерКомментария"},
      {u"9", u"FilterIdObj", u"ФильтерIdОбъекта"},
      {u"10", u"FilterDeclarationObj", u"ФильтерПредставленияОбъекта"},
  };
  for (const auto& n : names) {
    for (U16View name : {n.number, n.english, n.russian}) {
      EXPECT_TRUE(j.SetFilter(u"|a|", name)) << toUtf8(name);
      EXPECT_EQ(j.GetFilter(n.number), u"|A|");
      EXPECT_EQ(j.GetFilter(n.english), u"|A|");
      EXPECT_EQ(j.GetFilter(n.russian), u"|A|");
      const bool list = n.number == u"8" || n.number == u"9" || n.number == u"10";
      EXPECT_TRUE(j.SetFilter(list ? u"||x|" : u"", name));
    }
  }
  for (U16View unknown : {u"filtermode", u"FILTERMODE", u"FilterMode ", u"2", u"11", u"03", u"ФильтрРежима", u""}) {
    EXPECT_FALSE(j.SetFilter(u"|E|", unknown)) << toUtf8(unknown);
    EXPECT_EQ(j.GetFilter(unknown), u"");
  }
  EXPECT_EQ(j.GetFilter(u"FilterMode"), u"");  // no unknown name reached a filter
}

TEST_F(Filters, ModeFilterByNameOrNumber) {
  for (U16View name : {u"FilterMode", u"4"}) {
    Journal k;
    ASSERT_TRUE(k.SetFilter(u"|E|", name));
    EXPECT_TRUE(velmora::keeps(k, tmp, line({.mode = u"E"})));
    EXPECT_FALSE(velmora::keeps(k, tmp, line({.mode = u"C"})));
  }
}

TEST_F(Filters, TextIsTrimmedAndUpperCased) {
  ASSERT_TRUE(j.SetFilter(u"  |e|c|  ", u"FilterMode"));
  EXPECT_EQ(j.GetFilter(u"ФильтерРежима"), u"|E|C|");
  EXPECT_TRUE(mode(u"E"));
  EXPECT_TRUE(mode(u"C"));
  EXPECT_TRUE(mode(u"c"));
  EXPECT_FALSE(mode(u"M"));
  EXPECT_FALSE(mode(u"D"));
  ASSERT_TRUE(j.SetFilter(u"\t|E|\t", u"FilterMode"));  // only spaces are trimmed
  EXPECT_EQ(j.GetFilter(u"4"), u"\t|E|\t");
}

TEST_F(Filters, ExactListNeedsBarsAroundTheValue) {
  ASSERT_TRUE(j.SetFilter(u"|Иванов|Петров|", u"FilterUsers"));
  EXPECT_TRUE(user(u"Иванов"));
  EXPECT_TRUE(user(u"петров"));
  EXPECT_TRUE(user(u"ПЕТРОВ"));
  EXPECT_FALSE(user(u"Иван"));
  EXPECT_FALSE(user(u"Сидоров"));
  EXPECT_FALSE(user(u" Иванов"));  // blanks in the value count
  EXPECT_FALSE(user(u""));
  ASSERT_TRUE(j.SetFilter(u"Иванов", u"FilterUsers"));
  EXPECT_FALSE(user(u"Иванов"));
  ASSERT_TRUE(j.SetFilter(u"|Иванов||", u"FilterUsers"));
  EXPECT_TRUE(user(u""));  // an empty value matches two adjacent bars
}

TEST_F(Filters, ExactListValueHoldingBars) {
  ASSERT_TRUE(j.SetFilter(u"|a|b|c|", u"FilterUsers"));
  EXPECT_TRUE(user(u"a|b"));
  EXPECT_TRUE(user(u"B|C"));
  EXPECT_TRUE(user(u"a|b|c"));
  EXPECT_FALSE(user(u"a|c"));
  EXPECT_FALSE(user(u"|a"));
  EXPECT_FALSE(user(u"c|"));
}

// One table for the filter text: what it parses to, and which field values
// then pass, through the typed reader and through the script class alike.
TEST_F(Filters, TextToTypedFilterToMatches) {
  struct Probe {
    U16View value;
    bool passes;
  };
  const struct {
    int field;
    U16View text;
    bool exactId;
    bool refused;
    std::vector<U16String> values;
    std::vector<Probe> probes;
  } cases[] = {
      {3, u"|Иванов|Петров|", false, false, {u"Иванов", u"Петров"}, {{u"петров", true}, {u"Иван", false}, {u"", false}}},
      {3, u"  |a|b|c|  ", false, false, {u"a", u"b", u"c"}, {{u"a|b", true}, {u"B|C", true}, {u"a|c", false}, {u"c|", false}}},
      {3, u"|Иванов||", false, false, {u"Иванов", u""}, {{u"", true}, {u"Иванов", true}}},
      {3, u"Иванов", false, false, {}, {{u"Иванов", false}}},
      {3, u"|a|Ω|b|", false, false, {u"a", u"Ω", u"b"}, {{u"a", true}, {u"b", true}, {u"a|b", false}}},
      {3, u"   ", false, false, {}, {{u"x", true}}},  // a blank text: no filter
      {8, u" ab|cd|ef", false, false, {u" ab", u"cd"}, {{u"x AB y", true}, {u"xcd", true}, {u"ef", false}}},
      {8, u"|x", false, true, {}, {}},
      {8, u"||", false, true, {}, {}},
      {9, u"|A1|b|", false, false, {u"A1", u"b"}, {{u"zA1z", true}}},
      {9, u"|A1|b|", true, false, {u"A1", u"b"}, {{u"zA1z", false}, {u"a1", true}, {u"A1|B", true}}},
      {9, u"  ||", true, false, {u""}, {{u"", true}, {u"x", false}}},
  };
  const CodePage& cp = CodePage::current();
  for (const auto& c : cases) {
    const std::string where = std::to_string(c.field) + " " + toUtf8(c.text);
    const std::optional<FieldFilter> typed = parseFilterText(c.field, c.text, c.exactId);
    ASSERT_EQ(!typed, c.refused) << where;
    Journal script;
    script.SetCoincidenceObject(c.exactId ? 1 : 0);
    EXPECT_EQ(script.SetFilter(c.text, fromUtf8(std::to_string(c.field))), !c.refused) << where;
    if (!typed) continue;
    EXPECT_EQ(typed->values, c.values) << where;
    ReadQuery q;
    q.filters[static_cast<std::size_t>(c.field)] = *typed;
    Reader reader(U16String(), q, cp);
    for (const Probe& p : c.probes) {
      Rec r;
      if (c.field == 3) r.user = p.value;
      if (c.field == 8) r.comment = p.value;
      if (c.field == 9) r.id = p.value;
      const std::string l = line(r, cp);
      EXPECT_EQ(reader.filterRecord(l), p.passes) << where << " / " << toUtf8(p.value);
      EXPECT_EQ(velmora::keeps(script, tmp, l), p.passes) << where << " / " << toUtf8(p.value);
    }
  }
}

TEST_F(Filters, UpperCasingCoversCyrillicAndLatin) {
  ASSERT_TRUE(j.SetFilter(u"|ёлкин|jones|ґава|", u"FilterUsers"));
  EXPECT_EQ(j.GetFilter(u"3"), u"|ЁЛКИН|JONES|ҐАВА|");
  EXPECT_TRUE(user(u"ЁЛКИН"));
  EXPECT_TRUE(user(u"Ёлкин"));
  EXPECT_TRUE(user(u"Jones"));
  EXPECT_TRUE(user(u"ҐАВА"));
  EXPECT_FALSE(user(u"Елкин"));  // Ё is not Е
}

TEST_F(Filters, EmptyTextSwitchesAFieldFilterOff) {
  ASSERT_TRUE(j.SetFilter(u"|Петров|", u"FilterUsers"));
  EXPECT_FALSE(user(u"Иванов"));
  EXPECT_TRUE(j.SetFilter(u"   ", u"FilterUsers"));
  EXPECT_EQ(j.GetFilter(u"FilterUsers"), u"");
  EXPECT_TRUE(user(u"Иванов"));
}

TEST_F(Filters, InvertedFilterExcludesItsValues) {
  j.SetInvertFilters(u"01000000");
  ASSERT_TRUE(j.SetFilter(u"|D|", u"FilterMode"));
  EXPECT_TRUE(mode(u"E"));
  EXPECT_TRUE(mode(u"C"));
  EXPECT_TRUE(mode(u"M"));
  EXPECT_FALSE(mode(u"D"));
  j.SetInvertFilters(u"");  // takes effect at the next record
  EXPECT_FALSE(mode(u"E"));
  EXPECT_TRUE(mode(u"D"));
  j.SetInvertFilters(u"1");  // inverts only the users filter
  EXPECT_TRUE(mode(u"D"));
}

TEST_F(Filters, AllActiveFiltersMustAccept) {
  ASSERT_TRUE(j.SetFilter(u"|Иванов|", u"FilterUsers"));
  ASSERT_TRUE(j.SetFilter(u"|E|", u"FilterMode"));
  ASSERT_TRUE(j.SetFilter(u"|накладная|", u"FilterRem"));
  EXPECT_TRUE(passes({.user = u"Иванов", .mode = u"E", .comment = u"Накладная 1"}));
  EXPECT_FALSE(passes({.user = u"Петров", .mode = u"E", .comment = u"Накладная 1"}));
  EXPECT_FALSE(passes({.user = u"Иванов", .mode = u"C", .comment = u"Накладная 1"}));
  EXPECT_FALSE(passes({.user = u"Иванов", .mode = u"E", .comment = u"Счет 1"}));
  ASSERT_TRUE(j.SetFilter(u"|4|", u"FilterNum"));
  EXPECT_TRUE(passes({.user = u"Иванов", .mode = u"E", .num = u"4", .comment = u"Накладная 1"}));
  EXPECT_FALSE(passes({.user = u"Иванов", .mode = u"E", .num = u"5", .comment = u"Накладная 1"}));
}

TEST_F(Filters, CommentItemsMatchAnywhereInAnyCase) {
  ASSERT_TRUE(j.SetFilter(u"|ошибка|", u"FilterRem"));
  EXPECT_EQ(j.GetFilter(u"8"), u"|ОШИБКА|");
  EXPECT_TRUE(comment(u"Ошибка записи"));
  EXPECT_TRUE(comment(u"произошла оШиБкА"));
  EXPECT_TRUE(comment(u"ОШИБКА"));
  EXPECT_FALSE(comment(u"ошибк"));
  EXPECT_FALSE(comment(u""));
  EXPECT_FALSE(j.SetFilter(u"ошибка", u"FilterRem"));
  EXPECT_EQ(j.GetFilter(u"8"), u"");
  EXPECT_TRUE(comment(u"что угодно"));
}

TEST_F(Filters, ItemListIsCutAtBars) {
  ASSERT_TRUE(j.SetFilter(u"Склад|Касса|", u"FilterRem"));
  EXPECT_TRUE(comment(u"склад"));
  EXPECT_TRUE(comment(u"касса"));
  ASSERT_TRUE(j.SetFilter(u"|Склад|Касса", u"FilterRem"));
  EXPECT_TRUE(comment(u"склад"));
  EXPECT_FALSE(comment(u"касса"));  // text after the last bar is ignored
  ASSERT_TRUE(j.SetFilter(u"| Склад |", u"FilterRem"));  // pieces are not trimmed
  EXPECT_FALSE(comment(u"Склад"));
  EXPECT_TRUE(comment(u"на Склад №2"));
  ASSERT_TRUE(j.SetFilter(u" |x|", u"FilterRem"));  // a blank before the first bar is an item
  EXPECT_TRUE(comment(u"a b"));
  EXPECT_FALSE(comment(u"ab"));
}

TEST_F(Filters, ListWithoutItemsSwitchesTheFilterOff) {
  ASSERT_TRUE(j.SetFilter(u"|склад|", u"FilterRem"));
  EXPECT_FALSE(comment(u"касса"));
  EXPECT_FALSE(j.SetFilter(u"||", u"FilterRem"));
  EXPECT_EQ(j.GetFilter(u"FilterRem"), u"");
  EXPECT_TRUE(comment(u"касса"));
  ASSERT_TRUE(j.SetFilter(u"|склад|", u"FilterRem"));
  EXPECT_FALSE(j.SetFilter(u"касса|", u"FilterRem"));  // one bar only
  EXPECT_TRUE(comment(u"касса"));
  EXPECT_FALSE(j.SetFilter(u"", u"ФильтерКомментария"));
  EXPECT_TRUE(comment(u"касса"));
}

TEST_F(Filters, IdentifierItemsOrWholeValues) {
  ASSERT_TRUE(j.SetFilter(u"|12|", u"FilterIdObj"));
  EXPECT_TRUE(id(u"12"));
  EXPECT_TRUE(id(u"112"));
  EXPECT_TRUE(id(u"3120"));
  EXPECT_FALSE(id(u"1 2"));
  j.SetCoincidenceObject(1);
  EXPECT_TRUE(id(u"12"));
  EXPECT_FALSE(id(u"112"));
  EXPECT_FALSE(id(u"3120"));
  j.SetCoincidenceObject(0);
  EXPECT_TRUE(id(u"112"));
}

TEST_F(Filters, PresentationItems) {
  ASSERT_TRUE(j.SetFilter(u"|накладная|счет|", u"FilterDeclarationObj"));
  EXPECT_TRUE(passes({.pres = u"Расходная накладная 5"}));
  EXPECT_TRUE(passes({.pres = u"СЧЕТ 7"}));
  EXPECT_FALSE(passes({.pres = u"Касса"}));
  j.SetInvertFilters(u"00000001");
  EXPECT_FALSE(passes({.pres = u"СЧЕТ 7"}));
  EXPECT_TRUE(passes({.pres = u"Касса"}));
}

TEST_F(Filters, ErrorRecordCommentIsTestedWhole) {
  ASSERT_TRUE(j.SetFilter(u"|деление|", u"FilterRem"));
  EXPECT_TRUE(passes({.num = u"5", .comment = u"Модуль; деление на 0"}));
  EXPECT_FALSE(passes({.num = u"4", .comment = u"Модуль; деление на 0"}));
}

TEST_F(Filters, ShortRecordsNeverPass) {
  EXPECT_FALSE(keeps("20050317;10:15:00;"));
  EXPECT_FALSE(keeps("20050317;10:15:00"));
  ASSERT_TRUE(j.SetFilter(u"|Иванов|", u"FilterUsers"));
  j.SetInvertFilters(u"1");
  EXPECT_FALSE(keeps("20050317;10:15:00;"));
}

TEST_F(Filters, FieldsARecordLacksAreTestedAsEmpty) {
  // A record without a comment is not one whose comment holds "склад".
  const std::string shortRecord = "20050317;10:15:00;" + enc(u"Иванов;E;Docs");
  ASSERT_TRUE(j.SetFilter(u"|склад|", u"FilterRem"));
  EXPECT_FALSE(keeps(shortRecord));
  j.SetInvertFilters(u"00000100");
  std::string comment = "not read";
  EXPECT_TRUE(keeps(shortRecord, &comment));
  EXPECT_EQ(comment, "");
  j.SetInvertFilters(u"");
  EXPECT_FALSE(j.SetFilter(u"", u"FilterRem"));  // switches it off
  ASSERT_TRUE(j.SetFilter(u"|1||", u"FilterNum"));  // an empty value is listed
  EXPECT_TRUE(keeps(shortRecord));
  ASSERT_TRUE(j.SetFilter(u"|1|", u"FilterNum"));
  EXPECT_FALSE(keeps(shortRecord));
}

TEST_F(Filters, CharactersOutsideTheCodePageNeverMatch) {
  // U+0100 has no byte in 1251. Neither dropping it nor a "?" stand-in may
  // turn the filter into one that matches other values.
  ASSERT_TRUE(j.SetFilter(u"|A\u0100B|", u"FilterUsers"));
  EXPECT_FALSE(user(u"AB"));
  EXPECT_FALSE(user(u"A?B"));
  EXPECT_FALSE(user(u"A"));
  ASSERT_TRUE(j.SetFilter(u"|A\u0100|B|", u"FilterUsers"));
  EXPECT_FALSE(user(u"A"));
  EXPECT_TRUE(user(u"B"));
  ASSERT_TRUE(j.SetFilter(u"", u"FilterUsers"));
  ASSERT_TRUE(j.SetFilter(u"|x\u0100y|z|", u"FilterRem"));
  EXPECT_FALSE(comment(u"xy"));
  EXPECT_FALSE(comment(u"x?y"));
  EXPECT_TRUE(comment(u"az"));
  ASSERT_TRUE(j.SetFilter(u"|\U0001F600|", u"FilterRem"));  // set, but matches nothing
  EXPECT_FALSE(comment(u"?"));
  EXPECT_FALSE(comment(u""));
}

TEST_F(Filters, ThousandsOfItems) {
  U16String users = u"|", items = u"|";
  for (int k = 0; k < 40000; ++k) {
    const std::string n = std::to_string(k);
    users += u"Пользователь";
    users.append(n.begin(), n.end());
    users += u"|";
    items += u"м";
    items.append(n.begin(), n.end());
    items += u"ж|";
  }
  ASSERT_TRUE(j.SetFilter(users, u"FilterUsers"));
  EXPECT_TRUE(user(u"пользователь0"));
  EXPECT_TRUE(user(u"Пользователь23456"));
  EXPECT_TRUE(user(u"Пользователь39999"));
  EXPECT_FALSE(user(u"Пользователь40000"));
  ASSERT_TRUE(j.SetFilter(items, u"FilterRem"));
  EXPECT_TRUE(passes({.user = u"Пользователь1", .comment = u"код М39999Ж"}));
  EXPECT_FALSE(passes({.user = u"Пользователь1", .comment = u"код М40000Ж"}));
}

TEST_F(Filters, FollowAChangeOfCodePage) {
  ASSERT_TRUE(j.SetFilter(u"|Иванов|", u"FilterUsers"));
  ASSERT_TRUE(CodePage::select(866));
  const CodePage& dos = CodePage::current();
  EXPECT_TRUE(keeps(line({.user = u"ИВАНОВ"}, dos)));
  EXPECT_FALSE(keeps(line({.user = u"Петров"}, dos)));
  ASSERT_TRUE(CodePage::select(1251));
  EXPECT_TRUE(user(u"иванов"));
}

}  // namespace
}  // namespace velmora
