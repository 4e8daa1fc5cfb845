#include "cli/data_query.h"

#include <algorithm>

#include "core/failure.h"
#include "core/result_columns.h"
#include "memhost/column_list.h"
#include "memhost/memory_host.h"
#include "memhost/table_model.h"

namespace velmora::cli {
namespace {

// The failure of a list entry that names no column, worded and numbered as
// the table's own.
StreamFailure noColumn(U16View entry) {
  try {
    throwNoColumn(entry);
  } catch (const HostError& e) {
    return StreamFailure{foldErrorNumber(e.number()), e.description()};
  }
}

// The entries resolved as the table resolves them: by name, else by number.
ResolvedList resolve(const std::vector<ColumnEntry>& entries, const std::vector<U16String>& names) {
  ResolvedList list;
  const auto index = [&](U16View name) {
    for (std::size_t c = 0; c < names.size(); ++c)
      if (names[c] == name) return static_cast<int>(c + 1);
    return 0;
  };
  for (const ColumnEntry& e : entries) {
    const int column = findColumn(e.column, static_cast<int>(names.size()), index);
    if (column == 0) {
      list.failure = noColumn(e.column);
      break;
    }
    list.columns.push_back(ColumnRef{static_cast<std::size_t>(column - 1), e.descending});
  }
  return list;
}

}  // namespace

std::vector<U16String> DataQuery::columnNames() const {
  std::vector<U16String> names;
  for (int k : fields) names.emplace_back(kResultColumns[static_cast<std::size_t>(k - 1)].name);
  return names;
}

DataQuery dataQuery(const DataRequest& r, Io& io) {
  DataQuery q;
  q.log = fromUtf8(r.log);
  const PeriodKeys period = resolvePeriod(r.period);
  q.read.begin = period.begin;
  q.read.end = period.end;
  q.read.filters = readFilters(r.filters, io);
  q.fields = columnFields(r.columns);
  q.read.columns.reset();
  for (int k : q.fields) q.read.columns.set(static_cast<std::size_t>(k));
  q.translated = translatedFields(r.translate);

  const std::vector<U16String> names = q.columnNames();
  std::vector<U16String> before = names, grouped;
  before.emplace_back(kCountColumn);
  std::vector<ColumnEntry> groupEntries, orderEntries;
  if (r.group) checkedColumnList(*r.group, "--group", before, false, &grouped, &groupEntries);
  if (r.order) {
    std::vector<U16String> available;
    for (const U16String& c : r.group ? before : names)
      if (!r.group || c == kCountColumn || std::find(grouped.begin(), grouped.end(), c) != grouped.end())
        available.push_back(c);
    checkedColumnList(*r.order, "--order", available, true, nullptr, &orderEntries);
  }
  q.grouping = r.group.has_value();
  q.ordering = r.order.has_value();
  if (q.grouping) {
    q.group = resolve(groupEntries, before);
    // The grouped rows' columns, as the table keeps them.
    std::vector<std::size_t> grouped;
    for (const ColumnRef& g : q.group.columns) grouped.push_back(g.column);
    std::vector<U16String> keptNames;
    for (const GroupLayout::Kept& k : layoutGroups(std::move(grouped), {q.countColumn()}, before.size()).kept)
      keptNames.push_back(before[k.column]);
    q.orderGrouped = resolve(orderEntries, keptNames);
  }
  q.orderPlain = resolve(orderEntries, names);
  return q;
}

}  // namespace velmora::cli
