// A plain reading of the log, record by record, written straight from the
// record format rules and kept simple on purpose: the scan_fuzz target holds
// the reader's record loops to it. Text is compared as 16-bit units after
// upper-casing, as a script sees it; no search tricks, no byte forms.
#pragma once

#include <algorithm>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/codepage.h"
#include "text/text.h"

namespace fuzz::reference {

using Row = std::array<std::string, 11>;  // fields 1..10 as log bytes; [0] unused

struct Filters {
  std::array<velmora::U16String, 11> text;                // positions 3..10, as GetFilter gives them
  std::array<std::vector<velmora::U16String>, 11> items;  // positions 8..10
  std::array<bool, 11> invert{};
  bool coincidence = false;
};

// The items of a list filter from the text given to SetFilter: the pieces
// between "|" characters that are not empty, upper-cased; text after the last
// "|" is ignored.
inline std::vector<velmora::U16String> listItems(velmora::U16View text, const velmora::CodePage& cp) {
  std::vector<velmora::U16String> items;
  std::size_t start = 0;
  for (std::size_t bar = text.find(u'|'); bar != velmora::U16View::npos; bar = text.find(u'|', start)) {
    if (bar > start) {
      velmora::U16String piece(text.substr(start, bar - start));
      for (char16_t& u : piece) u = cp.upperUnit(u);
      items.push_back(std::move(piece));
    }
    start = bar + 1;
  }
  return items;
}

inline velmora::U16String upper(std::string_view bytes, const velmora::CodePage& cp) {
  velmora::U16String out = cp.decode(bytes);
  for (char16_t& u : out) u = cp.upperUnit(u);
  return out;
}

// The test of filter f on a field value: true when the record stays.
inline bool accepts(const Filters& filters, int f, std::string_view value, const velmora::CodePage& cp) {
  if (filters.text[f].empty()) return true;
  const velmora::U16String v = upper(value, cp);
  bool matched = false;
  if (f <= 7 || (f == 9 && filters.coincidence)) {
    matched = filters.text[f].find(u"|" + v + u"|") != velmora::U16String::npos;
  } else {
    for (const velmora::U16String& item : filters.items[f]) matched = matched || v.find(item) != velmora::U16String::npos;
  }
  return matched != filters.invert[f];
}

// Cuts a record (a line without CR LF) into its fields and applies the
// filters; a field the record lacks is empty, and its filter still decides.
inline bool passes(std::string_view line, const Filters& filters, const velmora::CodePage& cp, Row& row) {
  if (line.size() < 19) return false;
  row = Row{};
  const std::string rest = std::string(line.substr(18)) + ";";
  std::size_t start = 0;
  int f = 3;
  for (; f <= 10; ++f) {
    if (start >= rest.size()) break;  // no ";" left
    const bool errorComment = f == 8 && row[7] == "5" && rest.size() >= 3 && rest.compare(rest.size() - 3, 3, ";;;") == 0;
    if (errorComment) {
      // The comment runs to the first of the three closing ";", across any
      // other; fields 9 and 10 are empty.
      const std::size_t end = rest.size() - 3;
      row[8] = start < end ? rest.substr(start, end - start) : std::string();
      if (!accepts(filters, 8, row[8], cp) || !accepts(filters, 9, "", cp) || !accepts(filters, 10, "", cp)) return false;
      f = 11;
      break;
    }
    const std::size_t end = rest.find(';', start);
    row[f] = rest.substr(start, end - start);
    start = end + 1;
    if (!accepts(filters, f, row[f], cp)) return false;
  }
  for (; f <= 10; ++f) {
    if (!accepts(filters, f, "", cp)) return false;  // a field the record lacks
  }
  row[1] = std::string(line.substr(0, 8));
  row[2] = std::string(line.substr(9, 8));
  return true;
}

struct Result {
  std::vector<Row> rows;
  std::int64_t position = -1;
};

// GetData from position start (1 or more) with windows of W bytes: each
// window read at the position where the previous one's last complete line
// ended, its bytes past the end of the file blanks; a line of the period
// goes to the filters, the first record dated after the period ends the
// scan; a line that is no record does neither.
// stopAfter (0: never) ends it after that many rows, as a sink may.
inline Result scan(const std::string& log, std::int64_t start, std::size_t W, const std::string& begin,
                   const std::string& end, const Filters& filters, const velmora::CodePage& cp, std::size_t stopAfter) {
  Result out;
  const auto size = static_cast<std::int64_t>(log.size());
  if (start >= size || start < 1) {
    out.position = start;
    return out;
  }
  auto inPeriod = [&](std::string_view key) { return std::string_view(begin) <= key && key <= std::string_view(end); };
  auto pastEnd = [&](std::string_view key) { return key.substr(0, 8) > std::string_view(end).substr(0, 8); };
  std::int64_t pos = start;
  bool go = true;
  std::string window;
  // A record: longer than its key, its first eight bytes a date; no other
  // line is in the period or past its end.
  auto isRecord = [](std::string_view line) {
    return line.size() > 18 && std::all_of(line.begin(), line.begin() + 8, [](char c) { return c >= '0' && c <= '9'; });
  };
  auto take = [&](std::string_view key, std::string_view line) {
    Row row;
    if (!isRecord(line)) return;
    if (inPeriod(key)) {
      if (passes(line, filters, cp, row)) {
        out.rows.push_back(row);
        if (stopAfter != 0 && out.rows.size() >= stopAfter) go = false;
      }
    } else if (pastEnd(key)) {
      go = false;
    }
  };
  for (;;) {
    const auto from = static_cast<std::size_t>(pos - 1);
    const std::size_t got = from < log.size() ? std::min(W, log.size() - from) : 0;
    window.assign(log, from, got);
    window.append(W - got + 32, ' ');
    std::size_t c = 0;
    for (std::size_t d; go && (d = window.find("\r\n", c)) != std::string::npos && d + 1 < W; c = d + 2) {
      take(std::string_view(window).substr(c, 18), std::string_view(window).substr(c, d - c));
    }
    if (c != 0) {
      pos += static_cast<std::int64_t>(c);
      if (size - 18 < pos || !go) break;
      continue;
    }
    // No complete line in the window: the log's unterminated end, or a
    // record longer than the window, read whole up to its CR LF.
    if (got < W || size - pos < static_cast<std::int64_t>(W)) break;
    const std::size_t cr = log.find("\r\n", from);
    if (cr == std::string::npos) break;
    take(std::string_view(window).substr(0, 18), std::string_view(log).substr(from, cr - from));
    pos = static_cast<std::int64_t>(cr) + 3;
    if (size - 18 < pos || !go) break;
  }
  out.position = pos;
  return out;
}

}  // namespace fuzz::reference
