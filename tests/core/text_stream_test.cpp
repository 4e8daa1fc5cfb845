// A compressed file read as its text, through a stand-in decoder: reads
// and in-place views at random positions, forward, a little back and far
// back, give the text's bytes; the text cut short by a broken archive
// fails at the byte where it stops, after the bytes before it.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>

#include "core/failure.h"
#include "core/fileio.h"
#include "core/reader.h"
#include "core/unique_resource.h"
#include "core/text_stream.h"
#include "log_builder.h"

namespace velmora {
namespace {

using test::TempDir;

// "gzip" here: the archive is the magic number and the text itself, read
// in pieces of random size; a '!' in it is damage.
class StandIn final : public TextDecoder {
 public:
  explicit StandIn(ArchiveInput& in) : in_(in), random_(5) {
    char magic[2];
    in_.read(magic, 2);
  }
  std::size_t decode(char* out, std::size_t n) override {
    if (damageAt_ >= 0) throw ArchiveError("damage", damageAt_);
    const std::size_t want = std::min<std::size_t>(n, std::uniform_int_distribution<std::size_t>(1, 300000)(random_));
    const std::size_t got = in_.read(out, want);
    if (const auto* bang = std::find(out, out + got, '!'); bang != out + got) {
      damageAt_ = in_.offset() - static_cast<std::int64_t>(got) + (bang - out);
      if (bang == out) throw ArchiveError("damage", damageAt_);
      return static_cast<std::size_t>(bang - out);  // the bytes before it; the next call fails
    }
    return got;
  }
  ArchiveInput& in_;
  std::mt19937_64 random_;
  std::int64_t damageAt_ = -1;
};

bool supportsGzip(std::string_view format) { return format == "gzip"; }
int decodersMade = 0;  // each a decode from the archive's first byte
std::unique_ptr<TextDecoder> makeStandIn(std::string_view, ArchiveInput& in) {
  ++decodersMade;
  return std::make_unique<StandIn>(in);
}
const DecoderSet kStandIn{supportsGzip, makeStandIn};

struct Registered {
  Registered() { setDecoderSet(&kStandIn); }
  ~Registered() { setDecoderSet(nullptr); }
};

std::string textOf(std::size_t n) {
  std::string text;
  for (std::size_t i = 0; text.size() < n; ++i) text += "20050101;10:00:00;line " + std::to_string(i * 7919 % 100003) + "\r\n";
  return text;
}

TEST(TextStream, ReadsAndViewsAnywhereGiveTheText) {
  const Registered decoders;
  TempDir tmp;
  const std::string text = textOf(TextStream::kBackBuffer + (std::size_t{4} << 20));  // more than is held at once, going back too
  tmp.write("events.log.gz", "\x1f\x8b" + text);
  // Now and then the file is closed and opened again: its stream, kept in
  // whatever state the last read left it, goes on.
  keepArchiveStreams(1);
  const AtScopeEnd none([] { keepArchiveStreams(0); });
  std::optional<ReadFile> opened;
  opened.emplace(tmp.u16("events.log.gz"));
  ReadFile* file = &*opened;
  ASSERT_TRUE(file->streamed());
  EXPECT_EQ(file->size(), ReadFile::kUnknownLength);
  std::mt19937_64 random(11);
  const auto size = static_cast<std::int64_t>(text.size());
  std::int64_t at = 1;
  std::string out;
  for (int k = 0; k < 600; ++k) {
    if (k % 7 == 3) {
      opened.reset();
      opened.emplace(tmp.u16("events.log.gz"));
      file = &*opened;
    }
    const int move = std::uniform_int_distribution<int>(0, 9)(random);
    if (move == 0) {
      at = std::uniform_int_distribution<std::int64_t>(1, size + 10)(random);  // anywhere, far back too
    } else if (move == 1) {
      at = std::max<std::int64_t>(1, at - std::uniform_int_distribution<std::int64_t>(1, 200000)(random));
    } else {
      at += std::uniform_int_distribution<std::int64_t>(0, 120000)(random);
    }
    const auto n = std::uniform_int_distribution<std::size_t>(1, move == 2 ? 3 << 20 : 70000)(random);
    const std::string expected = at > size ? std::string() : text.substr(static_cast<std::size_t>(at - 1), n);
    SCOPED_TRACE("read " + std::to_string(k) + " at " + std::to_string(at) + " of " + std::to_string(n));
    if (k % 2 == 0) {
      out.assign(n, '\0');
      out.resize(file->readAt(at, out.data(), n));
      ASSERT_EQ(out, expected);
    } else {
      std::size_t got = 0;
      const char* p = file->view(at, n, got);
      ASSERT_EQ(std::string(p, got), expected);
      ASSERT_EQ(std::string(p + got, n - got + ReadFile::kViewPadding), std::string(n - got + ReadFile::kViewPadding, ' '));
    }
  }
  EXPECT_GT(file->restarts(), 0u);
  file->checkEnd();  // a whole archive: nothing to throw
}

// Each page of the viewer opens the archive afresh, looks at its head,
// then reads a window further back: the stream kept from the last open
// serves them with a few decodes in all, not one a page. An archive
// rewritten since is decoded anew.
TEST(TextStream, AnArchiveOpenedAgainGoesOnFromItsLastRead) {
  const Registered decoders;
  TempDir tmp;
  const std::string text = textOf(TextStream::kBackBuffer * 3 / 2);
  tmp.write("events.log.gz", "\x1f\x8b" + text);
  const auto size = static_cast<std::int64_t>(text.size());
  keepArchiveStreams(4);
  const AtScopeEnd none([] { keepArchiveStreams(0); });
  decodersMade = 0;
  std::string out;
  auto read = [&](ReadFile& file, std::int64_t at, std::size_t n) {
    out.assign(n, '\0');
    out.resize(file.readAt(at, out.data(), n));
    return out == text.substr(static_cast<std::size_t>(at - 1), n);
  };
  {
    ReadFile file(tmp.u16("events.log.gz"));
    ASSERT_EQ(file.textLength(), size);
  }
  constexpr std::int64_t kWindow = 256 << 10;
  for (std::int64_t hi = size + 1; hi > kWindow; hi -= kWindow) {
    SCOPED_TRACE("window before " + std::to_string(hi));
    ReadFile file(tmp.u16("events.log.gz"));
    ASSERT_EQ(file.textLength(), size);
    ASSERT_TRUE(read(file, 1, Reader::kScanWindow));
    std::size_t got = 0;
    const char* p = file.view(hi % 1000 + 1, 4000, got);
    ASSERT_EQ(std::string_view(p, got), std::string_view(text).substr(hi % 1000, 4000));
    ASSERT_TRUE(read(file, hi - kWindow, kWindow));
  }
  // One decode to the end, then one each time the reads went back past
  // what a stream going back holds.
  EXPECT_LE(decodersMade, 1 + static_cast<int>(text.size() / (TextStream::kBackBuffer / 2)) + 1);

  const std::string longer = text + textOf(1000);
  tmp.write("events.log.gz", "\x1f\x8b" + longer);
  ReadFile file(tmp.u16("events.log.gz"));
  EXPECT_EQ(file.textLength(), static_cast<std::int64_t>(longer.size()));
}

TEST(TextStream, ABrokenArchiveFailsWhereItsTextStops) {
  const Registered decoders;
  TempDir tmp;
  const std::string text = textOf(std::size_t{5} << 20);
  const std::size_t stop = 3'000'001;
  tmp.write("events.log.gz", "\x1f\x8b" + text.substr(0, stop) + "!" + text.substr(stop));
  ReadFile file(tmp.u16("events.log.gz"));
  std::string out;
  std::int64_t at = 1;
  for (;;) {
    out.assign(65536, '\0');
    std::size_t got = 0;
    try {
      got = file.readAt(at, out.data(), out.size());
    } catch (const Failure& f) {
      EXPECT_EQ(at, static_cast<std::int64_t>(stop) + 1);
      EXPECT_NE(describe(f).find("events.log.gz"), std::string::npos) << describe(f);
      EXPECT_NE(describe(f).find("stops after byte 3000001 of its text (at byte 3000003 of the archive)"),
                std::string::npos)
          << describe(f);
      EXPECT_THROW(file.checkEnd(), Failure);
      return;
    }
    ASSERT_EQ(out.substr(0, got), text.substr(static_cast<std::size_t>(at - 1), got));
    ASSERT_GT(got, 0u) << "the end came without the failure";
    at += static_cast<std::int64_t>(got);
  }
}

}  // namespace
}  // namespace velmora
