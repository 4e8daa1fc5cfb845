// Several logs give what one log holding them all gives: a generated log is
// cut into parts at random points in time (or dealt out by key, so that the
// parts overlap and are merged), the parts given in shuffled order, as
// files and as a folder; every command must answer as over the whole log.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/stats.h"
#include "cli/summary.h"
#include "cli_support.h"
#include "core/log_set.h"
#include "text/codepage.h"
#include "decode/decoders.h"
#include "sample/sample.h"

namespace velmora::testing {
namespace {

// The whole log's records grouped by key: a cut never falls between two
// records of one key, whose order only their log could tell.
std::vector<std::string> keyRuns(const std::string& log) {
  std::vector<std::string> runs;
  std::string lastKey;
  for (std::string_view line : linesOf(log)) {
    if (line.empty()) continue;
    const std::string key(line.substr(0, 18));
    if (runs.empty() || key != lastKey) runs.emplace_back();
    runs.back().append(line).append("\r\n");
    lastKey = key;
  }
  return runs;
}

struct Case {
  const char* name;
  bool interleaved;  // parts dealt out by key, overlapping in time, else cut at points in time
  bool asFolder;     // the parts' folder named instead of the parts
  bool extras;       // an empty log, a second name of a part, a file that is not a log
  std::size_t logs;  // how many parts; 0: from 2 to 7 at random
  bool compressed;   // parts compressed in turn with gzip, zstd, bzip2 and xz (every fifth left plain)
  bool inSeconds = false;  // cut inside runs of one key, the parts given in time order (read one after another)
};

TEST(LogSet, PartsGiveWhatTheWholeLogGives) {
  registerDecoders();  // as the tool does, for the counts made in this process
  TempDir dir;
  SampleOptions o;
  o.days = 40;
  o.perDay = 120;
  o.seed = 11;
  const std::string whole = dir.path("whole.log");
  writeFile(whole, sampleLog(o));
  const std::vector<std::string> runs = keyRuns(readFile(whole));
  ASSERT_GT(runs.size(), 1000u);

  const std::vector<std::vector<std::string>> queries = {
      {"data", "--columns", "all", "--format", "csv"},
      {"data", "--from", "20050110", "--to", "20050125", "--user", "Кассир Зуева", "--format", "csv"},
      {"stats", "--format", "csv", "--by", "day"},
      {"stats", "--from", "20050203", "--format", "csv"},
      {"users", "--format", "csv"},
      {"sql", "SELECT count(*), sum(is_error) FROM log", "--format", "csv"},
      {"sql", "SELECT user, count(*) FROM log GROUP BY user", "--format", "csv"},
      {"sql", "SELECT user, count(*) FROM sessions GROUP BY user", "--format", "csv"},
  };
  std::vector<std::string> expected;
  for (const auto& q : queries) {
    std::vector<std::string> args = {q[0], whole};
    args.insert(args.end(), q.begin() + 1, q.end());
    const RunResult r = runVelmora(args);
    ASSERT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
    expected.push_back(r.out);
  }

  const Case cases[] = {
      {"cut in time, as files", false, false, false, 0, false},
      {"cut in time, as a folder", false, true, false, 0, false},
      {"dealt out by key, as files", true, false, false, 0, false},
      {"dealt out by key, as a folder, with an empty log, a second name and a file that is no log", true, true, true, 0, false},
      // More logs merged at once than fill the merge's budget at its largest buffers.
      {"dealt out by key to 300 logs, as a folder", true, true, false, 300, false},
      // Archives read one after another, and archives merged: each refill
      // goes on decoding where the last stopped.
      {"cut in time, compressed, as files", false, false, false, 6, true},
      {"dealt out by key, compressed, as a folder", true, true, false, 6, true},
      {"cut inside seconds, as files in time order", false, false, false, 4, false, true},
  };
  std::mt19937 rng(26);
  int caseNumber = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = dir.path("parts" + std::to_string(++caseNumber));
    std::filesystem::create_directory(folder);
    const std::size_t n = c.logs ? c.logs : 2 + rng() % 6;
    std::vector<std::string> texts(n);
    if (c.interleaved) {
      for (const std::string& run : runs) texts[rng() % n] += run;
    } else if (c.inSeconds) {
      // Each cut falls between two records of one key.
      std::vector<std::size_t> inside;
      std::string all;
      for (const std::string& run : runs) {
        for (std::size_t at = run.find("\r\n"); at + 2 < run.size(); at = run.find("\r\n", at + 2))
          inside.push_back(all.size() + at + 2);
        all += run;
      }
      ASSERT_GE(inside.size(), n - 1);
      std::vector<std::size_t> cuts = {0, all.size()};
      for (std::size_t k = 1; k < n; ++k) cuts.push_back(inside[k * inside.size() / n]);
      std::sort(cuts.begin(), cuts.end());
      for (std::size_t k = 0; k < n; ++k) texts[k] = all.substr(cuts[k], cuts[k + 1] - cuts[k]);
    } else {
      std::vector<std::size_t> cuts = {0, runs.size()};
      for (std::size_t k = 1; k < n; ++k) cuts.push_back(1 + rng() % (runs.size() - 1));
      std::sort(cuts.begin(), cuts.end());
      for (std::size_t k = 0; k < n; ++k)
        for (std::size_t i = cuts[k]; i < cuts[k + 1]; ++i) texts[k] += runs[i];
    }
    // Named so that the folder's order (by name) is not the order in time.
    std::vector<std::string> names;
    for (std::size_t k = 0; k < n; ++k) {
      names.push_back(folder + "/part" + std::to_string((k * 7 + 3) % n) + "-" + std::to_string(k) + ".log");
      writeFile(names.back(), texts[k]);
      static const char* const tools[] = {"gzip", "zstd -q --rm", "bzip2", "xz", nullptr};
      if (const char* tool = c.compressed ? tools[k % 5] : nullptr) {
        // Compressed in place (the tool adds its suffix): named by content,
        // not by name, it is still a log of the folder.
        ASSERT_EQ(std::system((std::string(tool) + " -f '" + names.back() + "'").c_str()), 0) << tool;
        const std::string archive = names.back() + (tool[0] == 'g' ? ".gz" : tool[0] == 'z' ? ".zst" : tool[0] == 'b' ? ".bz2" : ".xz");
        std::filesystem::rename(archive, names.back());
      }
    }
    if (!c.inSeconds) std::shuffle(names.begin(), names.end(), rng);
    std::vector<std::string> given = c.asFolder ? std::vector<std::string>{folder} : names;
    if (c.extras) {
      writeFile(folder + "/empty.log", "");
      writeFile(folder + "/notes.txt", "not a log\nat all\n");
      given.push_back(names.front());                                   // a second name of a part
      given.push_back(folder + "/./" + std::filesystem::path(names[1]).filename().string());
    }
    for (std::size_t q = 0; q < queries.size(); ++q) {
      std::vector<std::string> args = {queries[q][0]};
      args.insert(args.end(), given.begin(), given.end());
      args.insert(args.end(), queries[q].begin() + 1, queries[q].end());
      const RunResult r = runVelmora(args);
      EXPECT_EQ(r.exitCode, 0) << queries[q][0] << ": " << r.err;
      EXPECT_TRUE(r.out == expected[q]) << queries[q][0] << " " << q << " differs from the whole log's";
      const std::size_t said = r.err.find("notes.txt");
      EXPECT_EQ(said != std::string::npos, c.extras) << r.err;
      if (said != std::string::npos) {
        EXPECT_EQ(r.err.find("notes.txt", said + 1), std::string::npos) << "said once: " << r.err;
      }
    }
    if (c.extras) {
      // A report never goes over one of the logs it reads.
      std::vector<std::string> args = {"report"};
      args.insert(args.end(), given.begin(), given.end());
      args.insert(args.end(), {"-o", names.back()});
      const std::string before = readFile(names.back());
      EXPECT_EQ(runVelmora(args).exitCode, 2);
      EXPECT_TRUE(readFile(names.back()) == before);
    }
    // The statistics counted in two halves at once (from any size here)
    // are those of one reading, the error records kept in order included.
    {
      using namespace velmora::cli;
      std::ostringstream out, err;
      Io io{out, err, Format::Csv, false};
      Tally one(1000), halves(1000);
      PeriodKeys keys;
      ASSERT_EQ(collect(given, PeriodOptions{}, FilterOptions{}, one, keys, io, -1), kSuccess) << err.str();
      ASSERT_EQ(collect(given, PeriodOptions{}, FilterOptions{}, halves, keys, io, 0), kSuccess) << err.str();
      const Summary summary = summarise(halves, keys, BucketSize::Day, false);
      std::string rows = "group,key,records,errors\r\n";
      for (const StatRow& row : statRows(summary, 0))
        rows += std::string(row.group) + "," + std::string(row.key) + "," + std::to_string(row.count.records) + "," +
                std::to_string(row.count.errors) + "\r\n";
      EXPECT_TRUE(rows == expected[2]) << rows.substr(0, 300) << "\nvs\n" << expected[2].substr(0, 300);
      ASSERT_EQ(halves.errorRecords().size(), one.errorRecords().size());
      for (std::size_t i = 0; i < one.errorRecords().size(); ++i)
        EXPECT_EQ(halves.errorRecords()[i].fields, one.errorRecords()[i].fields) << i;
    }
    // Paged back from the end, in pages of any size, the set gives its
    // forward records reversed: each page goes on before the last one's end.
    // (Not over hundreds of logs: each page opens every log of its group.)
    if (n <= 10) {
      std::vector<U16String> logs16;
      for (const std::string& g : given) logs16.push_back(fromUtf8(g));
      const LogList list = listLogs(logs16);
      ReadQuery q;
      q.begin = openBeginKey();
      q.end = openEndKey();
      const auto cp = CodePage::make(1251);
      LogSetReader set(list.logs, q, *cp);
      // Logs that meet inside a second are read one after another, not merged.
      if (c.inSeconds) {
        EXPECT_EQ(set.plan(std::vector<std::string>(list.logs.size(), q.begin)).size(), n);
      }
      struct Trail : RecordSink {
        std::vector<std::tuple<int, std::int64_t, std::string>> seen;
        std::size_t limit = SIZE_MAX;
        bool record(const Record& r) override {
          seen.emplace_back(r.log, r.position, std::string(r.fields[kUserField]));
          return seen.size() < limit;
        }
      } forward, backward;
      ASSERT_FALSE(set.scan(forward).failure);
      SetPosition before;
      for (int pages = 0; pages < 100000; ++pages) {
        const std::size_t had = backward.seen.size();
        backward.limit = had + 1 + rng() % 700;
        const SetScanResult r = set.scanBack(backward, before);
        ASSERT_FALSE(r.failure);
        if (!r.next.valid()) break;
        ASSERT_GT(backward.seen.size(), had);
        before = r.next;
      }
      std::reverse(backward.seen.begin(), backward.seen.end());
      EXPECT_TRUE(backward.seen == forward.seen) << backward.seen.size() << " vs " << forward.seen.size();
    }
    // A read that ends at a period's end, resumed where it says, gives the
    // rest: its position names a log of the set and a byte in it.
    std::vector<std::string> first = {"data"}, rest = {"data"};
    for (auto* args : {&first, &rest}) args->insert(args->end(), given.begin(), given.end());
    first.insert(first.end(), {"--to", "20050120", "--columns", "all", "--format", "csv"});
    const RunResult a = runVelmora(first);
    const std::size_t at = a.err.rfind("--resume ");
    ASSERT_NE(at, std::string::npos) << a.err;
    const std::string position = a.err.substr(at + 9, a.err.find('\n', at) - at - 9);
    rest.insert(rest.end(), {"--resume", position, "--columns", "all", "--format", "csv"});
    const RunResult b = runVelmora(rest);
    EXPECT_EQ(b.exitCode, 0) << b.err;
    EXPECT_TRUE(a.out + b.out.substr(b.out.find('\n') + 1) == expected[0]) << "resumed at " << position << " " << a.out.size() << "+" << b.out.size() << " vs " << expected[0].size() << b.err;
  }
}

// Follow over archives and a live log: the archives' records and the live
// log's come out once each, in time order, and so does what the live log
// gains meanwhile.
TEST(LogSet, FollowReadsTheArchivesThenTheLiveLog) {
  TempDir dir;
  SampleOptions o;
  o.days = 12;
  o.perDay = 40;
  o.seed = 5;
  const std::string whole = dir.path("whole.log");
  writeFile(whole, sampleLog(o));
  const std::vector<std::string> runs = keyRuns(readFile(whole));
  const std::string old = dir.path("old"), live = dir.path("live.log");
  std::filesystem::create_directory(old);
  const std::size_t a = runs.size() * 3 / 10, b = runs.size() * 6 / 10, c = runs.size() * 8 / 10;
  auto join = [&](std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to; ++i) text += runs[i];
    return text;
  };
  writeFile(old + "/b.log", join(0, a));  // named so that the folder's order is not the order in time
  writeFile(old + "/a.log", join(a, b));
  writeFile(live, join(b, c));
  const RunResult expected = runVelmora({"data", whole, "--columns", "all", "--format", "csv"});
  const std::size_t total = linesOf(expected.out).size() - 1;  // the header, the records, an empty last piece
  Running velmora({"data", old, live, "--follow", "--poll", "0.05", "--columns", "all", "--format", "csv"});
  std::size_t shown = 1;
  for (std::size_t i = 0; i < c; ++i) shown += runs[i].empty() ? 0 : linesOf(runs[i]).size() - 1;
  ASSERT_TRUE(velmora.waitForLines(shown)) << velmora.out() << velmora.err();
  appendFile(live, join(c, runs.size()));
  ASSERT_TRUE(velmora.waitForLines(total)) << velmora.err();
  velmora.signal(SIGINT);
  EXPECT_EQ(velmora.wait(), 0) << velmora.err();
  EXPECT_TRUE(velmora.out() == expected.out) << velmora.out().size() << " vs " << expected.out.size();
  const std::size_t at = velmora.err().rfind("--resume ");
  ASSERT_NE(at, std::string::npos) << velmora.err();
  const std::string position = velmora.err().substr(at + 9, velmora.err().find('\n', at) - at - 9);
  EXPECT_EQ(position, live + ":" + std::to_string(readFile(live).size() + 1));
  // Resumed there, nothing is left to show.
  const RunResult after = runVelmora({"data", old, live, "--resume", position});
  EXPECT_EQ(after.exitCode, 1) << after.out << after.err;
}

}  // namespace
}  // namespace velmora::testing
