// The server under hostile input: malformed HTTP, huge and repeated
// parameters, path traversal, SQL that tries to leave the log, a thousand
// idle connections. It keeps serving, its memory stays bounded, and it never
// opens a file of the folder but the log it serves.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "sample/sample.h"
#include "serve_support.h"

namespace velmora::testing {
namespace {

int connectTo(int port) {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(s);
    return -1;
  }
  return s;
}

// Sends raw bytes and reads what comes back until the server closes or 10 s
// pass without a byte; returns the status line's code, 0 for none.
int rawExchange(int port, const std::string& bytes) {
  const int s = connectTo(port);
  if (s < 0) return -1;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(s, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the server may refuse before reading it all
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(s, SHUT_WR);
  std::string got;
  char buf[4096];
  pollfd p{s, POLLIN, 0};
  while (::poll(&p, 1, 10000) > 0) {
    const ssize_t n = ::recv(s, buf, sizeof buf, 0);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  ::close(s);
  if (got.rfind("HTTP/1.1 ", 0) != 0) return 0;
  return std::stoi(got.substr(9, 3));
}

long peakKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

TEST(ServeHostile, KeepsServingAndReadsOnlyItsLog) {
  TempDir dir;
  const std::string log = dir.path("events.log"), other = dir.path("other.log");
  SampleOptions sample;
  sample.days = 5;
  sample.perDay = 300;
  writeFile(log, sampleLog(sample));
  writeFile(other, sampleLog(sample));
  // Every open and every file made in the folder is seen.
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  const std::string folder = log.substr(0, log.rfind('/'));
  ASSERT_GE(::inotify_add_watch(watch, folder.c_str(), IN_OPEN | IN_CREATE | IN_MOVED_TO), 0);

  Served served(log);
  ASSERT_TRUE(served.up()) << served.line << served.process().err();
  const int port = served.port;
  const std::string host = "Host: " + served.host + "\r\n", auth = "Authorization: Bearer " + served.token + "\r\n";

  // Malformed HTTP: refused or dropped, never answered as a success.
  const std::vector<std::string> malformed = {
      "GARBAGE\r\n\r\n",
      std::string(5000, '\0'),
      "GET / HTTP/1.1\r\n" + host + "X-Long: " + std::string(200000, 'a') + "\r\n\r\n",
      "GET /" + std::string(200000, 'a') + " HTTP/1.1\r\n" + host + auth + "\r\n",
      "POST /api/sql HTTP/1.1\r\n" + host + auth + "Content-Length: 99999999999\r\n\r\nSELECT 1",
      "POST /api/sql HTTP/1.1\r\n" + host + auth + "Content-Length: -1\r\n\r\nSELECT 1",
      "POST /api/sql HTTP/1.1\r\n" + host + auth + "Transfer-Encoding: chunked\r\n\r\nzz\r\nSELECT\r\n",
      "GET /api/records HTTP/9.9\r\n" + host + auth + "\r\n",
      "GET /../other.log HTTP/1.1\r\n" + host + auth + "\r\n",
      "GET /%2e%2e/%2e%2e/etc/passwd HTTP/1.1\r\n" + host + auth + "\r\n",
      "GET /..%2fother.log HTTP/1.1\r\n" + host + auth + "\r\n",
      "GET /api/records HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil.example\r\n" + auth + "\r\n",
  };
  for (const std::string& m : malformed) {
    const int status = rawExchange(port, m);
    EXPECT_TRUE(status == 0 || status >= 400) << status << " for " << m.substr(0, 60);
  }
  {
    // A header block of many headers: bounded by the request's size, so it
    // may be answered or dropped; either way the server serves on (below).
    std::string many = "GET /api/users HTTP/1.1\r\n" + host + auth;
    for (int k = 0; k < 5000; ++k) many += "X-" + std::to_string(k) + ": 1\r\n";
    EXPECT_GE(rawExchange(port, many + "\r\n"), 0);
  }

  httplib::Client c = served.client();
  // Huge and repeated parameters: an answer, never a crash.
  const std::vector<std::string> params = {
      "/api/records?user=" + std::string(7000, 'a'),
      "/api/records?comment=" + std::string(7000, '%') ,
      "/api/records?limit=99999999999999999999",
      "/api/records?user=%ZZ%",  // a broken escape, taken as it stands
      "/api/records?pos=9223372036854775807&dir=back",
      "/api/records?pos=9223372036854775807&dir=forward",
      "/api/follow?pos=9223372036854775806&limit=1",
      "/api/histogram?from=1901-01-01&to=2005-01-01",
  };
  std::string repeated = "/api/records?limit=3";
  for (int k = 0; k < 600; ++k) repeated += "&user=u" + std::to_string(k);
  std::vector<std::string> all = params;
  all.push_back(repeated);
  for (const std::string& p : all) {
    auto r = c.Get(p, served.auth());
    ASSERT_TRUE(r) << "no answer to " << p.substr(0, 60);
    EXPECT_TRUE(r->status == 200 || r->status == 400 || r->status == 414) << r->status << " " << p.substr(0, 60);
  }

  // SQL that tries to leave the log.
  const std::vector<std::string> escapes = {
      "ATTACH '" + other + "' AS o",
      "ATTACH 'file:" + dir.path("made.db") + "?mode=rwc' AS o",
      "SELECT count(*) FROM log('" + other + "')",
      "SELECT count(*) FROM log('" + folder + "/../" + folder.substr(folder.rfind('/') + 1) + "/other.log')",
      "SELECT count(*) FROM log('/etc/passwd')",
      "SELECT count(*) FROM sessions('" + other + "')",
      "SELECT load_extension('" + other + "')",
      "SELECT writefile('" + dir.path("made.txt") + "', 'x')",
      "SELECT readfile('" + other + "')",
      "PRAGMA temp_store_directory = '" + folder + "'",
      "VACUUM INTO '" + dir.path("made.db") + "'",
      "CREATE TABLE t AS SELECT * FROM log",
      "SELECT * FROM pragma_table_info('log'); ATTACH '" + other + "' AS o",
  };
  for (const std::string& q : escapes) {
    auto r = c.Post("/api/sql", served.auth(), q, "text/plain");
    ASSERT_TRUE(r) << q;
    EXPECT_GE(r->status, 400) << q << ": " << r->body;
  }
  {
    auto r = c.Post("/api/sql", served.auth(), "SELECT count(*) FROM log", "text/plain");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << r->body;
  }

  // A thousand idle connections, and a client that still gets its answer.
  rlimit files{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
  if (files.rlim_cur < 1200 && files.rlim_max >= 1200) {
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
    setrlimit(RLIMIT_NOFILE, &files);
  }
  const int idleCount = files.rlim_cur >= 1200 ? 1000 : static_cast<int>(files.rlim_cur) - 100;
  std::vector<int> idle;
  for (int k = 0; k < idleCount; ++k) {
    const int s = connectTo(port);
    if (s >= 0) idle.push_back(s);
  }
  EXPECT_GE(static_cast<int>(idle.size()), idleCount * 9 / 10);
  {
    httplib::Client during = served.client();
    during.set_read_timeout(60);
    auto r = during.Get("/api/records?limit=5", served.auth());
    ASSERT_TRUE(r) << "no answer with " << idle.size() << " idle connections";
    EXPECT_EQ(r->status, 200);
  }
  for (int s : idle) ::close(s);

  // Still serving, in bounded memory, and no other file of the folder opened or made.
  auto last = c.Get("/api/records?limit=5", served.auth());
  ASSERT_TRUE(last);
  EXPECT_EQ(last->status, 200);
  const long peak = peakKib(served.process().pid());
  EXPECT_GT(peak, 0);
  // AddressSanitizer keeps freed memory in quarantine and adds its shadow:
  // the bound there is the sanitizer's, not the server's.
#if defined(__SANITIZE_ADDRESS__)
  constexpr long kPeakKib = 512 * 1024;
#else
  constexpr long kPeakKib = 128 * 1024;
#endif
  EXPECT_LT(peak, kPeakKib) << "peak RSS " << peak << " KiB";
  std::vector<std::string> foreign;
  alignas(inotify_event) char events[65536];
  for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
    for (char* p = events; p < events + n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(p);
      const std::string name = e->len ? e->name : "";
      if (name != "events.log") foreign.push_back(name + ((e->mask & IN_CREATE) ? " made" : " opened"));
      p += sizeof(inotify_event) + e->len;
    }
  }
  ::close(watch);
  EXPECT_TRUE(foreign.empty()) << foreign.front();
  EXPECT_EQ(served.stop(), 0);
}

}  // namespace
}  // namespace velmora::testing
