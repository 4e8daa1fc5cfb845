#include "core/fileio.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "core/failure.h"
#include "core/file_identity.h"
#include "core/log_shape.h"
#include "core/text_stream.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velmora {
namespace {

using Op = FileAction;

[[noreturn]] void raise(Op op, U16View path, FailureKind kind, long long code) {
  throw Failure(kind, U16String(path), code, op);
}

FailureKind otherReason(Op op) { return op == Op::Read ? FailureKind::Io : FailureKind::System; }

#ifdef _WIN32

std::wstring widePath(U16View path) { return std::wstring(path.begin(), path.end()); }

FailureKind reasonOf(Op op, DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return FailureKind::NotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
      return FailureKind::PathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return FailureKind::PermissionDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return FailureKind::Busy;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FailureKind::TooManyFiles;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FailureKind::DiskFull;
    default:
      return otherReason(op);
  }
}

[[noreturn]] void raiseLast(Op op, U16View path) {
  const DWORD code = GetLastError();
  raise(op, path, reasonOf(op, code), static_cast<long long>(code));
}

std::wstring fullPath(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring out(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
  out.resize(n);
  return out;
}

#else

std::string nativePath(U16View path) { return toUtf8(path); }

FailureKind reasonOf(Op op, int code) {
  switch (code) {
    case ENOENT:
      return op == Op::OpenWrite ? FailureKind::PathNotFound : FailureKind::NotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return FailureKind::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return FailureKind::PermissionDenied;
    case ETXTBSY:
      return FailureKind::Busy;
    case EMFILE:
    case ENFILE:
      return FailureKind::TooManyFiles;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return FailureKind::DiskFull;
    case EIO:
      return FailureKind::Io;
    case EISDIR:
      return FailureKind::IsFolder;
    default:
      return otherReason(op);
  }
}

[[noreturn]] void raiseErrno(Op op, U16View path, int code) { raise(op, path, reasonOf(op, code), code); }

// Only a regular file has a length to settle (an output may be a device).
bool isRegular(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Splits a path into its folder ("." when it names none) and its last name.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) {
    folder = ".";
    name = path;
  } else {
    folder.assign(path, 0, slash == 0 ? 1 : slash);
    name.assign(path, slash + 1, std::string::npos);
  }
}

#endif

}  // namespace

#ifdef _WIN32
void closeHandle(void* handle) noexcept { CloseHandle(handle); }
void* invalidHandle() noexcept { return INVALID_HANDLE_VALUE; }
#else
void closeFd(int fd) noexcept { ::close(fd); }
#endif

// ---- existence and identity ----------------------------------------------

#ifdef _WIN32

bool fileExists(U16View path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool sameFile(U16View a, U16View b) {
  const std::wstring wa = widePath(a), wb = widePath(b);
  const auto ia = fileIdentity(a), ib = fileIdentity(b);
  if (ia || ib) return ia && ib && ia->sameFileAs(*ib);
  // Neither exists yet: the same name (Windows ignores letter case) in the
  // same folder.
  const std::wstring fa = fullPath(wa), fb = fullPath(wb);
  const auto sa = fa.find_last_of(L"\\/"), sb = fb.find_last_of(L"\\/");
  if (sa == std::wstring::npos || sb == std::wstring::npos) return lstrcmpiW(fa.c_str(), fb.c_str()) == 0;
  const std::wstring na = fa.substr(sa + 1), nb = fb.substr(sb + 1);
  if (lstrcmpiW(na.c_str(), nb.c_str()) != 0) return false;
  std::wstring folderA = fa.substr(0, sa + 1), folderB = fb.substr(0, sb + 1);
  const auto pa = fileIdentity(U16String(folderA.begin(), folderA.end()));
  const auto pb = fileIdentity(U16String(folderB.begin(), folderB.end()));
  if (pa && pb) return pa->sameFileAs(*pb);
  return lstrcmpiW(folderA.c_str(), folderB.c_str()) == 0;
}

#else

bool fileExists(U16View path) {
  if (path.empty()) return false;
  struct stat st {};
  // Regular files only: opening a FIFO for reading would block the caller.
  return ::stat(nativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool sameFile(U16View a, U16View b) {
  const std::string pa = nativePath(a), pb = nativePath(b);
  const auto ia = fileIdentity(a), ib = fileIdentity(b);
  if (ia || ib) return ia && ib && ia->sameFileAs(*ib);
  // Neither exists yet: the same name in the same folder.
  std::string folderA, nameA, folderB, nameB;
  splitPath(pa, folderA, nameA);
  splitPath(pb, folderB, nameB);
  if (nameA != nameB) return false;
  const auto fa = fileIdentity(fromUtf8(folderA)), fb = fileIdentity(fromUtf8(folderB));
  if (fa && fb) return fa->sameFileAs(*fb);
  return pa == pb;
}

#endif

// ---- reading ------------------------------------------------------------

#ifdef _WIN32

ReadFile::ReadFile(U16View path) : path_(path) {
  handle_.reset(CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_) raiseLast(Op::OpenRead, path_);
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_.get(), &size)) raiseLast(Op::Read, path_);
  size_ = size.QuadPart;
  openStream();
}

static std::size_t readHandle(const UniqueFile& handle, const U16String& path, std::int64_t position, char* out,
                              std::size_t n, std::uint64_t& calls) {
  std::size_t done = 0;
  while (done < n) {
    const std::int64_t offset = position - 1 + static_cast<std::int64_t>(done);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
    DWORD got = 0;
    ++calls;
    if (!::ReadFile(handle.get(), out + done, want, &got, &at)) {
      const DWORD code = GetLastError();
      if (code == ERROR_HANDLE_EOF) break;
      raise(Op::Read, path, reasonOf(Op::Read, code), code);
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

std::int64_t ReadFile::currentSize() const {
  if (stream_) return size_;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_.get(), &size)) raiseLast(Op::Read, path_);
  return size.QuadPart;
}

#else

ReadFile::ReadFile(U16View path) : path_(path) {
  handle_.reset(::open(nativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (!handle_) raiseErrno(Op::OpenRead, path_, errno);
  struct stat st {};
  if (::fstat(handle_.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
    raiseErrno(Op::OpenRead, path_, S_ISDIR(st.st_mode) ? EISDIR : errno);
  }
  size_ = st.st_size;
  openStream();
}

static std::size_t readHandle(const UniqueFile& handle, const U16String& path, std::int64_t position, char* out,
                              std::size_t n, std::uint64_t& calls) {
  std::size_t done = 0;
  while (done < n) {
    ++calls;
    const ssize_t got = ::pread(handle.get(), out + done, n - done,
                                static_cast<off_t>(position - 1 + static_cast<std::int64_t>(done)));
    if (got < 0) {
      if (errno == EINTR) continue;
      raiseErrno(Op::Read, path, errno);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::int64_t ReadFile::currentSize() const {
  if (stream_) return size_;  // a compressed text does not grow
  struct stat st {};
  if (::fstat(handle_.get(), &st) != 0) raiseErrno(Op::Read, path_, errno);
  return st.st_size;
}

#endif

std::size_t ReadFile::readFile(std::int64_t position, char* out, std::size_t n) {
  return readHandle(handle_, path_, position, out, n, readCalls_);
}

namespace {

// An archive's file, owned by its decoded stream, which may outlive the
// ReadFile that opened it (KeptStreams).
struct ArchiveFile {
  UniqueFile handle;
  U16String path;
};

// The archive's own bytes, read straight from the file from its first.
class ArchiveOfFile final : public ArchiveInput {
 public:
  explicit ArchiveOfFile(std::shared_ptr<ArchiveFile> file) : file_(std::move(file)) {}
  std::size_t read(char* out, std::size_t n) override {
    std::uint64_t calls = 0;
    const std::size_t got = readHandle(file_->handle, file_->path, offset_.load() + 1, out, n, calls);
    offset_ += static_cast<std::int64_t>(got);
    return got;
  }
  std::int64_t offset() const override { return offset_.load(); }

 private:
  std::shared_ptr<ArchiveFile> file_;
  // Read by the decoder's thread, looked at by the progress line's.
  std::atomic<std::int64_t> offset_{0};
};

// Archives' decoded streams, kept a while after their files close. The
// viewer's pages and a backward scan's windows each open the log afresh,
// and each would otherwise decode the archive again from its first byte.
// A stream goes back only to a file of the same name and the same identity
// (number, length, last write): an archive rewritten since is decoded anew.
// Never destroyed: its streams' threads may still be decoding at exit.
class KeptStreams {
 public:
  static KeptStreams& instance() {
    static KeptStreams* const kept = new KeptStreams;
    return *kept;
  }
  std::unique_ptr<TextStream> take(const U16String& path, const FileIdentity& id) {
    const std::lock_guard<std::mutex> lock(m_);
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
      if (it->path == path && it->id.sameFileAs(id) && it->id.size == id.size && it->id.modified == id.modified) {
        std::unique_ptr<TextStream> stream = std::move(it->stream);
        kept_.erase(it);
        return stream;
      }
    }
    return nullptr;
  }
  // The oldest go when more than max are kept. They are destroyed outside
  // the lock, since their decoding threads are joined.
  void give(U16String path, const FileIdentity& id, std::unique_ptr<TextStream> stream) {
    std::deque<Kept> old;
    const std::lock_guard<std::mutex> lock(m_);
    if (max_ == 0) {
      old.push_back(Kept{std::move(path), id, std::move(stream)});
      return;
    }
    kept_.push_back(Kept{std::move(path), id, std::move(stream)});
    trim(old);
  }
  void setMax(std::size_t max) {
    std::deque<Kept> old;
    const std::lock_guard<std::mutex> lock(m_);
    max_ = max;
    trim(old);
  }

 private:
  struct Kept {
    U16String path;
    FileIdentity id;
    std::unique_ptr<TextStream> stream;
  };
  void trim(std::deque<Kept>& old) {
    while (kept_.size() > max_) {
      old.push_back(std::move(kept_.front()));
      kept_.pop_front();
    }
  }
  std::mutex m_;
  std::deque<Kept> kept_;
  std::size_t max_ = 0;
};

}  // namespace

void keepArchiveStreams(std::size_t count) { KeptStreams::instance().setMax(count); }

void ReadFile::openStream() {
  const DecoderSet* set = decoderSet();
  if (set == nullptr || size_ == 0) return;
  char head[8] = {};
  const std::size_t got = readFile(1, head, sizeof head);
  const char* format = compressionOf(std::string_view(head, got));
  if (format == nullptr || !set->supports(format)) return;
  identity_ = fileIdentity(handle_);
  if (identity_) stream_ = KeptStreams::instance().take(path_, *identity_);
  if (stream_) {
    handle_.reset();  // the kept stream reads through its own
  } else {
    auto file = std::make_shared<ArchiveFile>(ArchiveFile{std::move(handle_), path_});
    stream_ = std::make_unique<TextStream>(*set, format, [file] { return std::make_unique<ArchiveOfFile>(file); }, path_);
  }
  archiveSize_ = size_;
  size_ = kUnknownLength;
}

ReadFile::~ReadFile() {
  if (!stream_ || !identity_ || stream_->broken()) return;
  try {
    KeptStreams::instance().give(path_, *identity_, std::move(stream_));
  } catch (...) {
    // Not kept (memory ran out): the stream simply closes.
  }
}

const char* ReadFile::compression() const { return stream_ ? stream_->format() : nullptr; }

void ReadFile::checkEnd() const {
  if (stream_) stream_->checkEnd();
}

void ReadFile::progressAt(std::int64_t at, std::int64_t& done, std::int64_t& total) const {
  if (stream_) {
    done = stream_->archiveRead();
    total = archiveSize_;
  } else {
    done = std::min(at, size_);
    total = size_;
  }
}

std::int64_t ReadFile::textLength() {
  if (!stream_) return size_;
  if (const std::int64_t known = stream_->textLength(); known >= 0) return known;
  std::vector<char> piece(std::size_t{1} << 20);
  std::int64_t at = 1;
  while (const std::size_t got = stream_->readAt(at, piece.data(), piece.size())) at += static_cast<std::int64_t>(got);
  stream_->checkEnd();
  return at - 1;
}

std::uint64_t ReadFile::restarts() const { return stream_ ? stream_->restarts() : 0; }

bool ReadFile::inBlock(std::int64_t position, std::size_t n) const {
  // The block's bytes stand for the file's while the file still reaches
  // past them: a log cut meanwhile is read as it is now, as without the
  // block (a length costs no read, and no server round trip under Wine).
  const std::int64_t end = position + static_cast<std::int64_t>(n);
  return aheadAt_ != 0 && position >= aheadAt_ && end <= aheadAt_ + static_cast<std::int64_t>(aheadGot_) &&
         currentSize() >= end - 1;
}

bool ReadFile::follows(std::int64_t position) const {
  return lastEnd_ != 0 && position > lastAt_ && position <= lastEnd_;
}

void ReadFile::fill(std::int64_t position, std::size_t n) {
  // A block from the asked position, twice the last one (so that a short
  // call reads little) up to the largest, and never shorter than asked.
  const std::size_t block = std::clamp(std::max(2 * blockSize_, 2 * n), kReadAheadMin, kReadAheadMax);
  if (blockSize_ < block) {
    ahead_.clear();
    ahead_.shrink_to_fit();
    ahead_.resize(block + kViewPadding);
    blockSize_ = block;
  }
  aheadAt_ = 0;  // not valid while being read: a read error leaves it so
  aheadGot_ = readFile(position, ahead_.data(), blockSize_);
  aheadAt_ = position;
}

void ReadFile::restore() {
  if (savedLength_ == 0) return;
  std::memcpy(ahead_.data() + savedAt_, saved_.data(), savedLength_);
  savedLength_ = 0;
}

std::size_t ReadFile::readAt(std::int64_t position, char* out, std::size_t n) {
  if (position < 1) raise(Op::Read, path_, FailureKind::BadPosition, position);
  if (stream_) return stream_->readAt(position, out, n);
  restore();
  const bool next = follows(position);
  lastAt_ = position;
  lastEnd_ = position + static_cast<std::int64_t>(n);
  if (inBlock(position, n)) {
    std::memcpy(out, ahead_.data() + (position - aheadAt_), n);
    return n;
  }
  if (!next || n > kReadAheadMax / 2) return readFile(position, out, n);
  fill(position, n);
  const std::size_t got = std::min(n, aheadGot_);
  std::memcpy(out, ahead_.data(), got);
  return got;
}

const char* ReadFile::view(std::int64_t position, std::size_t n, std::size_t& got) {
  if (position < 1) raise(Op::Read, path_, FailureKind::BadPosition, position);
  if (stream_) return stream_->view(position, n, got);
  restore();
  if (!inBlock(position, n)) {
    if (!follows(position) || n > kReadAheadMax / 2) return nullptr;
    fill(position, n);
  }
  lastAt_ = position;
  lastEnd_ = position + static_cast<std::int64_t>(n);
  const auto at = static_cast<std::size_t>(position - aheadAt_);
  got = std::min(n, aheadGot_ - at);
  // After the bytes read: spaces up to the padding's end, as a copied
  // window has. Of the block's own bytes there, at most kViewPadding are
  // overwritten (fewer bytes than asked are read only at the block's end),
  // and kept to be put back before the block is used again.
  char* const p = ahead_.data() + at;
  const std::size_t spaces = n + kViewPadding - got;
  savedAt_ = at + got;
  savedLength_ = std::min(spaces, aheadGot_ - (at + got));
  std::memcpy(saved_.data(), p + got, savedLength_);
  std::memset(p + got, ' ', spaces);
  return p;
}

// ---- writing ------------------------------------------------------------

#ifdef _WIN32

WriteFile::WriteFile(U16View path) : path_(path) {
  // Written from the first byte; the length is settled when the file is
  // closed (or dropped on an error path): it ends where the written bytes end.
  // A read-only file is refused as Windows refuses it, also where the
  // system would let a privileged user through (Wine run as root, say).
  const DWORD attributes = GetFileAttributesW(widePath(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    raise(Op::OpenWrite, path_, reasonOf(Op::OpenWrite, ERROR_ACCESS_DENIED), 0);
  }
  handle_.reset(CreateFileW(widePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle_) raiseLast(Op::OpenWrite, path_);
}

void WriteFile::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD put = 0;
    if (!::WriteFile(handle_.get(), bytes.data(), want, &put, nullptr)) raiseLast(Op::Write, path_);
    if (put == 0) raise(Op::Write, path_, FailureKind::DiskFull, 0);
    bytes.remove_prefix(put);
    written_ += put;
  }
}

void WriteFile::close() {
  if (!handle_) return;
  UniqueHandle h = std::move(handle_);  // closed however this ends
  LARGE_INTEGER at{};
  at.QuadPart = written_;
  // Only a file on disk has a length to settle (an output may be a device).
  if (GetFileType(h.get()) == FILE_TYPE_DISK &&
      (!SetFilePointerEx(h.get(), at, nullptr, FILE_BEGIN) || !SetEndOfFile(h.get()))) {
    raiseLast(Op::Write, path_);
  }
  // By hand: the close's own failure is a write failure too.
  if (!CloseHandle(h.release())) raiseLast(Op::Write, path_);
}

WriteFile::~WriteFile() {
  if (!handle_) return;
  // On an error path: keep what was written, drop what an older file had
  // beyond it (the owner then closes it).
  LARGE_INTEGER at{};
  at.QuadPart = written_;
  if (GetFileType(handle_.get()) == FILE_TYPE_DISK && SetFilePointerEx(handle_.get(), at, nullptr, FILE_BEGIN)) {
    SetEndOfFile(handle_.get());
  }
}

#else

WriteFile::WriteFile(U16View path) : path_(path) {
  // Written from the first byte; the length is settled when the file is
  // closed (or dropped on an error path): it ends where the written bytes end.
  handle_.reset(::open(nativePath(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  if (!handle_) raiseErrno(Op::OpenWrite, path_, errno);
  struct stat st {};
  if (::fstat(handle_.get(), &st) == 0 && S_ISDIR(st.st_mode)) raiseErrno(Op::OpenWrite, path_, EISDIR);
}

void WriteFile::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(handle_.get(), bytes.data(), bytes.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      raiseErrno(Op::Write, path_, errno);
    }
    if (put == 0) raiseErrno(Op::Write, path_, ENOSPC);
    bytes.remove_prefix(static_cast<std::size_t>(put));
    written_ += put;
  }
}

void WriteFile::close() {
  if (!handle_) return;
  UniqueFd fd = std::move(handle_);  // closed however this ends
  if (isRegular(fd.get()) && ::ftruncate(fd.get(), static_cast<off_t>(written_)) != 0) {
    raiseErrno(Op::Write, path_, errno);
  }
  // By hand: the close's own failure is a write failure too.
  if (::close(fd.release()) != 0 && errno != EINTR) raiseErrno(Op::Write, path_, errno);
}

WriteFile::~WriteFile() {
  if (!handle_) return;
  // On an error path: keep what was written, drop what an older file had
  // beyond it (the owner then closes it).
  if (isRegular(handle_.get()) && ::ftruncate(handle_.get(), static_cast<off_t>(written_)) != 0) {
    // Nothing more to do on an error path: the method reports its own error.
  }
}

#endif

}  // namespace velmora
