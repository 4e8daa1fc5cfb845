#include "memhost/memory_host.h"

#include <algorithm>
#include <unordered_map>

#include "memhost/column_list.h"

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

}  // namespace

// ---- cells ----------------------------------------------------------------

MemoryValueTable::Cell MemoryValueTable::Arena::put(U16View value) {
  constexpr std::size_t kChunk = std::size_t{1} << 19;  // code units
  if (value.empty()) return Cell{};
  if (value.size() > 0xFFFFFFFFu) hostError(u"значение слишком длинное");
  if (chunks_.empty() || chunks_.back().capacity() - chunks_.back().size() < value.size()) {
    chunks_.emplace_back().reserve(std::max(kChunk, value.size()));
  }
  U16String& chunk = chunks_.back();
  const Cell c{static_cast<std::uint32_t>(chunks_.size() - 1), static_cast<std::uint32_t>(chunk.size()),
               static_cast<std::uint32_t>(value.size())};
  chunk.append(value);  // within the capacity: earlier texts stay where they are
  return c;
}

void MemoryValueTable::storeValue(std::int32_t row, int column, U16View value) {
  const Column& c = columns_[static_cast<std::size_t>(column - 1)];
  if (isNumber(column)) {
    at(row, column) = arena_.put(formatNumber(parseNumber(value)));
  } else if (c.length && *c.length > 0 && value.size() > static_cast<std::size_t>(*c.length)) {
    at(row, column) = arena_.put(value.substr(0, static_cast<std::size_t>(*c.length)));
  } else {
    at(row, column) = arena_.put(value);
  }
}

int MemoryValueTable::columnIndex(U16View name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i].name == name) return static_cast<int>(i + 1);
  }
  return 0;
}

int MemoryValueTable::requireColumn(U16View nameOrNumber) const {
  const int column = findColumn(nameOrNumber, width(), [this](U16View name) { return columnIndex(name); });
  if (column == 0) throwNoColumn(nameOrNumber);
  return column;
}

void MemoryValueTable::requireRow(std::int32_t row) const {
  if (row < 1 || row > rows_) hostError(u"нет строки с таким номером");
}

// ---- host operations --------------------------------------------------------

std::int32_t MemoryValueTable::ColumnCount() { return width(); }

std::int32_t MemoryValueTable::LinesCnt() { return rows_; }

void MemoryValueTable::DeleteLines() {
  cells_.clear();
  arena_.clear();
  rows_ = 0;
}

void MemoryValueTable::DeleteColumn(std::int32_t column) {
  if (column < 1 || column > width()) hostError(u"нет колонки с таким номером");
  CellStore kept;
  for (std::int32_t r = 1; r <= rows_; ++r) {
    for (int c = 1; c <= width(); ++c) {
      if (c != column) kept.push_back(at(r, c));
    }
  }
  cells_ = std::move(kept);
  columns_.erase(columns_.begin() + (column - 1));
}

void MemoryValueTable::NewColumn(U16View name, U16View typeName, std::optional<std::int16_t> length) {
  if (rows_ > 0) {
    CellStore wider;
    for (std::int32_t r = 1; r <= rows_; ++r) {
      for (int c = 1; c <= width(); ++c) wider.push_back(at(r, c));
      wider.push_back(Cell{});
    }
    cells_ = std::move(wider);
  }
  columns_.push_back(Column{U16String(name), U16String(typeName), length});
}

void MemoryValueTable::NewLine() {
  cells_.grow(columns_.size());
  ++rows_;
}

void MemoryValueTable::SetValue(std::int32_t row, std::int16_t column, U16View value) {
  requireRow(row);
  if (column < 1 || column > width()) hostError(u"нет колонки с таким номером");
  storeValue(row, column, value);
}

void MemoryValueTable::SetValue(std::int32_t row, U16View columnName, std::int16_t value) {
  requireRow(row);
  storeValue(row, requireColumn(columnName), formatNumber(value));
}

void MemoryValueTable::GroupBy(U16View columns, U16View summedColumn) {
  std::vector<int> grouped, summed;
  for (U16View entry : splitColumnList(columns)) grouped.push_back(requireColumn(entry));
  for (U16View entry : splitColumnList(summedColumn)) summed.push_back(requireColumn(entry));
  std::vector<int> kept;  // table order
  for (int c = 1; c <= width(); ++c) {
    if (std::find(grouped.begin(), grouped.end(), c) != grouped.end() ||
        std::find(summed.begin(), summed.end(), c) != summed.end()) {
      kept.push_back(c);
    }
  }

  std::vector<std::int32_t> firstRows;  // of each group, in order
  std::vector<std::vector<double>> sums;
  std::unordered_map<U16String, std::size_t> groups;
  U16String key;
  for (std::int32_t r = 1; r <= rows_; ++r) {
    key.clear();
    for (int c : grouped) {
      const U16View v = cell(r, c);
      // The length first, so that no two different rows give one key.
      key.push_back(static_cast<char16_t>(v.size() >> 16));
      key.push_back(static_cast<char16_t>(v.size() & 0xFFFF));
      key.append(v);
    }
    const auto [it, fresh] = groups.try_emplace(key, firstRows.size());
    if (fresh) {
      firstRows.push_back(r);
      sums.emplace_back(summed.size(), 0.0);
    }
    for (std::size_t s = 0; s < summed.size(); ++s) sums[it->second][s] += parseNumber(cell(r, summed[s]));
  }

  Arena arena;
  CellStore cells;
  for (std::size_t g = 0; g < firstRows.size(); ++g) {
    for (int c : kept) {
      const auto s = std::find(summed.begin(), summed.end(), c);
      cells.push_back(s == summed.end() ? arena.put(cell(firstRows[g], c))
                                        : arena.put(formatNumber(sums[g][static_cast<std::size_t>(s - summed.begin())])));
    }
  }
  std::vector<Column> keptColumns;
  for (int c : kept) keptColumns.push_back(columns_[static_cast<std::size_t>(c - 1)]);
  columns_ = std::move(keptColumns);
  cells_ = std::move(cells);
  arena_ = std::move(arena);
  rows_ = static_cast<std::int32_t>(firstRows.size());
}

void MemoryValueTable::Sort(U16View columns) {
  struct Key {
    int column;
    bool descending;
    bool numeric;
  };
  std::vector<Key> keys;
  for (U16View entry : splitColumnList(columns)) {
    const SortEntry e = parseSortEntry(entry);
    const int column = requireColumn(e.column);
    keys.push_back(Key{column, e.descending, isNumber(column)});
  }
  std::vector<std::int32_t> order(static_cast<std::size_t>(rows_));
  for (std::int32_t r = 0; r < rows_; ++r) order[static_cast<std::size_t>(r)] = r + 1;
  std::stable_sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
    for (const Key& k : keys) {
      int sign = 0;
      if (k.numeric) {
        const double x = parseNumber(cell(a, k.column)), y = parseNumber(cell(b, k.column));
        sign = x < y ? -1 : x > y ? 1 : 0;
      } else {
        sign = cell(a, k.column).compare(cell(b, k.column));
      }
      if (sign != 0) return k.descending ? sign > 0 : sign < 0;
    }
    return false;
  });
  CellStore sorted;
  for (std::int32_t r : order) {
    for (int c = 1; c <= width(); ++c) sorted.push_back(at(r, c));
  }
  cells_ = std::move(sorted);
}

// ---- reading back -------------------------------------------------------------

U16View MemoryValueTable::text(std::int32_t row, int column) const {
  requireRow(row);
  if (column < 1 || column > width()) hostError(u"нет колонки с таким номером");
  return cell(row, column);
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
