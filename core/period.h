// The period of SetDateTimes as a pure function of its four texts: the two
// 18-byte keys "YYYYMMDD;HH:MM:SS;" that bound a scan. A date needs a year
// from 1901 to the current year, a month 1..12 and a day 1..31; a time that
// is short or out of range is the start (00:00:00) or the end (23:59:59) of
// its day.
#pragma once

#include <optional>
#include <string>

#include "text/text.h"

namespace velmora {

struct PeriodKeyPair {
  std::string begin, end;
};

// The local year, as SetDateTimes bounds dates by it.
int currentLocalYear();

// The key of one bound (begin: the start of a period, else its end), or
// nothing for a date that SetDateTimes refuses.
std::optional<std::string> periodKey(U16View date, U16View time, bool begin, int currentYear);
// Both keys, or nothing when SetDateTimes would refuse them (a bad date, or
// a begin after the end).
std::optional<PeriodKeyPair> periodKeys(U16View date1, U16View time1, U16View date2, U16View time2, int currentYear);
inline std::optional<PeriodKeyPair> periodKeys(U16View date1, U16View time1, U16View date2, U16View time2) {
  return periodKeys(date1, time1, date2, time2, currentLocalYear());
}

}  // namespace velmora
