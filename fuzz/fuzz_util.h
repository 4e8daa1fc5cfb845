// Shared pieces of the fuzz targets: splitting the input, temporary files,
// and the invariant checks that turn a wrong result into a crash.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "text/text.h"

namespace fuzz {

[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}
#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::fuzz::fail(#cond))

// Takes the input apart: a piece ends at the next 0xFF byte.
class Splitter {
 public:
  Splitter(const std::uint8_t* data, std::size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
  std::string_view next() {
    auto cut = rest_.find('\xFF');
    std::string_view piece = rest_.substr(0, cut);
    rest_ = cut == std::string_view::npos ? std::string_view{} : rest_.substr(cut + 1);
    return piece;
  }
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
};

// Script text from fuzz bytes: each byte a code unit, and 0xFE followed by two
// bytes an arbitrary unit (Cyrillic, surrogates, characters without a form
// in the code page).
inline velmora::U16String units(std::string_view bytes) {
  velmora::U16String out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    auto b = static_cast<unsigned char>(bytes[i]);
    if (b == 0xFE && i + 2 < bytes.size()) {
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                          static_cast<unsigned char>(bytes[i + 2])));
      i += 2;
    } else {
      out.push_back(static_cast<char16_t>(b));
    }
  }
  return out;
}

// A file of the fuzzing process's own, rewritten for every input.
class TempFile {
 public:
  explicit TempFile(const char* tag) {
    path_ = std::string(P_tmpdir) + "/velmora-fuzz-" + std::to_string(getpid()) + "-" + tag;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  void write(std::string_view bytes) const {
    std::ofstream(path_, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string read() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  bool exists() const { return access(path_.c_str(), F_OK) == 0; }
  void remove() const { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }
  velmora::U16String path16() const { return velmora::fromUtf8(path_); }

 private:
  std::string path_;
};

// The length of the log's complete CR LF lines: what a whole pass copies.
inline std::size_t completeLength(std::string_view log) {
  auto end = log.rfind("\r\n");
  return end == std::string_view::npos ? 0 : end + 2;
}

// True when position (1-based) is a line start of log: 1, or just after a CR LF.
inline bool isLineStart(std::string_view log, std::int64_t position) {
  if (position == 1) return true;
  if (position < 3 || position > static_cast<std::int64_t>(log.size()) + 1) return false;
  return log[static_cast<std::size_t>(position - 3)] == '\r' && log[static_cast<std::size_t>(position - 2)] == '\n';
}

}  // namespace fuzz
