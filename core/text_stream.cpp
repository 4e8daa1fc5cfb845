#include "core/text_stream.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace velmora {
namespace {

std::atomic<const DecoderSet*> gDecoders{nullptr};

// The least room a decode gets: smaller calls would cost more than they move.
constexpr std::size_t kMinRoom = std::size_t{64} << 10;

}  // namespace

// Decodes on a thread of its own into kBlocks blocks, which the reads take
// in order; what the decoder throws reaches the reads after the bytes it
// decoded before.
class TextStream::Ahead {
 public:
  static constexpr std::size_t kBlocks = 4;
  static constexpr std::size_t kBlock = std::size_t{1} << 20;
  static constexpr std::size_t kFirstBlock = std::size_t{16} << 10;

  explicit Ahead(TextDecoder& decoder) : decoder_(decoder) {
    // Zeroed here, on the reads' thread: the decoding thread, the one that
    // sets the pace, then meets no fresh page. Small at first, since most
    // archives looked into are small; a block given back grows (in take).
    for (std::size_t i = 0; i < kBlocks; ++i) free_.emplace_back(kFirstBlock << i);
    thread_ = std::thread([this] { run(); });  // throws std::system_error when no thread is to be had
  }
  ~Ahead() {
    {
      const std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }

  // Up to n decoded bytes; 0 at the text's end. Rethrows what the decoder threw.
  std::size_t take(char* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      if (takenFrom_ == current_.size()) {
        if (current_.capacity() != 0 && current_.capacity() < kBlock)
          current_ = std::vector<char>(std::min(kBlock, current_.capacity() * 8));
        std::unique_lock<std::mutex> lock(m_);
        if (!current_.empty() || current_.capacity() != 0) free_.push_back(std::move(current_));
        current_ = {};
        takenFrom_ = 0;
        cv_.notify_all();
        // Bytes already taken go out first; a wait would only delay them.
        if (done > 0 && full_.empty()) return done;
        cv_.wait(lock, [&] { return !full_.empty() || finished_; });
        if (full_.empty()) {
          if (done > 0) return done;
          if (error_) std::rethrow_exception(error_);
          return 0;
        }
        current_ = std::move(full_.front());
        full_.pop_front();
      }
      const std::size_t k = std::min(n - done, current_.size() - takenFrom_);
      std::memcpy(out + done, current_.data() + takenFrom_, k);
      takenFrom_ += k;
      done += k;
    }
    return done;
  }

 private:
  void run() {
    for (;;) {
      std::vector<char> block;
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return stop_ || !free_.empty(); });
        if (stop_) return;
        block = std::move(free_.back());
        free_.pop_back();
      }
      block.resize(block.capacity());
      std::size_t got = 0;
      std::exception_ptr error;
      bool end = false;
      try {
        while (got < block.size()) {
          const std::size_t k = decoder_.decode(block.data() + got, block.size() - got);
          if (k == 0) {
            end = true;
            break;
          }
          got += k;
        }
      } catch (...) {
        error = std::current_exception();
        end = true;
      }
      block.resize(got);
      {
        const std::lock_guard<std::mutex> lock(m_);
        try {
          if (got > 0) full_.push_back(std::move(block));
        } catch (...) {
          // Memory run out here reaches the reads too, not the thread's end.
          error = std::current_exception();
          end = true;
        }
        if (end) {
          finished_ = true;
          error_ = error;
        }
      }
      cv_.notify_all();
      if (end) return;
    }
  }

  TextDecoder& decoder_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::vector<char>> free_;
  std::deque<std::vector<char>> full_;
  std::vector<char> current_;  // the block being taken from
  std::size_t takenFrom_ = 0;
  bool stop_ = false, finished_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

void setDecoderSet(const DecoderSet* set) { gDecoders.store(set); }
const DecoderSet* decoderSet() { return gDecoders.load(); }

TextStream::TextStream(const DecoderSet& set, const char* format, std::function<std::unique_ptr<ArchiveInput>()> open,
                       U16String path)
    : set_(set), format_(format), open_(std::move(open)), path_(std::move(path)), buf_(kBuffer + kPadding) {
  restart();
  restarts_ = 0;
}

TextStream::~TextStream() { ahead_.reset(); }

std::size_t TextStream::decode(char* out, std::size_t n) {
  if (!aheadTried_) {
    aheadTried_ = true;
    try {
      ahead_ = std::make_unique<Ahead>(*decoder_);
    } catch (const std::system_error&) {
      // No thread to be had: the reads decode for themselves.
    }
  }
  return ahead_ ? ahead_->take(out, n) : decoder_->decode(out, n);
}

void TextStream::restart() {
  ahead_.reset();  // its thread ends before the decoder it uses goes
  aheadTried_ = false;
  firstHold_ = true;
  decoder_.reset();
  input_ = open_();
  decoder_ = set_.make(format_, *input_);
  at_ = 1;
  length_ = 0;
  ended_ = false;
  broken_.reset();
  savedLength_ = 0;
  ++restarts_;
}

void TextStream::fail(const ArchiveError& e) {
  ended_ = true;
  // The decoded text ends before its last byte: where, in the text and (when
  // the decoder says) in the archive, and what the decoder found there.
  std::string where = "the " + std::string(format_) + " archive stops after byte " + std::to_string(decoded()) +
                      " of its text";
  if (e.offset() >= 0) where += " (at byte " + std::to_string(e.offset()) + " of the archive)";
  where += ": ";
  where += e.what();
  broken_.emplace(FailureKind::Io, path_, 0, FileAction::Read, fromUtf8(where));
}

void TextStream::checkEnd() const {
  if (broken_) throw *broken_;
}

void TextStream::restore() {
  if (savedLength_ == 0) return;
  std::memcpy(buf_.data() + savedAt_, saved_, savedLength_);
  savedLength_ = 0;
}

void TextStream::makeRoom(std::int64_t position, std::size_t n) {
  // Keep what lies up to kKeepBehind before the read (or before the end of
  // what is held, when the read lies past it); drop the rest.
  const std::int64_t end = at_ + static_cast<std::int64_t>(length_);
  const std::size_t behind = back_ ? (buf_.size() - kPadding) / 4 * 3 : kKeepBehind;
  const std::int64_t keep =
      std::clamp<std::int64_t>(std::min(position, end) - static_cast<std::int64_t>(behind), at_, end);
  const auto drop = static_cast<std::size_t>(keep - at_);
  if (drop > 0) {
    std::memmove(buf_.data(), buf_.data() + drop, length_ - drop);
    length_ -= drop;
    at_ = keep;
  }
  // Still no room (a read larger than the buffer less what is kept behind
  // it): the buffer grows to hold it.
  const std::size_t cap = buf_.size() - kPadding;
  if (cap - length_ < kMinRoom) {
    const std::int64_t need = std::max<std::int64_t>(position - at_, 0) + static_cast<std::int64_t>(n);
    buf_.resize(std::max(length_ + kMinRoom, static_cast<std::size_t>(need)) + kPadding);
  }
}

std::size_t TextStream::hold(std::int64_t position, std::size_t n) {
  if (position < at_) {
    // Behind what is held: decode again from the start.
    if (!back_) {
      back_ = true;
      buf_.resize(kBackBuffer + kPadding);
    }
    restart();
  }
  const auto want = position + static_cast<std::int64_t>(n);
  while (!ended_ && at_ + static_cast<std::int64_t>(length_) < want) {
    std::size_t cap = buf_.size() - kPadding;
    if (cap - length_ < kMinRoom) {
      makeRoom(position, n);
      cap = buf_.size() - kPadding;
    }
    try {
      std::size_t room = cap - length_;
      if (firstHold_) room = std::min(room, std::max(kMinRoom, static_cast<std::size_t>(want - (at_ + static_cast<std::int64_t>(length_)))));
      const std::size_t got = firstHold_ ? decoder_->decode(buf_.data() + length_, room) : decode(buf_.data() + length_, room);
      length_ += got;
      ended_ = got == 0;
      if (ended_) textLength_ = decoded();
      keepHead();
    } catch (const ArchiveError& e) {
      fail(e);
    }
  }
  firstHold_ = false;
  // At the text's end a read may reach past the buffer: keep it inside.
  const std::size_t cap = buf_.size() - kPadding;
  if (position >= at_ && position < at_ + static_cast<std::int64_t>(length_) &&
      static_cast<std::size_t>(position - at_) + n > cap) {
    const auto drop = static_cast<std::size_t>(position - at_);
    std::memmove(buf_.data(), buf_.data() + drop, length_ - drop);
    length_ -= drop;
    at_ = position;
    if (n > buf_.size() - kPadding) buf_.resize(n + kPadding);
  }
  return static_cast<std::size_t>(position - at_);
}

void TextStream::keepHead() {
  const auto kept = static_cast<std::int64_t>(head_.size());
  if (kept == static_cast<std::int64_t>(kHead) || at_ > kept + 1) return;
  const std::int64_t end = std::min(decoded(), static_cast<std::int64_t>(kHead));
  if (end <= kept) return;
  const char* from = buf_.data() + (kept + 1 - at_);
  if (head_.empty()) head_.reserve(kHead);
  head_.insert(head_.end(), from, from + (end - kept));
}

bool TextStream::fromHead(std::int64_t position, std::size_t n, std::size_t& got) const {
  const auto kept = static_cast<std::int64_t>(head_.size());
  const bool whole = textLength_ == kept;  // the head is all the text
  if (position >= at_ || (position + static_cast<std::int64_t>(n) - 1 > kept && !whole)) return false;
  got = static_cast<std::size_t>(std::clamp<std::int64_t>(kept - position + 1, 0, static_cast<std::int64_t>(n)));
  return true;
}

std::size_t TextStream::readAt(std::int64_t position, char* out, std::size_t n) {
  restore();
  if (std::size_t got = 0; fromHead(position, n, got)) {
    if (got > 0) std::memcpy(out, head_.data() + (position - 1), got);
    return got;
  }
  const std::size_t off = hold(position, n);
  const std::int64_t held = at_ + static_cast<std::int64_t>(length_) - position;
  const std::size_t got = held <= 0 ? 0 : std::min(n, static_cast<std::size_t>(held));
  if (got == 0 && n > 0) checkEnd();
  if (got > 0) std::memcpy(out, buf_.data() + off, got);
  return got;
}

const char* TextStream::view(std::int64_t position, std::size_t n, std::size_t& got) {
  restore();
  if (fromHead(position, n, got)) {
    spaces_.assign(n + kPadding, ' ');
    if (got > 0) std::memcpy(spaces_.data(), head_.data() + (position - 1), got);
    return spaces_.data();
  }
  const std::size_t off = hold(position, n);
  const std::int64_t held = at_ + static_cast<std::int64_t>(length_) - position;
  got = held <= 0 ? 0 : std::min(n, static_cast<std::size_t>(held));
  if (got == 0) {
    if (n > 0) checkEnd();
    spaces_.assign(n + kPadding, ' ');
    return spaces_.data();
  }
  // Past the bytes read: spaces up to the padding's end. Those of the
  // held text are kept and put back before the buffer is used again.
  char* const p = buf_.data() + off;
  const std::size_t after = off + got;
  savedAt_ = after;
  savedLength_ = std::min(n + kPadding - got, length_ - after);
  std::memcpy(saved_, p + got, savedLength_);
  std::memset(p + got, ' ', n + kPadding - got);
  return p;
}

}  // namespace velmora
