// In-memory value table and value list: the host objects of the tests and
// the command-line tool.
//
// Column lists, as GroupBy and Sort take them: entries separated by commas,
// each a column name or a column number counted from 1, blanks around an
// entry ignored. In Sort an entry may end with " desc" or "-" for descending
// order (" asc" or "+" for ascending, the default), for example
// "Пользователь, Дата desc". An unknown column fails the call with a
// HostError, as the host does.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "script/host.h"

namespace velmora {

// The number that the in-memory host objects report in a HostError: the
// automation "exception occurred" status, as a host's dispatch would give.
inline constexpr std::int32_t kMemoryHostError = static_cast<std::int32_t>(0x80020009u);

class MemoryValueTable : public ValueTable {
 public:
  struct Column {
    U16String name;
    U16String type;                     // "Строка", "Число" or any other type name
    std::optional<std::int16_t> length; // a "Строка" value is cut to it
  };

  // ---- the host operations ------------------------------------------------
  std::int32_t ColumnCount() override;
  std::int32_t LinesCnt() override;
  void DeleteLines() override;
  void DeleteColumn(std::int32_t column) override;
  void NewColumn(U16View name, U16View typeName, std::optional<std::int16_t> length) override;
  void NewLine() override;
  void SetValue(std::int32_t row, std::int16_t column, U16View value) override;
  void SetValue(std::int32_t row, U16View columnName, std::int16_t value) override;
  // Collapses rows with equal values in the grouping columns and sums the
  // summed columns; the other columns are dropped. Groups keep the order of
  // their first rows.
  void GroupBy(U16View columns, U16View summedColumn) override;
  // A stable sort: numbers compare as numbers, texts code unit by code unit.
  void Sort(U16View columns) override;

  // ---- reading back -------------------------------------------------------
  const std::vector<Column>& columns() const { return columns_; }
  std::int32_t rowCount() const { return rows_; }
  // The column's number from 1, or 0 when there is no such column.
  int columnIndex(U16View name) const;
  // The cell's text (a number column gives the number as text); row and
  // column count from 1. Throws HostError outside the table.
  U16View text(std::int32_t row, int column) const;
  U16View text(std::int32_t row, U16View columnName) const;
  // The cell as a number: 0 for an empty or non-numeric cell.
  double number(std::int32_t row, int column) const;

 private:
  // A cell's text lies in one of the chunks; an empty cell has length 0.
  // Chunks are never reallocated once written, so rows cost no allocation
  // of their own and a million rows stay compact.
  struct Cell {
    std::uint32_t chunk = 0;
    std::uint32_t pos = 0;
    std::uint32_t length = 0;
  };
  class Arena {
   public:
    Cell put(U16View value);
    U16View view(const Cell& c) const {
      return c.length == 0 ? U16View() : U16View(chunks_[c.chunk]).substr(c.pos, c.length);
    }
    void clear() { chunks_.clear(); }

   private:
    std::vector<U16String> chunks_;
  };

  // Cells in fixed blocks: a growing table never moves the cells it has.
  class CellStore {
   public:
    Cell& operator[](std::size_t i) { return blocks_[i / kBlock][i % kBlock]; }
    const Cell& operator[](std::size_t i) const { return blocks_[i / kBlock][i % kBlock]; }
    std::size_t size() const { return size_; }
    void grow(std::size_t n) {  // appends n empty cells
      size_ += n;
      while (blocks_.size() * kBlock < size_) blocks_.push_back(std::make_unique<Cell[]>(kBlock));
    }
    void push_back(const Cell& c) {
      grow(1);
      (*this)[size_ - 1] = c;
    }
    void clear() {
      blocks_.clear();
      size_ = 0;
    }

   private:
    static constexpr std::size_t kBlock = std::size_t{1} << 16;
    std::vector<std::unique_ptr<Cell[]>> blocks_;
    std::size_t size_ = 0;
  };

  int width() const { return static_cast<int>(columns_.size()); }
  bool isNumber(int column) const { return columns_[static_cast<std::size_t>(column - 1)].type == u"Число"; }
  int requireColumn(U16View nameOrNumber) const;
  void requireRow(std::int32_t row) const;
  Cell& at(std::int32_t row, int column) {
    return cells_[static_cast<std::size_t>(row - 1) * columns_.size() + static_cast<std::size_t>(column - 1)];
  }
  const Cell& at(std::int32_t row, int column) const {
    return cells_[static_cast<std::size_t>(row - 1) * columns_.size() + static_cast<std::size_t>(column - 1)];
  }
  U16View cell(std::int32_t row, int column) const { return arena_.view(at(row, column)); }
  void storeValue(std::int32_t row, int column, U16View value);

  std::vector<Column> columns_;
  CellStore cells_;  // row after row, one cell per column
  std::int32_t rows_ = 0;
  Arena arena_;
};

class MemoryValueList : public ValueList {
 public:
  struct Item {
    U16String value;
    U16String presentation;
  };

  void RemoveAll() override { items_.clear(); }
  void AddValue(U16View value, U16View presentation) override;
  std::int32_t GetListSize() override { return static_cast<std::int32_t>(items_.size()); }
  // A stable sort by value, code unit by code unit.
  void Sort() override;

  const std::vector<Item>& items() const { return items_; }
  std::vector<U16String> values() const;

 private:
  std::vector<Item> items_;
};

}  // namespace velmora
