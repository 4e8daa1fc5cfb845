// velmora report: a page that holds only its own markup whatever the log
// holds, with the counts of velmora stats on its bars.
#include "cli/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/html.h"
#include "cli_support.h"
#include "html_check.h"
#include "sample/sample.h"

namespace velmora::testing {
namespace {

class Report : public ::testing::Test {
 protected:
  void SetUp() override {
    SampleOptions o;
    o.days = 40;
    o.perDay = 150;
    o.seed = 17;
    bytes = sampleLog(o);
    writeFile(log, bytes);
  }
  std::string report(std::vector<std::string> more, int expectedExit = 0) {
    std::vector<std::string> args{"report", log, "-o", page};
    args.insert(args.end(), more.begin(), more.end());
    const RunResult r = runVelmora(args);
    EXPECT_EQ(r.exitCode, expectedExit) << r.err;
    return r.exitCode == 0 ? readFile(page) : std::string();
  }
  std::vector<HtmlTag> scanned(const std::string& html) {
    std::vector<HtmlTag> tags;
    const std::string problem = scanReportHtml(html, tags);
    EXPECT_EQ(problem, "");
    return tags;
  }
  TempDir dir;
  std::string log = dir.path("events.log"), page = dir.path("report.html"), bytes;
};

TEST_F(Report, BarsCarryTheCountsOfStats) {
  const std::string html = report({"--not-user", "Козлова"});
  const auto tags = scanned(html);
  const RunResult stats = runVelmora({"stats", log, "--not-user", "Козлова", "--format", "csv", "--top", "25"});
  ASSERT_EQ(stats.exitCode, 0) << stats.err;
  std::map<std::pair<std::string, std::string>, std::pair<long long, long long>> expected;
  long long total = 0;
  for (const auto& row : parseCsv(stats.out)) {
    if (row[0] == "group") continue;
    if (row[0] == "total") {
      total = std::stoll(row[2]);
      continue;
    }
    expected[{row[0], row[1]}] = {std::stoll(row[2]), std::stoll(row[3])};
  }
  const auto shown = countsOf(tags);
  EXPECT_EQ(shown, expected);
  EXPECT_GT(shown.size(), 40u + 11 + 25);
  EXPECT_TRUE(shown.count({"day", "2005-02-09"})) << "forty days: by the day";
  EXPECT_FALSE(shown.count({"user", "Козлова"}));

  // Each bar's coloured parts add up to its count.
  long long records = 0;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (tags[i].name != "g" || tags[i].attribute("data-group") != "day") continue;
    long long parts = 0;
    for (std::size_t j = i + 1; j < tags.size() && tags[j].name != "/g"; ++j)
      if (tags[j].name == "rect") parts += std::stoll(tags[j].attribute("data-count"));
    EXPECT_EQ(parts, std::stoll(tags[i].attribute("data-records"))) << tags[i].attribute("data-key");
    records += parts;
  }
  EXPECT_EQ(records, total);
}

TEST_F(Report, StandsAloneWithNothingToLoadOrRun) {
  const std::string html = report({});
  scanned(html);  // no script, img, link, iframe or object tag; no src or href
  EXPECT_NE(html.find("Content-Security-Policy\" content=\"default-src 'none'"), std::string::npos);
  for (const char* outside : {"http:", "https:", "url(", "@import", "javascript:"})
    EXPECT_EQ(html.find(outside), std::string::npos) << outside;
  EXPECT_LT(html.size(), 2u << 20);
}

TEST_F(Report, ChartsSessionsOpenAtOnceWithEachDaysPeak) {
  // A opens before the log (closed 08:00) and again at 09:00, never closed;
  // B twice, the second never closed; C on the next day.
  writeFile(log,
            "20050301;07:00:00;X;E;Docs;DocWrite;1;;;\r\n20050301;08:00:00;A;E;Sys;CloseSession;1;;;\r\n"
            "20050301;09:00:00;A;E;Sys;OpenSession;1;;;\r\n20050301;09:30:00;B;C;Sys;OpenSession;1;;;\r\n"
            "20050301;09:45:00;B;C;Sys;CloseSession;1;;;\r\n20050301;10:00:00;B;C;Sys;OpenSession;1;;;\r\n"
            "20050302;10:00:00;C;E;Sys;OpenSession;1;;;\r\n20050302;11:00:00;A;E;Sys;CloseSession;1;;;\r\n"
            "20050302;12:00:00;X;E;Docs;DocWrite;1;;;\r\n");
  const auto tags = scanned(report({}));
  std::map<std::string, std::string> days, hours;
  std::string sessions, peak, drawn;
  for (const HtmlTag& t : tags) {
    if (t.name == "g" && t.attribute("class") == "day") days[t.attribute("data-day")] = t.attribute("data-peak");
    if (t.name == "rect" && !t.attribute("data-hour").empty()) hours[t.attribute("data-hour")] = t.attribute("data-peak");
    if (!t.attribute("data-sessions").empty()) sessions = t.attribute("data-sessions"), peak = t.attribute("data-peak");
    if (t.name == "svg" && !t.attribute("data-hours").empty()) drawn = t.attribute("data-hours");
  }
  EXPECT_EQ(days, (std::map<std::string, std::string>{{"2005-03-01", "2"}, {"2005-03-02", "3"}}));
  EXPECT_EQ(sessions, "5");
  EXPECT_EQ(peak, "3");
  EXPECT_EQ(drawn, "30");  // 07:00 of one day to 12:00 of the next
  EXPECT_EQ(hours["2005-03-01 07:00"], "1");  // the session the log starts inside
  EXPECT_EQ(hours.count("2005-03-01 08:00"), 0u);  // closed at its first second
  EXPECT_EQ(hours["2005-03-02 11:00"], "2");
}

TEST_F(Report, HostileTextFromTheLogStaysText) {
  const std::string hostileComment =
      "</script><script>alert(1)</script><img src=x onerror=alert(2)> \"quoted\" 'single' ]]> <!-- "
      "</td></table> &amp; \x01\x1b\x7f end";
  const std::string hostileUser = "\"><svg onload=alert(3)>";
  const std::string hostileEvent = "<b>Evil</b>";
  appendFile(log, "20050210;12:00:00;" + hostileUser + ";E;Docs;" + hostileEvent + ";5;" + hostileComment + ";;\r\n");
  const std::string html = report({"--by", "week", "--top", "0"});
  const auto tags = scanned(html);
  const auto shown = countsOf(tags);
  EXPECT_EQ(shown.at({"user", hostileUser}), std::make_pair(1LL, 1LL));
  EXPECT_EQ(shown.at({"event", hostileEvent}), std::make_pair(1LL, 1LL));

  // The comment reads back whole in its cell, the control bytes as symbols.
  const std::string expected =
      "</script><script>alert(1)</script><img src=x onerror=alert(2)> \"quoted\" 'single' ]]> <!-- "
      "</td></table> &amp; \u2401\u241B\u2421 end";
  bool found = false;
  for (std::size_t i = 0; i < tags.size(); ++i)
    if (tags[i].name == "td" && tags[i].attribute("class") == "comment" && tags[i].text == expected) found = true;
  EXPECT_TRUE(found) << "the hostile comment in the error table";
}

TEST_F(Report, ListsTheFirstErrorRecordsAndCountsThemAll) {
  long long errors = 0;
  for (auto line : linesOf(bytes)) errors += splitOn(line, ';')[6] == "5";
  ASSERT_GT(errors, 5);
  const auto tags = scanned(report({"--error-rows", "5"}));
  int rows = 0;
  std::string total;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (!tags[i].attribute("data-error-total").empty()) {
      total = tags[i].attribute("data-error-total");
      EXPECT_EQ(tags[i].attribute("data-error-listed"), "5");
    }
    rows += tags[i].name == "td" && tags[i].attribute("class") == "comment";
  }
  EXPECT_EQ(rows, 5);
  EXPECT_EQ(total, std::to_string(errors));
}

TEST_F(Report, RefusesToWriteOverTheLogAndWritesNothingForNothing) {
  RunResult r = runVelmora({"report", log, "-o", log});
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("the log itself"), std::string::npos) << r.err;
  EXPECT_EQ(readFile(log), bytes);
  r = runVelmora({"report", log});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("-o"), std::string::npos) << r.err;
  report({"--user", "Никто"}, 1);
  EXPECT_FALSE(exists(page));
  r = runVelmora({"report", log, "-o", dir.path("no/such/folder/r.html")});
  EXPECT_EQ(r.exitCode, 2) << r.err;
}

TEST(Html, EscapesWhatCouldEndTextOrAValue) {
  EXPECT_EQ(cli::html("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
  EXPECT_EQ(cli::html("Иванов Н.П."), "Иванов Н.П.") << "letters pass as they are";
  EXPECT_EQ(cli::html(std::string("\0\t\n\x1f\x7f", 5)), "\u2400\u2409\u240A\u241F\u2421");
  EXPECT_EQ(cli::html("x\u0085y\u00A0z"), "x\uFFFDy\u00A0z") << "C1 controls become the replacement character";
  EXPECT_EQ(cli::groupedNumber(0), "0");
  EXPECT_EQ(cli::groupedNumber(999), "999");
  EXPECT_EQ(cli::groupedNumber(1234567), "1\u202F234\u202F567");
}

}  // namespace
}  // namespace velmora::testing
