// The velmora tool beside the line-counting yardsticks `wc -l`, `grep -c` and
// `rg -c`, in one run on the same ~1 GiB log: a users filter that rejects
// every record, one user's records counted with --group, the same records as
// CSV, and the whole log exported as CSV and as JSON lines (rows/s and peak
// memory); then the reader's own peak memory. The commands take turns, each
// repeated; the figures are medians, and every speed is given as a ratio to
// a yardstick measured in the same turns.
//
//   tool_bench [MiB [repeats [older-velmora]]]   (defaults 1024 and 5)
//
// An older build of the tool, when given, is timed in the same turns on the
// short queries and once on the CSV export.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/reader.h"
#include "bench/bench_log.h"
#include "sample/sample.h"
#include "text/codepage.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using velmora::bench::kDataDir;
using velmora::bench::kRecordsPerDay;
constexpr const char* kUser = "Кладовщик";  // about one record in ten
constexpr const char* kNobody = "Никто";

struct Run {
  double seconds = 0;
  double peakMiB = 0;
  std::string out;  // standard output, when kept
  std::string err;
};

std::string readAll(int fd) {
  std::string text;
  char buf[65536];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  return text;
}

// Runs a program; its output goes to /dev/null unless keepOut. The peak
// resident size is the child's own, from wait4.
Run runProgram(const std::vector<std::string>& args, bool keepOut, const std::vector<std::string>& extraEnv = {}) {
  int outPipe[2] = {-1, -1}, errPipe[2];
  if (pipe(errPipe) != 0 || (keepOut && pipe(outPipe) != 0)) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (keepOut) {
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const auto start = Clock::now();
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
    throw std::runtime_error("cannot run " + args[0]);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(errPipe[1]);
  Run run;
  if (keepOut) {
    close(outPipe[1]);
    run.out = readAll(outPipe[0]);
    close(outPipe[0]);
  }
  run.err = readAll(errPipe[0]);
  close(errPipe[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
  // grep and rg end with 1 when nothing matches, the tool when nothing is found.
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
    throw std::runtime_error("failed: " + args[0] + " " + (args.size() > 1 ? args[1] : "") + "\n" + run.err);
  }
  return run;
}

// The reader alone in a child process: a scan of the whole period into a
// sink that keeps nothing; its peak resident size.
double readerPeakMiB(const fs::path& log, const char16_t* user) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    struct Nothing : velmora::RecordSink {
      bool record(const velmora::Record&) override { return true; }
    } sink;
    velmora::ReadQuery query;
    query.begin = "20050101;00:00:00;";
    query.end = "20061231;23:59:59;";
    if (user != nullptr) query.filters[3] = velmora::FieldFilter{true, true, false, {user}};
    const auto cp = velmora::CodePage::make(1251);
    velmora::Reader reader(log.u16string(), query, *cp);
    _exit(reader.scan(0, sink).next > 0 ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("the reader failed");
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A pattern for rg: the log's bytes as escapes, searched as bytes.
std::string rgBytes(const std::string& bytes) {
  std::string out = "(?-u:";
  char buf[8];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "\\x%02X", c);
    out += buf;
  }
  return out + ")";
}

std::string cp1251(const char* utf8) {
  const auto cp = velmora::CodePage::make(1251);
  std::string out;
  for (char16_t u : velmora::fromUtf8(utf8)) out.push_back(static_cast<char>(cp->toByte(u).value()));
  return out;
}

long long countIn(const std::string& text) { return text.empty() ? -1 : std::stoll(text); }

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mib = argc > 1 ? std::stoull(argv[1]) : 1024;
  const int repeats = argc > 2 ? std::stoi(argv[2]) : 5;
  const std::string older = argc > 3 ? argv[3] : "";
  const std::string tool = VELMORA_EXE;
  const fs::path log = velmora::bench::bigLog(mib);
  const double gb = static_cast<double>(fs::file_size(log)) / 1e9;
  const std::string L = log.string();
  runProgram({"cat", L}, false);  // into the page cache

  const std::string user = ";" + cp1251(kUser) + ";", nobody = ";" + cp1251(kNobody) + ";";
  const std::vector<std::string> C{"LC_ALL=C"};  // grep compares bytes
  const std::vector<std::string> period{"--from", "20050101", "--to", "20061231"};
  auto data = [&](const std::string& exe, std::vector<std::string> more) {
    std::vector<std::string> args{exe, "data", L};
    args.insert(args.end(), period.begin(), period.end());
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const std::string rejectFilter = std::string("FilterUsers=|") + kNobody + "|";
  const std::string userFilter = std::string("FilterUsers=|") + kUser + "|";

  struct Command {
    Command(std::string n, std::vector<std::string> a, bool k = false, std::vector<std::string> e = {})
        : name(std::move(n)), args(std::move(a)), keepOut(k), env(std::move(e)) {}
    std::string name;
    std::vector<std::string> args;
    bool keepOut;
    std::vector<std::string> env;
  };
  std::vector<Command> commands{
      {"wc -l", {"wc", "-l", L}, true},
      {"grep -c ;Никто;", {"grep", "-c", nobody, L}, true, C},
      {"rg -c ;Никто;", {"rg", "-c", rgBytes(nobody), L}, true},
      {"velmora, users filter rejecting all, csv", data(tool, {"--format", "csv", "--filter", rejectFilter})},
      {"rg -c ;Кладовщик;", {"rg", "-c", rgBytes(user), L}, true},
      {"grep -c ;Кладовщик;", {"grep", "-c", user, L}, true, C},
      {"velmora, one user, --group Пользователь",
       data(tool, {"--format", "csv", "--filter", userFilter, "--group", "Пользователь"}), true},
      {"velmora, one user, csv", data(tool, {"--format", "csv", "--filter", userFilter})},
      {"velmora, whole log, csv", data(tool, {"--format", "csv"})},
      {"velmora, whole log, jsonl", data(tool, {"--format", "jsonl"})},
  };
  if (!older.empty()) {
    commands.push_back({"older velmora, users filter rejecting all, csv", data(older, {"--format", "csv", "--filter", rejectFilter})});
    commands.push_back({"older velmora, one user, --group Пользователь",
                        data(older, {"--format", "csv", "--filter", userFilter, "--group", "Пользователь"}), true});
  }

  std::map<std::string, std::vector<double>> seconds, peaks;
  std::map<std::string, std::string> outputs;
  for (int turn = 0; turn < repeats; ++turn) {
    for (const Command& c : commands) {
      const Run r = runProgram(c.args, c.keepOut, c.env);
      seconds[c.name].push_back(r.seconds);
      peaks[c.name].push_back(r.peakMiB);
      outputs[c.name] = r.out;
    }
    std::fprintf(stderr, "turn %d of %d done\n", turn + 1, repeats);
  }
  Run olderExport;
  if (!older.empty()) olderExport = runProgram(data(older, {"--format", "csv"}), false);
  const double readerRejecting = readerPeakMiB(log, u"Никто");
  const double readerAll = readerPeakMiB(log, nullptr);

  auto med = [&](const std::string& name) { return median(seconds.at(name)); };
  auto peak = [&](const std::string& name) { return *std::max_element(peaks.at(name).begin(), peaks.at(name).end()); };
  auto spread = [&](const std::string& name) {
    const auto& v = seconds.at(name);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f-%.3f", *std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    return std::string(buf);
  };
  const long long records = countIn(outputs.at("wc -l"));
  const long long userRecords = countIn(outputs.at("rg -c ;Кладовщик;"));
  // The group's count, from the tool's output: "Кладовщик,1142696".
  const std::string& grouped = outputs.at("velmora, one user, --group Пользователь");
  const auto comma = grouped.rfind(',');
  const long long groupCount = comma == std::string::npos ? -1 : std::stoll(grouped.substr(comma + 1));

  std::printf("log: %s, %.3f GB, %lld records; %d turns, medians (min-max)\n\n", log.filename().c_str(), gb, records,
              repeats);
  std::printf("| command | median | min-max | peak RSS |\n|---|---|---|---|\n");
  for (const Command& c : commands) {
    std::printf("| %s | %.3f s | %s s | %.1f MiB |\n", c.name.c_str(), med(c.name), spread(c.name).c_str(), peak(c.name));
  }
  if (!older.empty()) std::printf("| older velmora, whole log, csv (once) | %.3f s | - | %.1f MiB |\n", olderExport.seconds, olderExport.peakMiB);

  const double wc = med("wc -l"), rgUser = med("rg -c ;Кладовщик;");
  const double reject = med("velmora, users filter rejecting all, csv");
  const double group = med("velmora, one user, --group Пользователь");
  std::printf("\n| query | velmora | yardstick | ratio | target |\n|---|---|---|---|---|\n");
  std::printf("| users filter rejecting every record | %.3f s | `wc -l` %.3f s | %.2fx | at most 1.0x |\n", reject, wc,
              reject / wc);
  std::printf("| same | | `grep -c` %.3f s | %.2fx | |\n", med("grep -c ;Никто;"), reject / med("grep -c ;Никто;"));
  std::printf("| same | | `rg -c` %.3f s | %.2fx | |\n", med("rg -c ;Никто;"), reject / med("rg -c ;Никто;"));
  std::printf("| one user (%lld records, the group counts %lld), --group | %.3f s | `rg -c` %.3f s | %.2fx | at most 1.5x |\n",
              userRecords, groupCount, group, rgUser, group / rgUser);
  std::printf("| same | | `grep -c` %.3f s | %.2fx | |\n", med("grep -c ;Кладовщик;"), group / med("grep -c ;Кладовщик;"));
  std::printf("| one user's records as csv | %.3f s | `rg -c` %.3f s | %.2fx | - |\n", med("velmora, one user, csv"), rgUser,
              med("velmora, one user, csv") / rgUser);
  for (const char* format : {"csv", "jsonl"}) {
    const std::string name = std::string("velmora, whole log, ") + format;
    const double s = med(name);
    std::printf("| whole log as %s | %.3f s = %.2f M rows/s, peak RSS %.1f MiB | `wc -l` %.3f s | %.2fx | at least 3 M rows/s, at most 64 MiB |\n",
                format, s, static_cast<double>(records) / s / 1e6, peak(name), wc, s / wc);
  }
  if (!older.empty()) {
    std::printf("| older velmora, users filter rejecting all | %.3f s | `wc -l` %.3f s | %.2fx | |\n",
                med("older velmora, users filter rejecting all, csv"), wc, med("older velmora, users filter rejecting all, csv") / wc);
    std::printf("| older velmora, one user, --group | %.3f s | `rg -c` %.3f s | %.2fx | |\n",
                med("older velmora, one user, --group Пользователь"), rgUser,
                med("older velmora, one user, --group Пользователь") / rgUser);
    std::printf("| older velmora, whole log as csv (once) | %.3f s = %.2f M rows/s, peak RSS %.1f MiB | | | |\n",
                olderExport.seconds, static_cast<double>(records) / olderExport.seconds / 1e6, olderExport.peakMiB);
  }
  std::printf("| the reader alone (Reader::scan), users filter rejecting all | peak RSS %.1f MiB | | | about 4 MiB |\n",
              readerRejecting);
  std::printf("| the reader alone (Reader::scan), every record | peak RSS %.1f MiB | | | about 4 MiB |\n", readerAll);
  if (groupCount != userRecords) std::printf("\nWARNING: the group's count differs from rg's\n");
  return groupCount == userRecords ? 0 : 1;
}
