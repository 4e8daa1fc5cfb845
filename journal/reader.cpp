// The typed reader's calls: each opens the log, works, and closes it again,
// whatever happens; a failure to read the log comes back as a value, while
// whatever a sink throws goes on to the caller.
#include "journal/reader.h"

#include <new>

#include "journal/failures.h"
#include "journal/lines.h"
#include "journal/reader_impl.h"

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
  fileSize = -1;
  if (!periodSet() || !fileExists(path)) return -1;
  file = std::make_unique<ReadFile>(path);
  fileSize = file->size();
  templateSize = kSearchWindow;
  scanStart = from >= 1 ? from : findStartPos();
  return scanStart;
}

void Reader::Impl::endCall() {
  file.reset();
  buffer.clear();
  buffer.shrink_to_fit();
  window = nullptr;
  windowSize = 0;
  templateSize = 0;
  // Fields point into the window; none may outlive it.
  fields.fill({});
}

namespace {

// A read failure, or memory run out, as the value a call gives back.
template <class Impl, class Call>
ScanResult trapped(Impl& impl, Call&& call) {
  const AtScopeEnd done([&] { impl.endCall(); });
  try {
    return call();
  } catch (const Failure& f) {
    ScanResult r;
    r.failure = f;
    return r;
  } catch (const std::bad_alloc&) {
    ScanResult r;
    r.failure = Failure(ErrorNumber::OutOfMemory, u"Недостаточно памяти");
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

std::int64_t Reader::recordPosition() const { return impl_->recordPos; }
std::int64_t Reader::scanStart() const { return impl_->scanStart; }
std::int64_t Reader::oversizeRecords() const { return impl_->oversizeRecords; }
std::int64_t Reader::firstOversize() const { return impl_->firstOversize; }
std::int64_t Reader::logSize() const { return impl_->fileSize; }
std::uint64_t Reader::windowReads() const { return impl_->windowReads; }
void Reader::setProgress(ProgressFn fn) { impl_->progress = std::move(fn); }

}  // namespace velmora
