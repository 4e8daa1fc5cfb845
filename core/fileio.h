// File access for the reader: shared reading at 1-based positions, writing of
// copies, identity of paths. Windows uses the wide-character API so that any
// path works; natively POSIX. Every failure throws velmora::Failure naming
// the file, what was being done and the system's code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "core/file_identity.h"
#include "core/file_paths.h"
#include "core/unique_resource.h"
#include "text/text.h"

namespace velmora {

class TextStream;

// The system's own file: a descriptor natively, a HANDLE on Windows (kept as
// void* so that this header needs no windows.h).
#ifdef _WIN32
void closeHandle(void* handle) noexcept;
void* invalidHandle() noexcept;  // INVALID_HANDLE_VALUE
using UniqueHandle = UniqueResource<void*, closeHandle, invalidHandle>;
using UniqueFile = UniqueHandle;
#else
void closeFd(int fd) noexcept;
using UniqueFd = UniqueResource<int, closeFd, -1>;
using UniqueFile = UniqueFd;
#endif

// Of the file open there; nothing when the system cannot say.
std::optional<FileIdentity> fileIdentity(const UniqueFile& file);

// A file opened for reading, shared with other readers and writers.
//
// Reads that follow on from the one before are served from a block read
// ahead, which grows to kReadAheadMax: a scan of a gigabyte makes a few
// hundred system calls rather than one per window (each costs much more
// under Wine, and something on Windows too). Other reads (the probes of a
// binary search) go to the file as asked. A read is served from the block
// only when it lies wholly within the bytes the block got; one that reaches
// past them reads the file afresh, so a log that grows is read as it is now.
//
// A compressed file, when decoders are registered (core/text_stream.h), is
// read as its decoded text: positions are the text's, reads go forward,
// and its length is kUnknownLength until a read comes up short at its end.
// Its decoded stream may be kept after it closes, for the next open of the
// same archive (keepArchiveStreams).
class ReadFile {
 public:
  explicit ReadFile(U16View path);  // throws Failure
  ~ReadFile();
  ReadFile(const ReadFile&) = delete;
  ReadFile& operator=(const ReadFile&) = delete;

  // Larger than any text, small enough that a position plus a window stays
  // far from overflowing.
  static constexpr std::int64_t kUnknownLength = INT64_MAX / 4;

  std::int64_t size() const { return size_; }  // taken once, at open; kUnknownLength for a compressed file
  // The file read as decoded text, and its format ("gzip", ...); nullptr
  // for a file read as it is.
  const char* compression() const;
  bool streamed() const { return stream_ != nullptr; }
  // The length of the text: size() for a plain file; a compressed one is
  // decoded to its end for it (throws Failure when its archive breaks off).
  std::int64_t textLength();
  // After a read came up short: throws when the compressed text was cut
  // short by a truncated or corrupt archive (a plain file: nothing).
  void checkEnd() const;
  // Progress of a read that got to text position at: the bytes done and
  // the total, in the archive's bytes for a compressed file.
  void progressAt(std::int64_t at, std::int64_t& done, std::int64_t& total) const;
  // Reads up to n bytes from the 1-based position; returns the count read
  // (less near the end of the file). Throws Failure on a read error.
  std::size_t readAt(std::int64_t position, char* out, std::size_t n);
  // The current length of the file (for following a growing log).
  std::int64_t currentSize() const;
  const U16String& path() const { return path_; }
  // The n bytes from the 1-based position in place, in the block read
  // ahead, followed by kViewPadding readable bytes; bytes past those read
  // (got of them, fewer near the end of the file) are spaces. Valid until
  // the next call on this file. nullptr when the read does not follow on
  // from the one before: readAt then reads it.
  const char* view(std::int64_t position, std::size_t n, std::size_t& got);
  static constexpr std::size_t kViewPadding = 64;
  // System read calls made so far (for tests and benchmarks).
  std::uint64_t readCalls() const { return readCalls_; }
  // Times a compressed file's decoder started again from its first byte
  // for a read behind the text it held.
  std::uint64_t restarts() const;

  static constexpr std::size_t kReadAheadMin = std::size_t{256} << 10;
  static constexpr std::size_t kReadAheadMax = std::size_t{2} << 20;

 private:
  std::size_t readFile(std::int64_t position, char* out, std::size_t n);  // straight from the file
  bool inBlock(std::int64_t position, std::size_t n) const;
  bool follows(std::int64_t position) const;  // on from the read before
  void fill(std::int64_t position, std::size_t n);
  void restore();  // puts back the block's bytes that a view covered with spaces
  void openStream();  // a compressed file with a registered decoder: read as its text

  U16String path_;
  UniqueFile handle_;
  std::int64_t size_ = 0;
  std::vector<char> ahead_;     // the block read ahead, and room for a view's padding
  std::size_t blockSize_ = 0;
  std::array<char, kViewPadding> saved_{};
  std::size_t savedAt_ = 0, savedLength_ = 0;
  std::int64_t aheadAt_ = 0;    // its first byte's position (0: none)
  std::size_t aheadGot_ = 0;    // the bytes it holds
  std::int64_t lastAt_ = 0;     // the read before: [lastAt_, lastEnd_)
  std::int64_t lastEnd_ = 0;
  std::uint64_t readCalls_ = 0;
  std::int64_t archiveSize_ = 0;
  std::unique_ptr<TextStream> stream_;
  std::optional<FileIdentity> identity_;  // a compressed file's, for keeping its stream when it closes
};

// How many decoded streams of closed archives are kept for their next open
// (0, the default: none; a smaller count closes the oldest kept). A server
// whose every page opens its log afresh keeps a few, so that a page further
// back decodes no more than it must; a read from start to end has no use
// for them, and would only hold their memory.
void keepArchiveStreams(std::size_t count);

// A file opened for writing from its first byte; truncated at close() to what
// was written, so no stale bytes of an older, longer file stay behind.
class WriteFile {
 public:
  explicit WriteFile(U16View path);  // throws Failure
  ~WriteFile();                      // closes without throwing
  WriteFile(const WriteFile&) = delete;
  WriteFile& operator=(const WriteFile&) = delete;

  void write(std::string_view bytes);  // throws Failure (disk full, I/O)
  void close();                        // truncates and closes; throws Failure
  const U16String& path() const { return path_; }

 private:
  U16String path_;
  UniqueFile handle_;
  std::int64_t written_ = 0;
};

}  // namespace velmora
