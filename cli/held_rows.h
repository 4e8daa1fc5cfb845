// Rows kept until the end of a read: for --order compactly, each cell its
// UTF-8 bytes behind a short length, in about the bytes they will print; for
// --group one row per group, counted as the records arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/format.h"
#include "memhost/table_model.h"

namespace velmora::cli {

class RowStore {
 public:
  explicit RowStore(std::size_t columns) : columns_(columns) {}
  std::size_t columns() const { return columns_; }
  std::size_t size() const { return rows_.size(); }
  // cells[0..columns): UTF-8 texts, copied.
  void add(const std::string_view* cells);
  std::string_view cell(std::size_t row, std::size_t column) const;
  void clear();
  // A stable sort as the value table's Sort (memhost/table_model.h).
  void sort(const std::vector<SortKey>& keys);

 private:
  std::size_t columns_;
  std::vector<std::unique_ptr<char[]>> chunks_;  // never moved once written
  std::size_t chunkSize_ = 0, chunkUsed_ = 0;
  std::vector<const char*> rows_;
};

// The rows of a RowStore under column names, for the printers.
class StoredRows : public RowSource {
 public:
  StoredRows(const RowStore& store, const std::vector<std::string>& names, const std::vector<bool>& numeric)
      : store_(store), names_(names), numeric_(numeric) {}
  std::size_t columns() const override { return names_.size(); }
  std::string columnName(std::size_t column) const override { return names_[column]; }
  bool numeric(std::size_t column) const override { return numeric_[column]; }
  std::size_t rows() const override { return store_.size(); }
  void cell(std::size_t row, std::size_t column, std::string& out) const override {
    out.assign(store_.cell(row, column));
  }

 private:
  const RowStore& store_;
  const std::vector<std::string>& names_;
  const std::vector<bool>& numeric_;
};

// Grouping as the value table's GroupBy with the count column summed
// (memhost/table_model.h): one row per group, counted as the rows arrive.
class Grouper {
 public:
  // Columns are numbered from 0 among a row's columns before grouping
  // (width of them), the count column among them (each row holds 1 there).
  // grouped: the grouping columns in the list's order.
  Grouper(std::vector<std::size_t> grouped, std::size_t countColumn, std::size_t width);
  // The columns a grouped row keeps.
  const GroupLayout& layout() const { return groups_.layout(); }
  // cells: the row's UTF-8 texts; only the grouping columns are read.
  void add(const std::string_view* cells) {
    groups_.add([&](std::size_t c) { return c == countColumn_ ? std::string_view("1") : cells[c]; });
  }
  std::size_t groups() const { return groups_.groups(); }
  RowStore rows() const;
  void clear() { groups_.clear(); }

 private:
  std::size_t countColumn_;
  Grouping<std::string_view> groups_;
};

}  // namespace velmora::cli
