// The record loop of the typed reader: the records of the period that pass
// the filters, to a sink.
#include <algorithm>

#include "core/failure.h"
#include "core/unique_resource.h"
#include "core/fileio.h"
#include "core/line_source.h"
#include "core/prefilter.h"
#include "core/reader_impl.h"

namespace velmora {
namespace {

// A record of the period longer than a window is gathered whole for the
// filters, up to this size. A longer one (no real event has a comment of
// 64 MiB; it would be a damaged stretch of the log) is treated as rejected by
// the filters: it adds no row, and the call goes on after it.
constexpr std::size_t kLongRecordLimit = std::size_t{64} << 20;

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

  void windowDone(std::int64_t next) { sink_.windowDone(next - 1, source_.size()); }

  bool line(const char* line, const char* cr) {
    const auto length = static_cast<std::size_t>(cr - line);
    if (period_.contains(line, length)) {
      reader_.record.position = source_.positionOf(line);
      if (reader_.filterLine(std::string_view(line, length)) && !sink_.record(reader_.record)) go_ = false;
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
    reader_.record.position = line.start;
    if (reader_.filterLine(line.gathered) && !sink_.record(reader_.record)) go_ = false;
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
  // A compressed text's tail would cost a decode of all of it: its head alone.
  const std::int64_t tailStart = file->streamed() ? fileSize + 1 : std::max(headEnd, fileSize + 1 - kSample);
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
  if (start < 1) {
    result.next = start;
    return result;
  }
  sink.begin(start);
  if (start >= fileSize) {
    result.next = start;
    sink.finish();
    return result;
  }
  const lines::Period period(query.begin.data(), query.end.data());
  record.log = logIndex;
  // Planned once while the log stays open: a session's stretches share it.
  if (!prefilterPlanned) {
    prefilter = planPrefilterAt(start);
    prefilterPlanned = true;
  }
  PeriodLines<Impl> consumer(*this, *source, period, prefilter.get(), sink);
  result.next = source->walk(start, consumer, stopAt);
  result.reachedStop = source->reachedStop();
  sink.finish();
  return result;
}

}  // namespace velmora
