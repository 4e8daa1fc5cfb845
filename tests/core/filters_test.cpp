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

// The log of the records' day, set once: a later change of a filter must
// reach the next read by itself.
void useLog(Journal& j, const test::TempDir& tmp) {
  j.SetFilePath(tmp.u16("log.txt"));
  EXPECT_TRUE(j.SetDateTimes(u"20050317", u"", u"20050317", u""));
}

// Whether GetData gives the one record of a log made of line; comment, when
// given, gets the row's comment.
bool keeps(Journal& j, const test::TempDir& tmp, std::string_view line, std::string* comment = nullptr) {
  tmp.write("log.txt", std::string(line) + "\r\n");
  MemoryValueTable table;
  j.GetStartPos(0, table);
  EXPECT_EQ(j.NumErr(), 0);
  if (comment != nullptr && table.LinesCnt() == 1) *comment = test::cell(table, 1, 8);
  return table.LinesCnt() == 1;
}

struct Filters : ::testing::Test {
  test::TempDir tmp;
  Journal j;
  void SetUp() override {
    ASSERT_TRUE(CodePage::select(1251));
    useLog(j, tmp);
  }
  bool keeps(std::string_view l, std::string* comment = nullptr) { return velmora::keeps(j, tmp, l, comment); }
  bool passes(const Rec& r) { return keeps(line(r)); }
  bool user(U16View u) { return passes({.user = u}); }
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

// What SetFilter answers and GetFilter then gives back: the text trimmed of
// spaces only and upper-cased, or nothing when a list text has no items.
TEST_F(Filters, TextsAsGetFilterGivesThem) {
  const struct {
    U16View name, text;
    bool set;
    U16View got;
  } cases[] = {
      {u"FilterMode", u"  |e|c|  ", true, u"|E|C|"},
      {u"ФильтерРежима", u"\t|E|\t", true, u"\t|E|\t"},
      {u"FilterUsers", u"|ёлкин|jones|ґава|", true, u"|ЁЛКИН|JONES|ҐАВА|"},
      {u"FilterUsers", u"   ", true, u""},
      {u"8", u"|ошибка|", true, u"|ОШИБКА|"},
      {u"FilterRem", u"ошибка", false, u""},
      {u"FilterRem", u"||", false, u""},
      {u"FilterRem", u"касса|", false, u""},
      {u"ФильтерКомментария", u"", false, u""},
  };
  for (const auto& c : cases) {
    Journal k;
    if (c.got.empty()) k.SetFilter(u"|before|", c.name);  // a refused or blank text clears the one before
    EXPECT_EQ(k.SetFilter(c.text, c.name), c.set) << toUtf8(c.text);
    EXPECT_EQ(k.GetFilter(c.name), c.got) << toUtf8(c.text);
  }
}

// Which records pass after the filters are set in turn (name, text), with the
// inversion mask and CoincidenceObject: a record of each probe through GetData.
// One reader for all cases, so that every change follows a read.
TEST_F(Filters, RecordsThatPass) {
  struct Probe {
    Rec rec;
    bool passes;
  };
  struct Case {
    std::vector<std::pair<U16View, U16View>> sets = {};
    U16View invert = u"";
    int coincidence = 0;
    std::vector<Probe> probes = {};
  };
  const U16View rem = u"FilterRem", users = u"FilterUsers";
  const std::vector<Case> cases = {
      {.sets = {{u"FilterMode", u"|E|"}}, .probes = {{{.mode = u"E"}, true}, {{.mode = u"C"}, false}}},
      {.sets = {{u"4", u"|E|"}}, .probes = {{{.mode = u"E"}, true}, {{.mode = u"C"}, false}}},
      {.sets = {{u"FilterMode", u"  |e|c|  "}},
       .probes = {{{.mode = u"E"}, true}, {{.mode = u"C"}, true}, {{.mode = u"c"}, true}, {{.mode = u"M"}, false},
                  {{.mode = u"D"}, false}}},
      // An exact list needs bars around the value; blanks in the value count.
      {.sets = {{users, u"|Иванов|Петров|"}},
       .probes = {{{.user = u"Иванов"}, true}, {{.user = u"петров"}, true}, {{.user = u"ПЕТРОВ"}, true},
                  {{.user = u"Иван"}, false}, {{.user = u"Сидоров"}, false}, {{.user = u" Иванов"}, false},
                  {{.user = u""}, false}}},
      {.sets = {{users, u"Иванов"}}, .probes = {{{.user = u"Иванов"}, false}}},
      {.sets = {{users, u"|Иванов||"}}, .probes = {{{.user = u""}, true}}},  // two adjacent bars: the empty value
      // A value holding bars matches neighbouring values together.
      {.sets = {{users, u"|a|b|c|"}},
       .probes = {{{.user = u"a|b"}, true}, {{.user = u"B|C"}, true}, {{.user = u"a|b|c"}, true},
                  {{.user = u"a|c"}, false}, {{.user = u"|a"}, false}, {{.user = u"c|"}, false}}},
      {.sets = {{users, u"|ёлкин|jones|ґава|"}},
       .probes = {{{.user = u"ЁЛКИН"}, true}, {{.user = u"Ёлкин"}, true}, {{.user = u"Jones"}, true},
                  {{.user = u"ҐАВА"}, true}, {{.user = u"Елкин"}, false}}},  // Ё is not Е
      {.sets = {{users, u"|Петров|"}}, .probes = {{{.user = u"Иванов"}, false}}},
      {.sets = {{users, u"|Петров|"}, {users, u"   "}}, .probes = {{{.user = u"Иванов"}, true}}},
      {.sets = {{u"FilterMode", u"|D|"}}, .invert = u"01000000",
       .probes = {{{.mode = u"E"}, true}, {{.mode = u"C"}, true}, {{.mode = u"M"}, true}, {{.mode = u"D"}, false}}},
      {.sets = {{u"FilterMode", u"|D|"}}, .probes = {{{.mode = u"E"}, false}, {{.mode = u"D"}, true}}},
      {.sets = {{u"FilterMode", u"|D|"}}, .invert = u"1", .probes = {{{.mode = u"D"}, true}}},  // users only
      {.sets = {{users, u"|Иванов|"}, {u"FilterMode", u"|E|"}, {rem, u"|накладная|"}},
       .probes = {{{.user = u"Иванов", .mode = u"E", .comment = u"Накладная 1"}, true},
                  {{.user = u"Петров", .mode = u"E", .comment = u"Накладная 1"}, false},
                  {{.user = u"Иванов", .mode = u"C", .comment = u"Накладная 1"}, false},
                  {{.user = u"Иванов", .mode = u"E", .comment = u"Счет 1"}, false}}},
      {.sets = {{users, u"|Иванов|"}, {u"FilterMode", u"|E|"}, {rem, u"|накладная|"}, {u"FilterNum", u"|4|"}},
       .probes = {{{.user = u"Иванов", .mode = u"E", .num = u"4", .comment = u"Накладная 1"}, true},
                  {{.user = u"Иванов", .mode = u"E", .num = u"5", .comment = u"Накладная 1"}, false}}},
      // Comment items match anywhere, in any case.
      {.sets = {{rem, u"|ошибка|"}},
       .probes = {{{.comment = u"Ошибка записи"}, true}, {{.comment = u"произошла оШиБкА"}, true},
                  {{.comment = u"ОШИБКА"}, true}, {{.comment = u"ошибк"}, false}, {{.comment = u""}, false}}},
      {.sets = {{rem, u"|ошибка|"}, {rem, u"ошибка"}}, .probes = {{{.comment = u"что угодно"}, true}}},
      // Items are cut at bars: text after the last is ignored, pieces are not
      // trimmed, and a blank before the first bar is an item.
      {.sets = {{rem, u"Склад|Касса|"}}, .probes = {{{.comment = u"склад"}, true}, {{.comment = u"касса"}, true}}},
      {.sets = {{rem, u"|Склад|Касса"}}, .probes = {{{.comment = u"склад"}, true}, {{.comment = u"касса"}, false}}},
      {.sets = {{rem, u"| Склад |"}},
       .probes = {{{.comment = u"Склад"}, false}, {{.comment = u"на Склад №2"}, true}}},
      {.sets = {{rem, u" |x|"}}, .probes = {{{.comment = u"a b"}, true}, {{.comment = u"ab"}, false}}},
      // A list without items switches the filter off.
      {.sets = {{rem, u"|склад|"}}, .probes = {{{.comment = u"касса"}, false}}},
      {.sets = {{rem, u"|склад|"}, {rem, u"||"}}, .probes = {{{.comment = u"касса"}, true}}},
      {.sets = {{rem, u"|склад|"}, {rem, u"касса|"}}, .probes = {{{.comment = u"касса"}, true}}},
      {.sets = {{rem, u"|склад|"}, {u"ФильтерКомментария", u""}}, .probes = {{{.comment = u"касса"}, true}}},
      // Identifier items, or whole values with CoincidenceObject.
      {.sets = {{u"FilterIdObj", u"|12|"}},
       .probes = {{{.id = u"12"}, true}, {{.id = u"112"}, true}, {{.id = u"3120"}, true}, {{.id = u"1 2"}, false}}},
      {.sets = {{u"FilterIdObj", u"|12|"}}, .coincidence = 1,
       .probes = {{{.id = u"12"}, true}, {{.id = u"112"}, false}, {{.id = u"3120"}, false}}},
      {.sets = {{u"FilterIdObj", u"|12|"}}, .probes = {{{.id = u"112"}, true}}},
      {.sets = {{u"FilterDeclarationObj", u"|накладная|счет|"}},
       .probes = {{{.pres = u"Расходная накладная 5"}, true}, {{.pres = u"СЧЕТ 7"}, true}, {{.pres = u"Касса"}, false}}},
      {.sets = {{u"FilterDeclarationObj", u"|накладная|счет|"}}, .invert = u"00000001",
       .probes = {{{.pres = u"СЧЕТ 7"}, false}, {{.pres = u"Касса"}, true}}},
      // An error record's comment is tested whole.
      {.sets = {{rem, u"|деление|"}},
       .probes = {{{.num = u"5", .comment = u"Модуль; деление на 0"}, true},
                  {{.num = u"4", .comment = u"Модуль; деление на 0"}, false}}},
      // U+0100 has no byte in 1251. Neither dropping it nor a "?" stand-in may
      // turn the filter into one that matches other values.
      {.sets = {{users, u"|A\u0100B|"}},
       .probes = {{{.user = u"AB"}, false}, {{.user = u"A?B"}, false}, {{.user = u"A"}, false}}},
      {.sets = {{users, u"|A\u0100|B|"}}, .probes = {{{.user = u"A"}, false}, {{.user = u"B"}, true}}},
      {.sets = {{rem, u"|x\u0100y|z|"}},
       .probes = {{{.comment = u"xy"}, false}, {{.comment = u"x?y"}, false}, {{.comment = u"az"}, true}}},
      {.sets = {{rem, u"|\U0001F600|"}}, .probes = {{{.comment = u"?"}, false}, {{.comment = u""}, false}}},
  };
  const std::vector<std::pair<U16View, U16View>>* before = nullptr;
  for (const Case& c : cases) {
    std::string described = toUtf8(c.invert);
    // Appended piece by piece: " " + a temporary string makes GCC 12's
    // -Wrestrict see a false overlap in the 32-bit build.
    for (const auto& [name, text] : c.sets) described.append(" ").append(toUtf8(name)).append("=").append(toUtf8(text));
    // The same filters as the case before stay as they are: only the mask or
    // CoincidenceObject changes after that case's reads.
    if (before == nullptr || *before != c.sets) {
      for (int f = 3; f <= 10; ++f) j.SetFilter(u"", fromUtf8(std::to_string(f)));
      for (const auto& [name, text] : c.sets) j.SetFilter(text, name);
    }
    before = &c.sets;
    j.SetInvertFilters(c.invert);
    j.SetCoincidenceObject(c.coincidence);
    for (const Probe& p : c.probes) EXPECT_EQ(passes(p.rec), p.passes) << described << " / " << line(p.rec);
  }
}

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
    useLog(script, tmp);
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
