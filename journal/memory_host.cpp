#include "journal/memory_host.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace velmora {
namespace {

[[noreturn]] void hostError(U16View what, U16View detail = {}) {
  U16String text = u"Таблица значений: ";
  text.append(what);
  if (!detail.empty()) {
    text.append(u" \"");
    text.append(detail);
    text.append(u"\"");
  }
  throw HostError(kMemoryHostError, std::move(text));
}

U16View trimBlanks(U16View s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

std::vector<U16View> splitList(U16View list) {
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

double parseNumber(U16View text) {
  text = trimBlanks(text);
  std::string narrow;
  for (char16_t c : text) {
    if (c > 0x7F) return 0;
    narrow.push_back(c == u',' ? '.' : static_cast<char>(c));
  }
  double value = 0;
  const char* first = narrow.data();
  if (!narrow.empty() && narrow[0] == '+') ++first;
  const auto [end, ec] = std::from_chars(first, narrow.data() + narrow.size(), value);
  if (ec != std::errc() || end != narrow.data() + narrow.size()) return 0;
  return value;
}

U16String formatNumber(double value) {
  char buf[64];
  if (std::isfinite(value) && std::fabs(value) < 1e15 && value == std::floor(value)) {
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
  } else {
    std::snprintf(buf, sizeof buf, "%.15g", value);
  }
  return U16String(buf, buf + std::char_traits<char>::length(buf));
}

}  // namespace

// ---- cells ----------------------------------------------------------------

U16View MemoryValueTable::cell(const Row& r, int column) {
  const std::size_t i = static_cast<std::size_t>(column - 1);
  const std::uint32_t begin = i == 0 ? 0 : r.ends[i - 1];
  return U16View(r.data).substr(begin, r.ends[i] - begin);
}

void MemoryValueTable::store(Row& r, int column, U16View value) {
  const std::size_t i = static_cast<std::size_t>(column - 1);
  const std::uint32_t begin = i == 0 ? 0 : r.ends[i - 1];
  const std::uint32_t oldLength = r.ends[i] - begin;
  if (r.data.capacity() == 0) r.data.reserve(128);
  r.data.replace(begin, oldLength, value);
  const auto delta = static_cast<std::int64_t>(value.size()) - oldLength;
  for (std::size_t k = i; k < r.ends.size(); ++k) r.ends[k] = static_cast<std::uint32_t>(r.ends[k] + delta);
}

void MemoryValueTable::storeValue(Row& r, int column, U16View value) {
  const Column& c = columns_[static_cast<std::size_t>(column - 1)];
  if (isNumber(column)) {
    store(r, column, formatNumber(parseNumber(value)));
  } else if (c.length && *c.length > 0 && value.size() > static_cast<std::size_t>(*c.length)) {
    store(r, column, value.substr(0, static_cast<std::size_t>(*c.length)));
  } else {
    store(r, column, value);
  }
}

int MemoryValueTable::columnIndex(U16View name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].name == name) return static_cast<int>(i + 1);
  }
  return 0;
}

int MemoryValueTable::requireColumn(U16View nameOrNumber) const {
  if (const int byName = columnIndex(nameOrNumber)) return byName;
  if (!nameOrNumber.empty() && nameOrNumber.size() < 6 &&
      std::all_of(nameOrNumber.begin(), nameOrNumber.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
    int number = 0;
    for (char16_t c : nameOrNumber) number = number * 10 + (c - u'0');
    if (number >= 1 && number <= static_cast<int>(columns_.size())) return number;
  }
  hostError(u"нет колонки", nameOrNumber);
}

MemoryValueTable::Row& MemoryValueTable::requireRow(std::int32_t row) {
  if (row < 1 || row > rowCount()) hostError(u"нет строки с таким номером");
  return rows_[static_cast<std::size_t>(row - 1)];
}

const MemoryValueTable::Row& MemoryValueTable::requireRow(std::int32_t row) const {
  if (row < 1 || row > rowCount()) hostError(u"нет строки с таким номером");
  return rows_[static_cast<std::size_t>(row - 1)];
}

// ---- host operations --------------------------------------------------------

std::int32_t MemoryValueTable::ColumnCount() { return static_cast<std::int32_t>(columns_.size()); }

std::int32_t MemoryValueTable::LinesCnt() { return rowCount(); }

void MemoryValueTable::DeleteLines() { rows_.clear(); }

void MemoryValueTable::DeleteColumn(std::int32_t column) {
  if (column < 1 || column > ColumnCount()) hostError(u"нет колонки с таким номером");
  for (Row& r : rows_) {
    store(r, column, {});
    r.ends.erase(r.ends.begin() + (column - 1));
  }
  columns_.erase(columns_.begin() + (column - 1));
}

void MemoryValueTable::NewColumn(U16View name, U16View typeName, std::optional<std::int16_t> length) {
  columns_.push_back(Column{U16String(name), U16String(typeName), length});
  for (Row& r : rows_) r.ends.push_back(static_cast<std::uint32_t>(r.data.size()));
}

void MemoryValueTable::NewLine() {
  Row r;
  r.ends.assign(columns_.size(), 0);
  rows_.push_back(std::move(r));
}

void MemoryValueTable::SetValue(std::int32_t row, std::int16_t column, U16View value) {
  Row& r = requireRow(row);
  if (column < 1 || column > ColumnCount()) hostError(u"нет колонки с таким номером");
  storeValue(r, column, value);
}

void MemoryValueTable::SetValue(std::int32_t row, U16View columnName, std::int16_t value) {
  Row& r = requireRow(row);
  const int column = requireColumn(columnName);
  if (isNumber(column)) {
    store(r, column, formatNumber(value));
  } else {
    storeValue(r, column, formatNumber(value));
  }
}

void MemoryValueTable::GroupBy(U16View columns, U16View summedColumn) {
  std::vector<int> grouped, summed;
  for (U16View entry : splitList(columns)) grouped.push_back(requireColumn(entry));
  for (U16View entry : splitList(summedColumn)) summed.push_back(requireColumn(entry));
  std::vector<int> kept;  // table order
  for (int c = 1; c <= ColumnCount(); ++c) {
    if (std::find(grouped.begin(), grouped.end(), c) != grouped.end() ||
        std::find(summed.begin(), summed.end(), c) != summed.end()) {
      kept.push_back(c);
    }
  }

  std::vector<Row> out;
  std::vector<std::vector<double>> sums;
  std::unordered_map<U16String, std::size_t> groups;
  U16String key;
  for (const Row& r : rows_) {
    key.clear();
    for (int c : grouped) {
      const U16View v = cell(r, c);
      key.append(formatNumber(static_cast<double>(v.size())));
      key.push_back(u':');
      key.append(v);
    }
    const auto [it, fresh] = groups.try_emplace(key, out.size());
    if (fresh) {
      Row g;
      g.ends.assign(kept.size(), 0);
      for (std::size_t i = 0; i < kept.size(); ++i) store(g, static_cast<int>(i + 1), cell(r, kept[i]));
      out.push_back(std::move(g));
      sums.emplace_back(summed.size(), 0.0);
    }
    for (std::size_t s = 0; s < summed.size(); ++s) sums[it->second][s] += parseNumber(cell(r, summed[s]));
  }
  for (std::size_t g = 0; g < out.size(); ++g) {
    for (std::size_t s = 0; s < summed.size(); ++s) {
      const auto at = std::find(kept.begin(), kept.end(), summed[s]) - kept.begin();
      store(out[g], static_cast<int>(at + 1), formatNumber(sums[g][s]));
    }
  }

  std::vector<Column> keptColumns;
  for (int c : kept) keptColumns.push_back(columns_[static_cast<std::size_t>(c - 1)]);
  columns_ = std::move(keptColumns);
  rows_ = std::move(out);
}

void MemoryValueTable::Sort(U16View columns) {
  struct Key {
    int column;
    bool descending;
    bool numeric;
  };
  std::vector<Key> keys;
  for (U16View entry : splitList(columns)) {
    bool descending = false;
    if (entry.back() == u'-' || entry.back() == u'+') {
      descending = entry.back() == u'-';
      entry.remove_suffix(1);
    } else if (endsWithWord(entry, u"desc")) {
      descending = true;
      entry.remove_suffix(4);
    } else if (endsWithWord(entry, u"asc")) {
      entry.remove_suffix(3);
    }
    const int column = requireColumn(trimBlanks(entry));
    keys.push_back(Key{column, descending, isNumber(column)});
  }
  std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) {
    for (const Key& k : keys) {
      int order = 0;
      if (k.numeric) {
        const double x = parseNumber(cell(a, k.column)), y = parseNumber(cell(b, k.column));
        order = x < y ? -1 : x > y ? 1 : 0;
      } else {
        order = cell(a, k.column).compare(cell(b, k.column));
      }
      if (order != 0) return k.descending ? order > 0 : order < 0;
    }
    return false;
  });
}

// ---- reading back -------------------------------------------------------------

U16View MemoryValueTable::text(std::int32_t row, int column) const {
  const Row& r = requireRow(row);
  if (column < 1 || column > static_cast<int>(columns_.size())) hostError(u"нет колонки с таким номером");
  return cell(r, column);
}

U16View MemoryValueTable::text(std::int32_t row, U16View columnName) const {
  return text(row, requireColumn(columnName));
}

double MemoryValueTable::number(std::int32_t row, int column) const { return parseNumber(text(row, column)); }

// ---- value list -------------------------------------------------------------

void MemoryValueList::AddValue(U16View value, U16View presentation) {
  items_.push_back(Item{U16String(value), U16String(presentation)});
}

void MemoryValueList::Sort() {
  std::stable_sort(items_.begin(), items_.end(), [](const Item& a, const Item& b) { return a.value < b.value; });
}

std::vector<U16String> MemoryValueList::values() const {
  std::vector<U16String> out;
  out.reserve(items_.size());
  for (const Item& item : items_) out.push_back(item.value);
  return out;
}

}  // namespace velmora
