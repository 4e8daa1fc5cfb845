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
#include "journal/lines.h"
#include "journal/long_lines.h"
#include "journal/prefilter.h"
#include "journal/reader_impl.h"
#include "journal/result_columns.h"

namespace velmora {
namespace {

constexpr std::int64_t kEndMargin = record::kEndMargin;
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
  auto finish = [&result](std::int64_t next) {
    result.next = next;
    return result;
  };
  oversizeRecords = 0;
  firstOversize = -1;
  if (start >= fileSize || start < 1) return finish(start);

  const lines::Period period(query.begin.data(), query.end.data());
  const std::unique_ptr<Prefilter> prefilter = planPrefilterAt(start);
  const std::size_t W = templateSize;
  std::vector<char> scratch;  // pieces of a record longer than a window
  std::string longRecord;     // such a record of the period, gathered whole
  std::int64_t pos = start;
  bool go = true;

  // A line of the period goes to the filters; a line past the end stops the
  // scan. False when the scan ends with this line.
  auto examine = [&](const char* line, const char* cr) {
    if (period.contains(line)) {
      recordPos = pos + (line - window);  // pos is where the window starts, which may lie outside Buffer_
      if (filterLine(std::string_view(line, static_cast<std::size_t>(cr - line))) && !sink.record(fields)) go = false;
    } else if (period.endsBefore(line)) {
      go = false;
    }
    return go;
  };

  // The complete lines [buf, last + 2) of a window whose first and last
  // lines lie in the period: as the log is in time order, so do all between
  // them, and only a line that holds a match of the prefilter can pass the
  // filters. Such lines are examined like any other; the rest are passed
  // over uncut; so are the lines from limit on. Returns the start of the
  // first line not examined.
  auto examineMatches = [&](const char* buf, const char* last, const char* limit) {
    prefilter->begin(last);
    const char* c = buf;     // the first line not yet examined
    const char* from = buf;  // where the next match is looked for
    while (const char* hit = prefilter->next(from)) {
      const char* before = lines::findLastLineEnd(c, hit);
      const char* lineStart = before != nullptr ? before + 2 : c;
      if (lineStart >= limit) return limit;
      const char* cr = lines::findLineEnd(lineStart, last + 2);
      if (hit + prefilter->matchLength() > cr) {
        from = hit + 1;  // a match across a line end is none
        continue;
      }
      if (!examine(lineStart, cr)) return cr + 2;
      c = from = cr + 2;
    }
    return std::min(last + 2, limit);
  };

  for (;;) {
    if (pos >= stopAt) {
      result.reachedStop = true;
      return finish(pos);
    }
    const std::size_t got = scanWindow(pos, W);
    const char* buf = window;
    const char* end = buf + windowSize;
    // Lines that start from stopAt on are another reader's: they are not
    // examined here, though the window is decided on whole, as in a scan
    // without a stop. A line that starts before stopAt is this scan's, even
    // when it ends after it: limit is the first line start at or after
    // stopAt (pos, a line start, lies before it), or the window's end.
    const char* limit = end;
    if (stopAt - pos < static_cast<std::int64_t>(windowSize)) {
      const auto stop = static_cast<std::size_t>(stopAt - pos);
      if (const char* cr = lines::findLineEnd(buf + (stop < 2 ? 0 : stop - 2), end)) limit = cr + 2;
    }
    const char* c = buf;
    const char* d = nullptr;
    if (prefilter) {
      // The period is decided once for the whole window when it can be.
      if (const char* last = lines::findLastLineEnd(buf, end)) {
        const char* before = lines::findLastLineEnd(buf, last);
        const char* lastStart = before != nullptr ? before + 2 : buf;
        if (period.contains(buf) && period.contains(lastStart)) c = examineMatches(buf, last, limit);
      }
    }
    lines::LineEnds ends(c, limit);
    while (go && (d = ends.next()) != nullptr) {
      examine(c, d);
      c = d + 2;
    }
    if (c != buf) {
      pos += c - buf;
      if (fileSize - kEndMargin < pos || !go) return finish(pos);
      continue;
    }
    // A window without a complete line. When it ends at the end of the log
    // (as found at open) that is the unterminated last line, which the host
    // is still writing: stop at it so that a later call reads it once it is
    // complete. Otherwise it is a record longer than the window, followed to
    // its CR LF; without one within the log it too is left for later.
    if (got < W || fileSize - pos < static_cast<std::int64_t>(W)) return finish(pos);
    const bool inPeriod = period.contains(buf);
    if (!inPeriod && period.endsBefore(buf)) go = false;
    if (scratch.empty()) scratch.resize(lines::kLongLinePiece);
    longRecord.clear();
    bool tooLong = false;
    const std::int64_t cr = lines::followLine<false>(*file, pos, fileSize, scratch, [&](std::int64_t, std::string_view piece) {
      if (!inPeriod || tooLong) return;
      if (piece.size() > kLongRecordLimit - longRecord.size()) {
        tooLong = true;
        longRecord.clear();
        longRecord.shrink_to_fit();
        return;
      }
      longRecord.append(piece);
    });
    if (cr < 0) return finish(pos);
    if (inPeriod && tooLong) {
      if (oversizeRecords++ == 0) firstOversize = pos;
    }
    if (inPeriod && !tooLong) {
      recordPos = pos;
      const std::size_t length = longRecord.size();
      longRecord.append(lines::kCutBlock, ' ');  // room for the cutting's block reads
      if (filterLine(std::string_view(longRecord.data(), length)) && !sink.record(fields)) go = false;
    }
    pos = cr + 2;
    if (fileSize - kEndMargin < pos || !go) return finish(pos);
  }
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
