// The typed reader's calls: each opens the log, works, and closes it again,
// whatever happens; a failure to read the log comes back as a value, while
// whatever a sink throws goes on to the caller.
#include "core/reader.h"

#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "core/failure.h"
#include "core/unique_resource.h"
#include "core/lines.h"
#include "core/reader_impl.h"

namespace velmora {

Reader::Impl::Impl(U16String path, ReadQuery query, const CodePage& cp)
    : path(std::move(path)), query(std::move(query)), cp(cp) {
  compile();
}

bool Reader::Impl::periodSet() const {
  return query.begin.size() == lines::kKeySize && query.end.size() == lines::kKeySize;
}

std::int64_t Reader::Impl::openPeriodScan(std::int64_t from) {
  scanStart = -1;
  if (!file) fileSize = -1;
  if (!periodSet() || !fileExists(path)) {
    closeFile();
    return -1;
  }
  if (!file) {
    file = std::make_unique<ReadFile>(path);
    lines::SourceOptions options;
    options.progress = &progress;
    source = std::make_unique<lines::LineSource>(*file, options);
  }
  source->setWindow(scanWindow);
  fileSize = file->size();
  scanStart = from >= 1 ? from : findStartPos();
  return scanStart;
}

void Reader::Impl::endCall() {
  if (!(session || (keepStreamOpen && file && file->streamed()))) closeFile();
  // The record points into the window; nothing of it may outlive it.
  record = Record{};
}

void Reader::Impl::closeFile() {
  if (source) windowReads += source->windows();
  source.reset();
  file.reset();
  prefilter.reset();
  prefilterPlanned = false;
}

namespace {

// Where a second scan may begin: the first line start after the middle of
// [start, the log's end), looked for in the MiB after it. -1 when less than
// splitFrom bytes lie there, no line starts in that MiB, or the log cannot
// be read (the whole scan then reports any failure).
std::int64_t splitPoint(const U16String& path, std::int64_t start, std::int64_t splitFrom) {
  try {
    ReadFile file(path);
    // A compressed text's middle is unknown, and reading to it would decode half of it.
    if (file.streamed() || file.size() - start < splitFrom) return -1;
    const std::int64_t middle = start + (file.size() - start) / 2;
    std::vector<char> buf(std::size_t{1} << 20);
    const std::size_t got = file.readAt(middle, buf.data(), buf.size());
    const char* cr = lines::findLineEnd(buf.data(), buf.data() + got);
    return cr != nullptr ? middle + (cr - buf.data()) + 2 : -1;
  } catch (const Failure&) {
    return -1;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

// A log read as decoded text (core/text_stream.h); false when it cannot be opened.
bool compressedLog(const U16String& path) {
  try {
    return fileExists(path) && ReadFile(path).streamed();
  } catch (const Failure&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// A read failure, or memory run out, as the value a call gives back.
// A log that failed is closed even in a session: the next call opens it
// afresh.
template <class Impl, class Call>
ScanResult trapped(Impl& impl, Call&& call) {
  const AtScopeEnd done([&] { impl.endCall(); });
  try {
    return call();
  } catch (const Failure&) {
    ScanResult r;
    r.failure = currentFailure();
    impl.closeFile();
    return r;
  } catch (const std::bad_alloc&) {
    ScanResult r;
    r.failure = currentFailure();
    impl.closeFile();
    return r;
  }
}

}  // namespace

Reader::Reader(U16String path, ReadQuery query, const CodePage& cp)
    : impl_(std::make_unique<Impl>(std::move(path), std::move(query), cp)) {}
Reader::~Reader() = default;

const ReadQuery& Reader::query() const { return impl_->query; }
const U16String& Reader::path() const { return impl_->path; }

ScanResult Reader::findStart() {
  return trapped(*impl_, [&] {
    ScanResult r;
    const std::int64_t start = impl_->openPeriodScan(0);
    r.next = start < 1 ? -1 : start;
    return r;
  });
}

ScanResult Reader::scan(std::int64_t from, RecordSink& sink, std::int64_t stopAt) {
  return trapped(*impl_, [&] {
    const std::int64_t start = impl_->openPeriodScan(from);
    if (start < 1) {
      ScanResult r;
      r.next = -1;
      return r;
    }
    return impl_->scanPeriod(start, sink, stopAt);
  });
}

Reader::Halves Reader::scanInHalves(std::int64_t from, RecordSink& first, RecordSink& second, std::int64_t splitFrom) {
  Halves out;
  // A compressed log has no middle to split at, and a start search of its
  // own would decode the text before the period twice: one scan.
  if (splitFrom >= 0 && compressedLog(impl_->path)) {
    static_cast<ScanResult&>(out) = scan(from, first);
    out.reachedStop = false;
    return out;
  }
  std::int64_t start = from;
  if (start < 1) {
    const ScanResult found = findStart();
    out.failure = found.failure;
    if (found.next < 1) return out;
    start = found.next;
  }
  const std::int64_t split = splitFrom >= 0 ? splitPoint(impl_->path, start, splitFrom) : -1;
  if (split <= start) {
    static_cast<ScanResult&>(out) = scan(start, first);
    return out;
  }

  // The second half reads with a reader of its own; both report to one
  // progress line, the second from where it began.
  Impl later(impl_->path, impl_->query, impl_->cp);
  const ProgressFn progress = impl_->progress;
  std::mutex progressMutex;
  std::int64_t done[2] = {0, 0};
  auto part = [&](int k, std::int64_t base) -> ProgressFn {
    if (!progress) return nullptr;
    return [&, k, base](std::int64_t at, std::int64_t total) {
      const std::lock_guard<std::mutex> lock(progressMutex);
      done[k] = at - base;
      progress(done[0] + done[1], total);
    };
  };
  impl_->progress = part(0, 0);
  later.progress = part(1, split - 1);

  ScanResult laterResult;
  std::exception_ptr laterError;
  const auto readSecond = [&] {
    try {
      laterResult = trapped(later, [&] {
        const std::int64_t at = later.openPeriodScan(split);
        return at < 1 ? ScanResult{} : later.scanPeriod(at, second, kNoStop);
      });
    } catch (...) {
      laterError = std::current_exception();
    }
  };
  std::thread worker;
  try {
    worker = std::thread(readSecond);
  } catch (const std::system_error&) {
    // No thread to be had: the second half is read after the first.
  }
  ScanResult firstResult;
  {
    // Whatever the first half's sink throws, the worker is joined first.
    const AtScopeEnd join([&] {
      if (worker.joinable()) worker.join();
      impl_->progress = progress;
    });
    firstResult = scan(start, first, split);
    if (!worker.joinable() && !firstResult.failure && firstResult.reachedStop) readSecond();
  }

  static_cast<ScanResult&>(out) = firstResult;
  out.reachedStop = false;
  // A scan of the whole would have stopped where the first half stopped.
  if (firstResult.failure || !firstResult.reachedStop) return out;
  if (laterError) std::rethrow_exception(laterError);
  if (laterResult.failure) {
    out.failure = laterResult.failure;
    out.next = -1;
    return out;
  }
  out.secondKept = true;
  out.next = laterResult.next;
  if (impl_->oversizeRecords == 0) impl_->firstOversize = later.firstOversize;
  impl_->oversizeRecords += later.oversizeRecords;
  impl_->windowReads += later.windowReads;
  return out;
}

void Reader::keepStreamOpen(bool keep) {
  impl_->keepStreamOpen = keep;
  if (!keep && !impl_->session) impl_->closeFile();
}

void Reader::beginSession() { impl_->session = true; }

void Reader::endSession() {
  impl_->session = false;
  if (!(impl_->keepStreamOpen && impl_->file && impl_->file->streamed())) impl_->closeFile();
}

std::int64_t Reader::scanStart() const { return impl_->scanStart; }
std::int64_t Reader::oversizeRecords() const { return impl_->oversizeRecords; }
std::int64_t Reader::firstOversize() const { return impl_->firstOversize; }
std::int64_t Reader::logSize() const { return impl_->fileSize; }
void Reader::setLogIndex(int log) { impl_->logIndex = log; }

std::uint64_t Reader::windowReads() const {
  return impl_->windowReads + (impl_->source ? impl_->source->windows() : 0);
}
void Reader::setProgress(ProgressFn fn) { impl_->progress = std::move(fn); }
void Reader::setScanWindow(std::size_t bytes) { impl_->scanWindow = bytes > 0 ? bytes : kScanWindow; }

}  // namespace velmora
