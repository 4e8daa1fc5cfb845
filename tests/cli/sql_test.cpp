// velmora sql: every constraint the table takes from SQLite gives the rows
// SQLite finds when it checks them itself, and the loadable extension
// answers in the real sqlite3 shell as the tool does.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli_support.h"

namespace velmora::testing {
namespace {

// A sample log, then records of later days with Latin and Cyrillic names in
// other letter cases, a comment holding "|", a short (error) record.
std::string makeLog(TempDir& dir) {
  const std::string log = dir.path("events.log");
  const RunResult r = runVelmora({"sample", log, "--days", "20", "--per-day", "150", "--start", "2005-03-01"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  appendFile(log, cp1251(u"20050321;08:00:00;admin;E;Docs;DocWrite;1;a|b;X/1;Счёт\r\n"
                         u"20050321;08:00:00;ADMIN;e;Docs;DocWrite;1;Ошибка записи;X/2;СЧЁТ\r\n"
                         u"20050321;09:30:00;петров а.с.;E;Sys;OpenSession;5;;;\r\n"
                         u"20050321;10:00:00;Admin;C;Refs\r\n"
                         u"20050322;00:00:00;admin;E;Docs;DocWrite;1;x;X/3;y\r\n"));
  return log;
}

TEST(Sql, PushDownGivesTheRowsSqliteFindsItself) {
  TempDir dir;
  const std::string log = makeLog(dir);
  const std::vector<std::string> where{
      "date = '2005-03-05'",
      "date BETWEEN '2005-03-04' AND '2005-03-06'",
      "date > '2005-03-19' AND date < '2005-03-22'",
      "date >= '2005-03-21'",
      "date < '2005-03-02' OR date > '2005-03-20'",
      "date = '2005-03-05' AND time >= '12:00:00' AND time < '13:30:00'",
      "date = '2005-03-21' AND time > '08:00:00'",
      "date = '2005-03-21' AND time <= '08:00:00'",
      "time > '23:00:00'",
      "date = 20050305",
      "date > '2005-3-1'",
      "user = 'admin'",
      "user = 'Петров А.С.'",
      "user = 'петров а.с.'",
      "user IN ('admin', 'Бухгалтер', 'Кладовщик', 'nobody', NULL)",
      "user != 'admin'",
      "mode != 'E'",
      "number = 5",
      "number != '1'",
      "number <> 5 AND mode = 'E'",
      "event IN ('OpenSession', 'CloseSession') AND date <= '2005-03-03'",
      "user LIKE 'ADM%'",
      "user LIKE '%ов%'",
      "user LIKE '%ОВ%' AND date = '2005-03-10'",
      "user LIKE 'петров а.с.'",
      "comment LIKE '%ошибка%'",
      "comment LIKE '%a|b%'",
      "comment = 'a|b'",
      "object LIKE '%счёт%'",
      "object LIKE 'СЧЕТ'",
      "object = 'Счёт'",
      "id LIKE 'X/_'",
      "id = 'X/2'",
      "category = ''",
      "comment = ''",
      "comment IN ('x', 'a|b')",
      "user = 'admin' AND user = 'ADMIN'",
      "user IN ('admin') AND user != 'admin'",
      "pos = 1",
      "pos = 2",
      "pos = (SELECT max(pos) FROM log)",
      "pos = '1'",
      "is_error = 1 AND date > '2005-03-18'",
      "user = X'61646d696e'",
      "date < X'00' AND user = 'admin'",
  };
  std::vector<std::string> queries;
  for (const std::string& w : where) {
    queries.push_back("SELECT * FROM log WHERE " + w);
    queries.push_back("SELECT pos FROM log WHERE " + w + " ORDER BY date, time, pos LIMIT 7");
  }
  queries.push_back("SELECT user, count(*) FROM log GROUP BY user");
  queries.push_back("SELECT mode, user, count(*) FROM log WHERE date > '2005-03-15' GROUP BY mode, user");
  queries.push_back("SELECT DISTINCT object FROM log WHERE object LIKE '%счёт%'");
  queries.push_back("SELECT user, count(*) AS n FROM log GROUP BY user ORDER BY n DESC, user LIMIT 3");
  queries.push_back("SELECT user, max(time) FROM log GROUP BY user");
  queries.push_back("SELECT date, count(*) FROM log WHERE date >= '2005-03-10' GROUP BY date ORDER BY date DESC");
  queries.push_back("SELECT pos, date FROM log ORDER BY pos DESC LIMIT 3");
  queries.push_back("SELECT pos FROM log ORDER BY time, pos LIMIT 5");
  queries.push_back("SELECT a.pos FROM log a JOIN log b ON b.pos = a.pos WHERE a.user = 'admin'");
  queries.push_back("SELECT count(*) FROM log('" + log + "') WHERE user IN (SELECT user FROM log WHERE number = '5')");
  for (const std::string& q : queries) {
    const RunResult with = runVelmora({"sql", log, q, "--format", "csv"});
    const RunResult without = runVelmora({"sql", log, q, "--format", "csv", "--no-pushdown"});
    ASSERT_EQ(with.exitCode, 0) << q << "\n" << with.err;
    ASSERT_EQ(without.exitCode, 0) << q << "\n" << without.err;
    EXPECT_TRUE(with.out == without.out) << q << "\n" << with.out.substr(0, 300) << "\n--\n" << without.out.substr(0, 300);
  }
  // The differential test is worth something only if the answers differ.
  EXPECT_EQ(runVelmora({"sql", log, "SELECT count(*) FROM log WHERE user LIKE 'admin'"}).out, "count(*)\n4\n");
  EXPECT_EQ(runVelmora({"sql", log, "SELECT count(*) FROM log WHERE user = 'admin' AND date = '2005-03-21'"}).out,
            "count(*)\n1\n");
  EXPECT_EQ(runVelmora({"sql", log, "SELECT is_error FROM log WHERE date = '2005-03-21' ORDER BY pos"}).out,
            "is_error\n0\n0\n1\n1\n");
  // Every pos of a scan of the whole log is the start of its own record:
  // a seek there finds the same record.
  EXPECT_EQ(runVelmora({"sql", log,
                        "SELECT count(*) FROM log a WHERE NOT EXISTS "
                        "(SELECT 1 FROM log b WHERE b.pos = a.pos AND b.time = a.time AND b.user = a.user)"}).out,
            "count(*)\n0\n");
}

TEST(Sql, SessionsTablePairsTheLogsOpenAndCloseRecords) {
  TempDir dir;
  const std::string log = dir.path("events.log");
  writeFile(log, cp1251(u"20050301;08:30:00;Петров;E;Sys;CloseSession;1;;;\r\n"
                        u"20050301;09:00:00;Петров;E;Sys;OpenSession;1;;;\r\n"
                        u"20050301;09:05:00;admin;C;Sys;OpenSession;1;;;\r\n"
                        u"20050301;09:10:00;Петров;E;Docs;DocWrite;1;;;\r\n"
                        u"20050301;23:00:00;Петров;E;Sys;CloseSession;1;;;\r\n"));
  const std::string other = dir.path("other.log");
  writeFile(other, "20050302;10:00:00;B;E;Sys;OpenSession;1;;;\r\n20050302;10:00:09;B;E;Sys;CloseSession;1;;;\r\n");
  struct Case {
    std::string query, csv;
  };
  const std::vector<Case> cases{
      {"SELECT * FROM sessions",
       "user,mode,start,end,seconds,file\r\n"
       "Петров,E,,2005-03-01 08:30:00,," + log + "\r\n"
       "Петров,E,2005-03-01 09:00:00,2005-03-01 23:00:00,50400," + log + "\r\n"
       "admin,C,2005-03-01 09:05:00,,," + log + "\r\n"},
      {"SELECT user, start IS NULL, end IS NULL, seconds IS NULL FROM sessions WHERE seconds IS NULL",
       "user,start IS NULL,end IS NULL,seconds IS NULL\r\nПетров,1,0,1\r\nadmin,0,1,1\r\n"},
      {"SELECT user, seconds FROM sessions('" + other + "')", "user,seconds\r\nB,9\r\n"},
      // The log's own records inside each closed session.
      {"SELECT s.user, count(*) FROM sessions s JOIN log l ON l.user = s.user AND l.mode = s.mode "
       "AND l.date || ' ' || l.time BETWEEN s.start AND s.end GROUP BY s.user",
       "user,count(*)\r\nПетров,3\r\n"},
  };
  for (const Case& c : cases) {
    const RunResult r = runVelmora({"sql", log, c.query, "--format", "csv"});
    EXPECT_EQ(r.exitCode, 0) << c.query << "\n" << r.err;
    EXPECT_EQ(r.out, c.csv) << c.query;
  }
  const RunResult missing = runVelmora({"sql", log, "SELECT * FROM sessions('" + dir.path("none.log") + "')"});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
}

TEST(Sql, ErrorsAndExitCodes) {
  TempDir dir;
  const std::string log = makeLog(dir);
  const RunResult bad = runVelmora({"sql", log, "SELEC 1"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("syntax error"), std::string::npos) << bad.err;
  const RunResult missing = runVelmora({"sql", dir.path("none.log"), "SELECT count(*) FROM log"});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_NE(missing.err.find("does not exist"), std::string::npos) << missing.err;
  const RunResult json = runVelmora({"sql", log, "SELECT user, count(*) AS n FROM log WHERE pos = 1", "--format", "jsonl"});
  EXPECT_EQ(json.exitCode, 0);
  EXPECT_EQ(json.out.substr(0, 9), "{\"user\":\"") << json.out;
  EXPECT_NE(json.out.find("\"n\":1}"), std::string::npos) << json.out;
  // Each value typed as SQLite has it, NULL included; CSV keeps NULL empty.
  const std::string typed = "SELECT start, seconds FROM (SELECT NULL AS start, NULL AS seconds UNION ALL "
                            "SELECT '2005-01-01 09:00:00', 3600 UNION ALL SELECT '', '3600' UNION ALL SELECT 1.5, X'41')";
  EXPECT_EQ(runVelmora({"sql", log, typed, "--format", "jsonl"}).out,
            "{\"start\":null,\"seconds\":null}\n{\"start\":\"2005-01-01 09:00:00\",\"seconds\":3600}\n"
            "{\"start\":\"\",\"seconds\":\"3600\"}\n{\"start\":1.5,\"seconds\":\"A\"}\n");
  EXPECT_EQ(runVelmora({"sql", log, typed, "--format", "csv"}).out,
            "start,seconds\r\n,\r\n2005-01-01 09:00:00,3600\r\n,3600\r\n1.5,A\r\n");
}

TEST(Sql, CtrlCStopsAQueryThatWouldNotEnd) {
  TempDir dir;
  const std::string log = makeLog(dir);
  // Some 10^10 rows: without the interrupt this runs for hours. Its first
  // rows out are the sign that it runs, its handler installed.
  Running run({"sql", log, "SELECT a.pos FROM log a, log b, log c", "--format", "csv"});
  ASSERT_TRUE(run.waitForLines(2));
  run.signal(SIGINT);
  EXPECT_EQ(run.wait(), 130);
  EXPECT_NE(run.err().find("interrupted"), std::string::npos) << run.err();
}

TEST(Sql, LoadableExtensionAnswersInTheSqliteShell) {
  TempDir dir;
  const std::string log = makeLog(dir);
  const std::string q = "SELECT user, count(*), sum(is_error) FROM log('" + log +
                        "') WHERE user LIKE '%ОВ%' OR user = 'admin' GROUP BY user ORDER BY user;";
  const std::string script = dir.path("script.sql");
  writeFile(script, ".load " VELMORA_SQLITE_MODULE "\n.mode csv\n.headers on\n" + q + "\n");
#ifndef VELMORA_SQLITE_SHELL_ENV
#define VELMORA_SQLITE_SHELL_ENV ""
#endif
  std::FILE* p = ::popen((VELMORA_SQLITE_SHELL_ENV "sqlite3 :memory: < '" + script + "' 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string shell;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) shell.append(buf, n);
  EXPECT_EQ(::pclose(p), 0) << shell;
  const RunResult tool = runVelmora({"sql", log, q, "--format", "csv"});
  ASSERT_EQ(tool.exitCode, 0) << tool.err;
  // The two write CSV alike but for line ends and which fields they quote.
  auto bare = [](const std::string& text) {
    std::string out;
    for (char c : text)
      if (c != '\r' && c != '"') out.push_back(c);
    return out;
  };
  EXPECT_EQ(bare(shell), bare(tool.out));
  EXPECT_GT(tool.out.size(), 30u);
}

}  // namespace
}  // namespace velmora::testing
