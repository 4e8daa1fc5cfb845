// Finding the first record of the period: a binary search over 32 KiB
// windows that compares date prefixes only, then a forward scan line by line.
#include <algorithm>
#include <cstring>

#include "journal/fileio.h"
#include "journal/journal.h"
#include "journal/lines.h"
#include "journal/long_lines.h"

namespace velmora {
namespace {

constexpr std::int64_t kWholeFileLimit = 65536;  // smaller logs are read in one window
constexpr std::int64_t kEndMargin = 18;          // no scan window starts this close to the end

using lines::findLineEnd;

std::string_view date9(const char* at) { return {at, lines::kDate9Size}; }

// One pass of the forward scan over the window [buf, buf + n): from the line
// at a (whose CR LF is at d), examine complete lines until a line of the
// period is found (result) or a line past the end stops the scan (go). On
// return a is the start of the first line not examined.
void scanLines(const lines::Period& period, const char* buf, std::size_t n, std::size_t& a, const char* d,
               std::int64_t windowPos, std::int64_t& result, bool& go) {
  while (result < 0 && go && d != nullptr) {
    const char* key = buf + a;
    if (period.contains(key)) {
      result = windowPos + static_cast<std::int64_t>(a);
    } else if (period.endsBefore(key)) {
      go = false;
    }
    a = static_cast<std::size_t>(d - buf) + 2;
    d = findLineEnd(buf + a, buf + n);
  }
}

}  // namespace

std::size_t Journal::readWindow(std::int64_t position, std::size_t size) {
  // Room for a CR LF appended to the last probe window, and for a key read
  // at the start of a short last line.
  const std::size_t room = size + lines::kWindowPadding;
  if (Buffer_.size() < room) Buffer_.resize(room);
  const std::size_t got = file_->readAt(position, Buffer_.data(), size);
  // Past the end of the file the window holds spaces, never a line end.
  std::memset(Buffer_.data() + got, ' ', room - got);
  windowSize_ = size;
  window_ = Buffer_.data();
  ++windowReads_;
  if (progress_) progress_(std::min<std::int64_t>(position - 1 + static_cast<std::int64_t>(got), MyFileSize_), MyFileSize_);
  return got;
}

std::size_t Journal::scanWindow(std::int64_t position, std::size_t size) {
  static_assert(ReadFile::kViewPadding >= lines::kWindowPadding);
  std::size_t got = 0;
  const char* view = file_->view(position, size, got);
  if (view == nullptr) return readWindow(position, size);
  window_ = view;
  windowSize_ = size;
  ++windowReads_;
  if (progress_) progress_(std::min<std::int64_t>(position - 1 + static_cast<std::int64_t>(got), MyFileSize_), MyFileSize_);
  return got;
}

bool Journal::WindowDates(std::string_view& FirstDate, std::string_view& LastDate) const {
  FirstDate = {};
  LastDate = {};
  const char* buf = Buffer_.data();
  const std::size_t n = windowSize_;
  const char* end = buf + n;
  // The first line of a probe window is taken as partial; the second must be
  // complete.
  const char* first = findLineEnd(buf, end);
  if (first == nullptr) return false;
  const std::size_t second = static_cast<std::size_t>(first - buf) + 2;
  if (findLineEnd(buf + second, end) == nullptr) return false;
  FirstDate = date9(buf + second);
  // The last line that ends inside the window, found from the back so that
  // only the window's tail is walked. A line starting in the window's last
  // ten bytes is not used.
  const char* e = lines::findLastLineEnd(buf, end);
  while (e != nullptr && e > first) {
    const char* before = lines::findLastLineEnd(buf, e);
    const std::size_t start = static_cast<std::size_t>(before - buf) + 2;  // before >= first here
    if (start + 10 < n) {
      LastDate = date9(buf + start);
      break;
    }
    e = before;
  }
  return !LastDate.empty();
}

std::int64_t Journal::ScanForStart(std::int64_t WindowPos) {
  templateSize_ = kScanWindow;  // every later read, here and in the record loop
  const lines::Period period(DateBeginBytes_.data(), DateEndBytes_.data());
  std::int64_t result = -1;
  bool go = true;

  const char* buf = Buffer_.data();
  std::size_t n = windowSize_;
  std::size_t a = 0;
  const char* d = findLineEnd(buf, buf + n);
  std::vector<char> scratch;  // pieces of a line longer than a window
  // The CR of the line at position at, followed within the length found at
  // open; -1 when it has none there (the unterminated last line).
  auto lineEnd = [&](std::int64_t at) {
    if (scratch.empty()) scratch.resize(lines::kLongLinePiece);
    return lines::followLine<false>(*file_, at, MyFileSize_, scratch, [](std::int64_t, std::string_view) {});
  };
  std::int64_t P = WindowPos;
  // A window read from inside the file starts, as a rule, inside a line;
  // one read from position 1 starts with the log's first record.
  if (WindowPos > 1 && d == nullptr) {
    // The window lies wholly inside one long line: the scan starts after it.
    const std::int64_t cr = lineEnd(WindowPos);
    if (cr < 0) return -1;
    P = cr + 2;
    if (MyFileSize_ - kEndMargin < P) return -1;
  } else {
    if (WindowPos > 1) {
      a = static_cast<std::size_t>(d - buf) + 2;
      d = findLineEnd(buf + a, buf + n);
    }
    scanLines(period, buf, n, a, d, WindowPos, result, go);
    if (WindowPos + static_cast<std::int64_t>(a) + 1 >= MyFileSize_ || !go || result >= 0) return result;
    P = WindowPos + static_cast<std::int64_t>(a);
  }

  for (;;) {
    const std::size_t got = readWindow(P, kScanWindow);
    buf = Buffer_.data();
    n = windowSize_;
    a = 0;
    scanLines(period, buf, n, a, findLineEnd(buf, buf + n), P, result, go);
    if (a != 0) {
      P += static_cast<std::int64_t>(a);
    } else {
      // A window without a complete line. One that reaches the end of the
      // log holds its unterminated last line, which is no record: the scan
      // ends. Otherwise the line is longer than the window: followed to its
      // CR LF, it is placed against the period like any other.
      if (got < kScanWindow || MyFileSize_ - P < static_cast<std::int64_t>(kScanWindow)) return -1;
      const std::int64_t cr = lineEnd(P);
      if (cr < 0) return -1;
      if (period.contains(buf)) return P;
      if (period.endsBefore(buf)) return -1;
      P = cr + 2;
    }
    if (MyFileSize_ - kEndMargin < P || result >= 0 || !go) break;
  }
  return result;
}

std::int64_t Journal::FindStartPos() {
  if (MyFileSize_ < kWholeFileLimit) {
    readWindow(1, static_cast<std::size_t>(MyFileSize_));
    return ScanForStart(1);
  }
  const std::string_view begin9(DateBeginBytes_.data(), lines::kDate9Size);
  const std::string_view end9(DateEndBytes_.data(), lines::kDate9Size);
  constexpr auto W = static_cast<std::int64_t>(kSearchWindow);
  std::int64_t hi = MyFileSize_ - W;
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
    readWindow(position, kSearchWindow);
    return ScanForStart(position);
  };

  // The first window: the period may begin at or before the first record.
  readWindow(1, kSearchWindow);
  const std::string_view head = date9(Buffer_.data());
  if (end9 < head) return -1;
  if (begin9 <= head) return ScanForStart(1);
  if (!WindowDates(firstDate, lastDate)) return scanFrom(1);
  if (startsHere()) return ScanForStart(1);

  // The last window: the period may begin after the last record.
  readWindow(hi, kSearchWindow);
  if (std::memcmp(Buffer_.data() + windowSize_ - 2, "\r\n", 2) != 0) {
    std::memcpy(Buffer_.data() + windowSize_, "\r\n", 2);
    windowSize_ += 2;
  }
  if (WindowDates(firstDate, lastDate)) {
    if (begin9 > lastDate) return -1;
    if (startsHere()) return ScanForStart(hi);
  }

  for (;;) {
    if (lo >= hi) {
      // Half a window before the point where the bounds met; never before
      // the file's first byte, even in a log that is out of time order.
      return scanFrom((hi + lo - W) / 2);
    }
    const std::int64_t mid = (hi + lo) / 2;
    readWindow(mid, kSearchWindow);
    if (!WindowDates(firstDate, lastDate)) return scanFrom(lo == 1 ? 1 : lo - W);
    if (startsHere()) return ScanForStart(mid);
    if (begin9 > lastDate) {
      lo = mid + W / 2;
    } else {
      hi = mid;
    }
  }
}

}  // namespace velmora
