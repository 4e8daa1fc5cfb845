#include "decode/decoders.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "core/text_stream.h"

#ifdef VELMORA_WITH_GZIP
#include <zlib.h>
#endif
#ifdef VELMORA_WITH_ZSTD
#include <zstd.h>
#endif
#ifdef VELMORA_WITH_BZIP2
#include <bzlib.h>
#endif
#ifdef VELMORA_WITH_XZ
#include <lzma.h>
#endif

namespace velmora {
namespace {

// The archive is read in blocks of this size.
constexpr std::size_t kInput = std::size_t{256} << 10;
// Each library counts its buffers in unsigned int.
constexpr std::size_t kMaxCall = std::size_t{1} << 30;

// The archive's bytes in blocks, as the libraries take them.
class Input {
 public:
  explicit Input(ArchiveInput& in) : in_(in), block_(kInput) {}
  // Reads the next block; false at the archive's end.
  bool refill(const unsigned char*& next, std::size_t& avail) {
    if (end_) return false;
    const std::size_t got = in_.read(reinterpret_cast<char*>(block_.data()), block_.size());
    end_ = got == 0;
    next = block_.data();
    avail = got;
    return !end_;
  }
  bool end() const { return end_; }
  // The archive bytes the library has consumed, avail of the read ones left.
  std::int64_t consumed(std::size_t avail) const { return in_.offset() - static_cast<std::int64_t>(avail); }

 private:
  ArchiveInput& in_;
  std::vector<unsigned char> block_;
  bool end_ = false;
};

// Unused in a build that has none of the libraries.
[[noreturn, maybe_unused]] void truncated(std::int64_t offset) {
  throw ArchiveError("the archive ends inside its compressed data (a truncated file)", offset);
}

#ifdef VELMORA_WITH_GZIP
// Members one after another (as pigz and appending writers make) read as
// one text.
class GzipDecoder final : public TextDecoder {
 public:
  explicit GzipDecoder(ArchiveInput& in) : in_(in) {
    if (inflateInit2(&z_, 15 + 16) != Z_OK) throw std::bad_alloc();
  }
  ~GzipDecoder() override { inflateEnd(&z_); }

  std::size_t decode(char* out, std::size_t n) override {
    n = std::min(n, kMaxCall);
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(n);
    while (z_.avail_out == n) {
      if (z_.avail_in == 0) refill();
      if (memberEnded_) {
        if (z_.avail_in == 0) return 0;  // the archive's end after a whole member
        inflateReset(&z_);               // another member follows
        memberEnded_ = false;
      }
      if (z_.avail_in == 0) truncated(in_.consumed(0));
      const int r = inflate(&z_, Z_NO_FLUSH);
      if (r == Z_STREAM_END) {
        memberEnded_ = true;
      } else if (r != Z_OK) {
        throw ArchiveError(std::string("corrupt gzip data (") + (z_.msg != nullptr ? z_.msg : "no detail") + ")",
                           in_.consumed(z_.avail_in));
      }
    }
    return n - z_.avail_out;
  }

 private:
  void refill() {
    const unsigned char* next = nullptr;
    std::size_t avail = 0;
    if (!in_.refill(next, avail)) return;
    z_.next_in = const_cast<Bytef*>(next);  // zlib's interface is not const; it only reads
    z_.avail_in = static_cast<uInt>(avail);
  }

  Input in_;
  z_stream z_{};
  bool memberEnded_ = false;
};
#endif

#ifdef VELMORA_WITH_ZSTD
// Frames one after another (zstd -T, appending writers) read as one text.
class ZstdDecoder final : public TextDecoder {
 public:
  explicit ZstdDecoder(ArchiveInput& in) : in_(in), d_(ZSTD_createDStream()) {
    if (d_ == nullptr) throw std::bad_alloc();
  }
  ~ZstdDecoder() override { ZSTD_freeDStream(d_); }

  std::size_t decode(char* out, std::size_t n) override {
    ZSTD_outBuffer o{out, n, 0};
    for (;;) {
      if (inb_.pos == inb_.size && !in_.end()) {
        const unsigned char* next = nullptr;
        std::size_t avail = 0;
        in_.refill(next, avail);
        inb_ = ZSTD_inBuffer{next, avail, 0};
      }
      const bool noInput = inb_.pos == inb_.size && in_.end();
      // After a whole frame with nothing left to read: the text's end.
      if (noInput && last_ == 0) return 0;
      const std::size_t r = ZSTD_decompressStream(d_, &o, &inb_);
      if (ZSTD_isError(r)) {
        throw ArchiveError(std::string("corrupt zstd data (") + ZSTD_getErrorName(r) + ")",
                           in_.consumed(inb_.size - inb_.pos));
      }
      last_ = r;
      if (o.pos > 0) return o.pos;
      if (noInput) truncated(in_.consumed(0));  // inside a frame
    }
  }

 private:
  Input in_;
  ZSTD_DStream* d_;
  ZSTD_inBuffer inb_{nullptr, 0, 0};
  std::size_t last_ = 1;  // what the last call said: 0 at a frame's end
};
#endif

#ifdef VELMORA_WITH_BZIP2
// Streams one after another (pbzip2) read as one text.
class Bzip2Decoder final : public TextDecoder {
 public:
  explicit Bzip2Decoder(ArchiveInput& in) : in_(in) { init(); }
  ~Bzip2Decoder() override { BZ2_bzDecompressEnd(&s_); }

  std::size_t decode(char* out, std::size_t n) override {
    n = std::min(n, kMaxCall);
    s_.next_out = out;
    s_.avail_out = static_cast<unsigned>(n);
    while (s_.avail_out == n) {
      if (s_.avail_in == 0) refill();
      if (streamEnded_) {
        if (s_.avail_in == 0) return 0;
        // Another stream follows: a fresh decoder over the bytes left.
        char* next = s_.next_in;
        const unsigned avail = s_.avail_in;
        BZ2_bzDecompressEnd(&s_);
        init();
        s_.next_in = next;
        s_.avail_in = avail;
        s_.next_out = out;
        s_.avail_out = static_cast<unsigned>(n);
        streamEnded_ = false;
      }
      if (s_.avail_in == 0) truncated(in_.consumed(0));
      const int r = BZ2_bzDecompress(&s_);
      if (r == BZ_STREAM_END) {
        streamEnded_ = true;
      } else if (r != BZ_OK) {
        throw ArchiveError("corrupt bzip2 data (error " + std::to_string(r) + ")", in_.consumed(s_.avail_in));
      }
    }
    return n - s_.avail_out;
  }

 private:
  void init() {
    s_ = bz_stream{};
    if (BZ2_bzDecompressInit(&s_, 0, 0) != BZ_OK) throw std::bad_alloc();
  }
  void refill() {
    const unsigned char* next = nullptr;
    std::size_t avail = 0;
    if (!in_.refill(next, avail)) return;
    s_.next_in = const_cast<char*>(reinterpret_cast<const char*>(next));  // libbz2's interface is not const; it only reads
    s_.avail_in = static_cast<unsigned>(avail);
  }

  Input in_;
  bz_stream s_{};
  bool streamEnded_ = false;
};
#endif

#ifdef VELMORA_WITH_XZ
// Streams one after another (xz -T, appending writers) read as one text.
class XzDecoder final : public TextDecoder {
 public:
  explicit XzDecoder(ArchiveInput& in) : in_(in) {
    if (lzma_stream_decoder(&s_, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) throw std::bad_alloc();
  }
  ~XzDecoder() override { lzma_end(&s_); }

  std::size_t decode(char* out, std::size_t n) override {
    if (done_) return 0;
    s_.next_out = reinterpret_cast<std::uint8_t*>(out);
    s_.avail_out = n;
    while (s_.avail_out == n) {
      if (s_.avail_in == 0 && !in_.end()) {
        const unsigned char* next = nullptr;
        std::size_t avail = 0;
        in_.refill(next, avail);
        s_.next_in = next;
        s_.avail_in = avail;
      }
      const lzma_ret r = lzma_code(&s_, s_.avail_in == 0 && in_.end() ? LZMA_FINISH : LZMA_RUN);
      if (r == LZMA_STREAM_END) {
        done_ = true;
        break;
      }
      if (r == LZMA_BUF_ERROR) truncated(in_.consumed(s_.avail_in));
      if (r == LZMA_MEM_ERROR) throw std::bad_alloc();
      if (r != LZMA_OK) {
        throw ArchiveError("corrupt xz data (error " + std::to_string(static_cast<int>(r)) + ")",
                           in_.consumed(s_.avail_in));
      }
    }
    return n - s_.avail_out;
  }

 private:
  Input in_;
  lzma_stream s_ = LZMA_STREAM_INIT;
  bool done_ = false;
};
#endif

bool supports(std::string_view format) {
#ifdef VELMORA_WITH_GZIP
  if (format == "gzip") return true;
#endif
#ifdef VELMORA_WITH_ZSTD
  if (format == "zstd") return true;
#endif
#ifdef VELMORA_WITH_BZIP2
  if (format == "bzip2") return true;
#endif
#ifdef VELMORA_WITH_XZ
  if (format == "xz") return true;
#endif
  return false;
}

std::unique_ptr<TextDecoder> make(std::string_view format, ArchiveInput& in) {
#ifdef VELMORA_WITH_GZIP
  if (format == "gzip") return std::make_unique<GzipDecoder>(in);
#endif
#ifdef VELMORA_WITH_ZSTD
  if (format == "zstd") return std::make_unique<ZstdDecoder>(in);
#endif
#ifdef VELMORA_WITH_BZIP2
  if (format == "bzip2") return std::make_unique<Bzip2Decoder>(in);
#endif
#ifdef VELMORA_WITH_XZ
  if (format == "xz") return std::make_unique<XzDecoder>(in);
#endif
  (void)in;
  return nullptr;
}

constexpr DecoderSet kDecoders{supports, make};

}  // namespace

void registerDecoders() { setDecoderSet(&kDecoders); }

std::string missingFormats() {
  std::string out;
  for (const char* name : {"gzip", "zstd", "bzip2", "xz"}) {
    if (supports(name)) continue;
    if (!out.empty()) out += ", ";
    out += name;
  }
  return out;
}

}  // namespace velmora
