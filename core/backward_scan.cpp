#include "core/backward_scan.h"

#include <algorithm>

#include "core/fileio.h"

namespace velmora {

// Copies each record of a window into the arena: the reader's views live
// only during its call, and the window's records go out last first.
class BackwardScan::Collector : public RecordSink {
 public:
  explicit Collector(BackwardScan& scan) : scan_(scan) {}
  bool record(const Record& record) override {
    scan_.kept_.keep(record);
    return true;
  }

 private:
  BackwardScan& scan_;
};

std::int64_t BackwardScan::lineStartIn(std::int64_t from, std::int64_t to) {
  // From the byte before from: a CR LF that ends just at from starts a line
  // there. Read in pieces, so that one endless line costs no memory.
  constexpr std::size_t kPiece = 65536;
  ReadFile file(reader_.path());
  window_.resize(kPiece + 1);
  std::int64_t at = from - 1;
  bool cr = false;  // the piece before ended with CR
  while (at < to) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(kPiece), to - at));
    const std::size_t got = file.readAt(at, window_.data(), want);
    if (got == 0) break;
    const char* p = window_.data();
    if (cr && p[0] == '\n') return at + 1;
    for (std::size_t i = 0; i + 1 < got; ++i) {
      if (p[i] == '\r' && p[i + 1] == '\n') return at + static_cast<std::int64_t>(i) + 2;
    }
    cr = p[got - 1] == '\r';
    at += static_cast<std::int64_t>(got);
  }
  return to;
}

BackwardResult BackwardScan::scan(std::int64_t before, RecordSink& sink) {
  BackwardResult out;
    const ScanResult first = reader_.findStart();
  if (first.failure) {
    out.failure = first.failure;
    return out;
  }
  const std::int64_t floor = first.next;  // the period's first record
  if (floor < 1) return out;
  std::int64_t hi = before;
  std::size_t width = kFirstWindow;
  try {
    // A compressed log's length is known only once decoded to its end.
    std::int64_t size = reader_.logSize();
    if (size == ReadFile::kUnknownLength) size = ReadFile(reader_.path()).textLength();
    hi = std::min(before, size + 1);
    while (hi > floor) {
      const std::int64_t lo = std::max(floor, hi - static_cast<std::int64_t>(width));
      const std::int64_t start = lo == floor ? floor : lineStartIn(lo, hi);
      if (start >= hi) {
        // One line fills the window: take a wider one.
        width *= 2;
        continue;
      }
      kept_.clear();
      Collector collector(*this);
      const ScanResult r = reader_.scan(start, collector, hi);
      if (r.failure) {
        out.failure = r.failure;
        out.next = hi;
        return out;
      }
      Record record;
      for (std::size_t k = kept_.size(); k-- > 0;) {
        kept_.fill(k, record);
        if (!sink.record(record)) {
          out.next = record.position;
          return out;
        }
      }
      // Sparse matches: read further back at once.
      if (kept_.size() < 16) width = std::min(width * 2, kLargestWindow);
      hi = start;
    }
  } catch (const Failure& f) {
    out.failure = f;
    out.next = hi;
    return out;
  }
  return out;
}

}  // namespace velmora
