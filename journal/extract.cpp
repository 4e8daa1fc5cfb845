// The record loop of the typed reader, and GetData on top of it: the records
// of the period that pass the filters, appended to the host value table,
// optionally translated, grouped with a count and sorted.
#include <algorithm>
#include <array>
#include <optional>

#include "text/codepage.h"
#include "journal/failures.h"
#include "journal/fileio.h"
#include "journal/journal.h"
#include "journal/line_source.h"
#include "journal/prefilter.h"
#include "journal/reader_impl.h"
#include "journal/result_columns.h"

namespace velmora {
namespace {

// A record of the period longer than a window is gathered whole for the
// filters, up to this size. A longer one (no real event has a comment of
// 64 MiB; it would be a damaged stretch of the log) is treated as rejected by
// the filters: it adds no row, and the call goes on after it.
constexpr std::size_t kLongRecordLimit = std::size_t{64} << 20;

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
// before the first row (and the count column made then), as a position past
// 2 GiB could not be handed back to the script.
template <bool Selected, bool Transformed, bool Counted>
class TableSink final : public RecordSink {
 public:
  TableSink(const Reader& reader, ValueTable& table, std::int32_t& rows, U16View insertColumn, Transform* translator,
            const CodePage& cp, U16View path)
      : reader_(reader), table_(table), rows_(rows), translator_(translator), cp_(cp), path_(path) {
    if constexpr (Selected) {
      for (int k = 1; k <= 10; ++k) mask_[k] = insertColumn[static_cast<std::size_t>(k - 1)] != u'0';
    }
    cell_.reserve(256);
  }
  // Before the first row, or after a scan that wrote none.
  void begin() {
    if (begun_) return;
    begun_ = true;
    scriptResult(reader_.scanStart(), path_);
    if constexpr (Counted) table_.NewColumn(kCountColumn, kNumberType, kCountLength);
  }
  bool record(const RecordFields& fields) override {
    begin();
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
  const Reader& reader_;
  ValueTable& table_;
  std::int32_t& rows_;
  Transform* translator_;
  const CodePage& cp_;
  U16View path_;
  std::array<bool, 11> mask_{};
  U16String cell_;  // reused for every field written
  bool begun_ = false;
};

// The record loop's consumer: a line of the period goes to the filters and
// each that passes to the sink; a line past the period's end ends the walk.
// Impl is the reader's working storage (a template parameter, as its type
// is the reader's own).
template <class Impl>
class PeriodLines {
 public:
  static constexpr lines::LongLines kLongLines = lines::LongLines::Gather;

  PeriodLines(Impl& reader, const lines::LineSource& source, const lines::Period& period, Prefilter* prefilter,
              RecordSink& sink)
      : reader_(reader), source_(source), period_(period), prefilter_(prefilter), sink_(sink) {}

  bool line(const char* line, const char* cr) {
    const auto length = static_cast<std::size_t>(cr - line);
    if (period_.contains(line, length)) {
      reader_.recordPos = source_.positionOf(line);
      if (reader_.filterLine(std::string_view(line, length)) && !sink_.record(reader_.fields)) go_ = false;
    } else if (period_.endsBefore(line, length)) {
      go_ = false;
    }
    return go_;
  }

  // The period is decided once for the whole window when it can be: when
  // its first and last lines lie in the period, so do all between them (the
  // log is in time order), and only a line that holds a match of the
  // prefilter can pass the filters. Such lines are examined like any other;
  // the rest are passed over uncut; so are the lines from limit on.
  const char* window(const char* buf, const char* end, const char* limit, bool& go) {
    if (prefilter_ == nullptr) return buf;
    const char* last = lines::findLastLineEnd(buf, end);
    if (last == nullptr) return buf;
    const char* before = lines::findLastLineEnd(buf, last);
    const char* lastStart = before != nullptr ? before + 2 : buf;
    const char* firstEnd = lines::findLineEnd(buf, last + 2);
    if (!period_.contains(buf, static_cast<std::size_t>(firstEnd - buf)) ||
        !period_.contains(lastStart, static_cast<std::size_t>(last - lastStart)))
      return buf;
    const char* c = examineMatches(buf, last, limit);
    go = go_;
    return c;
  }

  // A record longer than a window is gathered whole when it lies in the
  // period; one past the period's end ends the walk after it.
  std::size_t gatherLimit(std::string_view head) {
    // Longer than a window, so longer than its key.
    inPeriod_ = period_.contains(head.data(), head.size());
    if (!inPeriod_ && period_.endsBefore(head.data(), head.size())) go_ = false;
    return inPeriod_ ? kLongRecordLimit : 0;
  }
  bool longLine(const lines::LongLine& line) {
    if (!inPeriod_) return go_;
    if (!line.whole) {
      if (reader_.oversizeRecords++ == 0) reader_.firstOversize = line.start;
      return go_;
    }
    reader_.recordPos = line.start;
    if (reader_.filterLine(line.gathered) && !sink_.record(reader_.fields)) go_ = false;
    return go_;
  }

 private:
  // The complete lines [buf, last + 2) of a window that lies in the period,
  // those the prefilter matches examined; gives the start of the first line
  // not examined.
  const char* examineMatches(const char* buf, const char* last, const char* limit) {
    prefilter_->begin(last);
    const char* c = buf;     // the first line not yet examined
    const char* from = buf;  // where the next match is looked for
    while (const char* hit = prefilter_->next(from)) {
      const char* before = lines::findLastLineEnd(c, hit);
      const char* lineStart = before != nullptr ? before + 2 : c;
      if (lineStart >= limit) return limit;
      const char* cr = lines::findLineEnd(lineStart, last + 2);
      if (hit + prefilter_->matchLength() > cr) {
        from = hit + 1;  // a match across a line end is none
        continue;
      }
      if (!line(lineStart, cr)) return cr + 2;
      c = from = cr + 2;
    }
    return std::min(last + 2, limit);
  }

  Impl& reader_;
  const lines::LineSource& source_;
  const lines::Period& period_;
  Prefilter* prefilter_;
  RecordSink& sink_;
  bool go_ = true;
  bool inPeriod_ = false;  // of the long record being followed
};

}  // namespace

std::unique_ptr<Prefilter> Reader::Impl::planPrefilterAt(std::int64_t start) {
  if (!anyActive) return nullptr;
  // A window's worth at each end; where they overlap, the log once.
  constexpr std::int64_t kSample = static_cast<std::int64_t>(Reader::kScanWindow);
  const std::int64_t headEnd = std::min(fileSize + 1, start + kSample);
  const std::int64_t tailStart = std::max(headEnd, fileSize + 1 - kSample);
  std::string sample(static_cast<std::size_t>((headEnd - start) + (fileSize + 1 - tailStart)), ' ');
  const std::size_t head = file->readAt(start, sample.data(), static_cast<std::size_t>(headEnd - start));
  std::size_t tail = 0;
  if (tailStart <= fileSize) {
    tail = file->readAt(tailStart, sample.data() + head, static_cast<std::size_t>(fileSize + 1 - tailStart));
  }
  return planPrefilter({std::string_view(sample.data(), head), std::string_view(sample.data() + head, tail)});
}

ScanResult Reader::Impl::scanPeriod(std::int64_t start, RecordSink& sink, std::int64_t stopAt) {
  ScanResult result;
  oversizeRecords = 0;
  firstOversize = -1;
  if (start >= fileSize || start < 1) {
    result.next = start;
    return result;
  }
  const lines::Period period(query.begin.data(), query.end.data());
  const std::unique_ptr<Prefilter> prefilter = planPrefilterAt(start);
  lines::SourceOptions options;
  options.window = templateSize;
  options.progress = &progress;
  lines::LineSource source(*file, options);
  const AtScopeEnd counted([&] { windowReads += source.windows(); });
  PeriodLines<Impl> consumer(*this, source, period, prefilter.get(), sink);
  result.next = source.walk(start, consumer, stopAt);
  result.reachedStop = source.reachedStop();
  return result;
}

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
  TableSink<Selected, Transformed, Counted> sink(r, table, j.ListStrSize_, j.InsertColumn_, j.Translator_.get(), j.codePage(),
                                                 j.FilePath_);
  const AtScopeEnd keep([&] { j.keepCallState(r); });
  ScanResult scan = r.scan(from >= 1 ? from : 0, sink);
  // A scan that began but wrote no row, or failed after its start.
  if (scan.next >= 1 || (scan.failure && r.scanStart() >= 1)) sink.begin();
  return scan;
}

std::int64_t Journal::GetRecords(std::int64_t CurrentPos, RecordSink& sink) {
  return GetRecords(CurrentPos, sink, Reader::kNoStop);
}

std::int64_t Journal::GetRecords(std::int64_t CurrentPos, RecordSink& sink, std::int64_t StopAt) {
  clearError();
  reachedStop_ = false;
  try {
    Reader& r = reader();
    const AtScopeEnd keep([&] { keepCallState(r); });
    const ScanResult scan = r.scan(CurrentPos >= 1 ? CurrentPos : 0, sink, StopAt);
    if (scan.failure) throw *scan.failure;
    reachedStop_ = scan.reachedStop;
    return scan.next;
  } catch (...) {
    reachedStop_ = false;
    return failCurrent();
  }
}

std::int64_t Journal::FindPeriodStart() {
  clearError();
  try {
    Reader& r = reader();
    const AtScopeEnd keep([&] {
      if (r.logSize() >= 0) MyFileSize_ = r.logSize();
    });
    const ScanResult found = r.findStart();
    if (found.failure) throw *found.failure;
    return found.next < 1 ? -1 : found.next;
  } catch (...) {
    return failCurrent();
  }
}

}  // namespace velmora
