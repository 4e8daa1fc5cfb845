#include <gtest/gtest.h>

#include "core/failure.h"
#include "script/num_err.h"
#include "script/journal.h"

namespace velmora {
namespace {

TEST(JournalProperties, NewReader) {
  Journal j;
  EXPECT_EQ(j.FilePath(), u"0");
  EXPECT_EQ(j.InsertColumn(), u"1111111111");
  EXPECT_EQ(j.ColumnTotal(), 10);
  EXPECT_EQ(j.TransformStr(), u"0000");
  EXPECT_EQ(j.InvertFilters(), u"00000000");
  EXPECT_EQ(j.CoincidenceObject(), 0);
  EXPECT_EQ(j.MyFileSize(), 0);
  EXPECT_EQ(j.ListStrSize(), 0);
  EXPECT_EQ(j.NumErr(), 0);
  for (const U16String* s : {&j.DateBegin(), &j.DateEnd(), &j.GroupBy(), &j.OrderBy(), &j.TextErr()}) {
    EXPECT_EQ(*s, u"");
  }
}

TEST(JournalProperties, InsertColumn) {
  Journal j;
  j.SetInsertColumn(u"101");
  EXPECT_EQ(j.InsertColumn(), u"1010000000");
  EXPECT_EQ(j.ColumnTotal(), 2);
  for (U16View none : {u"0", u"0000000000", u"          ", u""}) {
    j.SetInsertColumn(u"1");
    j.SetInsertColumn(none);
    EXPECT_EQ(j.InsertColumn(), u"") << toUtf8(none);
    EXPECT_EQ(j.ColumnTotal(), 10);
  }
  j.SetInsertColumn(u" 1");  // the leading space is column 1, not trimmed
  EXPECT_EQ(j.InsertColumn(), u"0100000000");
  EXPECT_EQ(j.ColumnTotal(), 1);
  j.SetInsertColumn(u"abcdefghijkl");
  EXPECT_EQ(j.InsertColumn(), u"1111111111");
  EXPECT_EQ(j.ColumnTotal(), 10);
  j.SetInsertColumn(u"1010000001");
  EXPECT_EQ(j.ColumnTotal(), 3);
  j.SetInsertColumn(u"00000000001");  // the eleventh character is cut off
  EXPECT_EQ(j.InsertColumn(), u"");
  EXPECT_EQ(j.ColumnTotal(), 10);
}

TEST(JournalProperties, InvertFilters) {
  Journal j;
  j.SetInvertFilters(u"  1  ");
  EXPECT_EQ(j.InvertFilters(), u"10000000");
  j.SetInvertFilters(u"0 1");
  EXPECT_EQ(j.InvertFilters(), u"00100000");
  j.SetInvertFilters(u"x1-0000011");
  EXPECT_EQ(j.InvertFilters(), u"11100000");
  j.SetInvertFilters(u"");
  EXPECT_EQ(j.InvertFilters(), u"00000000");
}

TEST(JournalProperties, TransformStrOwnsTheTranslator) {
  Journal j;
  j.SetTransformStr(u"1");
  EXPECT_EQ(j.TransformStr(), u"1000");
  j.SetTransformStr(u"0110");
  j.SetTransformStr(u"");
  EXPECT_EQ(j.TransformStr(), u"0000");
  j.SetTransformStr(u"2 0a");
  EXPECT_EQ(j.TransformStr(), u"1001");
  j.SetTransformStr(u" 0 0 ");
  EXPECT_EQ(j.TransformStr(), u"0000");
}

TEST(JournalProperties, ListsAreTrimmedOfSpacesOnly) {
  Journal j;
  j.SetGroupBy(u"  Пользователь  ");
  EXPECT_EQ(j.GroupBy(), u"Пользователь");
  j.SetOrderBy(u" Дата, Время ");
  EXPECT_EQ(j.OrderBy(), u"Дата, Время");
  j.SetOrderBy(u"\tДата\t");
  EXPECT_EQ(j.OrderBy(), u"\tДата\t");
  j.SetFilePath(u"  C:\\Base\\Logs\\events.log ");
  EXPECT_EQ(j.FilePath(), u"  C:\\Base\\Logs\\events.log ");
}

TEST(JournalProperties, CoincidenceObjectIsOneOrZero) {
  Journal j;
  j.SetCoincidenceObject(5);
  EXPECT_EQ(j.CoincidenceObject(), 1);
  j.SetCoincidenceObject(0);
  EXPECT_EQ(j.CoincidenceObject(), 0);
  j.SetCoincidenceObject(1);
  EXPECT_EQ(j.CoincidenceObject(), 1);
  j.SetCoincidenceObject(-3);
  EXPECT_EQ(j.CoincidenceObject(), 0);
}

TEST(ErrorNumbers, FoldIntoSixteenBits) {
  EXPECT_EQ(foldErrorNumber(0), 0);
  EXPECT_EQ(foldErrorNumber(53), 53);
  EXPECT_EQ(foldErrorNumber(-32768), -32768);
  EXPECT_EQ(foldErrorNumber(32767), 32767);
  EXPECT_EQ(foldErrorNumber(static_cast<std::int32_t>(0x800A0035u)), 53);    // script error 53 in an HRESULT
  EXPECT_EQ(foldErrorNumber(static_cast<std::int32_t>(0x800A7FFFu)), 32767);
  EXPECT_EQ(foldErrorNumber(static_cast<std::int32_t>(0x800A8000u)), 440);   // does not fit
  EXPECT_EQ(foldErrorNumber(static_cast<std::int32_t>(0x80070005u)), 440);   // access denied
  EXPECT_EQ(foldErrorNumber(static_cast<std::int32_t>(0x000A0035u)), 440);   // not a failure code
  EXPECT_EQ(foldErrorNumber(32768), 440);
  EXPECT_EQ(foldErrorNumber(-32769), 440);
}

}  // namespace
}  // namespace velmora
