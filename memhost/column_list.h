// Column lists as the in-memory value table's GroupBy and Sort take them, and
// the numbers of its "Число" columns: shared with the tool's streaming output,
// which must group and sort exactly as the table does.
//
// A list holds entries separated by commas, each a column name or a column
// number counted from 1, blanks (space, tab) around an entry ignored. In a
// sort list an entry may end with " desc" or "-" for descending order
// (" asc" or "+" for ascending, the default).
#pragma once

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace velmora {

// The entries of a list, blanks around them removed; empty entries dropped.
std::vector<U16View> splitColumnList(U16View list);

struct SortEntry {
  U16View column;  // name or number, blanks removed
  bool descending = false;
};
SortEntry parseSortEntry(U16View entry);

// The column an entry names: by name first (nameIndex gives the number from
// 1, or 0), else by its number when it is one within 1..width; 0 when none.
template <class NameIndex>
int findColumn(U16View entry, int width, NameIndex&& nameIndex) {
  if (const int byName = nameIndex(entry)) return byName;
  if (!entry.empty() && entry.size() < 6 &&
      std::all_of(entry.begin(), entry.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
    int number = 0;
    for (char16_t c : entry) number = number * 10 + (c - u'0');
    if (number >= 1 && number <= width) return number;
  }
  return 0;
}

// The failure of a call that names a column the table does not have: a
// HostError, as the host's table raises it.
[[noreturn]] void throwNoColumn(U16View entry);

// A cell of a "Число" column as a number: 0 for an empty or non-numeric cell.
// UTF-8 text reads as its UTF-16 would.
double parseNumber(U16View text);
double parseNumber(std::string_view utf8);
// A number as the table stores it: integers without a fraction.
U16String formatNumber(double value);

}  // namespace velmora
