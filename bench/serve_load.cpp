// The viewer's server under load on loopback: 50 clients paging through a
// 1 GiB log at once, beside velmora data for the same pages, in one run.
// Bounded: each client makes a fixed number of requests, and the whole run
// gives up after its time limit. Usage: serve_load [MiB] [clients] [pages]
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_log.h"

namespace {

using Clock = std::chrono::steady_clock;
double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

// Wall time of a shell command, its output to /dev/null.
double timed(const std::string& command) {
  const auto t = Clock::now();
  if (std::system((command + " >/dev/null 2>&1").c_str()) == -1) return -1;
  return ms(Clock::now() - t);
}

long peakKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

std::int64_t nextOf(const std::string& body) {
  const std::size_t at = body.rfind("\"next\":");
  return at == std::string::npos || body.compare(at + 7, 4, "null") == 0 ? -1 : std::stoll(body.substr(at + 7));
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t mib = argc > 1 ? std::stoull(argv[1]) : 1024;
  const int clients = argc > 2 ? std::stoi(argv[2]) : 50;
  const int pages = argc > 3 ? std::stoi(argv[3]) : 40;
  const std::string exe = VELMORA_EXE, log = velmora::bench::bigLog(mib).string();
  const auto size = static_cast<std::int64_t>(std::filesystem::file_size(log));

  int out[2];
  if (pipe(out) != 0) return 1;
  const pid_t server = fork();
  if (server == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(exe.c_str(), exe.c_str(), "serve", log.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
  const std::string url = line.substr(line.find("http://") + 7);
  const int port = std::stoi(url.substr(url.find(':') + 1));
  const std::string token = url.substr(url.find("token=") + 6);
  const httplib::Headers auth{{"Authorization", "Bearer " + token}};
  auto get = [&](httplib::Client& cl, const std::string& path, std::string* body = nullptr) {
    const auto t = Clock::now();
    auto r = cl.Get(path, auth);
    if (body && r) *body = r->body;
    return r && r->status == 200 ? ms(Clock::now() - t) : -1.0;
  };
  httplib::Client one("127.0.0.1", port);
  one.set_read_timeout(120);

  std::printf("log %s, %lld MiB\n", log.c_str(), static_cast<long long>(size >> 20));
  // The first screen, and the same 200 records by the tool (a process,
  // read from its resume position and cut after 200 rows).
  std::vector<double> first;
  std::string body;
  for (int k = 0; k < 15; ++k) first.push_back(get(one, "/api/records?limit=200", &body));
  const std::int64_t newest200 = nextOf(body);
  std::vector<double> tool;
  for (int k = 0; k < 5; ++k)
    tool.push_back(timed(exe + " data " + log + " --resume " + std::to_string(newest200) + " --format jsonl | head -200"));
  std::printf("first screen (200 newest): server %.2f ms median; velmora data for them %.2f ms (%.2fx)\n",
              percentile(first, 0.5), percentile(tool, 0.5), percentile(first, 0.5) / percentile(tool, 0.5));

  // A page anywhere, one client alone.
  std::vector<double> alone;
  for (int k = 1; k <= 20; ++k)
    alone.push_back(get(one, "/api/records?limit=200&pos=" + std::to_string(size / 21 * k)));
  std::printf("a page of 200 anywhere, one client: server %.2f ms median\n", percentile(alone, 0.5));

  // Filter change and histogram over the whole log, beside the tool.
  const std::string user = "%D0%9A%D0%BB%D0%B0%D0%B4%D0%BE%D0%B2%D1%89%D0%B8%D0%BA";  // Кладовщик
  // The export's bytes are counted and dropped, as the tool's go to /dev/null.
  // Server and tool in turns, three times each, medians: on a shared
  // machine one run of each says little.
  std::size_t exported = 0;
  std::vector<double> exportRuns, dataRuns, histRuns, statsRuns;
  for (int k = 0; k < 3; ++k) {
    exported = 0;
    const auto t0 = Clock::now();
    one.Get("/api/export?format=csv&user=" + user, auth, [&](const char*, std::size_t n) {
      exported += n;
      return true;
    });
    exportRuns.push_back(ms(Clock::now() - t0));
    dataRuns.push_back(timed(exe + " data " + log + " --format csv --user Кладовщик"));
    histRuns.push_back(get(one, "/api/histogram"));
    statsRuns.push_back(timed(exe + " stats " + log + " --format csv"));
  }
  const double exportMs = percentile(exportRuns, 0.5), dataMs = percentile(dataRuns, 0.5);
  std::printf("filter over the log (export of one user, %zu MiB): server %.0f ms, velmora data %.0f ms (%.2fx; medians of 3 in turns)\n",
              exported >> 20, exportMs, dataMs, exportMs / dataMs);
  const double histMs = percentile(histRuns, 0.5), statsMs = percentile(statsRuns, 0.5);
  std::printf("histogram of the log: server %.0f ms, velmora stats %.0f ms (%.2fx; medians of 3 in turns)\n", histMs, statsMs,
              histMs / statsMs);

  // The load: each client pages back from a random place, page after page.
  std::vector<std::vector<double>> lat(static_cast<std::size_t>(clients));
  std::atomic<int> failed{0};
  const auto start = Clock::now();
  const auto limit = start + std::chrono::seconds(300);
  std::vector<std::thread> threads;
  for (int k = 0; k < clients; ++k) {
    threads.emplace_back([&, k] {
      httplib::Client cl("127.0.0.1", port);
      cl.set_read_timeout(60);
      std::mt19937_64 rng(static_cast<std::uint64_t>(k) + 1);
      std::int64_t pos = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(size)) + 1;
      for (int p = 0; p < pages && Clock::now() < limit; ++p) {
        std::string b;
        const double t = get(cl, "/api/records?limit=200&dir=" + std::string(p % 4 == 3 ? "forward" : "back") +
                                     "&pos=" + std::to_string(pos), &b);
        if (t < 0) { ++failed; continue; }
        lat[static_cast<std::size_t>(k)].push_back(t);
        const std::int64_t n = nextOf(b);
        pos = n > 0 ? n : static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(size)) + 1;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  const double seconds = ms(Clock::now() - start) / 1000;
  std::vector<double> all;
  for (auto& v : lat) all.insert(all.end(), v.begin(), v.end());
  std::printf("%d clients, %zu pages of 200 anywhere: p50 %.2f ms, p99 %.2f ms, %.0f requests/s, %d failed\n", clients,
              all.size(), percentile(all, 0.5), percentile(all, 0.99), static_cast<double>(all.size()) / seconds, failed.load());
  // One page anywhere by the tool, as a process: the yardstick of a page.
  std::vector<double> toolPage;
  for (int k = 1; k <= 5; ++k)
    toolPage.push_back(timed(exe + " data " + log + " --resume " + std::to_string(size / 6 * k) + " --format jsonl | head -200"));
  std::printf("a page by velmora data (process, resume, 200 rows): %.2f ms median; server p50 is %.2fx\n",
              percentile(toolPage, 0.5), percentile(all, 0.5) / percentile(toolPage, 0.5));
  std::printf("server peak RSS %ld KiB\n", peakKib(server));
  kill(server, SIGTERM);
  int status = 0;
  waitpid(server, &status, 0);
  return 0;
}
