// The prefilter's search: every place a pattern stands in any letter case
// of the code page, and no other.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/prefilter.h"
#include "text/codepage.h"

namespace velmora {
namespace {

std::string bytesOf(U16View text, const CodePage& cp) {
  std::string out;
  for (char16_t u : text) out.push_back(static_cast<char>(cp.toByte(u).value()));
  return out;
}

// Every place the prefilter reports in text, searched as a window ending
// just before a CR.
std::vector<std::size_t> places(Prefilter& pre, const std::string& text) {
  std::string window = text + "\r\n";
  pre.begin(window.data() + text.size());
  std::vector<std::size_t> out;
  const char* from = window.data();
  while (const char* hit = pre.next(from)) {
    out.push_back(static_cast<std::size_t>(hit - window.data()));
    from = hit + 1;
  }
  return out;
}

std::unique_ptr<Prefilter> one(const CodePage& cp, std::vector<Prefilter::Pattern> patterns) {
  return Prefilter::choose({patterns}, cp);
}

// The places found with the wide steps, checked against those found with
// memchr alone (the search of the 32-bit Windows build).
std::vector<std::size_t> bothWays(Prefilter& pre, const std::string& text) {
  pre.useWideSteps(false);
  const std::vector<std::size_t> narrow = places(pre, text);
  pre.useWideSteps(true);
  const std::vector<std::size_t> wide = places(pre, text);
  EXPECT_EQ(wide, narrow) << "the two searches differ";
  return wide;
}

using Places = std::vector<std::size_t>;

TEST(Prefilter, FindsEveryLetterCaseThroughTheCodePage) {
  struct Case {
    unsigned page;
    U16View item, text;
    Places expected;
  };
  const Case cases[] = {
      // 1251: most letters differ in one bit; Ё and ё stand apart from them.
      {1251, u"ИВАНОВ", u"иванов;Иванов;ИВАНОВ;иВаНоВ", {0, 7, 14, 21}},
      {1251, u"ЁЖИК", u"ёжик Ёжик ежик", {0, 5}},
      // 866: р..я lie 0x50 after Р..Я, not one bit; ░ (0xB0) is no letter.
      {866, u"РЯД", u"ряд Ряд РЯД ░ЯД", {0, 4, 8}},
      {866, u"ЁЛКА", u"ёлка Ёлка елка", {0, 5}},
      // 1252: Latin-1 letters and the pair Ÿ/ÿ far apart.
      {1252, u"ÉTÉ", u"été Été ÉTÉ ete", {0, 4, 8}},
      {1252, u"ŸES", u"ÿes Ÿes yes", {0, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(toUtf8(c.item) + " in " + std::to_string(c.page));
    const auto cp = CodePage::make(c.page);
    auto pre = one(*cp, {{bytesOf(c.item, *cp), false}});
    ASSERT_NE(pre, nullptr);
    EXPECT_EQ(bothWays(*pre, bytesOf(c.text, *cp)), c.expected);
    // The same inside a longer text, where the search takes its wide steps.
    const std::string pad(70, '-');
    Places shifted;
    for (std::size_t at : c.expected) shifted.push_back(at + pad.size());
    EXPECT_EQ(bothWays(*pre, pad + bytesOf(c.text, *cp) + pad), shifted);
  }
}

TEST(Prefilter, FindsAPatternAtEveryOffsetAcrossSearchSteps) {
  const auto cp = CodePage::make(1251);
  const std::string item = bytesOf(u"ЩУКА", *cp);
  auto pre = one(*cp, {{item, false}});
  ASSERT_NE(pre, nullptr);
  // Before, inside and after every 16- and 64-byte step, up to the very
  // last place where the pattern still fits.
  for (std::size_t length = item.size(); length < 200; ++length) {
    for (std::size_t at = 0; at + item.size() <= length; at += (length < 80 ? 1 : 7)) {
      std::string text(length, 'x');
      text.replace(at, item.size(), at % 2 ? bytesOf(u"щука", *cp) : item);
      ASSERT_EQ(bothWays(*pre, text), Places{at}) << "length " << length << ", at " << at;
    }
  }
}

TEST(Prefilter, BothSearchesAgreeOnRandomText) {
  // Text of a few bytes only, so that near misses (one rare byte without
  // the other, a case form, a pattern cut short) abound.
  std::mt19937 random(866);
  for (unsigned page : {1251u, 1252u, 866u}) {
    const auto cp = CodePage::make(page);
    const std::string alphabet = bytesOf(page == 1252 ? U16View(u"aAéÉ;|ÿŸ") : U16View(u"аАрРёЁ;|"), *cp);
    for (int round = 0; round < 200; ++round) {
      std::string item;
      for (int k = 0; k < 1 + round % 4; ++k) item.push_back(static_cast<char>(cp->upperByte(static_cast<unsigned char>(alphabet[random() % alphabet.size()]))));
      auto pre = one(*cp, {{item, round % 2 == 0}, {item.substr(0, 1) + item, false}});
      if (pre == nullptr) continue;  // too common to search for
      std::string text(200 + random() % 300, ' ');
      for (char& c : text) c = alphabet[random() % alphabet.size()];
      bothWays(*pre, text);
    }
  }
}

TEST(Prefilter, AWholeValueEndsWhereAFieldEnds) {
  const auto cp = CodePage::make(1251);
  auto pre = one(*cp, {{bytesOf(u";D", *cp), true}});
  ASSERT_NE(pre, nullptr);
  // ";D" counts before ";", "|" and the line's CR, not before other bytes.
  EXPECT_EQ(places(*pre, ";D;x;Docs;d|y;DE;d"), (Places{0, 9, 16}));
}

TEST(Prefilter, ChoosesTheRarestFilterAndRefusesCommonOnes) {
  const auto cp = CodePage::make(1251);
  const Prefilter::Alternatives common{{bytesOf(u"О", *cp), false}};         // a letter in every word
  const Prefilter::Alternatives rare{{bytesOf(u"ЩЪЮ", *cp), false}};         // hardly ever
  const Prefilter::Alternatives two{{bytesOf(u"АБВГ", *cp), false}, {bytesOf(u"ДЕЖЗ", *cp), false}};
  EXPECT_EQ(Prefilter::choose({common}, *cp), nullptr) << "searching for О costs more than cutting every line";

  auto pre = Prefilter::choose({common, rare}, *cp);
  ASSERT_NE(pre, nullptr);
  EXPECT_EQ(pre->choice().patterns, 1u);
  EXPECT_EQ(places(*pre, bytesOf(u"о щъю О", *cp)), Places{2}) << "the rare filter is the one searched";

  pre = Prefilter::choose({two}, *cp);
  ASSERT_NE(pre, nullptr);
  EXPECT_EQ(places(*pre, bytesOf(u"деЖз абвг", *cp)), (Places{0, 5})) << "either item of a filter";

  // Many items cost a pass each: past some number the plain loop is cheaper.
  Prefilter::Alternatives many;
  for (int k = 0; k < 40; ++k) many.push_back({bytesOf(u"ЩЪ", *cp) + std::to_string(k), false});
  EXPECT_EQ(Prefilter::choose({many}, *cp), nullptr);

  // The rarest bytes are searched for, not the first ones.
  pre = one(*cp, {{bytesOf(u"ОАЩЕЪ", *cp), false}});
  ASSERT_NE(pre, nullptr);
  EXPECT_EQ(pre->choice().rare1, std::vector<std::size_t>{4});
  EXPECT_EQ(pre->choice().rare2, std::vector<std::size_t>{2});
}

TEST(Prefilter, RareBytesAndThePayAreThoseOfTheLogBeingRead) {
  const auto cp = CodePage::make(1251);
  // Latin codes in every line, and a user name of k and v.
  std::string sample;
  while (sample.size() < 100000) sample += "20050101;10:00:00;kvkvkv;E;Docs;DocWrite;1;;O1;Doc\r\n";
  const Prefilter::Alternatives event{{";DOCWRITE", true}};
  ASSERT_NE(Prefilter::choose({event}, *cp), nullptr) << "W and I are rare by the table";
  EXPECT_EQ(Prefilter::choose({event}, *cp, {sample}), nullptr) << "but stand in every line of this log";

  // By the table K and V would be searched for; in this log H and L are
  // rare (the table ranks those that the log lacks).
  auto pre = one(*cp, {{"KLADOVSHIK", false}});
  ASSERT_NE(pre, nullptr);
  EXPECT_EQ(pre->choice().rare1, std::vector<std::size_t>{0});
  pre = Prefilter::choose({{{"KLADOVSHIK", false}}}, *cp, {sample});
  ASSERT_NE(pre, nullptr);
  EXPECT_EQ(pre->choice().rare1, std::vector<std::size_t>{7});
  EXPECT_EQ(pre->choice().rare2, std::vector<std::size_t>{1});
  EXPECT_EQ(places(*pre, sample.substr(0, 60) + "kladovshik"), Places{60});
}

TEST(Prefilter, AFilterThatNoRecordCanPassFindsNothing) {
  const auto cp = CodePage::make(1251);
  // No pattern at all (a list without items), or only patterns that cannot
  // lie inside a line.
  for (const Prefilter::Alternatives& filter :
       {Prefilter::Alternatives{}, Prefilter::Alternatives{{"A\r\nB", false}}}) {
    auto pre = Prefilter::choose({filter}, *cp);
    ASSERT_NE(pre, nullptr);
    EXPECT_EQ(pre->choice().patterns, 0u);
    EXPECT_TRUE(places(*pre, "A\r\nB A B").empty());
  }
}

}  // namespace
}  // namespace velmora
