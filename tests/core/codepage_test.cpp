#include <gtest/gtest.h>

#include "text/codepage.h"

namespace velmora {
namespace {

std::unique_ptr<CodePage> page(unsigned number) {
  auto cp = CodePage::make(number);
  EXPECT_NE(cp, nullptr) << number;
  return cp;
}

// The byte of a unit that the test knows to be in the code page.
unsigned char byteOf(const CodePage& cp, char16_t unit) {
  const auto b = cp.toByte(unit);
  EXPECT_TRUE(b.has_value()) << std::hex << unsigned(unit);
  return b.value_or(0);
}

TEST(CodePage, DefaultIsWindows1251) {
  // Natively 1251 by default; under Wine the system ANSI code page, 1251 in
  // the Russian locale the tests run in.
  EXPECT_EQ(CodePage::current().number(), 1251u);
  EXPECT_EQ(CodePage::current().toUnit(0xC0), u'А');
}

TEST(CodePage, EveryByteRoundTrips) {
  for (unsigned number : {1251u, 1252u, 866u}) {
    auto cp = page(number);
    for (int b = 0; b < 256; ++b) {
      const auto back = cp->toByte(cp->toUnit(static_cast<unsigned char>(b)));
      ASSERT_TRUE(back.has_value()) << number << " byte " << b;
      EXPECT_EQ(*back, b) << number;
    }
    for (int b = 0; b < 0x80; ++b) EXPECT_EQ(cp->toUnit(static_cast<unsigned char>(b)), b) << number;
  }
}

TEST(CodePage, KnownCharacters) {
  auto w = page(1251);
  EXPECT_EQ(w->toUnit(0xC0), u'А');
  EXPECT_EQ(w->toUnit(0xFF), u'я');
  EXPECT_EQ(w->toUnit(0xA8), u'Ё');
  EXPECT_EQ(w->toUnit(0xB8), u'ё');
  EXPECT_EQ(w->toUnit(0xB9), u'№');
  EXPECT_EQ(w->toUnit(0xA5), u'Ґ');
  EXPECT_EQ(w->toUnit(0x88), u'€');
  auto d = page(866);
  EXPECT_EQ(d->toUnit(0x80), u'А');
  EXPECT_EQ(d->toUnit(0xAF), u'п');
  EXPECT_EQ(d->toUnit(0xE0), u'р');
  EXPECT_EQ(d->toUnit(0xF1), u'ё');
  auto l = page(1252);
  EXPECT_EQ(l->toUnit(0x80), u'€');
  EXPECT_EQ(l->toUnit(0xE9), u'é');
  EXPECT_EQ(l->toUnit(0x9F), u'Ÿ');
}

TEST(CodePage, UnitsWithoutAFormHaveNoByte) {
  auto w = page(1251);
  for (char16_t u : {char16_t(0x0100), char16_t(0x00E9), char16_t(0xFFFD), char16_t(0xD800), char16_t(0x4E2D),
                     char16_t(0x03B1)}) {
    EXPECT_FALSE(w->toByte(u).has_value()) << std::hex << unsigned(u);
  }
  EXPECT_FALSE(page(1252)->toByte(u'Ы').has_value());
  EXPECT_FALSE(page(866)->toByte(u'€').has_value());
}

TEST(CodePage, UpperCasesCyrillicIncludingSerbianUkrainianAndBelarusian) {
  const char16_t pairs[][2] = {
      {u'ё', u'Ё'}, {u'ђ', u'Ђ'}, {u'ѓ', u'Ѓ'}, {u'є', u'Є'}, {u'ї', u'Ї'}, {u'љ', u'Љ'}, {u'њ', u'Њ'},
      {u'ћ', u'Ћ'}, {u'ќ', u'Ќ'}, {u'ў', u'Ў'}, {u'џ', u'Џ'}, {u'ґ', u'Ґ'}, {u'і', u'І'}, {u'ј', u'Ј'},
      {u'ѕ', u'Ѕ'}, {u'а', u'А'}, {u'я', u'Я'}, {u'ж', u'Ж'}, {u'z', u'Z'}, {u'a', u'A'},
  };
  auto w = page(1251);
  for (const auto& p : pairs) {
    EXPECT_EQ(w->upperUnit(p[0]), p[1]) << std::hex << unsigned(p[0]);
    EXPECT_EQ(w->upperUnit(p[1]), p[1]);
    EXPECT_EQ(w->upperByte(byteOf(*w, p[0])), byteOf(*w, p[1]));
  }
  for (char16_t u = u'а'; u <= u'я'; ++u) EXPECT_EQ(w->upperUnit(u), u - 0x20);
}

TEST(CodePage, NonLettersStay) {
  auto w = page(1251);
  for (char16_t u : {u'0', u'9', u'|', u';', u' ', u'№', u'€', u'«', u'_', u'µ', u'\r'}) {
    EXPECT_EQ(w->upperUnit(u), u) << std::hex << unsigned(u);
    EXPECT_EQ(w->upperByte(byteOf(*w, u)), byteOf(*w, u));
  }
}

TEST(CodePage, UpperCasesOtherCodePages) {
  auto l = page(1252);
  EXPECT_EQ(l->upperUnit(u'é'), u'É');
  EXPECT_EQ(l->upperUnit(u'š'), u'Š');
  EXPECT_EQ(l->upperUnit(u'ÿ'), u'Ÿ');
  EXPECT_EQ(l->upperByte(0xFF), 0x9F);
  EXPECT_EQ(l->upperUnit(u'ß'), u'ß');
  auto d = page(866);
  EXPECT_EQ(d->upperByte(0xF1), 0xF0);  // ё -> Ё
  EXPECT_EQ(d->upperByte(0xE0), 0x90);  // р -> Р
  EXPECT_EQ(d->upperByte(0xAF), 0x8F);  // п -> П
  EXPECT_EQ(d->upperByte(0xB0), 0xB0);  // a box-drawing shade
}

TEST(CodePage, ByteAndUnitUpperCasingAgree) {
  // A filter text is folded by units and a log field by bytes: both must
  // give the same letters.
  for (unsigned number : {1251u, 1252u, 866u}) {
    auto cp = page(number);
    for (int b = 0; b < 256; ++b) {
      const auto byte = static_cast<unsigned char>(b);
      EXPECT_EQ(cp->toUnit(cp->upperByte(byte)), cp->upperUnit(cp->toUnit(byte))) << number << " byte " << b;
      EXPECT_EQ(cp->upperByte(cp->upperByte(byte)), cp->upperByte(byte)) << number << " byte " << b;
    }
  }
}

TEST(CodePage, UnitsOutsideTheCodePageAreStillUpperCased) {
  auto w = page(1251);
  EXPECT_EQ(w->upperUnit(u'ā'), u'Ā');
  EXPECT_EQ(w->upperUnit(u'é'), u'É');
  EXPECT_EQ(w->upperUnit(u'α'), u'Α');
  EXPECT_EQ(w->upperUnit(char16_t(0xD83D)), char16_t(0xD83D));
}

TEST(CodePage, Decodes) {
  auto w = page(1251);
  EXPECT_EQ(w->decode("\xC8\xE2\xE0\xED\xEE\xE2;E"), u"Иванов;E");
  U16String out = u"a much longer previous content";
  w->decode("\xB8\xA8", out);
  EXPECT_EQ(out, u"ёЁ");
  w->decode("", out);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(page(866)->decode("\x88\xA2\xA0\xAD\xAE\xA2"), u"Иванов");
}

TEST(CodePage, SelectKnownAndUnknown) {
  const unsigned before = CodePage::current().number();
  EXPECT_FALSE(CodePage::select(12345));
  EXPECT_FALSE(CodePage::select(65001));  // multi-byte: not a log code page
  EXPECT_EQ(CodePage::make(12345), nullptr);
  EXPECT_EQ(CodePage::current().number(), before);
  const CodePage& old = CodePage::current();
  ASSERT_TRUE(CodePage::select(866));
  EXPECT_EQ(CodePage::current().number(), 866u);
  EXPECT_EQ(CodePage::current().toUnit(0x80), u'А');
  EXPECT_EQ(old.toUnit(0xC0), u'А');  // references handed out earlier stay valid
  ASSERT_TRUE(CodePage::select(before));
  EXPECT_EQ(&CodePage::current(), &old);
}

}  // namespace
}  // namespace velmora
