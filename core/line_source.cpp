#include "core/line_source.h"

#include <algorithm>
#include <cstring>

namespace velmora::lines {

LineSource::LineSource(ReadFile& file, const SourceOptions& options)
    : file_(file), options_(options), size_(file.size()) {}

std::size_t LineSource::read(std::int64_t position, std::size_t n, bool copied) {
  static_assert(ReadFile::kViewPadding >= kWindowPadding);
  std::size_t got = 0;
  const char* view = copied ? nullptr : file_.view(position, n, got);
  if (view != nullptr) {
    window_ = view;
  } else {
    const std::size_t room = n + kWindowPadding;
    if (buffer_.size() < room) buffer_.resize(room);
    got = file_.readAt(position, buffer_.data(), n);
    // Past the bytes read the window holds spaces, never a line end.
    std::memset(buffer_.data() + got, ' ', room - got);
    window_ = buffer_.data();
  }
  windowAt_ = position;
  ++windows_;
  if (options_.progress != nullptr && *options_.progress) {
    std::int64_t done = 0, total = 0;
    file_.progressAt(position - 1 + static_cast<std::int64_t>(got), done, total);
    (*options_.progress)(done, total);
  }
  return got;
}

char* LineSource::probe(std::int64_t position, std::size_t n) {
  read(position, n, true);
  return buffer_.data();
}

std::int64_t LineSource::lineEnd(std::int64_t position) {
  return followLine<false>(file_, position, size_, scratch(), [](std::int64_t, std::string_view) {});
}

std::vector<char>& LineSource::scratch() {
  if (scratch_.empty()) scratch_.resize(kLongLinePiece);
  return scratch_;
}

}  // namespace velmora::lines
