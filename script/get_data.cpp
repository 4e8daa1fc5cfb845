// GetData on the typed reader: the records of the period that pass the
// filters, appended to the host value table, optionally translated, grouped
// with a count and sorted.
#include <algorithm>
#include <array>
#include <optional>

#include "text/codepage.h"
#include "core/failure.h"
#include "core/unique_resource.h"
#include "core/fileio.h"
#include "core/result_columns.h"
#include "script/journal.h"
#include "script/num_err.h"

namespace velmora {
namespace {

// Drops every row and column and creates the result columns that
// InsertColumn selects ("" selects all).
void rebuildTable(ValueTable& table, std::int32_t columnCount, U16View insertColumn) {
  table.DeleteLines();
  for (std::int32_t c = columnCount; c >= 1; --c) table.DeleteColumn(c);
  for (const ResultColumn& column : kResultColumns) {
    table.NewColumn(column.name, kStringType,
                    column.length != 0 ? std::optional<std::int16_t>(column.length) : std::nullopt);
  }
  if (insertColumn.empty()) return;
  // From the right, so that the numbers of the columns still to test hold.
  for (int k = 10; k >= 1; --k) {
    if (insertColumn[static_cast<std::size_t>(k - 1)] == u'0') table.DeleteColumn(k);
  }
}

// One row for each record that passed the filters. The start is checked
// when the scan finds it (and the count column made then), as a position
// past 2 GiB could not be handed back to the script.
template <bool Selected, bool Transformed, bool Counted>
class TableSink final : public RecordSink {
 public:
  TableSink(ValueTable& table, std::int32_t& rows, U16View insertColumn, Transform* translator, const CodePage& cp,
            U16View path)
      : table_(table), rows_(rows), translator_(translator), cp_(cp), path_(path) {
    if constexpr (Selected) {
      for (int k = 1; k <= 10; ++k) mask_[k] = insertColumn[static_cast<std::size_t>(k - 1)] != u'0';
    }
    cell_.reserve(256);
  }
  void begin(std::int64_t start) override {
    scriptResult(start, path_);
    if constexpr (Counted) table_.NewColumn(kCountColumn, kNumberType, kCountLength);
  }
  bool record(const Record& record) override {
    const RecordFields& fields = record.fields;
    ++rows_;
    table_.NewLine();
    std::int16_t g = 0;
    for (std::int16_t k = 1; k <= 10; ++k) {
      if constexpr (Selected) {
        if (!mask_[k]) continue;
      }
      ++g;
      cp_.decode(fields[k], cell_);
      if constexpr (Transformed) translator_->TransformCol(cell_, k);
      table_.SetValue(rows_, g, cell_);
    }
    if constexpr (Counted) table_.SetValue(rows_, kCountColumn, std::int16_t{1});
    return true;
  }

 private:
  ValueTable& table_;
  std::int32_t& rows_;
  Transform* translator_;
  const CodePage& cp_;
  U16View path_;
  std::array<bool, 11> mask_{};
  U16String cell_;  // reused for every field written
};

// GetData's record loop reads in windows of the probes' size when it resumes
// at a position, and of twice that after a start search, as it always has:
// the number of reads a call makes stays what it was.
std::size_t scanWindowFrom(std::int64_t from) { return from >= 1 ? Reader::kSearchWindow : Reader::kScanWindow; }

}  // namespace

std::int32_t Journal::GetStartPos(std::int32_t CurrentPos, ValueTable& ListStr) {
  clearError();
  try {
    const std::int32_t columnCount = ListStr.ColumnCount();
    if (columnCount == ColumnTotal_) {
      ListStrSize_ = ListStr.LinesCnt();
    } else {
      rebuildTable(ListStr, columnCount, InsertColumn_);
      ListStrSize_ = 0;
    }
    if (!periodSet() || !fileExists(FilePath_)) return -1;  // neither rows nor sorting

    Reader& r = reader();
    const bool selected = ColumnTotal_ != 10;
    const bool transformed = TransformStr_ != u"0000" && Translator_ != nullptr;
    const bool counted = !GroupBy_.empty();
    // Indexed by selected columns (1), translation (2) and counting (4).
    using Run = ScanResult (*)(Journal&, Reader&, std::int64_t, ValueTable&);
    static constexpr std::array<Run, 8> kRuns{
        &runTable<false, false, false>, &runTable<true, false, false>, &runTable<false, true, false>,
        &runTable<true, true, false>,   &runTable<false, false, true>, &runTable<true, false, true>,
        &runTable<false, true, true>,   &runTable<true, true, true>,
    };
    const ScanResult scan = kRuns[(selected ? 1 : 0) | (transformed ? 2 : 0) | (counted ? 4 : 0)](*this, r, CurrentPos, ListStr);
    if (scan.failure) throw *scan.failure;
    std::int32_t result = -1;
    if (scan.next >= 1) {
      result = scriptResult(scan.next, FilePath_);
      if (counted) ListStr.GroupBy(GroupBy_, kCountColumn);
    }
    if (!OrderBy_.empty()) ListStr.Sort(OrderBy_);
    return result;
  } catch (...) {
    return failCurrent();
  }
}

template <bool Selected, bool Transformed, bool Counted>
ScanResult Journal::runTable(Journal& j, Reader& r, std::int64_t from, ValueTable& table) {
  TableSink<Selected, Transformed, Counted> sink(table, j.ListStrSize_, j.InsertColumn_, j.Translator_.get(), j.codePage(),
                                                 j.FilePath_);
  const AtScopeEnd keep([&] { j.keepCallState(r); });
  r.setScanWindow(scanWindowFrom(from));
  return r.scan(from >= 1 ? from : 0, sink);
}

}  // namespace velmora
