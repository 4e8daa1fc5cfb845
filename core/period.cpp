#include <cmath>
#include <ctime>

#include "core/period.h"


#ifdef _WIN32
#include <windows.h>
#endif

namespace velmora {

int currentLocalYear() {
#ifdef _WIN32
  SYSTEMTIME now;
  GetLocalTime(&now);
  return now.wYear;
#else
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
#endif
}

namespace {

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The leading decimal number of a piece, spaces ignored: optional sign,
// digits, optional fraction, optional exponent ("9e99" is a number, and far
// out of range). Rounded down. Kept as a double so that no piece, however
// large, can overflow: the caller compares it with its bounds.
double pieceValue(U16View piece) {
  U16String text;
  for (char16_t c : piece) {
    if (c != u' ') text.push_back(c);
  }
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  double value = 0;
  bool digits = false;
  for (; i < text.size() && isDigit(text[i]); ++i, digits = true) value = value * 10 + (text[i] - u'0');
  if (i < text.size() && text[i] == u'.') {
    double scale = 0.1;
    for (++i; i < text.size() && isDigit(text[i]); ++i, scale /= 10, digits = true) value += (text[i] - u'0') * scale;
  }
  if (digits && i + 1 < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    std::size_t j = i + 1;
    bool negativeExponent = false;
    if (text[j] == u'+' || text[j] == u'-') negativeExponent = text[j++] == u'-';
    int exponent = 0;
    bool exponentDigits = false;
    for (; j < text.size() && isDigit(text[j]); ++j, exponentDigits = true) {
      if (exponent < 10000) exponent = exponent * 10 + (text[j] - u'0');
    }
    if (exponentDigits) value *= std::pow(10.0, negativeExponent ? -exponent : exponent);
  }
  return std::floor(negative ? -value : value);
}

bool within(double value, int low, int high) { return value >= low && value <= high; }

// The first count characters of text padded with spaces, 1-based from first.
U16View slice(U16View text, std::size_t first, std::size_t count) {
  if (first > text.size()) return {};
  return text.substr(first - 1, count);
}

struct DatePart {
  bool ok = false;
  int number = 0;  // YYYYMMDD
};

DatePart parseDate(U16View date, int currentYear) {
  const U16View text = trimSpaces(date).substr(0, 8);  // shorter texts read as padded with spaces
  const double y = pieceValue(slice(text, 1, 4));
  const double m = pieceValue(slice(text, 5, 2));
  const double d = pieceValue(slice(text, 7, 2));
  if (!(y > 1900 && y <= currentYear) || !within(m, 1, 12) || !within(d, 1, 31)) return {};
  return {true, static_cast<int>(y) * 10000 + static_cast<int>(m) * 100 + static_cast<int>(d)};
}

// ";HH:MM:SS;" of a time text, or fallback when the text is short or out of range.
std::string timePart(U16View time, const char* fallback) {
  const U16View text = trimSpaces(time);
  if (text.size() < 8) return fallback;
  const double h = pieceValue(text.substr(0, 2));
  const double m = pieceValue(text.substr(3, 2));
  const double s = pieceValue(text.substr(6, 2));
  if (!within(h, 0, 23) || !within(m, 0, 59) || !within(s, 0, 59)) return fallback;
  const int values[3] = {static_cast<int>(h), static_cast<int>(m), static_cast<int>(s)};
  std::string part = ";00:00:00;";
  for (int k = 0; k < 3; ++k) {
    part[1 + 3 * k] = static_cast<char>('0' + values[k] / 10);
    part[2 + 3 * k] = static_cast<char>('0' + values[k] % 10);
  }
  return part;
}

std::string makeKey(int date, const std::string& time) {
  std::string key(8, '0');
  for (int k = 7; k >= 0; --k, date /= 10) key[k] = static_cast<char>('0' + date % 10);
  return key + time;
}


}  // namespace

std::optional<std::string> periodKey(U16View date, U16View time, bool begin, int currentYear) {
  const DatePart day = parseDate(date, currentYear);
  if (!day.ok) return std::nullopt;
  return makeKey(day.number, timePart(time, begin ? ";00:00:00;" : ";23:59:59;"));
}

std::optional<PeriodKeyPair> periodKeys(U16View date1, U16View time1, U16View date2, U16View time2, int currentYear) {
  auto begin = periodKey(date1, time1, true, currentYear);
  if (!begin) return std::nullopt;
  auto end = periodKey(date2, time2, false, currentYear);
  if (!end || *begin > *end) return std::nullopt;
  return PeriodKeyPair{std::move(*begin), std::move(*end)};
}

}  // namespace velmora
