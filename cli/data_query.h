// The data command's request as one typed query, built and checked once
// before the log is read: the period as keys and the filter plan (the typed
// reader's ReadQuery), the columns as record fields, the translated fields,
// and the --group and --order lists resolved to column numbers of the rows
// they apply to. Nothing in it is a mask or a "|"-joined text.
//
// The rows a query gives: one column per field of fields, in field order.
// Grouped, the table before grouping has one more column, the count
// (number fields.size()); grouping keeps the grouped columns and the count,
// in that table's order. Without a start the rows are never grouped, and
// the order applies to the plain rows: so it is resolved against both.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "cli/commands.h"
#include "core/reader.h"
#include "text/text.h"

namespace velmora::cli {

// A failure found in the column lists, as the host's table reports it.
struct StreamFailure {
  std::int16_t number;
  U16String text;
};

struct ColumnRef {
  std::size_t column;  // from 0, in the rows the list applies to
  bool descending = false;
};

// A list resolved against some columns, or the failure the table reports
// for its first entry that names none of them.
struct ResolvedList {
  std::vector<ColumnRef> columns;
  std::optional<StreamFailure> failure;
};

struct DataQuery {
  U16String log;
  ReadQuery read;
  std::vector<int> fields;                       // record fields 1..10 of the columns
  std::array<bool, kLastField + 1> translated{};  // of fields 1, 4, 5, 6
  bool grouping = false, ordering = false;
  ResolvedList group;         // against the columns and the count
  ResolvedList orderGrouped;  // against the grouped rows
  ResolvedList orderPlain;    // against the plain rows

  std::vector<U16String> columnNames() const;  // as the value table names them
  std::size_t countColumn() const { return fields.size(); }
};

// The query of a request; UsageError (with the tool's messages) for a bad
// option, in the order the options are checked: the period, the filters,
// the columns, the translation, the group list, the order list. Notes on
// filters that may match nothing go to io.err.
DataQuery dataQuery(const DataRequest& request, Io& io);

}  // namespace velmora::cli
