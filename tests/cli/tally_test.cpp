// The counting under stats and report: exact counts for keys of every
// length, and memory that follows the distinct keys, not the records.
#include "cli/tally.h"
#include "core/record_format.h"

#include "cli/period.h"
#include "cli/summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace velmora::cli {
namespace {

TEST(ByteCounter, CountsEveryKeyApartWhateverItsLength) {
  // Keys that share their first and last eight bytes and differ only in the
  // middle, keys that are prefixes of others, the empty key, every length.
  std::vector<std::string> keys{""};
  for (std::size_t n = 1; n <= 40; ++n) {
    keys.push_back(std::string(n, 'a'));
    std::string middle(n, 'b');
    middle[n / 2] = 'c';
    keys.push_back(middle);
  }
  for (int k = 0; k < 300; ++k) keys.push_back("ABCDEFGH" + std::to_string(1000 + k) + "STUVWXYZ");
  keys.push_back(std::string("\0\0\0", 3));
  keys.push_back(std::string("\0\0", 2));
  ByteCounter counter;
  std::map<std::string, std::uint64_t> expected;
  for (int round = 0; round < 3; ++round)
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if ((i + static_cast<std::size_t>(round)) % 2 == 0) continue;
      ++counter.at(keys[i]).records;
      ++expected[keys[i]];
    }
  EXPECT_EQ(counter.size(), expected.size());
  std::map<std::string, std::uint64_t> got;
  for (const auto& [key, count] : counter.entries()) got[std::string(key)] = count.records;
  EXPECT_EQ(got, expected);
}

// A record of the period as the reader hands it out: views into its line.
class LogLine {
 public:
  LogLine(std::string date, std::string time, std::string user, std::string mode, std::string event, std::string number)
      : line_(date + ";" + time + ";" + user + ";" + mode + ";Docs;" + event + ";" + number + ";comment;;") {}
  Record get() const {
    Record r;
    RecordFields& f = r.fields;
    const std::string_view line(line_);
    r.key = line.substr(0, 18);
    r.error = record::isErrorRecord(line);
    f[1] = line.substr(0, 8);
    f[2] = line.substr(9, 8);
    std::size_t at = 18;
    for (int k = 3; k <= 10; ++k) {
      const std::size_t end = std::min(line.find(';', at), line.size());
      f[k] = line.substr(at, end - at);
      at = end + 1;
    }
    return r;
  }

 private:
  std::string line_;
};

TEST(Tally, HoursModesAndErrorsOfEachRecord) {
  Tally tally(1);
  const std::vector<LogLine> records{
      {"20050103", "09:10:00", "Иванов", "E", "DocWrite", "1"},
      {"20050103", "09:59:59", "Петров", "C", "RestructErr", "5"},
      {"20050103", "10:00:00", "Иванов", "X", "DocWrite", "1"},
      {"20050103", "10:00:01", "Иванов", "EC", "DocNotWrite", "5"},
      {"20050104", "10:00:00", "Петров", "D", "DocWrite", "1"},
  };
  for (const LogLine& r : records) ASSERT_TRUE(tally.record(r.get()));
  EXPECT_EQ(tally.total().records, 5u);
  EXPECT_EQ(tally.total().errors, 2u);
  EXPECT_EQ(tally.firstKey(), "20050103;09:10:00");
  EXPECT_EQ(tally.lastKey(), "20050104;10:00:00");
  ASSERT_EQ(tally.errorRecords().size(), 1u) << "only as many kept whole as asked";
  EXPECT_EQ(tally.errorRecords()[0].fields[6], "RestructErr");
  EXPECT_EQ(tally.errorRecords()[0].fields[8], "comment");

  const auto hours = tally.hours();
  ASSERT_EQ(hours.size(), 3u);
  std::map<std::string, Activity> byHour;
  for (const auto& h : hours) byHour[std::string(h.date) + " " + std::string(h.hour)] = h.activity;
  const Activity& nine = byHour.at("20050103 09");
  EXPECT_EQ(nine.count.records, 2u);
  EXPECT_EQ(nine.count.errors, 1u);
  EXPECT_EQ(nine.byMode[kModeE], 1u);
  EXPECT_EQ(nine.byMode[kModeC], 1u);
  EXPECT_EQ(nine.errorsByMode[kModeC], 1u);
  const Activity& ten = byHour.at("20050103 10");
  EXPECT_EQ(ten.byMode[kModeOther], 2u) << "X and EC are no run mode of the catalogue";
  EXPECT_EQ(ten.errorsByMode[kModeOther], 1u);
  EXPECT_EQ(byHour.at("20050104 10").byMode[kModeD], 1u) << "the same hour of another day is another hour";

  std::map<std::string, Count> users;
  for (const auto& [k, c] : tally.users().entries()) users[std::string(k)] = c;
  EXPECT_EQ(users.at("Иванов").records, 3u);
  EXPECT_EQ(users.at("Иванов").errors, 1u);
  EXPECT_EQ(users.at("Петров").records, 2u);
}

TEST(Tally, GrowsWithKeysNotRecords) {
  Tally tally;
  const LogLine same{"20050103", "09:10:00", "Иванов", "E", "DocWrite", "1"};
  const Record fields = same.get();
  for (int k = 0; k < 100000; ++k) tally.record(fields);
  EXPECT_EQ(tally.total().records, 100000u);
  EXPECT_EQ(tally.hours().size(), 1u);
  EXPECT_EQ(tally.users().size(), 1u);
  EXPECT_EQ(tally.events().size(), 1u);
  EXPECT_TRUE(tally.errorRecords().empty()) << "none kept unless asked";
}

// Thousands of hours, in time order and shuffled, in one tally and in two
// appended: each hour's counts are those of its records, whatever the order
// in which the hours arrive, however many the index holds, and wherever an
// hour's counting moves from 32 to 64 bits (a low limit stands in for 2^32).
TEST(Tally, CountsEachOfManyHoursInAnyOrder) {
  std::mt19937 random(5);
  std::vector<LogLine> records;
  std::map<std::string, std::uint64_t> expected;
  const char* const modes[] = {"E", "C", "X"};
  for (int day = 1; day <= 150; ++day)
    for (int hour = 0; hour < 24; hour += 1 + static_cast<int>(random() % 3)) {
      char date[24];  // room for any two ints, as the compiler asks of the format
      std::snprintf(date, sizeof date, "2005%02d%02d", 1 + day / 28, 1 + day % 28);
      const std::string hh = (hour < 10 ? "0" : "") + std::to_string(hour);
      const int times = 1 + static_cast<int>(random() % 9);
      for (int t = 0; t < times; ++t)
        records.emplace_back(date, hh + ":00:00", "u", modes[random() % 3], "DocWrite", random() % 4 ? "1" : "5");
      expected[std::string(date) + " " + hh] += static_cast<std::uint64_t>(times);
    }
  auto hoursOf = [](const Tally& t) {
    std::map<std::string, std::string> out;
    for (const auto& h : t.hours()) {
      std::string& line = out[std::string(h.date) + " " + std::string(h.hour)];
      EXPECT_TRUE(line.empty()) << "one entry per distinct hour";
      line = std::to_string(h.activity.count.records) + "/" + std::to_string(h.activity.count.errors);
      for (int m = 0; m < kModeSlots; ++m)
        line += " " + std::to_string(h.activity.byMode[m]) + "/" + std::to_string(h.activity.errorsByMode[m]);
    }
    return out;
  };
  for (const bool shuffled : {false, true}) {
    SCOPED_TRACE(shuffled);
    if (shuffled) std::shuffle(records.begin(), records.end(), random);
    Tally reference;
    for (const LogLine& r : records) reference.record(r.get());
    const auto want = hoursOf(reference);
    std::map<std::string, std::uint64_t> got;
    for (const auto& [hour, line] : want) got[hour] = std::stoull(line);
    EXPECT_EQ(got, expected);
    for (const std::uint32_t limit : {Tally::kHourLimit, 1u, 2u, 5u}) {
      SCOPED_TRACE(limit);
      Tally whole(0, limit), first(0, limit), rest(0, limit);
      for (std::size_t i = 0; i < records.size(); ++i) {
        whole.record(records[i].get());
        (i < records.size() / 3 ? first : rest).record(records[i].get());
      }
      first.append(rest);
      EXPECT_EQ(hoursOf(whole), want);
      EXPECT_EQ(hoursOf(first), want);
    }
  }
}

// A log counted in two parts: the tally of the first with the tally of the
// rest appended is the tally of the whole, wherever the cut, the parts
// empty included.
TEST(Tally, AppendingTheRestsTallyGivesTheWholesTally) {
  const std::vector<LogLine> records{
      {"20050103", "09:10:00", "Иванов", "E", "DocWrite", "1"},
      {"20050103", "09:59:59", "Петров", "C", "RestructErr", "5"},
      {"20050103", "10:00:00", "Иванов", "X", "DocWrite", "1"},
      {"20050103", "10:00:01", "Иванов", "EC", "DocNotWrite", "5"},
      {"20050103", "10:20:00", "Сидоров", "E", "DocOpen", "5"},
      {"20050104", "10:00:00", "Петров", "D", "DocWrite", "1"},
  };
  using Counts = std::map<std::string, std::pair<std::uint64_t, std::uint64_t>>;
  auto counts = [](const ByteCounter& c) {
    Counts out;
    for (const auto& [k, v] : c.entries()) out[std::string(k)] = {v.records, v.errors};
    return out;
  };
  auto hours = [](const Tally& t) {
    std::vector<std::string> out;  // in the order the tally gives them
    for (const auto& h : t.hours()) {
      std::string line = std::string(h.date) + " " + std::string(h.hour);
      for (int m = 0; m < kModeSlots; ++m)
        line += " " + std::to_string(h.activity.byMode[m]) + "/" + std::to_string(h.activity.errorsByMode[m]);
      out.push_back(line + " " + std::to_string(h.activity.count.records) + "/" + std::to_string(h.activity.count.errors));
    }
    return out;
  };
  Tally whole(2);
  for (const LogLine& r : records) whole.record(r.get());
  for (std::size_t cut = 0; cut <= records.size(); ++cut) {
    SCOPED_TRACE(cut);
    Tally first(2), rest(2);
    for (std::size_t i = 0; i < records.size(); ++i) (i < cut ? first : rest).record(records[i].get());
    first.append(rest);
    EXPECT_EQ(first.total().records, whole.total().records);
    EXPECT_EQ(first.total().errors, whole.total().errors);
    EXPECT_EQ(first.firstKey(), whole.firstKey());
    EXPECT_EQ(first.lastKey(), whole.lastKey());
    EXPECT_EQ(hours(first), hours(whole));
    EXPECT_EQ(counts(first.users()), counts(whole.users()));
    EXPECT_EQ(counts(first.events()), counts(whole.events()));
    ASSERT_EQ(first.errorRecords().size(), 2u) << "as many kept as asked, the earliest";
    EXPECT_EQ(first.errorRecords()[0].fields, whole.errorRecords()[0].fields);
    EXPECT_EQ(first.errorRecords()[1].fields, whole.errorRecords()[1].fields);
  }
}


// Ranking only the first k keys decodes no more than it must, yet gives the
// first k of the whole ranking, ties broken by text as there, and counts the
// rest exactly.
TEST(Summary, KeepingTheFirstKeysGivesTheWholeRankingsHead) {
  std::mt19937 random(11);
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    // Few counts over many keys, so that many keys tie at the cut.
    const int keys = 1 + static_cast<int>(random() % 60);
    std::vector<LogLine> records;
    for (int k = 0; k < keys; ++k) {
      const int times = 1 + static_cast<int>(random() % 4);
      const std::string user = (k % 3 ? "\xC8\xE2\xE0\xED" : "user") + std::to_string(random() % 1000);
      const std::string event = k % 2 ? "DocWrite" : "Ev" + std::to_string(k % 7);
      for (int t = 0; t < times; ++t) records.emplace_back("20050105", "10:00:00", user, "E", event, t % 3 ? "1" : "5");
    }
    Tally tally;
    for (const LogLine& r : records) tally.record(r.get());
    const PeriodKeys keysOfPeriod{"20050105;00:00:00;", "20050105;23:59:59;", false, false};
    const Summary whole = summarise(tally, keysOfPeriod, BucketSize::Hour, false);
    for (std::size_t keep : {1u, 2u, 3u, 5u, 17u, 100u}) {
      SCOPED_TRACE(keep);
      const Summary head = summarise(tally, keysOfPeriod, BucketSize::Hour, false, keep);
      for (const auto& [all, some] : {std::pair{&whole.users, &head.users}, std::pair{&whole.events, &head.events}}) {
        const std::size_t n = std::min(keep, all->top.size());
        ASSERT_EQ(some->top.size(), n);
        std::uint64_t rest = 0;
        for (std::size_t i = 0; i < all->top.size(); ++i) {
          if (i >= n) {
            rest += all->top[i].count.records;
            continue;
          }
          EXPECT_EQ(some->top[i].label, all->top[i].label) << i;
          EXPECT_EQ(some->top[i].code, all->top[i].code) << i;
          EXPECT_EQ(some->top[i].count.records, all->top[i].count.records) << i;
          EXPECT_EQ(some->top[i].count.errors, all->top[i].count.errors) << i;
        }
        EXPECT_EQ(some->more, all->top.size() - n);
        EXPECT_EQ(some->moreRecords, rest);
      }
    }
  }
}

}  // namespace
}  // namespace velmora::cli
