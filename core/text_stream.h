// A compressed log read as its text: the decoders live in a library of
// their own (decode/), which the tool registers here; the add-in registers
// none, so it never links a compression library and reads every file as
// it is. The core only buffers the decoded text and gives it positions.
//
// There is no random access into a compressed text: reads go forward. A
// read behind the bytes still held starts the decoder again from the
// archive's first byte and decodes up to it, so it costs a read of the
// archive up to there. The text's length is known only once its end has
// been decoded. The decoding runs on a second thread, a few MiB ahead of
// the reads.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/failure.h"
#include "text/text.h"

namespace velmora {

// The archive's bytes, in order from its first.
class ArchiveInput {
 public:
  virtual ~ArchiveInput() = default;
  // Up to n bytes; 0 only at the archive's end. Throws Failure.
  virtual std::size_t read(char* out, std::size_t n) = 0;
  virtual std::int64_t offset() const = 0;  // bytes read so far
};

// What a decoder throws when the archive is truncated or corrupt; offset:
// the archive's bytes the decoder had consumed (-1 when it cannot say).
class ArchiveError : public std::runtime_error {
 public:
  ArchiveError(const std::string& what, std::int64_t offset) : std::runtime_error(what), offset_(offset) {}
  std::int64_t offset() const { return offset_; }

 private:
  std::int64_t offset_;
};

class TextDecoder {
 public:
  virtual ~TextDecoder() = default;
  // Up to n bytes of the text; 0 only at its end. Concatenated members,
  // frames and streams read as one text. Throws ArchiveError.
  virtual std::size_t decode(char* out, std::size_t n) = 0;
};

// The formats a build can decode, and their decoders.
struct DecoderSet {
  bool (*supports)(std::string_view format);
  std::unique_ptr<TextDecoder> (*make)(std::string_view format, ArchiveInput& input);
};
// Registered once, before any log is opened; nullptr: none (every file is
// read as it is).
void setDecoderSet(const DecoderSet* set);
const DecoderSet* decoderSet();

// The decoded text of one archive, buffered for the reader: a window of the
// text that slides forward as it is read, keeping kKeepBehind bytes behind
// the last read for a scan that resumes a little before where a search
// stopped.
class TextStream {
 public:
  // The sizes are the stream's working memory: its buffer and what it keeps behind a read.
  static constexpr std::size_t kBuffer = std::size_t{4} << 20;
  static constexpr std::size_t kKeepBehind = std::size_t{256} << 10;
  // Once a read went behind the held text, the reads are going back (pages
  // and windows further back each time): the buffer grows to kBackBuffer
  // and keeps three quarters of it behind the reads, so that the next
  // windows back are still held rather than decoded again from the start.
  static constexpr std::size_t kBackBuffer = std::size_t{16} << 20;
  // The text's first bytes, kept apart: each new scan looks at the log's
  // head (its first record, the period's start), and without them a scan
  // of the text's end would decode it all again after each look.
  static constexpr std::size_t kHead = std::size_t{256} << 10;
  static constexpr std::size_t kPadding = 64;

  // open gives the archive's bytes from its first, afresh at each restart.
  TextStream(const DecoderSet& set, const char* format, std::function<std::unique_ptr<ArchiveInput>()> open,
             U16String path);
  ~TextStream();

  // As ReadFile's: the count of bytes read (fewer at the text's end).
  std::size_t readAt(std::int64_t position, char* out, std::size_t n);
  // n bytes from position in place, then kPadding readable bytes; bytes
  // past those read are spaces. Valid until the next call.
  const char* view(std::int64_t position, std::size_t n, std::size_t& got);
  // The text's end has been reached: throws the failure that cut it short.
  void checkEnd() const;
  bool broken() const { return broken_.has_value(); }
  // The whole text's length once its end has been decoded whole; else -1.
  std::int64_t textLength() const { return textLength_; }
  // The bytes decoded so far, and whether that is the whole text.
  std::int64_t decoded() const { return at_ + static_cast<std::int64_t>(length_) - 1; }
  bool ended() const { return ended_; }
  const char* format() const { return format_; }
  std::uint64_t restarts() const { return restarts_; }
  std::int64_t archiveRead() const { return input_ ? input_->offset() : 0; }

 private:
  // Holds the text from position for n bytes (fewer at its end) in buf_;
  // gives the offset of position in buf_.
  std::size_t hold(std::int64_t position, std::size_t n);
  // The read lies behind the held text and within the head kept apart;
  // got: the bytes of it there.
  bool fromHead(std::int64_t position, std::size_t n, std::size_t& got) const;
  void keepHead();
  void restart();
  void restore();
  void makeRoom(std::int64_t position, std::size_t n);
  void fail(const ArchiveError& e);
  std::size_t decode(char* out, std::size_t n);
  class Ahead;
  // The held text's memory: left unset until decoded into, so that a stream
  // opened to look at a log's head touches only the pages it decodes (and
  // no build, however unoptimised, walks its bytes to construct them).
  class Bytes {
   public:
    explicit Bytes(std::size_t n) : p_(std::make_unique_for_overwrite<char[]>(n)), n_(n) {}
    char* data() { return p_.get(); }
    std::size_t size() const { return n_; }
    // Keeps the bytes both sizes share; the rest is unset.
    void resize(std::size_t n) {
      auto p = std::make_unique_for_overwrite<char[]>(n);
      std::memcpy(p.get(), p_.get(), std::min(n, n_));
      p_ = std::move(p);
      n_ = n;
    }

   private:
    std::unique_ptr<char[]> p_;
    std::size_t n_;
  };

  const DecoderSet& set_;
  const char* format_;
  std::function<std::unique_ptr<ArchiveInput>()> open_;
  U16String path_;
  std::unique_ptr<ArchiveInput> input_;
  std::unique_ptr<TextDecoder> decoder_;
  // The decoder on a thread of its own, a few blocks ahead of the reads,
  // so that decoding and the reader's line cutting run at once.
  std::unique_ptr<Ahead> ahead_;
  bool aheadTried_ = false;
  // The first hold since the decoder started decodes on the reads' own
  // thread, no further than asked: a look at a log's head (its shape, its
  // first key) starts no thread and decodes no more than it reads.
  bool firstHold_ = true;
  Bytes buf_;
  std::vector<char> spaces_;  // a view past the text's end
  std::int64_t at_ = 1;      // the text position of buf_[0]
  std::size_t length_ = 0;   // decoded bytes held in buf_
  bool ended_ = false;
  bool back_ = false;  // a read went behind the held text
  std::vector<char> head_;  // the text's first bytes, up to kHead
  std::int64_t textLength_ = -1;
  std::optional<Failure> broken_;  // the archive stopped before its text's end
  char saved_[kPadding] = {};
  std::size_t savedAt_ = 0, savedLength_ = 0;
  std::uint64_t restarts_ = 0;
};

}  // namespace velmora
