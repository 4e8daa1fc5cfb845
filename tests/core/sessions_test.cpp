// Session pairing: Close ends the oldest open session of its user and mode;
// what the log does not show (a start before it, an end after it) stays
// unknown, but an Open never closed ends at its user and mode's next Open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/sessions.h"

namespace velmora {
namespace {

// "date;time;user;mode;event" lines -> "user mode start-end seconds", '?' for unknown.
std::vector<std::string> paired(const std::vector<std::string>& lines) {
  SessionPairing p;
  for (const std::string& line : lines) {
    RecordFields f{};
    std::size_t at = 0;
    for (int k : {1, 2, 3, 4, 6}) {
      const std::size_t end = std::min(line.find(';', at), line.size());
      f[k] = std::string_view(line).substr(at, end - at);
      at = end + 1;
    }
    p.record(f);
  }
  p.finish();
  std::vector<std::string> out;
  for (const Session& s : p.sessions()) {
    const std::int64_t n = s.start.empty() || s.end.empty() ? -1 : secondsBetween(s.start, s.end);
    out.push_back(s.user + " " + s.mode + " " + (s.start.empty() ? "?" : s.start) + "-" +
                  (s.end.empty() ? "?" : s.end) + " " + (n < 0 ? "?" : std::to_string(n)));
  }
  return out;
}

TEST(SessionPairing, PairsPerUserAndModeFirstInFirstOut) {
  struct Case {
    const char* what;
    std::vector<std::string> log, sessions;
  };
  const std::vector<Case> cases{
      {"one closed, across midnight and a month's end",
       {"20050131;23:59:00;A;E;OpenSession", "20050201;00:01:30;A;E;CloseSession"},
       {"A E 2005013123:59:00-2005020100:01:30 150"}},
      {"never closed (a crash)", {"20050301;09:00:00;A;E;OpenSession", "20050301;09:05:00;A;E;DocWrite"},
       {"A E 2005030109:00:00-? ?"}},
      {"the log starts inside a session",
       {"20050301;08:00:00;A;E;CloseSession", "20050301;09:00:00;A;E;OpenSession"},
       {"A E ?-2005030108:00:00 ?", "A E 2005030109:00:00-? ?"}},
      {"interleaved users and modes pair only with their own",
       {"20050301;09:00:00;A;E;OpenSession", "20050301;09:01:00;B;E;OpenSession",
        "20050301;09:02:00;A;C;OpenSession", "20050301;09:03:00;B;E;CloseSession",
        "20050301;09:04:00;A;E;CloseSession", "20050301;09:05:00;B;C;CloseSession"},
       {"A E 2005030109:00:00-2005030109:04:00 240", "B E 2005030109:01:00-2005030109:03:00 120",
        "A C 2005030109:02:00-? ?", "B C ?-2005030109:05:00 ?"}},
      {"two open at once: the first Close ends the older",
       {"20050301;09:00:00;A;E;OpenSession", "20050301;09:10:00;A;E;OpenSession",
        "20050301;09:20:00;A;E;CloseSession", "20050301;09:30:00;A;E;OpenSession",
        "20050301;09:40:00;A;E;CloseSession"},
       {"A E 2005030109:00:00-2005030109:20:00 1200", "A E 2005030109:10:00-2005030109:40:00 1800",
        "A E 2005030109:30:00-? ?"}},
      {"never closed, then opened again: it ends at the next Open of its user and mode",
       {"20050301;09:00:00;A;E;OpenSession", "20050302;10:00:00;B;E;OpenSession", "20050303;08:00:00;A;C;OpenSession",
        "20050303;09:00:00;A;E;OpenSession", "20050303;10:00:00;A;E;CloseSession", "20050304;09:00:00;A;E;OpenSession"},
       // First in, first out: the Close ends the older session, and the one
       // it leaves open ends at the next Open.
       {"A E 2005030109:00:00-2005030310:00:00 176400", "B E 2005030210:00:00-? ?", "A C 2005030308:00:00-? ?",
        "A E 2005030309:00:00-2005030409:00:00 86400", "A E 2005030409:00:00-? ?"}},
      {"other events and other letter cases are not sessions",
       {"20050301;09:00:00;A;E;opensession", "20050301;09:00:00;A;E;DocWrite"}, {}},
      {"a damaged time gives no length", {"20050301;9:00;A;E;OpenSession", "20050301;09:10:00;A;E;CloseSession"},
       {"A E 200503019:00-2005030109:10:00 ?"}},
  };
  for (const Case& c : cases) EXPECT_EQ(paired(c.log), c.sessions) << c.what;
}

}  // namespace
}  // namespace velmora
