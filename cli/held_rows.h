// Rows kept until the end of a read: for --order compactly, each cell its
// UTF-8 bytes behind a short length, in about the bytes they will print; for
// --group one row per group, counted as the records arrive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cli/format.h"

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
  // Bytes held for the cells (for the benchmarks' figures).
  std::size_t bytes() const { return bytes_; }

  // A stable sort as the value table's Sort: keys in turn, a number column
  // by value, any other code unit by code unit.
  struct Key {
    std::size_t column;
    bool descending = false;
    bool numeric = false;
  };
  void sort(const std::vector<Key>& keys);

 private:
  std::size_t columns_;
  std::vector<std::unique_ptr<char[]>> chunks_;  // never moved once written
  std::size_t chunkSize_ = 0, chunkUsed_ = 0;
  std::vector<const char*> rows_;
  std::size_t bytes_ = 0;
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

// Grouping as the value table's GroupBy with the count column summed: one
// row per distinct combination of the grouping columns' values, in the order
// of the groups' first rows, holding the grouping columns and the count.
class Grouper {
 public:
  // Columns are numbered from 0 among a row's columns before grouping, the
  // count column among them (each row holds 1 there). grouped: the grouping
  // columns in the list's order (a repeat changes nothing); kept: the
  // columns of a grouped row, in table order.
  Grouper(std::vector<std::size_t> grouped, std::size_t countColumn, std::vector<std::size_t> kept);
  // cells: the row's UTF-8 texts; only the grouping columns are read.
  void add(const std::string_view* cells);
  std::size_t groups() const { return counts_.size(); }
  RowStore rows() const;
  void clear();

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::vector<std::size_t> grouped_;
  std::size_t countColumn_;
  std::vector<std::size_t> kept_;
  std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
  std::vector<const std::string*> keys_;  // of each group, in order
  std::vector<std::int64_t> counts_;
  std::string key_;
};

}  // namespace velmora::cli
