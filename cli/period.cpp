#include "cli/period.h"

#include <cctype>
#include <ctime>

#include "cli/commands.h"
#include "core/calendar.h"
#include "core/period.h"
#include "core/reader.h"
#include "text/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace velmora::cli {

int localToday() {
#ifdef _WIN32
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now.wYear * 10000 + now.wMonth * 100 + now.wDay;
#else
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
#endif
}

namespace {

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

std::string lowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool allDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string yyyymmdd(int date) {
  std::string out(8, '0');
  for (int k = 7; k >= 0; --k, date /= 10) out[static_cast<std::size_t>(k)] = static_cast<char>('0' + date % 10);
  return out;
}

long long dayNumber(int date) { return daysFromCivil(date / 10000, date / 100 % 100, date % 100); }

// One bound as SetDateTimes takes it: a date text and a time text.
struct Bound {
  bool open = true;
  bool timeInText = false;  // the time came with the date, as YYYY-MM-DDTHH:MM:SS
  std::string date, time;
};

constexpr const char* kExpectedDate =
    "expected YYYYMMDD, YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS with a year from 1901 to the current year, "
    "or today, yesterday or -Nd (N days before today)";

Bound parseBound(const std::string& given, const std::string& timeGiven, const char* option, const char* timeOption,
                 int today) {
  Bound b;
  const std::string text = toUtf8(trimSpaces(fromUtf8(given)));
  if (text.empty()) {
    if (!toUtf8(trimSpaces(fromUtf8(timeGiven))).empty())
      throw UsageError(std::string(timeOption) + " needs " + option + ": without " + option +
                       " the period is open at that end");
    return b;
  }
  b.open = false;
  b.time = timeGiven;
  const std::string word = lowerAscii(text);
  if (word == "today" || word == "yesterday" ||
      (word.size() >= 3 && word.front() == '-' && word.back() == 'd' && allDigits(word.substr(1, word.size() - 2)))) {
    long long back = word == "today" ? 0 : word == "yesterday" ? 1 : -1;
    if (back < 0) {
      const std::string digits = word.substr(1, word.size() - 2);
      if (digits.size() > 6) throw UsageError(std::string(option) + " " + inQuotes(given) + " reaches too far back");
      back = std::stoll(digits);
    }
    b.date = yyyymmdd(civilFromDays(dayNumber(today) - back));
    return b;
  }
  // A time of day joined to the date: YYYY-MM-DDTHH:MM:SS (or with a blank).
  for (std::size_t at : {std::size_t{10}, std::size_t{8}}) {
    if (text.size() > at && (text[at] == 'T' || text[at] == 't' || text[at] == ' ')) {
      if (!toUtf8(trimSpaces(fromUtf8(timeGiven))).empty())
        throw UsageError(std::string(option) + " " + inQuotes(given) + " already holds a time of day; leave out " +
                         timeOption);
      b.date = normaliseDate(text.substr(0, at));
      b.time = text.substr(at + 1);
      b.timeInText = true;
      return b;
    }
  }
  b.date = normaliseDate(text);
  return b;
}

// The key SetDateTimes builds for one bound, checked as the tool checks it:
// a time that SetDateTimes would replace by its default is refused, since a
// person who typed a time meant it.
std::string keyOf(const Bound& b, bool begin, const std::string& given, const char* option, const char* timeOption) {
  // SetDateTimes reads the digits it needs and lets a day past the month's
  // end roll over; a person who typed a date meant that very day.
  const int day = allDigits(b.date) && b.date.size() == 8 ? std::stoi(b.date) : 0;
  if (!isCalendarDay(day / 10000, day / 100 % 100, day % 100))
    throw UsageError(std::string(option) + " " + inQuotes(given) + " is not a date of the calendar: " + kExpectedDate);
  const U16String time = fromUtf8(b.time);
  const std::optional<std::string> key = periodKey(fromUtf8(b.date), time, begin, currentLocalYear());
  if (!key) throw UsageError(std::string(option) + " " + inQuotes(given) + " is refused: " + kExpectedDate);
  const U16View trimmed = trimSpaces(time);
  if (!trimmed.empty()) {
    const U16String k(key->begin(), key->end());
    const bool taken = trimmed.size() >= 8 && trimmed.substr(0, 2) == k.substr(9, 2) &&
                       trimmed.substr(3, 2) == k.substr(12, 2) && trimmed.substr(6, 2) == k.substr(15, 2);
    if (!taken)
      throw UsageError(std::string(b.timeInText ? option : timeOption) + " " + inQuotes(b.time) +
                       " is not a time of day; expected HH:MM:SS, two digits each, as 09:05:00");
  }
  return *key;  // digits and separators only
}

}  // namespace

PeriodKeys resolvePeriod(const PeriodOptions& o, int today) {
  const Bound from = parseBound(o.from, o.fromTime, "--from", "--from-time", today);
  const Bound to = parseBound(o.to, o.toTime, "--to", "--to-time", today);
  PeriodKeys keys;
  keys.openBegin = from.open;
  keys.openEnd = to.open;
  keys.begin = from.open ? openBeginKey() : keyOf(from, true, o.from, "--from", "--from-time");
  keys.end = to.open ? openEndKey() : keyOf(to, false, o.to, "--to", "--to-time");
  if (keys.begin > keys.end)
    throw UsageError("the period " + inQuotes(o.from) + " to " + inQuotes(o.to) + " is refused: --from is later than --to");
  return keys;
}

PeriodKeys resolvePeriod(const PeriodOptions& o) {
  int today = localToday();
  if (!o.today.empty()) {
    const std::string digits = normaliseDate(o.today);
    const int y = allDigits(digits) && digits.size() == 8 ? std::stoi(digits) : 0;
    if (!isCalendarDay(y / 10000, y / 100 % 100, y % 100))
      throw UsageError("--today " + inQuotes(o.today) + " is not a date; expected YYYY-MM-DD");
    today = y;
  }
  return resolvePeriod(o, today);
}

}  // namespace velmora::cli
