#include "memhost/column_list.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <type_traits>

#include "memhost/memory_host.h"

namespace velmora {
namespace {

U16View trimBlanks(U16View s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

bool endsWithWord(U16View entry, U16View word) {
  if (entry.size() <= word.size()) return false;
  const U16View tail = entry.substr(entry.size() - word.size());
  for (std::size_t i = 0; i < word.size(); ++i) {
    char16_t c = tail[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != word[i]) return false;
  }
  const char16_t before = entry[entry.size() - word.size() - 1];
  return before == u' ' || before == u'\t';
}

}  // namespace

std::vector<U16View> splitColumnList(U16View list) {
  std::vector<U16View> out;
  while (true) {
    const auto comma = list.find(u',');
    const U16View entry = trimBlanks(list.substr(0, comma));
    if (!entry.empty()) out.push_back(entry);
    if (comma == U16View::npos) break;
    list.remove_prefix(comma + 1);
  }
  return out;
}

SortEntry parseSortEntry(U16View entry) {
  SortEntry e;
  if (!entry.empty() && (entry.back() == u'-' || entry.back() == u'+')) {
    e.descending = entry.back() == u'-';
    entry.remove_suffix(1);
  } else if (endsWithWord(entry, u"desc")) {
    e.descending = true;
    entry.remove_suffix(4);
  } else if (endsWithWord(entry, u"asc")) {
    entry.remove_suffix(3);
  }
  e.column = trimBlanks(entry);
  return e;
}

void throwNoColumn(U16View entry) {
  U16String text = u"Таблица значений: нет колонки";
  if (!entry.empty()) {
    text.append(u" \"");
    text.append(entry);
    text.append(u"\"");
  }
  throw HostError(kMemoryHostError, std::move(text));
}

namespace {

template <class Char>
double parseNumberOf(std::basic_string_view<Char> text) {
  // Counts are short runs of digits: read those directly.
  if (!text.empty() && text.size() < 10 &&
      std::all_of(text.begin(), text.end(), [](Char c) { return c >= '0' && c <= '9'; })) {
    long value = 0;
    for (Char c : text) value = value * 10 + (c - '0');
    return static_cast<double>(value);
  }
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  std::string narrow;
  for (Char c : text) {
    if (static_cast<std::make_unsigned_t<Char>>(c) > 0x7F) return 0;
    narrow.push_back(c == ',' ? '.' : static_cast<char>(c));
  }
  double value = 0;
  const char* first = narrow.data();
  if (!narrow.empty() && narrow[0] == '+') ++first;
  const auto [end, ec] = std::from_chars(first, narrow.data() + narrow.size(), value);
  if (ec != std::errc() || end != narrow.data() + narrow.size()) return 0;
  return value;
}

}  // namespace

double parseNumber(U16View text) { return parseNumberOf(text); }
double parseNumber(std::string_view utf8) { return parseNumberOf(utf8); }

U16String formatNumber(double value) {
  char buf[64];
  if (std::isfinite(value) && std::fabs(value) < 1e15 && value == std::floor(value)) {
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
  } else {
    std::snprintf(buf, sizeof buf, "%.15g", value);
  }
  return U16String(buf, buf + std::char_traits<char>::length(buf));
}

}  // namespace velmora
