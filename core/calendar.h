// The proleptic Gregorian calendar as day numbers: what the session pairing,
// the tool's periods and its charts count days and hours with.
#pragma once

#include <cstdint>

namespace velmora {

// Days since 1970-01-01 of a date; a day past its month's end rolls over.
std::int64_t daysFromCivil(int year, int month, int day);
// The date of a day number, as YYYYMMDD.
int civilFromDays(std::int64_t days);
// True when the day exists in the calendar (no 30 February, no month 13).
bool isCalendarDay(int year, int month, int day);

}  // namespace velmora
