// File access for the reader: shared reading at 1-based positions, writing of
// copies, identity of paths. Windows uses the wide-character API so that any
// path works; natively POSIX. Every failure throws velmora::Failure with a
// stable number and a Russian text that names the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/text.h"

namespace velmora {

// True when path names an existing regular file (not a folder).
bool fileExists(U16View path);

// True when both paths name the same file: the same existing file through
// any spelling, link or relative path, or, for files that do not exist yet,
// the same name in the same folder.
bool sameFile(U16View a, U16View b);

// A file opened for reading, shared with other readers and writers.
class ReadFile {
 public:
  explicit ReadFile(U16View path);  // throws Failure
  ~ReadFile();
  ReadFile(const ReadFile&) = delete;
  ReadFile& operator=(const ReadFile&) = delete;

  std::int64_t size() const { return size_; }  // taken once, at open
  // Reads up to n bytes from the 1-based position; returns the count read
  // (less near the end of the file). Throws Failure on a read error.
  std::size_t readAt(std::int64_t position, char* out, std::size_t n);
  // The current length of the file (for following a growing log).
  std::int64_t currentSize() const;
  const U16String& path() const { return path_; }

 private:
  U16String path_;
  std::intptr_t handle_ = -1;
  std::int64_t size_ = 0;
};

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
  std::intptr_t handle_ = -1;
  std::int64_t written_ = 0;
};

}  // namespace velmora
