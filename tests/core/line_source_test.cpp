// The line walk under every long-line policy and window mode, with and
// without a stop and a window hook, over random logs of lines of every
// length against windows of a few bytes: what the consumer gets is the log's
// lines from the start, whole and in order, none from the stop on, and the
// walk ends only at the stop, within the end margin or before a rest
// without CR LF.
#include "core/line_source.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "log_builder.h"

namespace velmora {
namespace {

using lines::LongLine;
using lines::LongLines;

// Gathers all a walk hands out as the log's bytes, each line with its
// CR LF, and checks what a long line's policy gives against the log.
// Hooked: it takes the first line of each window itself, through the
// window hook.
template <LongLines Policy, bool Hooked = false>
struct Collector {
  static constexpr LongLines kLongLines = Policy;
  Collector(const std::string& bytes, std::size_t gatherUpTo, const lines::LineSource& walk)
      : log(bytes), limit(gatherUpTo), source(walk) {}
  const std::string& log;
  std::size_t limit;
  const lines::LineSource& source;
  std::int64_t lastStart = 0;  // of the last line handed out
  std::string out, pieces, copied, expectedCopies;
  std::size_t copyFrom = 0;  // where the current long line's copy begins

  bool line(const char* begin, const char* cr) {
    lastStart = source.positionOf(begin);
    out.append(begin, static_cast<std::size_t>(cr + 2 - begin));
    return true;
  }
  const char* window(const char* buf, const char*, const char* limit, bool&)
    requires Hooked
  {
    const char* cr = lines::findLineEnd(buf, limit);
    if (cr == nullptr || cr + 2 > limit) return buf;
    line(buf, cr);
    return cr + 2;
  }
  std::size_t gatherLimit(std::string_view) { return limit; }
  void inspect(std::int64_t offset, std::string_view piece) {
    EXPECT_EQ(offset, static_cast<std::int64_t>(pieces.size()));
    pieces.append(piece);
  }
  void copy(std::int64_t offset, char* piece, std::size_t n) {
    EXPECT_EQ(offset, static_cast<std::int64_t>(copied.size() - copyFrom));
    copied.append(piece, n);
  }
  bool longLine(const LongLine& l) {
    lastStart = l.start;
    const std::string whole = log.substr(static_cast<std::size_t>(l.start - 1), static_cast<std::size_t>(l.cr - l.start));
    EXPECT_EQ(log.substr(static_cast<std::size_t>(l.cr - 1), 2), "\r\n");
    EXPECT_EQ(whole.find("\r\n"), std::string::npos);
    EXPECT_EQ(whole.substr(0, l.head.size()), l.head.substr(0, std::min(l.head.size(), whole.size())));
    if constexpr (Policy == LongLines::Gather) {
      EXPECT_EQ(l.gathered, whole.substr(0, limit));
      EXPECT_EQ(l.whole, whole.size() <= limit);
    }
    if constexpr (Policy == LongLines::CopyThrough) {
      EXPECT_EQ(pieces, whole);
      pieces.clear();
      copyFrom = copied.size();
      expectedCopies += whole + "\r\n";
    }
    out += whole + "\r\n";
    return true;
  }
};

template <LongLines Policy, bool Hooked = false>
void walkAndCheck(const test::TempDir& tmp, const std::string& log, const lines::SourceOptions& options,
                  std::int64_t stopAt, int round) {
  ReadFile file(tmp.u16("events.log"));
  lines::LineSource source(file, options);
  Collector<Policy, Hooked> c(log, 1 + static_cast<std::size_t>(round % 50), source);
  const std::int64_t next = source.walk(1, c, stopAt);
  ASSERT_GE(next, 1);
  const auto size = static_cast<std::int64_t>(log.size());
  EXPECT_EQ(c.out, log.substr(0, static_cast<std::size_t>(next - 1))) << round;
  EXPECT_EQ(c.copied, c.expectedCopies) << round;  // the long lines, whole, in order
  EXPECT_LT(c.lastStart, stopAt) << round;         // no line of another walk
  if (source.reachedStop()) {
    EXPECT_GE(next, stopAt) << round;
    return;
  }
  const bool inMargin = next > size - record::kEndMargin;
  EXPECT_TRUE(inMargin || log.find("\r\n", static_cast<std::size_t>(next - 1)) == std::string::npos)
      << round << ": stopped at " << next << " of " << size;
}

TEST(LineSource, HandsOutEveryLineUnderEveryPolicy) {
  std::mt19937 rng(7);
  test::TempDir tmp;
  static constexpr char kBytes[] = "ab;;;\r\r\n\n ";
  for (int round = 0; round < 250; ++round) {
    std::string log;
    const std::size_t length = rng() % 700;
    for (std::size_t i = 0; i < length; ++i) log += kBytes[rng() % (sizeof kBytes - 1)];
    tmp.write("events.log", log);
    lines::SourceOptions options;
    options.window = 8 + rng() % 120;
    options.inPlace = rng() % 2 == 0;
    options.withinOpenLength = rng() % 2 == 0;
    options.cutThrows = options.withinOpenLength;
    const std::int64_t stopAt = rng() % 2 == 0 ? lines::LineSource::kNoStop : 1 + static_cast<std::int64_t>(rng() % (length + 1));
    walkAndCheck<LongLines::Skip>(tmp, log, options, stopAt, round);
    walkAndCheck<LongLines::Gather>(tmp, log, options, stopAt, round);
    walkAndCheck<LongLines::CopyThrough>(tmp, log, options, stopAt, round);
    walkAndCheck<LongLines::Gather, true>(tmp, log, options, stopAt, round);
  }
}

}  // namespace
}  // namespace velmora
