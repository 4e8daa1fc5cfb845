// Day numbers and back, and which days exist, across the century leap rules.
#include "core/calendar.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

namespace velmora {
namespace {

TEST(Calendar, DayNumbersRoundTripAndKeepTheLeapRules) {
  EXPECT_EQ(daysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(daysFromCivil(2000, 3, 1) - daysFromCivil(2000, 2, 28), 2) << "2000 was a leap year";
  EXPECT_EQ(daysFromCivil(1900, 3, 1) - daysFromCivil(1900, 2, 28), 1) << "1900 was not";
  for (std::int64_t d = daysFromCivil(1899, 12, 1); d < daysFromCivil(2101, 2, 1); d += 13) {
    const int date = civilFromDays(d);
    ASSERT_EQ(daysFromCivil(date / 10000, date / 100 % 100, date % 100), d) << date;
    ASSERT_TRUE(isCalendarDay(date / 10000, date / 100 % 100, date % 100)) << date;
  }
  const std::vector<std::tuple<int, int, int, bool>> days{
      {2000, 2, 29, true}, {1900, 2, 29, false}, {2004, 2, 29, true}, {2005, 2, 29, false}, {2005, 4, 31, false},
      {2005, 12, 31, true}, {2005, 13, 1, false}, {2005, 0, 10, false}, {2005, 1, 0, false}, {2005, 1, 32, false}};
  for (const auto& [y, m, d, exists] : days) EXPECT_EQ(isCalendarDay(y, m, d), exists) << y << "-" << m << "-" << d;
}

}  // namespace
}  // namespace velmora
