#include "sample/sample.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "text/text.h"
#include "transform/catalogue.h"

namespace velmora {
namespace {

std::vector<std::string_view> linesOf(std::string_view log) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(log.substr(start));  // an unterminated tail: a fault
      break;
    }
    lines.push_back(log.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::vector<std::string_view> split(std::string_view line) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = line.find(';', start);
    parts.push_back(line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

// Windows-1251 bytes of a Russian text (the test's own small mapping).
std::string cp1251(std::u16string_view text) {
  std::string out;
  for (char16_t u : text) {
    if (u < 0x80) out.push_back(static_cast<char>(u));
    else if (u >= 0x0410 && u <= 0x044F) out.push_back(static_cast<char>(0xC0 + (u - 0x0410)));
    else if (u == 0x0401) out.push_back(static_cast<char>(0xA8));
    else if (u == 0x0451) out.push_back(static_cast<char>(0xB8));
    else ADD_FAILURE() << "no 1251 form in the test mapping";
  }
  return out;
}

SampleOptions small(int days, int perDay, std::uint64_t seed = 7) {
  SampleOptions o;
  o.days = days;
  o.perDay = perDay;
  o.seed = seed;
  return o;
}

TEST(SampleLog, SameOptionsGiveSameBytesAndSeedsDiffer) {
  const std::string a = sampleLog(small(3, 200, 11));
  EXPECT_EQ(a, sampleLog(small(3, 200, 11)));
  EXPECT_NE(a, sampleLog(small(3, 200, 12)));
  std::ostringstream stream;
  writeSampleLog(stream, small(3, 200, 11));
  EXPECT_EQ(a, stream.str());
}

TEST(SampleLog, RecordsAreCompleteAndInTimeOrder) {
  SampleSummary summary;
  const std::string log = sampleLog(small(5, 300), &summary);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  const auto lines = linesOf(log);
  ASSERT_EQ(lines.size(), 1500u);
  EXPECT_EQ(summary.records, 1500u);
  EXPECT_EQ(summary.bytes, log.size());
  std::string_view previous;
  for (auto line : lines) {
    ASSERT_GT(line.size(), 18u) << line;
    const std::string_view key = line.substr(0, 18);
    EXPECT_EQ(key[8], ';');
    EXPECT_EQ(key[11], ':');
    EXPECT_EQ(key[14], ':');
    EXPECT_EQ(key[17], ';');
    EXPECT_LE(previous, key) << "records out of time order";
    previous = key;
    EXPECT_EQ(line.find('\r'), std::string_view::npos);
    EXPECT_EQ(line.find('\n'), std::string_view::npos);
    // key fields 1-2, then fields 3 to 10 with no ";" beyond them
    const auto parts = split(line);
    ASSERT_GE(parts.size(), 10u) << line;
    if (parts[6] != "5") {
      EXPECT_EQ(parts.size(), 10u) << line;
    }
  }
  EXPECT_EQ(summary.firstDate, 20050101);
  EXPECT_EQ(summary.lastDate, 20050105);
}

TEST(SampleLog, AverageRecordIsAboutAHundredBytes) {
  SampleSummary summary;
  sampleLog(small(10, 1000), &summary);
  const double average = static_cast<double>(summary.bytes) / static_cast<double>(summary.records);
  EXPECT_GT(average, 75.0);
  EXPECT_LT(average, 130.0);
}

TEST(SampleLog, ErrorRecordsKeepTheirCommentAndEndWithTwoEmptyFields) {
  SampleSummary summary;
  const std::string log = sampleLog(small(4, 500), &summary);
  std::uint64_t errors = 0;
  for (auto line : linesOf(log)) {
    const auto parts = split(line);
    ASSERT_GE(parts.size(), 10u) << line;
    if (parts[6] != "5") continue;
    ++errors;
    EXPECT_GT(parts.size(), 10u) << "the comment of an error record holds ';': " << line;
    EXPECT_EQ(line.substr(line.size() - 2), ";;") << line;
    EXPECT_NE(line.substr(line.size() - 3), ";;;") << line;
  }
  EXPECT_GT(errors, 0u);
  EXPECT_EQ(errors, summary.errorRecords);
}

TEST(SampleLog, HoldsEveryEventCodeModeAndCategory) {
  const std::string log = sampleLog(small(1, kSampleCoverageRecords, 3));
  std::set<std::string_view> events, modes, categories;
  for (auto line : linesOf(log)) {
    const auto parts = split(line);
    modes.insert(parts[3]);
    categories.insert(parts[4]);
    events.insert(parts[5]);
  }
  for (const auto& e : kEventCatalogue) {
    ASSERT_FALSE(e.code.empty());
    EXPECT_TRUE(events.count(cp1251(e.code))) << toUtf8(e.code);
  }
  for (const auto& c : kCategories) EXPECT_TRUE(categories.count(cp1251(c.code))) << toUtf8(c.code);
  EXPECT_EQ(categories.size(), 17u);
  EXPECT_EQ(modes, (std::set<std::string_view>{"C", "D", "E", "M"}));
}

TEST(SampleLog, UsersAreRussianNamesInTheLogCodePage) {
  const std::string log = sampleLog(small(1, 400));
  std::set<std::string_view> users;
  for (auto line : linesOf(log)) users.insert(split(line)[2]);
  EXPECT_GE(users.size(), 8u);
  EXPECT_TRUE(users.count(cp1251(u"Иванова Н.П."))) << "a Cyrillic name in 1251 bytes";
  EXPECT_TRUE(users.count(cp1251(u"Менеджер Ёлкин")));
  for (auto u : users) {
    bool cyrillic = false;
    for (char c : u) cyrillic |= static_cast<unsigned char>(c) >= 0xC0;
    EXPECT_TRUE(cyrillic) << "every user name is Russian";
  }
}

TEST(SampleLog, DaysFollowTheCalendar) {
  SampleOptions o = small(3, 5);
  o.startDate = 20040228;
  SampleSummary summary;
  const std::string log = sampleLog(o, &summary);
  std::set<std::string_view> dates;
  for (auto line : linesOf(log)) dates.insert(line.substr(0, 8));
  EXPECT_EQ(dates, (std::set<std::string_view>{"20040228", "20040229", "20040301"}));
  EXPECT_EQ(summary.lastDate, 20040301);

  o.startDate = 20051231;
  o.days = 2;
  dates.clear();
  const std::string turn = sampleLog(o);
  for (auto line : linesOf(turn)) dates.insert(line.substr(0, 8));
  EXPECT_EQ(dates, (std::set<std::string_view>{"20051231", "20060101"}));
}

TEST(SampleLog, ByteTargetIsReachedWithWholeRecords) {
  SampleOptions o = small(1, 1000);
  o.targetBytes = 300000;
  SampleSummary summary;
  const std::string log = sampleLog(o, &summary);
  EXPECT_GE(log.size(), 300000u);
  EXPECT_LT(log.size(), 300000u + 1024u);
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  EXPECT_GE(summary.lastDate, 20050103) << "the target outruns the day count";
}

TEST(SampleLog, SinkGetsBlocksOfWholeRecordsUpTo64KiB) {
  std::vector<std::size_t> sizes;
  std::string joined;
  writeSampleLog(
      [&](std::string_view block) {
        sizes.push_back(block.size());
        EXPECT_EQ(block.substr(block.size() - 2), "\r\n");
        EXPECT_EQ(block.substr(8, 1), ";") << "a block starts with a record";
        joined.append(block);
      },
      small(4, 1000));
  ASSERT_GT(sizes.size(), 2u);
  for (auto s : sizes) EXPECT_LE(s, 65536u);
  EXPECT_EQ(joined, sampleLog(small(4, 1000)));
}

TEST(SampleLog, EmptyAndRefusedOptions) {
  EXPECT_EQ(sampleLog(small(0, 100)), "");
  EXPECT_EQ(sampleLog(small(5, 0)), "");
  EXPECT_THROW(sampleLog(small(-1, 10)), std::invalid_argument);
  EXPECT_THROW(sampleLog(small(1, -10)), std::invalid_argument);
  SampleOptions o = small(1, 10);
  o.startDate = 20050230;
  EXPECT_THROW(sampleLog(o), std::invalid_argument);
  o.startDate = 18991231;
  EXPECT_THROW(sampleLog(o), std::invalid_argument);
  o = small(1, 0);
  o.targetBytes = 1000;
  EXPECT_THROW(sampleLog(o), std::invalid_argument);
}

}  // namespace
}  // namespace velmora
