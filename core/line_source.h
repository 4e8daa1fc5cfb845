// The walk over the log's lines that the record loops share: it reads the
// log in windows, cuts them at CR LF, follows a line longer than a window to
// its end under the consumer's policy, stops record::kEndMargin bytes before
// the end and leaves an unterminated last line for a later call. Consumers
// only consume lines.
//
// Invariants of a walk:
//  - A window starts at a line start and holds window bytes (fewer at the
//    end of the log), followed by lines::kWindowPadding readable bytes; the
//    bytes past those read are spaces, so they hold no line end and a key
//    read at a short last line's start stays inside the buffer.
//  - A line handed to line() ends with CR LF inside the window; its bytes
//    up to lines::kCutBlock past its CR are readable.
//  - The walk goes on while the next line starts at or before the log's
//    length (found at open) less kEndMargin; it returns the position of
//    the first line not consumed, where a later walk resumes.
//  - A window without a complete line that reaches the log's end holds its
//    unterminated last line (still being written): the walk ends at its
//    start. Elsewhere such a window lies inside a line longer than the
//    window, which is followed to its CR LF within the length found at
//    open; without one there it is left like an unterminated line.
//  - A log found shorter than at open (cut meanwhile) throws when the
//    options say so; otherwise the line it cut is left like an
//    unterminated one.
//  - The end of a compressed text whose archive broke off throws, once the
//    lines before it are consumed.
//  - No allocation per line: the window buffer, the scratch of long lines
//    and the gathered line are reused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "core/failure.h"
#include "core/unique_resource.h"
#include "core/fileio.h"
#include "core/lines.h"
#include "core/long_lines.h"
#include "core/record_format.h"

namespace velmora::lines {

// What a walk does with a line longer than a window.
enum class LongLines {
  Skip,         // follow it to its end; longLine() sees its start and end
  Gather,       // the same, its first bytes up to the consumer's limit gathered
  CopyThrough,  // inspect() sees its bytes before the CR, then copy() the whole line with its CR LF
};

struct SourceOptions {
  std::size_t window = 65536;
  // Windows in place in the file's read-ahead block when they follow on
  // (copied when they do not); false copies every window, so that the
  // consumer may write into its lines.
  bool inPlace = true;
  // No window reaches past the length found at open: lines appended
  // meanwhile are left out.
  bool withinOpenLength = false;
  // A log cut meanwhile throws (a copy cannot be whole); otherwise the line
  // it cut is left for a later call.
  bool cutThrows = false;
  // Called once per window: bytes done so far and the log's length.
  const std::function<void(std::int64_t, std::int64_t)>* progress = nullptr;

  // What a copy of the log needs: windows it may write into, nothing past
  // the length found at open (records appended meanwhile are left out), and
  // a cut log refused, since the copy could not be whole.
  static SourceOptions forCopy(std::size_t window, const std::function<void(std::int64_t, std::int64_t)>* progress) {
    SourceOptions o;
    o.window = window;
    o.inPlace = false;
    o.withinOpenLength = true;
    o.cutThrows = true;
    o.progress = progress;
    return o;
  }
};

// A line longer than a window, as longLine() sees it.
struct LongLine {
  std::int64_t start = 0;  // position of its first byte
  std::int64_t cr = 0;     // position of its CR
  // The window at its start: a window's worth of its first bytes, padded.
  std::string_view head;
  // Gather: its first bytes up to the limit, followed by kCutBlock spaces;
  // whole when that is all of it.
  std::string_view gathered;
  bool whole = false;
};

class LineSource {
 public:
  LineSource(ReadFile& file, const SourceOptions& options);

  // Walks the lines from position from (a line start, 1 or more) on, as the
  // invariants above say, and gives the position of the first line not
  // consumed. Consumer:
  //   static constexpr LongLines kLongLines;
  //   static constexpr bool kWritesLines;        optional: line() gets char*
  //   bool line(const char* begin, const char* cr);  false: end after it
  //   void consumed(const char* begin, const char* end);  optional: the
  //       window's lines consumed, [begin, end), after their line() calls
  //   void windowDone(std::int64_t next);  optional: the lines before next
  //       are consumed and the walk goes on to read from next (the last
  //       window's end is the walk's own end)
  //   bool longLine(const LongLine&);                false: end after it
  //   std::size_t gatherLimit(std::string_view head);          Gather
  //   void inspect(std::int64_t offset, std::string_view piece);  CopyThrough:
  //       the bytes before the CR; offset: the line's bytes before the piece
  //   void copy(std::int64_t offset, char* piece, std::size_t n);  CopyThrough,
  //       after longLine(): the line with its CR LF; the piece may be
  //       written before it is used
  //   const char* window(const char* buf, const char* end, const char* limit, bool& go);
  //       optional: before a window's lines, [buf, end), are handed out one
  //       by one; it may consume complete lines itself, from buf up to
  //       limit, and gives the start of the first it did not (buf: none);
  //       go false ends the walk after them
  // Lines that start at or after stopAt are not handed out (another walk's),
  // though each window is decided on whole, as in a walk without a stop; a
  // line that starts before stopAt is this walk's even when it ends after
  // it. reachedStop() then says whether the walk got there.
  static constexpr std::int64_t kNoStop = INT64_MAX;
  template <class Consumer>
  std::int64_t walk(std::int64_t from, Consumer& consumer, std::int64_t stopAt = kNoStop);
  bool reachedStop() const { return reachedStop_; }

  // A probe of the start search: n bytes from any position (a line start
  // or not), copied, followed by kWindowPadding bytes; bytes past those the
  // log has are spaces. The caller may write into them. It counts as a
  // window and reports progress as one. Valid until the next read.
  char* probe(std::int64_t position, std::size_t n);
  // The CR of the line that holds position, followed within the length
  // found at open; -1 when it has none there (an unterminated last line).
  std::int64_t lineEnd(std::int64_t position);
  // The size of the windows of the walks from now on.
  void setWindow(std::size_t bytes) { options_.window = bytes; }

  std::int64_t size() const { return size_; }  // the log's length at open
  // During line(): the position of a byte of the window.
  std::int64_t positionOf(const char* p) const { return windowAt_ + (p - window_); }
  std::uint64_t windows() const { return windows_; }

 private:
  // Reads the window at position: n bytes and the padding; gives the bytes
  // the log had there.
  std::size_t read(std::int64_t position, std::size_t n, bool copied);
  std::vector<char>& scratch();

  ReadFile& file_;
  SourceOptions options_;
  std::int64_t size_;
  const char* window_ = nullptr;
  std::int64_t windowAt_ = 0;
  std::vector<char> buffer_;   // a copied window
  std::vector<char> scratch_;  // pieces of a long line
  std::string gathered_;       // a long line gathered
  std::uint64_t windows_ = 0;
  bool reachedStop_ = false;
};

template <class Consumer>
std::int64_t LineSource::walk(std::int64_t from, Consumer& consumer, std::int64_t stopAt) {
  constexpr bool writes = [] {
    if constexpr (requires { Consumer::kWritesLines; }) return Consumer::kWritesLines;
    return false;
  }();
  using Byte = std::conditional_t<writes, char, const char>;
  const bool copied = writes || !options_.inPlace;
  // The window's size: at most the log's length when windows stay within it.
  const auto W = options_.withinOpenLength
                     ? static_cast<std::size_t>(std::min<std::int64_t>(size_, static_cast<std::int64_t>(options_.window)))
                     : options_.window;
  std::int64_t pos = from;
  reachedStop_ = false;
  for (;;) {
    if (pos >= stopAt) {
      reachedStop_ = true;
      return pos;
    }
    if constexpr (requires { consumer.windowDone(pos); }) {
      if (pos != from) consumer.windowDone(pos);
    }
    const auto want = options_.withinOpenLength
                          ? static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(W), size_ - pos + 1))
                          : W;
    const std::size_t got = read(pos, want, copied);
    if (got < want && options_.cutThrows && options_.withinOpenLength) throwLogCut(file_.path());
    Byte* buf;
    if constexpr (writes) {
      buf = buffer_.data();
    } else {
      buf = window_;
    }
    Byte* end = buf + want;
    // The first line start at or after stopAt (pos, a line start, lies
    // before it), or the window's end.
    Byte* limit = end;
    if (stopAt - pos < static_cast<std::int64_t>(want)) {
      const auto stop = static_cast<std::size_t>(stopAt - pos);
      if (const char* cr = findLineEnd(buf + (stop < 2 ? 0 : stop - 2), end)) limit = buf + (cr - buf) + 2;
    }
    Byte* c = buf;
    bool go = true;
    if constexpr (requires { consumer.window(c, c, c, go); }) c = buf + (consumer.window(buf, end, limit, go) - buf);
    if (go) {
      LineEnds ends(c, limit);
      while (const char* d = ends.next()) {
        Byte* cr = buf + (d - buf);
        go = consumer.line(c, cr);
        c = cr + 2;
        if (!go) break;
      }
    }
    if (c != buf) {
      if constexpr (requires { consumer.consumed(c, c); }) consumer.consumed(buf, c);
      pos += c - buf;
      if (size_ - record::kEndMargin < pos || !go) return pos;
      continue;
    }
    if (got < want || size_ - pos < static_cast<std::int64_t>(W)) {
      // The end of a compressed text may be where its archive broke off.
      if (got < want) file_.checkEnd();
      return pos;
    }

    LongLine line;
    line.start = pos;
    line.head = std::string_view(window_, want);
    constexpr LongLines policy = Consumer::kLongLines;
    std::size_t gatherUpTo = 0;
    if constexpr (policy == LongLines::Gather) {
      gatherUpTo = consumer.gatherLimit(line.head);
      gathered_.clear();
    }
    bool over = false;
    auto onPiece = [&](std::int64_t at, std::string_view piece) {
      if constexpr (policy == LongLines::Gather) {
        if (over) return;
        if (piece.size() > gatherUpTo - gathered_.size()) {
          gathered_.append(piece.substr(0, gatherUpTo - gathered_.size()));
          over = true;
          return;
        }
        gathered_.append(piece);
      } else if constexpr (policy == LongLines::CopyThrough) {
        consumer.inspect(at - pos, piece);
      }
    };
    const std::int64_t cr = options_.cutThrows ? followLine<true>(file_, pos, size_, scratch(), onPiece)
                                               : followLine<false>(file_, pos, size_, scratch(), onPiece);
    if (cr < 0) {
      file_.checkEnd();
      return pos;
    }
    line.cr = cr;
    if constexpr (policy == LongLines::Gather) {
      line.whole = !over;
      const std::size_t length = gathered_.size();
      gathered_.append(kCutBlock, ' ');  // room for the cutting's block reads
      line.gathered = std::string_view(gathered_.data(), length);
    }
    go = consumer.longLine(line);
    if constexpr (policy == LongLines::Gather) {
      if (over) {
        // A line over the limit is a damaged stretch, not a record: what
        // was gathered of it is not kept for the next long line.
        gathered_.clear();
        gathered_.shrink_to_fit();
      }
    }
    if constexpr (policy == LongLines::CopyThrough) {
      readPieces(file_, pos, cr + 1, scratch(), [&](std::int64_t at, std::string_view piece) {
        consumer.copy(at - pos, scratch_.data(), piece.size());
      });
    }
    pos = cr + 2;
    if (size_ - record::kEndMargin < pos || !go) return pos;
  }
}

}  // namespace velmora::lines
