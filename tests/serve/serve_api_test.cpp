// The viewer's API as a page uses it: the token and the address checked,
// the records paged back and forward equal to velmora data's, bad
// parameters refused with what was wrong, follow resumed exactly once.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "sample/sample.h"
#include "serve_support.h"

namespace velmora::testing {
namespace {

// The records of a response, each without its "pos", and their positions
// as written: a number, or a set's "LOG:BYTE".
void splitRecords(const std::string& body, std::vector<std::string>& rows, std::vector<std::string>& positions) {
  std::size_t at = body.find("\"records\":[");
  if (at == std::string::npos) return;
  // Each record ends with its position: {...,"pos":P}
  for (at += 11; at < body.size() && body[at] == '{';) {
    const std::size_t pos = body.find(",\"pos\":", at), end = body.find('}', pos);
    if (pos == std::string::npos || end == std::string::npos) return;
    rows.push_back(body.substr(at, pos - at) + "}");
    std::string p = body.substr(pos + 7, end - pos - 7);
    if (!p.empty() && p.front() == '"') p = p.substr(1, p.size() - 2);
    positions.push_back(p);
    at = end + 1 + (end + 1 < body.size() && body[end + 1] == ',');
  }
}

// The response's next position as a parameter takes it; empty when null.
std::string nextOf(const std::string& body) {
  const std::size_t at = body.rfind("\"next\":");
  if (at == std::string::npos || body.compare(at + 7, 4, "null") == 0) return {};
  std::string next = body.substr(at + 7, body.find('}', at) - at - 7);
  if (next.front() == '"') next = next.substr(1, next.size() - 2);
  return next;
}

// Every record of a query, paged back (then put in forward order) or forward.
void pageThrough(httplib::Client& c, const httplib::Headers& auth, const std::string& params, bool back,
                 std::vector<std::string>& rows, std::vector<std::string>& positions) {
  std::string pos;
  for (int pages = 0; pages < 200; ++pages) {
    std::string path = "/api/records?limit=97&dir=" + std::string(back ? "back" : "forward") +
                       (params.empty() ? "" : "&" + params) + (pos.empty() ? "" : "&pos=" + pos);
    auto r = c.Get(path, auth);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << path << r->body;
    splitRecords(r->body, rows, positions);
    pos = nextOf(r->body);
    if (pos.empty()) break;
  }
  if (back) {
    std::reverse(rows.begin(), rows.end());
    std::reverse(positions.begin(), positions.end());
  }
}

TEST(ServeApi, RecordsSecurityAndFollow) {
  TempDir dir;
  const std::string log = dir.path("events.log");
  SampleOptions sample;
  sample.days = 6;
  sample.perDay = 400;
  writeFile(log, sampleLog(sample));
  Served served(log);
  ASSERT_TRUE(served.up()) << served.line << served.process().err();
  EXPECT_EQ(served.token.size(), 32u);
  EXPECT_TRUE(served.line.starts_with("velmora: serving " + log + " at http://127.0.0.1:")) << served.line;
  httplib::Client c = served.client();

  // Every response: the policy, no cross-origin permission.
  auto confined = [](const httplib::Result& r) {
    EXPECT_TRUE(r->get_header_value("Content-Security-Policy").find("script-src 'self'") != std::string::npos);
    EXPECT_FALSE(r->has_header("Access-Control-Allow-Origin"));
  };
  {
    auto none = c.Get("/api/records");
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 401);
    confined(none);
    EXPECT_EQ(c.Get("/api/records", {{"Authorization", "Bearer " + std::string(32, '0')}})->status, 401);
    EXPECT_EQ(c.Get("/", {{"Cookie", "velmora_token=" + served.token.substr(1)}})->status, 401);
    // DNS rebinding: a name that points here is not this server's name.
    httplib::Headers rebound = served.auth();
    rebound.emplace("Host", "attacker.example:" + std::to_string(served.port));
    EXPECT_EQ(c.Get("/api/users", rebound)->status, 403);
    // The printed address: a cookie no script reads, and the token out of the address bar.
    auto open = c.Get("/?token=" + served.token);
    ASSERT_TRUE(open);
    EXPECT_EQ(open->status, 303);
    const std::string cookie = open->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
    auto page = c.Get("/", {{"Cookie", cookie.substr(0, cookie.find(';'))}});
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    confined(page);
    EXPECT_EQ(page->body.find("http"), std::string::npos) << "the page loads nothing from elsewhere";
  }

  // The same records as velmora data, paged either way, for several queries.
  struct Query {
    std::string params;
    std::vector<std::string> options;
  };
  const std::vector<Query> queries = {
      {"", {}},
      {"user=%D0%9A%D0%BB%D0%B0%D0%B4%D0%BE%D0%B2%D1%89%D0%B8%D0%BA", {"--user", "Кладовщик"}},
      {"from=2005-01-02&to=2005-01-04&not-event=DocWrite&translate=all", {"--from", "2005-01-02", "--to", "2005-01-04", "--not-event", "DocWrite", "--translate", "all"}},
      {"comment=%D0%BE%D1%88%D0%B8%D0%B1&columns=date,time,user,comment", {"--comment", "ошиб", "--columns", "date,time,user,comment"}},
  };
  for (const Query& q : queries) {
    std::vector<std::string> args{"data", log, "--format", "jsonl"};
    args.insert(args.end(), q.options.begin(), q.options.end());
    const RunResult data = runVelmora(args);
    std::vector<std::string> want;
    for (std::string_view l : linesOf(data.out, "\n")) {
      if (!l.empty()) want.emplace_back(l);
    }
    ASSERT_GT(want.size(), 10u) << q.params;
    for (const bool back : {true, false}) {
      std::vector<std::string> rows, positions;
      pageThrough(c, served.auth(), q.params, back, rows, positions);
      EXPECT_EQ(rows, want) << q.params << (back ? " back" : " forward");
      std::vector<long long> bytes;
      for (const std::string& p : positions) bytes.push_back(std::stoll(p));
      EXPECT_TRUE(std::is_sorted(bytes.begin(), bytes.end()));
    }
  }

  // A bad parameter: 400, naming what was wrong.
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"/api/records?limit=0", "limit"},          {"/api/records?limit=x", "limit"},
      {"/api/records?dir=up", "dir"},             {"/api/records?pos=-5", "pos"},
      {"/api/records?pos=1&pos=2", "pos"},        {"/api/records?from=2005-02-30", "2005-02-30"},
      {"/api/records?user=a%7Cb", "|"},           {"/api/records?colour=red", "colour"},
      {"/api/records?user=a&not-user=b", "user"}, {"/api/export?format=xml", "xml"},
      {"/api/histogram?bucket=year", "year"},     {"/api/records?columns=shoe", "shoe"},
  };
  for (const auto& [path, says] : bad) {
    auto r = c.Get(path, served.auth());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400) << path;
    EXPECT_NE(r->body.find(says), std::string::npos) << path << ": " << r->body;
    EXPECT_TRUE(r->body.starts_with("{\"error\":")) << r->body;
  }

  // Follow: from a record's position, the records after it, once; then what
  // a writer appends.
  std::vector<std::string> all, allPos;
  {
    auto r = c.Get("/api/records?dir=forward&limit=5000", served.auth());
    ASSERT_TRUE(r);
    splitRecords(r->body, all, allPos);
  }
  ASSERT_GT(all.size(), 20u);
  const std::size_t from = all.size() - 11;
  std::vector<std::string> ids;
  std::atomic<bool> appended{false};
  std::string seen;
  httplib::Client f = served.client();
  httplib::Headers resume = served.auth();
  resume.emplace("Last-Event-ID", allPos[from]);
  const std::string added = cp1251(u"20050107;00:00:01;Новый;E;Docs;DocWrite;1;;;") + "\r\n";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  f.Get("/api/follow", resume, [&](const char* data, std::size_t n) {
    seen.append(data, n);
    // Once the ten records after the resumed one are in, append one more.
    ids.clear();
    for (std::size_t at = 0; (at = seen.find("\nid: ", at)) != std::string::npos; at += 5)
      ids.push_back(seen.substr(at + 5, seen.find('\n', at + 5) - at - 5));
    if (ids.size() == 10 && !appended) {
      appendFile(log, added);
      appended = true;
    }
    return ids.size() < 11 && std::chrono::steady_clock::now() < deadline;
  });
  ASSERT_EQ(ids.size(), 11u) << seen;
  EXPECT_EQ(std::vector<std::string>(ids.begin(), ids.end() - 1), std::vector<std::string>(allPos.begin() + static_cast<long>(from) + 1, allPos.end()));
  EXPECT_NE(seen.find("\"Пользователь\":\"Новый\""), std::string::npos);

  EXPECT_EQ(served.stop(), 0);
  EXPECT_NE(served.process().err().find("stopped"), std::string::npos);
}

// A set served answers as the one log holding its records: archives in a
// folder (one compressed) and the live log. Its positions name their log,
// the console reads the set and nothing beside it, and follow follows the
// live log.
TEST(ServeApi, ASetAnswersAsTheWholeLogDoes) {
  TempDir dir;
  SampleOptions sample;
  sample.days = 6;
  sample.perDay = 300;
  sample.seed = 3;
  const std::string whole = dir.path("whole.log"), old = dir.path("old"), live = dir.path("live.log");
  writeFile(whole, sampleLog(sample));
  std::filesystem::create_directory(old);
  // Cut at days: b.log (later named a.log) holds the first two, so that the
  // folder's order by name is not the order in time.
  std::string parts[3];
  const std::string text = readFile(whole);
  for (std::string_view line : linesOf(text)) {
    if (line.size() < 8) continue;
    const int day = line[7] - '0';
    parts[day <= 2 ? 0 : day <= 4 ? 1 : 2].append(line).append("\r\n");
  }
  writeFile(old + "/b.log", parts[0]);
  writeFile(old + "/a.log", parts[1]);
  writeFile(live, parts[2]);
  ASSERT_EQ(std::system(("gzip -n '" + old + "/b.log'").c_str()), 0);

  Served one(whole), set(old, {live});
  ASSERT_TRUE(one.up() && set.up()) << set.line << set.process().err();
  EXPECT_TRUE(set.line.starts_with("velmora: serving " + old + " " + live + " at ")) << set.line;
  httplib::Client a = one.client(), b = set.client();
  for (const std::string params : {"", "user=%D0%9A%D0%BB%D0%B0%D0%B4%D0%BE%D0%B2%D1%89%D0%B8%D0%BA",
                                   "from=2005-01-02&to=2005-01-05&translate=all"}) {
    for (const bool back : {true, false}) {
      std::vector<std::string> wantRows, wantPos, rows, positions;
      pageThrough(a, one.auth(), params, back, wantRows, wantPos);
      pageThrough(b, set.auth(), params, back, rows, positions);
      EXPECT_EQ(rows, wantRows) << params << (back ? " back" : " forward");
      ASSERT_FALSE(positions.empty());
      EXPECT_NE(positions.front().find(':'), std::string::npos) << positions.front();
    }
  }
  for (const char* path : {"/api/histogram", "/api/users", "/api/sessions"}) {
    auto x = a.Get(path, one.auth()), y = b.Get(path, set.auth());
    ASSERT_TRUE(x && y);
    EXPECT_EQ(y->status, 200) << path << y->body;
    EXPECT_EQ(x->body, y->body) << path;
  }
  EXPECT_EQ(b.Get("/api/logs", set.auth())->body,
            "{\"logs\":[\"" + old + "/a.log\",\"" + old + "/b.log.gz\",\"" + live + "\"],\"live\":2}\n");
  auto sql = [&](const std::string& statement) { return b.Post("/api/sql", set.auth(), statement, "text/plain"); };
  const std::string counts = "SELECT count(*), sum(is_error), count(DISTINCT user) FROM log";
  auto x = a.Post("/api/sql", one.auth(), counts, "text/plain"), y = sql(counts);
  ASSERT_TRUE(x && y);
  EXPECT_EQ(x->body, y->body);
  // One of the set by its own name is read; a log beside the set is not.
  EXPECT_EQ(sql("SELECT count(*) FROM log('" + old + "/a.log')")->status, 200);
  auto refused = sql("SELECT count(*) FROM log('" + whole + "')");
  EXPECT_EQ(refused->status, 403);
  EXPECT_NE(refused->body.find("may not be read"), std::string::npos) << refused->body;
  for (const char* path : {"/api/records?pos=3:1", "/api/records?pos=12", "/api/follow?pos=0:1"})
    EXPECT_EQ(b.Get(path, set.auth())->status, 400) << path;

  // Follow goes on in the live log (the third of the set) from its last record.
  std::vector<std::string> rows, positions;
  pageThrough(b, set.auth(), "", true, rows, positions);
  ASSERT_TRUE(positions.back().starts_with("2:")) << positions.back();
  httplib::Headers resume = set.auth();
  resume.emplace("Last-Event-ID", positions.back());
  std::string seen;
  bool appended = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  httplib::Client f = set.client();
  f.Get("/api/follow", resume, [&](const char* data, std::size_t n) {
    seen.append(data, n);
    if (!appended && seen.find(": following") != std::string::npos) {
      appendFile(live, cp1251(u"20050107;00:00:01;Новый;E;Docs;DocWrite;1;;;") + "\r\n");
      appended = true;
    }
    return seen.find("\nid: ") == std::string::npos && std::chrono::steady_clock::now() < deadline;
  });
  EXPECT_NE(seen.find("id: 2:" + std::to_string(parts[2].size() + 1)), std::string::npos) << seen;
  EXPECT_NE(seen.find("\"pos\":\"2:"), std::string::npos) << seen;
  EXPECT_EQ(set.stop(), 0);
}

}  // namespace
}  // namespace velmora::testing
