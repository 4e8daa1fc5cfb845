// Figures for `velmora stats` and `velmora report` against `wc -l` on the
// same file in the same run: the ~1 GiB benchmark log of journal_bench and a
// year of sample log. The commands alternate, seven rounds each, and the
// medians are printed with their ratio to the yardstick; each command's
// peak resident size comes from wait4. Two more runs tell the reader's part
// from the counting's: the typed reader's scan over the whole log into a sink
// that keeps nothing, and into the tally that stats uses.
//
//   stats_bench [MiB]   (default 1024; the logs are kept in bench/data/)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/tally.h"
#include "core/reader.h"
#include "text/codepage.h"
#include "bench/bench_log.h"
#include "sample/sample.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using velmora::bench::kDataDir;
constexpr int kRounds = 7;

struct Run {
  double seconds = 0;
  double peakMiB = 0;
};

// Runs a program with its standard output thrown away.
Run runProgram(const std::vector<std::string>& args) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Run r;
  r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  r.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("failed: " + args.front() + " " + args[1]);
  return r;
}

// The typed reader over the whole log, into a sink that keeps nothing or
// into the tally of stats, in a child process of its own (argv[1] of this
// program re-run: "--read LOG tally|none").
int readOnly(const std::string& log, bool tally) {
  velmora::ReadQuery query;
  query.begin = velmora::openBeginKey();
  query.end = velmora::openEndKey();
  velmora::Reader reader(fs::path(log).u16string(), query, velmora::CodePage::current());
  struct Nothing : velmora::RecordSink {
    std::uint64_t bytes = 0;
    bool record(const velmora::Record& record) override {
    const velmora::RecordFields& f = record.fields;
      bytes += f[3].size();  // touch the record, as any sink would
      return true;
    }
  };
  if (tally) {
    velmora::cli::Tally t;
    return reader.scan(1, t).next > 0 && t.total().records > 0 ? 0 : 1;
  }
  Nothing sink;
  return reader.scan(1, sink).next > 0 && sink.bytes > 0 ? 0 : 1;
}

struct Measured {
  std::string name;
  std::vector<std::string> args;
  std::vector<Run> runs;
  Run median() const {
    std::vector<double> s, m;
    for (const Run& r : runs) {
      s.push_back(r.seconds);
      m.push_back(r.peakMiB);
    }
    std::sort(s.begin(), s.end());
    std::sort(m.begin(), m.end());
    return {s[s.size() / 2], m[m.size() / 2]};
  }
};

// Alternates the commands round by round, so that a passing load on the
// machine touches all of them alike.
void measure(std::vector<Measured>& set) {
  for (Measured& m : set) runProgram(m.args);  // warm the page cache and the programs
  for (int round = 0; round < kRounds; ++round)
    for (Measured& m : set) m.runs.push_back(runProgram(m.args));
}

void table(const std::vector<Measured>& set, const char* what) {
  const double yardstick = set.front().median().seconds;
  std::printf("\n%s\n\n| command | median of %d | ratio to `%s` | peak RSS |\n|---|---|---|---|\n", what, kRounds,
              set.front().name.c_str());
  for (const Measured& m : set) {
    const Run r = m.median();
    std::printf("| `%s` | %.3f s | %.2f | %.1f MiB |\n", m.name.c_str(), r.seconds, r.seconds / yardstick, r.peakMiB);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--read") return readOnly(argv[2], std::string(argv[3]) == "tally");
  const std::uint64_t mib = argc > 1 ? std::stoull(argv[1]) : 1024;
  const std::string self = fs::canonical("/proc/self/exe").string();
  const fs::path big = velmora::bench::bigLog(mib);
  const fs::path year = kDataDir / "year.log";
  velmora::SampleOptions yearOptions;  // the tool's default of 500 records a day
  yearOptions.days = 365;
  yearOptions.seed = 1;
  velmora::bench::ensureLog(year, yearOptions);
  const fs::path page = kDataDir / "report.tmp.html";
  const std::string exe = VELMORA_EXE;

  std::vector<Measured> bigSet{
      {"wc -l", {"wc", "-l", big.string()}, {}},
      {"velmora stats --format csv", {exe, "stats", big.string(), "--format", "csv"}, {}},
      {"velmora stats --by hour --format csv", {exe, "stats", big.string(), "--by", "hour", "--format", "csv"}, {}},
      {"velmora report", {exe, "report", big.string(), "-o", page.string()}, {}},
      {"the reader, a sink that keeps nothing", {self, "--read", big.string(), "none"}, {}},
      {"the reader into the tally of stats", {self, "--read", big.string(), "tally"}, {}},
  };
  measure(bigSet);
  std::printf("log: %s, %.3f GB", big.filename().c_str(), static_cast<double>(fs::file_size(big)) / 1e9);
  table(bigSet, "the whole benchmark log");

  std::vector<Measured> yearSet{
      {"wc -l", {"wc", "-l", year.string()}, {}},
      {"velmora report", {exe, "report", year.string(), "-o", page.string()}, {}},
  };
  measure(yearSet);
  const auto pageSize = fs::file_size(page);
  fs::remove(page);
  std::printf("\nlog: %s, %.1f MB, a year of 500 records a day", year.filename().c_str(),
              static_cast<double>(fs::file_size(year)) / 1e6);
  table(yearSet, "a year of sample log");
  std::printf("\nreport of the year: %.0f KiB\n", static_cast<double>(pageSize) / 1024.0);
  return 0;
}
