#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "text/codepage.h"
#include "transform/catalogue.h"
#include "transform/lookup.h"
#include "transform/transform.h"

namespace velmora {
namespace {

U16String translated(Transform& t, U16View text, std::int16_t col) {
  U16String s(text);
  t.TransformCol(s, col);
  return s;
}

Transform withMask(U16View mask) {
  Transform t;
  t.SetTransformStr(mask);
  return t;
}

TEST(TransformMask, NormalisesEveryValue) {
  const struct {
    U16View in, out;
  } cases[] = {
      {u"1", u"1000"},       {u"", u"0000"},     {u"abcd", u"1111"},  {u"0 10", u"0010"},
      {u"  11  ", u"1100"},  {u"101010", u"1010"}, {u"2 0a", u"1001"}, {u"\t", u"1000"},
  };
  for (const auto& c : cases) {
    Transform t;
    t.SetTransformStr(c.in);
    EXPECT_EQ(t.TransformStr(), c.out) << toUtf8(c.in);
  }
  EXPECT_EQ(Transform().TransformStr(), u"0000");
}

TEST(TransformMask, NewTranslatorChangesNothing) {
  Transform t;
  EXPECT_EQ(translated(t, u"20050317", 1), u"20050317");
  EXPECT_EQ(translated(t, u"E", 4), u"E");
  EXPECT_EQ(translated(t, u"Docs", 5), u"Docs");
  EXPECT_EQ(translated(t, u"DocWrite", 6), u"DocWrite");
}

TEST(TransformMask, EachFlagSwitchesItsOwnField) {
  Transform t = withMask(u"0110");
  EXPECT_EQ(translated(t, u"20050317", 1), u"20050317");
  EXPECT_EQ(translated(t, u"E", 4), u"Пользовательский");
  EXPECT_EQ(translated(t, u"Docs", 5), u"Документы ");
  EXPECT_EQ(translated(t, u"DocWrite", 6), u"DocWrite");
  t.SetTransformStr(u"1001");
  EXPECT_EQ(translated(t, u"20050317", 1), u"17.03.05");
  EXPECT_EQ(translated(t, u"E", 4), u"E");
  EXPECT_EQ(translated(t, u"Docs", 5), u"Docs");
  EXPECT_EQ(translated(t, u"DocWrite", 6), u"Документ записан");
}

TEST(TransformCol, EventCodeOnlyInItsField) {
  Transform t = withMask(u"0001");
  EXPECT_EQ(translated(t, u"DocWrite", 6), u"Документ записан");
  EXPECT_EQ(translated(t, u"DocWrite", 5), u"DocWrite");
  EXPECT_EQ(translated(t, u"20050317", 1), u"20050317");
}

TEST(TransformCol, OtherFieldsNeverChange) {
  Transform t = withMask(u"1111");
  for (std::int16_t col : {2, 3, 7, 8, 9, 10, 0, 11, -1}) {
    EXPECT_EQ(translated(t, u"DocWrite", col), u"DocWrite") << col;
    EXPECT_EQ(translated(t, u"E", col), u"E") << col;
    EXPECT_EQ(translated(t, u"20050317", col), u"20050317") << col;
  }
}

TEST(TransformCol, EmptyFieldStaysEmpty) {
  for (U16View mask : {u"0000", u"1111"}) {
    Transform t = withMask(mask);
    for (std::int16_t col = 1; col <= 10; ++col) EXPECT_EQ(translated(t, u"", col), u"") << col;
  }
}

TEST(TransformCol, DateBecomesDayMonthYear) {
  Transform t = withMask(u"1000");
  EXPECT_EQ(translated(t, u"20050317", 1), u"17.03.05");
  EXPECT_EQ(translated(t, u"19991231", 1), u"31.12.99");
  // Shorter texts are rearranged by the same positions.
  EXPECT_EQ(translated(t, u"2005", 1), u"05..05");
  EXPECT_EQ(translated(t, u"7", 1), u"7..");
  EXPECT_EQ(translated(t, u"20050", 1), u"50.0.05");
}

TEST(TransformCol, RunModes) {
  Transform t = withMask(u"0100");
  EXPECT_EQ(translated(t, u"E", 4), u"Пользовательский");
  EXPECT_EQ(translated(t, u"C", 4), u"Конфигуратор");
  EXPECT_EQ(translated(t, u"M", 4), u"Монитор");
  EXPECT_EQ(translated(t, u"D", 4), u"Отладчик");
  for (U16View other : {u"e", u"X", u"EE", u" E"}) EXPECT_EQ(translated(t, other, 4), other);
}

TEST(TransformCol, Categories) {
  Transform t = withMask(u"0010");
  for (const CodeText& c : kCategories) EXPECT_EQ(translated(t, c.code, 5), c.text) << toUtf8(c.code);
  EXPECT_EQ(translated(t, u"Docs", 5), u"Документы ");
  EXPECT_EQ(translated(t, u"$", 5), u"Событие пользователя");
  EXPECT_EQ(translated(t, u"docs", 5), u"docs");
  EXPECT_EQ(translated(t, u"Doc", 5), u"Doc");
}

TEST(EventCatalogue, IsStrictlyAscending) {
  // The lookup is a binary search and relies on this order.
  for (std::size_t k = 1; k < kEventCatalogue.size(); ++k) {
    EXPECT_LT(kEventCatalogue[k - 1].code, kEventCatalogue[k].code) << k;
  }
}

TEST(EventCatalogue, EveryCodeFindsItsOwnPosition) {
  Transform t = withMask(u"0001");
  for (std::size_t k = 0; k < kEventCatalogue.size(); ++k) {
    EXPECT_EQ(t.findEvent(kEventCatalogue[k].code), int(k + 1)) << toUtf8(kEventCatalogue[k].code);
    EXPECT_EQ(translated(t, kEventCatalogue[k].code, 6), kEventCatalogue[k].text);
  }
  EXPECT_EQ(kEventCatalogue.front().code, u"AccDel");
  EXPECT_EQ(kEventCatalogue.back().code, u"UsrDefChng");
  EXPECT_EQ(translated(t, u"DocWrite", 6), u"Документ записан");
  EXPECT_EQ(translated(t, u"DocWriteAndRepassed", 6), u"Документ записан и проведен");
  EXPECT_EQ(translated(t, u"DocWriteNew", 6), u"Записан новый документ");
}

TEST(EventCatalogue, UnknownCodesStayUnchanged) {
  Transform t = withMask(u"0001");
  for (U16View code : {u"Acc", u"AAA", u"Zzz", u"docwrite", u"DOCWRITE", u"A", u"UsrDefChngX", u"DocWriteA",
                       u"DocWriteAndRepasse", u"Doc", u"OpenSession ", u" OpenSession"}) {
    EXPECT_EQ(t.findEvent(code), 0) << toUtf8(code);
    EXPECT_EQ(translated(t, code, 6), code);
  }
  // Every proper prefix and every extension of a code lies between entries.
  for (const CodeText& c : kEventCatalogue) {
    const U16String prefix(c.code.substr(0, c.code.size() - 1));
    const U16String longer = U16String(c.code) + u"x";
    EXPECT_EQ(t.findEvent(prefix), 0) << toUtf8(prefix);
    EXPECT_EQ(t.findEvent(longer), 0) << toUtf8(longer);
  }
}

// The typed lookup, its cache and the script's translator with every flag on
// must give the same presentation of every code.
TEST(CodeLookup, PresentationByField) {
  const struct {
    int field;
    std::string_view code;  // log bytes, code page 1251
    const char* shown;      // UTF-8
  } cases[] = {
      {1, "20050317", "17.03.05"},    {1, "2005", "05..05"},           {1, "", ""},
      {4, "E", "Пользовательский"},   {4, "D", "Отладчик"},            {4, "e", "e"},
      {5, "Docs", "Документы "},      {5, "$", "Событие пользователя"}, {5, "DocWrite", "DocWrite"},
      {6, "DocWrite", "Документ записан"}, {6, "AccDel", "Счет удален"}, {6, "UsrDefChng", "Изменение списка пользователей"},
      {6, "DocWriteA", "DocWriteA"},  {6, "\xC4\xEE\xEA", "Док"},       {6, "E", "E"},
      {2, "E", "E"},                  {3, "DocWrite", "DocWrite"},     {8, "20050317", "20050317"},
  };
  const std::unique_ptr<CodePage> owned = CodePage::make(1251);
  const CodePage& cp = *owned;
  CodeTranslator all(cp, fieldSet({1, 4, 5, 6}));
  CodeTranslator none(cp, TranslatedFields{});
  Transform script = withMask(u"1111");
  for (int round = 0; round < 2; ++round) {  // the second round is answered by the cache
    for (const auto& c : cases) {
      const std::string where = std::to_string(c.field) + " " + std::string(c.code);
      U16String text = cp.decode(c.code);
      presentCode(c.field, text);
      EXPECT_EQ(toUtf8(text), c.shown) << where;
      EXPECT_EQ(all.utf8(c.field, c.code), c.shown) << where;
      EXPECT_EQ(none.utf8(c.field, c.code), toUtf8(cp.decode(c.code))) << where;
      EXPECT_EQ(toUtf8(translated(script, cp.decode(c.code), static_cast<std::int16_t>(c.field))), c.shown) << where;
    }
  }
  // A cache that starts afresh still answers rightly. ("X" + a temporary
  // makes GCC 12's -Wrestrict see a false overlap in the 32-bit build.)
  for (std::size_t k = 0; k <= CodeTranslator::kCacheLimit; ++k) all.utf8(6, std::string("X").append(std::to_string(k)));
  EXPECT_EQ(all.utf8(6, "DocWrite"), "Документ записан");
  EXPECT_EQ(all.utf8(6, "X1"), "X1");
}

}  // namespace
}  // namespace velmora
