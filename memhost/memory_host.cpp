#include "memhost/memory_host.h"

#include <algorithm>

#include "memhost/column_list.h"
#include "memhost/table_model.h"

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
  std::vector<std::size_t> grouped, summed;
  U16View missing;
  const auto index = [this](U16View name) { return columnIndex(name); };
  if (!resolveColumnList(columns, width(), index, grouped, missing) ||
      !resolveColumnList(summedColumn, width(), index, summed, missing)) {
    throwNoColumn(missing);
  }
  Grouping<U16View> groups(layoutGroups(std::move(grouped), std::move(summed), columns_.size()));
  for (std::int32_t r = 1; r <= rows_; ++r) {
    groups.add([&](std::size_t c) { return cell(r, static_cast<int>(c + 1)); });
  }

  Arena arena;
  CellStore cells;
  std::vector<U16View> values;
  for (std::size_t g = 0; g < groups.groups(); ++g) {
    groups.values(g, values);
    for (const GroupLayout::Kept& k : groups.layout().kept) {
      cells.push_back(k.sum ? arena.put(formatNumber(groups.sum(g, k.index))) : arena.put(values[k.index]));
    }
  }
  std::vector<Column> keptColumns;
  for (const GroupLayout::Kept& k : groups.layout().kept) keptColumns.push_back(columns_[k.column]);
  columns_ = std::move(keptColumns);
  cells_ = std::move(cells);
  arena_ = std::move(arena);
  rows_ = static_cast<std::int32_t>(groups.groups());
}

void MemoryValueTable::Sort(U16View columns) {
  std::vector<SortKey> keys;
  U16View missing;
  if (!resolveSortList(
          columns, width(), [this](U16View name) { return columnIndex(name); },
          [this](std::size_t c) { return isNumber(static_cast<int>(c + 1)); }, keys, missing)) {
    throwNoColumn(missing);
  }
  std::vector<std::int32_t> order(static_cast<std::size_t>(rows_));
  for (std::int32_t r = 0; r < rows_; ++r) order[static_cast<std::size_t>(r)] = r + 1;
  sortRows(order, keys, [this](std::int32_t r, std::size_t c) { return cell(r, static_cast<int>(c + 1)); });
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
