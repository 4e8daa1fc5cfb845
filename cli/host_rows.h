// The filled in-memory value table and value list, as rows to print.
#pragma once

#include <string>

#include "cli/format.h"
#include "memhost/memory_host.h"

namespace velmora::cli {

class TableRows : public RowSource {
 public:
  explicit TableRows(const MemoryValueTable& table) : table_(table) {}
  std::size_t columns() const override { return table_.columns().size(); }
  std::string columnName(std::size_t column) const override;
  bool numeric(std::size_t column) const override;
  std::size_t rows() const override { return static_cast<std::size_t>(table_.rowCount()); }
  void cell(std::size_t row, std::size_t column, std::string& out) const override;

 private:
  const MemoryValueTable& table_;
};

// The list's values under one column name.
class ListRows : public RowSource {
 public:
  ListRows(const MemoryValueList& list, std::string name) : list_(list), name_(std::move(name)) {}
  std::size_t columns() const override { return 1; }
  std::string columnName(std::size_t) const override { return name_; }
  bool numeric(std::size_t) const override { return false; }
  std::size_t rows() const override { return list_.items().size(); }
  void cell(std::size_t row, std::size_t column, std::string& out) const override;

 private:
  const MemoryValueList& list_;
  std::string name_;
};

}  // namespace velmora::cli
