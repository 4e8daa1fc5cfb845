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
#include <optional>
#include <string>
#include <vector>

#include "journal/host.h"

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
  std::int32_t rowCount() const { return static_cast<std::int32_t>(rows_.size()); }
  // The column's number from 1, or 0 when there is no such column.
  int columnIndex(U16View name) const;
  // The cell's text (a number column gives the number as text); row and
  // column count from 1. Throws HostError outside the table.
  U16View text(std::int32_t row, int column) const;
  U16View text(std::int32_t row, U16View columnName) const;
  // The cell as a number: 0 for an empty or non-numeric cell.
  double number(std::int32_t row, int column) const;

 private:
  // All cells of a row, one text after another; ends[i] is where cell i ends.
  struct Row {
    U16String data;
    std::vector<std::uint32_t> ends;
  };

  bool isNumber(int column) const { return columns_[static_cast<std::size_t>(column - 1)].type == u"Число"; }
  int requireColumn(U16View nameOrNumber) const;
  Row& requireRow(std::int32_t row);
  const Row& requireRow(std::int32_t row) const;
  static U16View cell(const Row& r, int column);
  static void store(Row& r, int column, U16View value);
  void storeValue(Row& r, int column, U16View value);

  std::vector<Column> columns_;
  std::vector<Row> rows_;
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
