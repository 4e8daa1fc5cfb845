#include "cli/host_rows.h"

#include "text/text.h"

namespace velmora::cli {

std::string TableRows::columnName(std::size_t column) const { return toUtf8(table_.columns()[column].name); }

bool TableRows::numeric(std::size_t column) const { return table_.columns()[column].type == u"Число"; }

void TableRows::cell(std::size_t row, std::size_t column, std::string& out) const {
  out = toUtf8(table_.text(static_cast<std::int32_t>(row + 1), static_cast<int>(column + 1)));
}

void ListRows::cell(std::size_t row, std::size_t, std::string& out) const { out = toUtf8(list_.items()[row].value); }

}  // namespace velmora::cli
