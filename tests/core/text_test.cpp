#include <gtest/gtest.h>

#include "text/text.h"

namespace velmora {
namespace {

TEST(Utf, RoundTripsEveryPlane) {
  const U16String text = u"Журнал регистрации: ё Ё, café, €, 𝄞 end";
  const std::string utf8 = toUtf8(text);
  EXPECT_EQ(utf8, "Журнал регистрации: ё Ё, café, €, 𝄞 end");
  EXPECT_EQ(fromUtf8(utf8), text);
  EXPECT_EQ(toUtf8(u""), "");
  EXPECT_EQ(fromUtf8(""), u"");
}

TEST(Utf, SurrogatePairsAreOneCharacter) {
  EXPECT_EQ(toUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(fromUtf8("\xF0\x9F\x98\x80"), U16String({0xD83D, 0xDE00}));
  EXPECT_EQ(fromUtf8("\xF4\x8F\xBF\xBF"), U16String({0xDBFF, 0xDFFF}));  // U+10FFFF
}

TEST(Utf, LoneSurrogatesBecomeReplacement) {
  EXPECT_EQ(toUtf8(U16String({u'a', 0xD800, u'b'})), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(toUtf8(U16String({0xDC00, 0xD800})), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(toUtf8(U16String({0xD800})), "\xEF\xBF\xBD");
}

TEST(Utf, InvalidBytesBecomeReplacement) {
  const U16String r(1, 0xFFFD);
  EXPECT_EQ(fromUtf8("\x80"), r);                       // stray continuation
  EXPECT_EQ(fromUtf8("\xFF" "a"), r + u"a");
  EXPECT_EQ(fromUtf8("\xD0"), r);                       // truncated at the end
  EXPECT_EQ(fromUtf8("\xD0" "A"), r + u"A");            // the breaking byte is kept
  EXPECT_EQ(fromUtf8("\xE2\x82" "A"), r + u"A");        // one replacement for the valid prefix
  EXPECT_EQ(fromUtf8("\xC0\xAF"), r + r);               // overlong
  EXPECT_EQ(fromUtf8("\xE0\x80\xAF"), r + r + r);       // overlong, three bytes
  EXPECT_EQ(fromUtf8("\xED\xA0\x80"), r + r + r);       // encoded surrogate
  EXPECT_EQ(fromUtf8("\xF4\x90\x80\x80"), r + r + r + r);  // past U+10FFFF
  EXPECT_EQ(fromUtf8("\xF0\x9F\x98"), r);
}

TEST(TrimSpaces, RemovesOnlyTheSpaceCharacter) {
  EXPECT_EQ(trimSpaces(u"  Дата, Время  "), u"Дата, Время");
  EXPECT_EQ(trimSpaces(u"\tA \t"), u"\tA \t");
  EXPECT_EQ(trimSpaces(u" \u00A0A\u00A0 "), u"\u00A0A\u00A0");
  EXPECT_EQ(trimSpaces(u"    "), u"");
  EXPECT_EQ(trimSpaces(u""), u"");
  EXPECT_EQ(trimSpaces(u"a b"), u"a b");
}

}  // namespace
}  // namespace velmora
