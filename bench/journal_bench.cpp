// Figures for the reader on a ~1 GiB log: start search, GetData, GetUsers
// and StoreErrRows, against `wc -l` and `cat` as yardsticks, with the peak
// memory of each run. Every measurement runs in a child process of its own,
// so that its peak resident size is its own; the log is read once first so
// that every run finds it in the page cache.
//
//   journal_bench [MiB]   (default 1024; the log is kept in bench/data/)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/period.h"
#include "core/reader.h"
#include "memhost/memory_host.h"
#include "script/journal.h"
#include "text/codepage.h"
#include "bench/bench_log.h"
#include "sample/sample.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using velmora::Journal;
using velmora::MemoryValueList;
using velmora::MemoryValueTable;
using velmora::U16String;

using velmora::bench::kDataDir;
using velmora::bench::kRecordsPerDay;

struct Figures {
  double seconds = 0;
  double count = 0;  // rows, windows or users, as the run says
  double bytes = 0;  // bytes of log the run covered
};

struct Outcome {
  Figures f;
  double peakMiB = 0;
};

// Runs fn in a child process; the child reports its figures through a pipe,
// the parent takes its peak resident size from wait4.
Outcome inChild(const std::function<Figures()>& fn) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    close(fds[0]);
    Figures f{};
    try {
      f = fn();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "run failed: %s\n", e.what());
      _exit(1);
    }
    if (write(fds[1], &f, sizeof f) != static_cast<ssize_t>(sizeof f)) _exit(2);
    _exit(0);
  }
  close(fds[1]);
  Outcome out;
  const ssize_t got = read(fds[0], &out.f, sizeof out.f);
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (got != static_cast<ssize_t>(sizeof out.f) || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("a measurement failed");
  }
  out.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
  return out;
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Seconds taken by a shell command, best of three.
double commandSeconds(const std::string& command) {
  double best = 1e9;
  for (int k = 0; k < 3; ++k) {
    const auto start = Clock::now();
    if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
    best = std::min(best, since(start));
  }
  return best;
}

U16String u16(const std::string& ascii) { return U16String(ascii.begin(), ascii.end()); }

// "YYYYMMDD" of the day `offset` days after the date given as YYYYMMDD.
std::string addDays(int date, int offset) {
  std::tm t{};
  t.tm_year = date / 10000 - 1900;
  t.tm_mon = date / 100 % 100 - 1;
  t.tm_mday = date % 100 + offset;
  t.tm_hour = 12;
  std::mktime(&t);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y%m%d", &t);
  return buf;
}

// Byte range [first, end) of the records whose date lies in [from, to],
// found by a plain scan of the log (outside any measurement).
std::pair<std::int64_t, std::int64_t> dayRange(const fs::path& log, const std::string& from, const std::string& to) {
  std::ifstream in(log, std::ios::binary);
  std::string line;
  std::int64_t pos = 0, first = -1;
  while (std::getline(in, line)) {
    const std::string date = line.substr(0, 8);
    if (first < 0 && date >= from) first = pos;
    if (date > to) return {first, pos};
    pos += static_cast<std::int64_t>(line.size()) + 1;
  }
  return {first, pos};
}

Journal& reader(const fs::path& log) {
  static Journal j;
  j.SetFilePath(log.u16string());
  return j;
}

void setPeriod(Journal& j, const std::string& from, const std::string& to) {
  if (!j.SetDateTimes(u16(from), u"", u16(to), u"")) throw std::runtime_error("period " + from + ".." + to);
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mib = argc > 1 ? std::stoull(argv[1]) : 1024;
  const fs::path log = velmora::bench::bigLog(mib);
  const std::string logArg = "'" + log.string() + "'";
  const double size = static_cast<double>(fs::file_size(log));
  const double gb = size / 1e9;

  // Warm the page cache, then the yardsticks.
  commandSeconds("cat " + logArg + " > /dev/null");
  const double cat = commandSeconds("cat " + logArg + " > /dev/null");
  const double wc = commandSeconds("wc -l " + logArg + " > /dev/null");

  std::string firstDate(8, ' ');
  {
    std::ifstream in(log, std::ios::binary);
    in.read(firstDate.data(), 8);
  }
  const int first = std::stoi(firstDate);
  const int days = static_cast<int>(size / 100 / kRecordsPerDay);  // about 100 bytes a record
  const std::string middleDay = addDays(first, days / 2);
  const std::string month0 = addDays(first, days / 3), month1 = addDays(first, days / 3 + 29);
  const std::string rows0 = addDays(first, days / 4), rows1 = addDays(first, days / 4 + 59);
  const auto monthRange = dayRange(log, month0, month1);
  const auto rowsRange = dayRange(log, rows0, rows1);

  std::printf("log: %s, %.3f GB, days from %d, %d records a day\n\n", log.filename().c_str(), gb, first,
              kRecordsPerDay);

  // Short runs: the best of three.
  // The start search that GetData from 0 begins with, on the reader beneath it.
  const Outcome search = inChild([&] {
    const auto keys = velmora::periodKeys(u16(middleDay), u"", u16(middleDay), u"");
    if (!keys) throw std::runtime_error("period " + middleDay);
    velmora::ReadQuery query;
    query.begin = keys->begin;
    query.end = keys->end;
    velmora::Reader r(log.u16string(), query, velmora::CodePage::current());
    Figures best{1e9, 0, 0};
    for (int k = 0; k < 3; ++k) {
      const auto before = r.windowReads();
      const auto start = Clock::now();
      if (r.findStart().next < 1) throw std::runtime_error("no start of " + middleDay);
      const double seconds = since(start);
      if (seconds < best.seconds) best = Figures{seconds, static_cast<double>(r.windowReads() - before), 0};
    }
    return best;
  });

  const Outcome filtered = inChild([&] {
    Journal& j = reader(log);
    setPeriod(j, month0, month1);
    j.SetFilter(u"|Никто|", u"FilterUsers");
    Figures best{1e9, 0, static_cast<double>(monthRange.second - monthRange.first)};
    for (int k = 0; k < 3; ++k) {
      MemoryValueTable table;
      const auto start = Clock::now();
      j.GetStartPos(0, table);
      best.seconds = std::min(best.seconds, since(start));
      best.count = table.rowCount();
    }
    return best;
  });

  auto rowsRun = [&](bool translated) {
    return inChild([&, translated] {
      Journal& j = reader(log);
      setPeriod(j, rows0, rows1);
      if (translated) {
        j.SetTransformStr(u"1111");
        j.SetGroupBy(u"Пользователь, Действие");
      }
      MemoryValueTable table;
      const auto start = Clock::now();
      j.GetStartPos(0, table);
      return Figures{since(start), static_cast<double>(j.ListStrSize()),
                     static_cast<double>(rowsRange.second - rowsRange.first)};
    });
  };
  const Outcome rows = rowsRun(false);
  const Outcome rowsGrouped = rowsRun(true);

  const Outcome users = inChild([&] {
    Journal& j = reader(log);
    MemoryValueList list;
    const auto start = Clock::now();
    j.GetUsers(0, list);
    return Figures{since(start), static_cast<double>(list.GetListSize()), size};
  });

  const Outcome errRows = inChild([&] {
    Journal& j = reader(log);
    const fs::path keep = kDataDir / "retained.tmp", errors = kDataDir / "errors.tmp";
    const auto start = Clock::now();
    const auto removed = j.StoreErrRows(keep.u16string(), errors.u16string());
    const double seconds = since(start);
    fs::remove(keep);
    fs::remove(errors);
    return Figures{seconds, static_cast<double>(removed), size};
  });

  std::printf("| measurement | time | throughput | peak RSS |\n|---|---|---|---|\n");
  std::printf("| `cat > /dev/null` (yardstick) | %.3f s | %.2f GB/s | - |\n", cat, gb / cat);
  std::printf("| `wc -l` (yardstick) | %.3f s | %.2f GB/s | - |\n", wc, gb / wc);
  std::printf("| start search, one day in the middle | %.2f ms | %.0f windows of 32 KiB | %.1f MiB |\n",
              search.f.seconds * 1e3, search.f.count, search.peakMiB);
  const double filteredRate = filtered.f.bytes / 1e9 / filtered.f.seconds;
  std::printf("| GetData, 30 days, users filter rejects all (%.0f MB) | %.3f s | %.2f GB/s = %.2f x `wc -l` | %.1f MiB |\n",
              filtered.f.bytes / 1e6, filtered.f.seconds, filteredRate, filteredRate / (gb / wc), filtered.peakMiB);
  std::printf("| GetData, 60 days into the table (%.0f rows) | %.3f s | %.2f M rows/s | %.1f MiB with the table |\n",
              rows.f.count, rows.f.seconds, rows.f.count / rows.f.seconds / 1e6, rows.peakMiB);
  std::printf("| GetData, same, translated and grouped | %.3f s | %.2f M rows/s | %.1f MiB with the table |\n",
              rowsGrouped.f.seconds, rowsGrouped.f.count / rowsGrouped.f.seconds / 1e6, rowsGrouped.peakMiB);
  std::printf("| GetUsers, whole log (%.0f users) | %.3f s | %.2f GB/s | %.1f MiB |\n", users.f.count,
              users.f.seconds, gb / users.f.seconds, users.peakMiB);
  std::printf("| StoreErrRows, whole log (%.0f error records) | %.3f s | %.2f GB/s | %.1f MiB |\n",
              errRows.f.count, errRows.f.seconds, gb / errRows.f.seconds, errRows.peakMiB);
  return 0;
}
