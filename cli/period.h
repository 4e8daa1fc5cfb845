// The period of the tool's queries as a person gives it: either end may be
// left open (the log's first or last record), a bound may carry its time of
// day, and days may be named relative to today.
#pragma once

#include <string>

namespace velmora::cli {

struct PeriodOptions {
  std::string from, fromTime, to, toTime;
  // YYYY-MM-DD that today, yesterday and -Nd count from; empty: the local
  // date. Hidden, so that tests never depend on the clock.
  std::string today;
};

// The period as two 18-byte keys. An open end is a key below (begin) or
// above (end) every record's, so that a record dated by a wrong clock, even
// past the current year, still belongs to the whole log.
struct PeriodKeys {
  std::string begin, end;
  bool openBegin = false, openEnd = false;
};

int localToday();  // YYYYMMDD of the local date

// Given bounds follow the script's SetDateTimes rules (a year from 1901 to
// the current year, a time that must be a time of day); throws UsageError
// with what is expected otherwise. today: YYYYMMDD.
PeriodKeys resolvePeriod(const PeriodOptions& options, int today);
// The same against the local date (or the hidden --today).
PeriodKeys resolvePeriod(const PeriodOptions& options);

}  // namespace velmora::cli
