// Finding the first record of the period: a binary search over 32 KiB
// probe windows that compares date prefixes only, then a forward scan line
// by line. Probes and scan read through the call's line walker, the one the
// record loop reads through.
#include <algorithm>
#include <cstring>

#include "core/fileio.h"
#include "core/reader_impl.h"
#include "core/failure.h"
#include "core/unique_resource.h"
#include "core/line_source.h"

namespace velmora {
namespace {

constexpr std::int64_t kWholeFileLimit = 65536;  // smaller logs are read in one window
using record::kEndMargin;

using lines::findLineEnd;

std::string_view date9(const char* at) { return {at, lines::kDate9Size}; }

// The date of the first record among the complete lines from the line start
// at to end; empty when none is there.
std::string_view firstRecordDate(const char* at, const char* end) {
  for (const char* d; (d = findLineEnd(at, end)) != nullptr; at = d + 2) {
    if (lines::Period::isRecord(at, static_cast<std::size_t>(d - at))) return date9(at);
  }
  return {};
}

// One pass of the forward scan over the window [buf, buf + n): from the line
// at a (whose CR LF is at d), examine complete lines until a line of the
// period is found (result) or a line past the end stops the scan (go). On
// return a is the start of the first line not examined.
void scanLines(const lines::Period& period, const char* buf, std::size_t n, std::size_t& a, const char* d,
               std::int64_t windowPos, std::int64_t& result, bool& go) {
  while (result < 0 && go && d != nullptr) {
    const char* key = buf + a;
    const auto length = static_cast<std::size_t>(d - key);
    if (period.contains(key, length)) {
      result = windowPos + static_cast<std::int64_t>(a);
    } else if (period.endsBefore(key, length)) {
      go = false;
    }
    a = static_cast<std::size_t>(d - buf) + 2;
    d = findLineEnd(buf + a, buf + n);
  }
}

// The forward scan after the first window: the first line of the period is
// the start (a line longer than a window is placed by its first bytes like
// any other); a line past the period's end ends the scan without one.
class StartLines {
 public:
  static constexpr lines::LongLines kLongLines = lines::LongLines::Skip;

  StartLines(const lines::LineSource& source, const lines::Period& period) : source_(source), period_(period) {}

  bool line(const char* line, const char* cr) {
    return place(line, static_cast<std::size_t>(cr - line), source_.positionOf(line));
  }
  bool longLine(const lines::LongLine& line) { return place(line.head.data(), line.head.size(), line.start); }
  std::int64_t found() const { return found_; }  // -1: none

 private:
  bool place(const char* key, std::size_t length, std::int64_t position) {
    if (period_.contains(key, length)) {
      found_ = position;
      return false;
    }
    return !period_.endsBefore(key, length);
  }

  const lines::LineSource& source_;
  const lines::Period& period_;
  std::int64_t found_ = -1;
};

// The search over one open log, its probes read through the walker that
// the scans read through.
class StartSearch {
 public:
  StartSearch(lines::LineSource& source, const ReadQuery& query, bool streamed)
      : source_(source),
        fileSize_(source.size()),
        streamed_(streamed),
        query_(query),
        period_(query.begin.data(), query.end.data()) {}

  std::int64_t find();

 private:
  // Reads the probe window of size bytes at position.
  void probe(std::int64_t position, std::size_t size) {
    buf_ = source_.probe(position, size);
    n_ = size;
  }
  bool windowDates(std::string_view& firstDate, std::string_view& lastDate) const;
  std::int64_t scanForStart(std::int64_t windowPos);

  lines::LineSource& source_;
  const std::int64_t fileSize_;
  const bool streamed_;  // a compressed text, read forward only
  const ReadQuery& query_;
  const lines::Period period_;
  char* buf_ = nullptr;  // the probe window: n_ bytes, then the walker's padding
  std::size_t n_ = 0;
};

bool StartSearch::windowDates(std::string_view& FirstDate, std::string_view& LastDate) const {
  FirstDate = {};
  LastDate = {};
  const char* buf = buf_;
  const char* end = buf + n_;
  // The first line of a probe window is taken as partial; the dates are
  // those of the first and last records after it (a line that is no record
  // has no date to steer by).
  const char* first = findLineEnd(buf, end);
  if (first == nullptr) return false;
  FirstDate = firstRecordDate(first + 2, end);
  if (FirstDate.empty()) return false;
  // The last record that ends inside the window, found from the back so
  // that only the window's tail is walked. A line starting in the window's
  // last ten bytes is not used.
  const char* e = lines::findLastLineEnd(buf, end);
  while (e != nullptr && e > first) {
    const char* before = lines::findLastLineEnd(buf, e);
    const char* start = before + 2;  // before >= first here
    if (start + 10 < end && lines::Period::isRecord(start, static_cast<std::size_t>(e - start))) {
      LastDate = date9(start);
      break;
    }
    e = before;
  }
  return !LastDate.empty();
}

std::int64_t StartSearch::scanForStart(std::int64_t WindowPos) {
  std::int64_t result = -1;
  bool go = true;

  const char* buf = buf_;
  const std::size_t n = n_;
  std::size_t a = 0;
  const char* d = findLineEnd(buf, buf + n);
  std::int64_t P = WindowPos;
  // A window read from inside the file starts, as a rule, inside a line;
  // one read from position 1 starts with the log's first record.
  if (WindowPos > 1 && d == nullptr) {
    // The window lies wholly inside one long line: the scan starts after it.
    const std::int64_t cr = source_.lineEnd(WindowPos);
    if (cr < 0) return -1;
    P = cr + 2;
    if (fileSize_ - kEndMargin < P) return -1;
  } else {
    if (WindowPos > 1) {
      a = static_cast<std::size_t>(d - buf) + 2;
      d = findLineEnd(buf + a, buf + n);
    }
    scanLines(period_, buf, n, a, d, WindowPos, result, go);
    if (WindowPos + static_cast<std::int64_t>(a) + 1 >= fileSize_ || !go || result >= 0) return result;
    P = WindowPos + static_cast<std::int64_t>(a);
  }

  // On from there in the record loop's windows.
  StartLines consumer(source_, period_);
  source_.walk(P, consumer);
  return consumer.found();
}

std::int64_t StartSearch::find() {
  // A compressed text has no random access: the search walks forward.
  if (fileSize_ < kWholeFileLimit || streamed_) {
    probe(1, static_cast<std::size_t>(std::min<std::int64_t>(fileSize_, Reader::kSearchWindow)));
    return scanForStart(1);
  }
  const std::string_view begin9(query_.begin.data(), lines::kDate9Size);
  const std::string_view end9(query_.end.data(), lines::kDate9Size);
  constexpr auto W = static_cast<std::int64_t>(Reader::kSearchWindow);
  std::int64_t hi = fileSize_ - W;
  std::int64_t lo = 1;
  std::string_view firstDate, lastDate;
  auto startsHere = [&] { return firstDate < begin9 && begin9 <= lastDate; };
  // A probe window inside one record longer than the window has no dates to
  // steer by. Giving up there would hide a period that lies after such a
  // record; scan forward instead, from half a window before the lowest point
  // the period may start at (the line there began before the last probe that
  // lay wholly before the period).
  auto scanFrom = [&](std::int64_t position) {
    position = std::max<std::int64_t>(1, position);
    probe(position, Reader::kSearchWindow);
    return scanForStart(position);
  };

  // The first window: the period may begin at or before the first record.
  probe(1, Reader::kSearchWindow);
  const std::string_view head = firstRecordDate(buf_, buf_ + n_);
  if (head.empty()) return scanFrom(1);  // no record in the first window to steer by
  if (end9 < head) return -1;
  if (begin9 <= head) return scanForStart(1);
  if (!windowDates(firstDate, lastDate)) return scanFrom(1);
  if (startsHere()) return scanForStart(1);

  // The last window: the period may begin after the last record.
  probe(hi, Reader::kSearchWindow);
  if (std::memcmp(buf_ + n_ - 2, "\r\n", 2) != 0) {
    // Within the walker's padding.
    std::memcpy(buf_ + n_, "\r\n", 2);
    n_ += 2;
  }
  if (windowDates(firstDate, lastDate)) {
    if (begin9 > lastDate) return -1;
    if (startsHere()) return scanForStart(hi);
  }

  for (;;) {
    if (lo >= hi) {
      // Half a window before the point where the bounds met; never before
      // the file's first byte, even in a log that is out of time order.
      return scanFrom((hi + lo - W) / 2);
    }
    const std::int64_t mid = (hi + lo) / 2;
    probe(mid, Reader::kSearchWindow);
    if (!windowDates(firstDate, lastDate)) return scanFrom(lo == 1 ? 1 : lo - W);
    if (startsHere()) return scanForStart(mid);
    if (begin9 > lastDate) {
      lo = mid + W / 2;
    } else {
      hi = mid;
    }
  }
}

}  // namespace

std::int64_t Reader::Impl::findStartPos() {
  StartSearch search(*source, query, file->streamed());
  return search.find();
}

}  // namespace velmora
