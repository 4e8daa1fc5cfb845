// stats, report and strip-errors tell error records by one rule: over many
// random small logs, the error records stats counts are the records
// strip-errors removes, and the error file holds exactly the lines the
// record rule calls errors.
#include "cli/tally.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "cli_support.h"
#include "cli/query.h"
#include "core/log_tasks.h"
#include "core/reader.h"
#include "core/record_format.h"

namespace velmora::cli {
namespace {

using testing::TempDir;

// A random line: a key and up to nine fields, with the seventh field's
// troublesome values, ";" in comments, lone CR and LF, fields longer than a
// read window, and now and then no line at all but a key alone or less.
std::string randomLine(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  static const char* const kNumbers[] = {"5", "05", "5 ", " 5", "", "4", "55", "5;5", "\r5", "5\n"};
  static const char* const kComments[] = {"", "text", "a;b", ";;", "x\ry", "x\ny", "5", ";5;"};
  std::string line = "20240301;10:00:0" + std::to_string(pick(10)) + ";";
  if (pick(20) == 0) return line.substr(0, static_cast<std::size_t>(pick(19)));  // a key, or less
  const int fields = pick(10);  // of fields 3..11
  for (int k = 3; k < 3 + fields; ++k) {
    if (k > 3) line += ';';
    if (k == 3) line += pick(25) == 0 ? std::string(70000 + pick(70000), 'U') : "user" + std::to_string(pick(3));
    else if (k == 4) line += "ECMDX"[pick(5)];
    else if (k == 7) line += kNumbers[pick(10)];
    else if (k == 8) line += pick(25) == 0 ? std::string(70000 + pick(70000), 'c') + ";" : kComments[pick(8)];
    else line += "f" + std::to_string(k);
  }
  if (pick(2) == 0) line += pick(2) == 0 ? ";" : ";;";
  return line;
}

TEST(ErrorRecords, StatsCountsWhatStripErrorsRemoves) {
  std::mt19937 rng(20240301);
  TempDir dir;
  const std::string log = dir.path("events.log"), kept = dir.path("kept.log"), errors = dir.path("errors.log");
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    std::vector<std::string> lines;
    const int count = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) lines.push_back(randomLine(rng));
    // No line starts within the end margin, where the walk would not reach it.
    if (lines.back().size() <= record::kKeySize) lines.push_back("20240301;10:00:09;user0;E;Docs;f6;1;;;");
    for (const std::string& line : lines) bytes += line + "\r\n";
    if (rng() % 3 == 0) bytes += "20240301;10:00:09;unterminated;E;5";
    testing::writeFile(log, bytes);

    // What the rule says of each complete line.
    std::string expectedErrors;
    std::int64_t expectedRemoved = 0, expectedCounted = 0;
    for (const std::string& line : lines) {
      if (!record::isErrorRecord(line)) continue;
      expectedErrors += line + "\r\n";
      ++expectedRemoved;
      // The reader hands out no line of a key alone or less.
      if (line.size() > record::kKeySize) ++expectedCounted;
    }

    ReadQuery whole;
    whole.begin = openBeginKey();
    whole.end = openEndKey();
    Reader reader(fromUtf8(log), whole, defaultCodePage());
    Tally tally;
    ASSERT_FALSE(reader.scan(1, tally).failure) << round;
    TaskStats stats;
    const std::int64_t removed = splitErrorRecords(fromUtf8(log), fromUtf8(kept), fromUtf8(errors), nullptr, stats);

    EXPECT_EQ(removed, expectedRemoved) << round;
    EXPECT_EQ(testing::readFile(errors), expectedErrors) << round;
    EXPECT_EQ(tally.total().errors, static_cast<std::uint64_t>(expectedCounted)) << round;
  }
}

}  // namespace
}  // namespace velmora::cli
