#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "script/journal.h"

namespace velmora {
namespace {

int thisYear() {
  const std::time_t now = std::time(nullptr);
  return std::localtime(&now)->tm_year + 1900;
}

U16String u16(const std::string& ascii) { return U16String(ascii.begin(), ascii.end()); }

struct Period : ::testing::Test {
  Journal j;
  bool set(U16View d1, U16View t1, U16View d2, U16View t2) { return j.SetDateTimes(d1, t1, d2, t2); }
  void expectPeriod(U16View begin, U16View end) {
    EXPECT_EQ(j.DateBegin(), begin);
    EXPECT_EQ(j.DateEnd(), end);
  }
};

TEST_F(Period, WholeDaysWhenTimesAreEmpty) {
  ASSERT_TRUE(set(u"20050101", u"", u"20050131", u""));
  expectPeriod(u"20050101;00:00:00;", u"20050131;23:59:59;");
}

TEST_F(Period, TimesAreKept) {
  ASSERT_TRUE(set(u" 20050317 ", u" 10:15:00 ", u"20050317", u"18:30:05"));
  expectPeriod(u"20050317;10:15:00;", u"20050317;18:30:05;");
}

TEST_F(Period, ShortOrOutOfRangeTimesFallBackToTheDefaults) {
  ASSERT_TRUE(set(u"20050101", u"9:05:00", u"20050131", u"25:00:00"));
  expectPeriod(u"20050101;00:00:00;", u"20050131;23:59:59;");
  ASSERT_TRUE(set(u"20050101", u"10:60:00", u"20050131", u"10:00:60"));
  expectPeriod(u"20050101;00:00:00;", u"20050131;23:59:59;");
  ASSERT_TRUE(set(u"20050101", u"-1:00:00", u"20050131", u"ab:cd:ef"));
  expectPeriod(u"20050101;00:00:00;", u"20050131;00:00:00;");  // letters read as 0, which is in range
}

TEST_F(Period, SeparatorsOfTheTimeAreIgnored) {
  ASSERT_TRUE(set(u"20050101", u"10-30-45", u"20050101", u"23.59.58 and more"));
  expectPeriod(u"20050101;10:30:45;", u"20050101;23:59:58;");
  ASSERT_TRUE(set(u"20050101", u"01: 2: 3", u"20050101", u"+1:+2:+3"));
  expectPeriod(u"20050101;01:02:03;", u"20050101;01:02:03;");
}

TEST_F(Period, DatePiecesAreNumbersWithSpacesIgnored) {
  ASSERT_TRUE(set(u"2005 1 1", u"", u"20051231", u""));
  EXPECT_EQ(j.DateBegin(), u"20050101;00:00:00;");
  ASSERT_TRUE(set(u"200501011999", u"", u"2005123", u"1"));  // cut to 8; "3" is day 3
  expectPeriod(u"20050101;00:00:00;", u"20051203;23:59:59;");
  ASSERT_TRUE(set(u"20050231", u"", u"20050231", u""));  // days per month are not checked
  EXPECT_EQ(j.DateEnd(), u"20050231;23:59:59;");
}

TEST_F(Period, YearBounds) {
  const int year = thisYear();
  EXPECT_FALSE(set(u"19000101", u"", u"20050101", u""));
  EXPECT_TRUE(set(u"19010101", u"", u"20050101", u""));
  const U16String current = u16(std::to_string(year) + "1231");
  const U16String next = u16(std::to_string(year + 1) + "0101");
  EXPECT_TRUE(set(u"20050101", u"", current, u""));
  EXPECT_EQ(j.DateEnd(), current + u";23:59:59;");
  EXPECT_FALSE(set(u"20050101", u"", next, u""));
  EXPECT_FALSE(set(next, u"", next, u""));
}

TEST_F(Period, MonthAndDayBounds) {
  for (U16View bad : {u"20050001", u"20051301", u"20050100", u"20050132", u"2005-1-1", u"", u"abcdefgh"}) {
    EXPECT_FALSE(set(bad, u"", u"20050101", u"")) << toUtf8(bad);
    EXPECT_FALSE(set(u"20050101", u"", bad, u"")) << toUtf8(bad);
  }
}

TEST_F(Period, ARefusalKeepsThePreviousPeriod) {
  ASSERT_TRUE(set(u"20050101", u"", u"20050131", u""));
  EXPECT_FALSE(set(u"20050201", u"", u"20050131", u""));   // begins after its end
  EXPECT_FALSE(set(u"20050101", u"", u"20051301", u""));
  EXPECT_FALSE(set(u"18000101", u"", u"20050131", u""));
  expectPeriod(u"20050101;00:00:00;", u"20050131;23:59:59;");
  ASSERT_TRUE(set(u"20050317", u"10:00:00", u"20050317", u"10:00:00"));  // equal keys are a period
  expectPeriod(u"20050317;10:00:00;", u"20050317;10:00:00;");
  EXPECT_FALSE(set(u"20050317", u"10:00:01", u"20050317", u"10:00:00"));
  expectPeriod(u"20050317;10:00:00;", u"20050317;10:00:00;");
}

TEST_F(Period, HugeNumbersAreOutOfRangeNotAFault) {
  ASSERT_TRUE(set(u"20050101", u"", u"20050131", u""));
  EXPECT_FALSE(set(u"9e990101", u"", u"20050131", u""));
  EXPECT_FALSE(set(u"9E99", u"", u"20050131", u""));
  EXPECT_FALSE(set(u"99999999999", u"", u"20050131", u""));
  EXPECT_FALSE(set(u"20050101", u"", u"-9e990101", u""));
  EXPECT_FALSE(set(u"20059e99", u"", u"20050131", u""));
  // An "e" without digits after it is no exponent.
  EXPECT_TRUE(set(u"20050101", u"9e:9e:9e", u"20050131", u"1e-1e+1e"));
  expectPeriod(u"20050101;09:09:09;", u"20050131;01:01:01;");
  EXPECT_TRUE(set(u"2e030101", u"", u"20050131", u""));  // 2e03 is the year 2000
  EXPECT_EQ(j.DateBegin(), u"20000101;00:00:00;");
}

TEST_F(Period, FractionsAndSignsAreRoundedDown) {
  ASSERT_TRUE(set(u"2005011.", u"1.:2.:3.", u"2005+1+2", u".9:1.:59"));
  expectPeriod(u"20050101;01:02:03;", u"20050102;00:01:59;");
  EXPECT_FALSE(set(u"200501.9", u"", u"20050131", u""));  // day 0.9 is day 0
  EXPECT_FALSE(set(u"2005-1 1", u"", u"20050131", u""));
  EXPECT_FALSE(set(u"200501-.", u"", u"20050131", u""));
  // -0.5 rounds down to -1: out of range, so the default time is used.
  ASSERT_TRUE(set(u"20050101", u"-.5:00:00", u"20050101", u""));
  EXPECT_EQ(j.DateBegin(), u"20050101;00:00:00;");
}

}  // namespace
}  // namespace velmora
