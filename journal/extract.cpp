// GetData: the records of the period that pass the filters, appended to the
// host value table, optionally translated, grouped with a count and sorted.
#include <algorithm>
#include <array>
#include <optional>

#include "text/codepage.h"
#include "journal/failures.h"
#include "journal/fileio.h"
#include "journal/filter_state.h"
#include "journal/journal.h"
#include "journal/lines.h"
#include "journal/long_lines.h"
#include "journal/prefilter.h"
#include "journal/result_columns.h"

namespace velmora {
namespace {

constexpr std::int64_t kEndMargin = 18;  // no window starts this close to the end
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

}  // namespace

std::unique_ptr<Prefilter> Journal::planPrefilterAt(std::int64_t start) {
  if (!filters_->anyActive) return nullptr;
  // A window's worth at each end; where they overlap, the log once.
  constexpr std::int64_t kSample = static_cast<std::int64_t>(kScanWindow);
  const std::int64_t headEnd = std::min(MyFileSize_ + 1, start + kSample);
  const std::int64_t tailStart = std::max(headEnd, MyFileSize_ + 1 - kSample);
  std::string sample(static_cast<std::size_t>((headEnd - start) + (MyFileSize_ + 1 - tailStart)), ' ');
  const std::size_t head = file_->readAt(start, sample.data(), static_cast<std::size_t>(headEnd - start));
  std::size_t tail = 0;
  if (tailStart <= MyFileSize_) {
    tail = file_->readAt(tailStart, sample.data() + head, static_cast<std::size_t>(MyFileSize_ + 1 - tailStart));
  }
  return planPrefilter({std::string_view(sample.data(), head), std::string_view(sample.data() + head, tail)});
}

template <class OnRecord>
std::int64_t Journal::scanPeriod(std::int64_t start, OnRecord&& onRecord, std::int64_t stopAt) {
  oversizeRecords_ = 0;
  firstOversize_ = -1;
  if (start >= MyFileSize_ || start < 1) return start;

  const lines::Period period(DateBeginBytes_.data(), DateEndBytes_.data());
  const std::unique_ptr<Prefilter> prefilter = planPrefilterAt(start);
  const std::size_t W = templateSize_;
  std::vector<char> scratch;  // pieces of a record longer than a window
  std::string longRecord;     // such a record of the period, gathered whole
  std::int64_t pos = start;
  bool go = true;

  // A line of the period goes to the filters; a line past the end stops the
  // scan. False when the scan ends with this line.
  auto examine = [&](const char* line, const char* cr) {
    if (period.contains(line)) {
      recordPos_ = pos + (line - window_);  // pos is where the window starts, which may lie outside Buffer_
      if (filterLine(std::string_view(line, static_cast<std::size_t>(cr - line))) && !onRecord()) go = false;
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
      reachedStop_ = true;
      return pos;
    }
    const std::size_t got = scanWindow(pos, W);
    const char* buf = window_;
    const char* end = buf + windowSize_;
    // Lines from stopAt on are another reader's: they are not examined here,
    // though the window is decided on whole, as in a scan without a stop.
    const char* limit = buf + static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(windowSize_), stopAt - pos));
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
      if (MyFileSize_ - kEndMargin < pos || !go) return pos;
      continue;
    }
    // A window without a complete line. When it ends at the end of the log
    // (as found at open) that is the unterminated last line, which the host
    // is still writing: stop at it so that a later call reads it once it is
    // complete. Otherwise it is a record longer than the window, followed to
    // its CR LF; without one within the log it too is left for later.
    if (got < W || MyFileSize_ - pos < static_cast<std::int64_t>(W)) return pos;
    const bool inPeriod = period.contains(buf);
    if (!inPeriod && period.endsBefore(buf)) go = false;
    if (scratch.empty()) scratch.resize(lines::kLongLinePiece);
    longRecord.clear();
    bool tooLong = false;
    const std::int64_t cr = lines::followLine<false>(*file_, pos, MyFileSize_, scratch, [&](std::int64_t, std::string_view piece) {
      if (!inPeriod || tooLong) return;
      if (piece.size() > kLongRecordLimit - longRecord.size()) {
        tooLong = true;
        longRecord.clear();
        longRecord.shrink_to_fit();
        return;
      }
      longRecord.append(piece);
    });
    if (cr < 0) return pos;
    if (inPeriod && tooLong) {
      if (oversizeRecords_++ == 0) firstOversize_ = pos;
    }
    if (inPeriod && !tooLong) {
      recordPos_ = pos;
      const std::size_t length = longRecord.size();
      longRecord.append(lines::kCutBlock, ' ');  // room for the cutting's block reads
      if (filterLine(std::string_view(longRecord.data(), length)) && !onRecord()) go = false;
    }
    pos = cr + 2;
    if (MyFileSize_ - kEndMargin < pos || !go) return pos;
  }
}

template <bool Selected, bool Transformed, bool Counted>
std::int64_t Journal::readRecords(std::int64_t start, ValueTable& table) {
  std::array<bool, 11> mask{};
  if constexpr (Selected) {
    for (int k = 1; k <= 10; ++k) mask[k] = InsertColumn_[static_cast<std::size_t>(k - 1)] != u'0';
  }
  const CodePage& cp = CodePage::current();
  U16String cell;  // reused for every field written
  cell.reserve(256);
  // One row for a record that passed the filters, its fields in Fields_.
  return scanPeriod(start, [&] {
    ++ListStrSize_;
    table.NewLine();
    std::int16_t g = 0;
    for (std::int16_t k = 1; k <= 10; ++k) {
      if constexpr (Selected) {
        if (!mask[k]) continue;
      }
      ++g;
      cp.decode(Fields_[k], cell);
      if constexpr (Transformed) Translator_->TransformCol(cell, k);
      table.SetValue(ListStrSize_, g, cell);
    }
    if constexpr (Counted) table.SetValue(ListStrSize_, kCountColumn, std::int16_t{1});
    return true;
  });
}

std::int64_t Journal::openPeriodScan(std::int64_t CurrentPos) {
  if (DateBegin_.size() != lines::kKeySize || DateEnd_.size() != lines::kKeySize ||
      DateBeginBytes_.size() != lines::kKeySize || DateEndBytes_.size() != lines::kKeySize ||
      !fileExists(FilePath_)) {
    return -1;
  }
  file_ = std::make_unique<ReadFile>(FilePath_);
  MyFileSize_ = file_->size();
  templateSize_ = kSearchWindow;
  return CurrentPos >= 1 ? CurrentPos : FindStartPos();
}

std::int32_t Journal::GetStartPos(std::int32_t CurrentPos, ValueTable& ListStr) {
  clearError();
  try {
    const AtScopeEnd done([this] { endCall(); });
    const std::int32_t columnCount = ListStr.ColumnCount();
    if (columnCount == ColumnTotal_) {
      ListStrSize_ = ListStr.LinesCnt();
    } else {
      rebuildTable(ListStr, columnCount, InsertColumn_);
      ListStrSize_ = 0;
    }

    const std::int64_t start = openPeriodScan(CurrentPos);
    if (!file_) return -1;  // no log, or no period: neither rows nor sorting
    std::int32_t result = -1;
    if (start < 1) {
      file_.reset();
    } else {
      // A start past 2 GiB could not be handed back as the next position.
      scriptResult(start, FilePath_);
      using Loop = std::int64_t (Journal::*)(std::int64_t, ValueTable&);
      // Indexed by selected columns (1), translation (2) and counting (4).
      static constexpr std::array<Loop, 8> kLoops{
          &Journal::readRecords<false, false, false>, &Journal::readRecords<true, false, false>,
          &Journal::readRecords<false, true, false>,  &Journal::readRecords<true, true, false>,
          &Journal::readRecords<false, false, true>,  &Journal::readRecords<true, false, true>,
          &Journal::readRecords<false, true, true>,   &Journal::readRecords<true, true, true>,
      };
      const bool selected = ColumnTotal_ != 10;
      const bool transformed = TransformStr_ != u"0000" && Translator_ != nullptr;
      const bool counted = !GroupBy_.empty();
      const Loop loop = kLoops[(selected ? 1 : 0) | (transformed ? 2 : 0) | (counted ? 4 : 0)];
      if (counted) ListStr.NewColumn(kCountColumn, kNumberType, kCountLength);
      const std::int64_t next = (this->*loop)(start, ListStr);
      file_.reset();
      result = scriptResult(next, FilePath_);
      if (counted) ListStr.GroupBy(GroupBy_, kCountColumn);
    }
    if (!OrderBy_.empty()) ListStr.Sort(OrderBy_);
    return result;
  } catch (...) {
    return failCurrent();
  }
}

std::int64_t Journal::GetRecords(std::int64_t CurrentPos, RecordSink& sink) {
  return GetRecords(CurrentPos, sink, kNoStop);
}

std::int64_t Journal::GetRecords(std::int64_t CurrentPos, RecordSink& sink, std::int64_t StopAt) {
  clearError();
  reachedStop_ = false;
  try {
    const AtScopeEnd done([this] { endCall(); });
    const std::int64_t start = openPeriodScan(CurrentPos);
    if (start < 1) return -1;
    return scanPeriod(start, [&] { return sink.record(Fields_); }, StopAt);
  } catch (...) {
    reachedStop_ = false;
    return failCurrent();
  }
}

std::int64_t Journal::FindPeriodStart() {
  clearError();
  try {
    const AtScopeEnd done([this] { endCall(); });
    const std::int64_t start = openPeriodScan(0);
    return start < 1 ? -1 : start;
  } catch (...) {
    return failCurrent();
  }
}

}  // namespace velmora
