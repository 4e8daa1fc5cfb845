// velmora report in a real browser: headless Chromium renders the page,
// writes back its DOM and takes a screenshot; the counts on the rendered
// bars must equal those of velmora stats on the same log, and a hostile
// record must stay text. Exit 0 passed, 1 failed, 77 skipped (no browser
// could start; the reason is printed).
//
//   report_browser_test OUT_DIR   (report.html, report-dom.html and report.png are kept there)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "cli_support.h"
#include "html_check.h"
#include "sample/sample.h"

extern char** environ;

namespace {

using namespace velmora::testing;

constexpr int kSkip = 77;

struct Outcome {
  int exitCode = -1;  // -1: killed, or did not start
  bool timedOut = false;
  std::string out, err;
};

// Runs a program with its output captured, killed after a time limit: a
// browser that hangs must not hang the test.
Outcome runProgram(const std::vector<std::string>& args, int seconds) {
  Outcome o;
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return o;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (rc != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    o.err = "cannot start " + args[0];
    return o;
  }
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int fds[2] = {outPipe[0], errPipe[0]};
  while (fds[0] >= 0 || fds[1] >= 0) {
    if (std::chrono::steady_clock::now() > limit) {
      o.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    pollfd p[2];
    int n = 0;
    for (int fd : fds)
      if (fd >= 0) p[n++] = {fd, POLLIN, 0};
    if (poll(p, static_cast<nfds_t>(n), 200) <= 0) continue;
    for (int k = 0; k < n; ++k) {
      if (!(p[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[65536];
      const ssize_t got = read(p[k].fd, buf, sizeof buf);
      const bool isOut = p[k].fd == fds[0];
      if (got > 0) {
        (isOut ? o.out : o.err).append(buf, static_cast<std::size_t>(got));
      } else {
        close(p[k].fd);
        (isOut ? fds[0] : fds[1]) = -1;
      }
    }
  }
  for (int fd : fds)
    if (fd >= 0) close(fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  o.exitCode = !o.timedOut && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return o;
}

std::string findBrowser() {
  if (const char* given = std::getenv("VELMORA_CHROMIUM"); given && *given) return given;
  const char* path = std::getenv("PATH");
  for (const std::string name : {"chromium", "chromium-browser"}) {
    for (std::string_view rest = path ? path : "/usr/bin"; !rest.empty();) {
      const std::size_t colon = rest.find(':');
      const std::string candidate = std::string(rest.substr(0, colon)) + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
      rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
  }
  return {};
}

// The launch that works on a machine without a display, a GPU or a user
// namespace, as root, with no network: nothing outside the page is asked for.
std::vector<std::string> browserArgs(const std::string& browser, const std::string& profile) {
  return {browser, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
          "--disable-background-networking", "--disable-component-update", "--disable-sync", "--hide-scrollbars",
          "--user-data-dir=" + profile};
}

std::string tail(const std::string& text, std::size_t lines) {
  std::size_t at = text.size();
  while (lines-- > 0 && at > 0) at = text.rfind('\n', at - 1);
  return at == std::string::npos || at == 0 ? text : text.substr(at + 1);
}

int failures = 0;
void check(bool ok, const std::string& what) {
  if (ok) return;
  ++failures;
  std::printf("FAIL: %s\n", what.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: report_browser_test OUT_DIR\n");
    return 2;
  }
  const std::string outDir = argv[1];
  const std::string browser = findBrowser();
  if (browser.empty()) {
    std::printf("SKIPPED: no chromium on PATH and VELMORA_CHROMIUM not set (scripts/install-deps.sh installs "
                "Debian's chromium)\n");
    return kSkip;
  }
  TempDir dir;

  // Can this browser start here at all? Asked of a page of our own first, so
  // that a browser that cannot run is told apart from a report that is wrong.
  const std::string probe = dir.path("probe.html");
  writeFile(probe, "<!DOCTYPE html><p id=\"probe\">ok</p>");
  auto probeArgs = browserArgs(browser, dir.path("profile-probe"));
  probeArgs.insert(probeArgs.end(), {"--dump-dom", "file://" + probe});
  const Outcome started = runProgram(probeArgs, 120);
  if (started.exitCode != 0 || started.out.find("id=\"probe\"") == std::string::npos) {
    std::printf("SKIPPED: %s could not render a page here (%s); its last words:\n%s\n", browser.c_str(),
                started.timedOut ? "timed out" : ("exit " + std::to_string(started.exitCode)).c_str(),
                tail(started.err, 8).c_str());
    return kSkip;
  }

  // A log of two months opened by a hostile error record, so that it is
  // among the error records the page lists.
  const std::string log = dir.path("events.log");
  velmora::SampleOptions options;
  options.days = 60;
  options.perDay = 400;
  options.seed = 5;
  const std::string hostileComment =
      "</script><script>document.title='owned'</script><img src=x onerror=\"document.title='owned'\"> ]]> \x01";
  const std::string hostileUser = "\"><img src=y onerror=alert(1)>";
  writeFile(log, "20041231;23:00:00;" + hostileUser + ";E;Docs;DocWrite;5;" + hostileComment + ";;\r\n" +
                     velmora::sampleLog(options));
  RunResult r;

  const std::string page = outDir + "/report.html";
  r = runVelmora({"report", log, "-o", page});
  if (r.exitCode != 0) {
    std::printf("FAIL: velmora report: %s\n", r.err.c_str());
    return 1;
  }
  const RunResult stats = runVelmora({"stats", log, "--format", "csv", "--top", "25"});
  if (stats.exitCode != 0) {
    std::printf("FAIL: velmora stats: %s\n", stats.err.c_str());
    return 1;
  }

  auto domArgs = browserArgs(browser, dir.path("profile-dom"));
  domArgs.insert(domArgs.end(), {"--dump-dom", "file://" + page});
  const Outcome dom = runProgram(domArgs, 120);
  check(dom.exitCode == 0, "the browser rendered the report (exit " + std::to_string(dom.exitCode) + "): " + tail(dom.err, 5));
  writeFile(outDir + "/report-dom.html", dom.out);

  const std::string png = outDir + "/report.png";
  std::remove(png.c_str());
  auto shotArgs = browserArgs(browser, dir.path("profile-shot"));
  shotArgs.insert(shotArgs.end(), {"--window-size=1280,1600", "--screenshot=" + png, "file://" + page});
  const Outcome shot = runProgram(shotArgs, 120);
  check(shot.exitCode == 0 && exists(png), "the browser took a screenshot: " + tail(shot.err, 5));
  if (exists(png)) {
    const std::string image = readFile(png);
    check(image.rfind("\x89PNG\r\n\x1a\n", 0) == 0, "the screenshot is a PNG");
    // A blank page compresses to a few kilobytes; bars, tables and text do not.
    check(image.size() > 40000, "the screenshot shows a drawn page (" + std::to_string(image.size()) + " bytes)");
  }

  // The bars of the rendered page against the rows of stats.
  const std::vector<HtmlTag> tags = scanDom(dom.out);
  std::map<std::pair<std::string, std::string>, std::pair<long long, long long>> shown, expected;
  try {
    shown = countsOf(tags);
  } catch (const std::exception& e) {
    check(false, e.what());
  }
  long long total = -1;
  for (const auto& row : parseCsv(stats.out)) {
    if (row.size() != 4 || row[0] == "group") continue;
    if (row[0] == "total") total = std::stoll(row[2]);
    else expected[{row[0], row[1]}] = {std::stoll(row[2]), std::stoll(row[3])};
  }
  check(!expected.empty() && shown == expected, "the rendered bars carry the counts of velmora stats (" +
                                                    std::to_string(shown.size()) + " shown, " +
                                                    std::to_string(expected.size()) + " in stats)");
  for (const auto& [key, counts] : expected) {
    const auto it = shown.find(key);
    if (it == shown.end()) check(false, "not on the page: " + key.first + " " + key.second);
    else if (it->second != counts) check(false, "other counts on the page: " + key.first + " " + key.second);
  }
  std::string totalShown;
  for (const HtmlTag& t : tags)
    if (!t.attribute("data-total").empty()) totalShown = t.attribute("data-total");
  check(totalShown == std::to_string(total), "the page's total is that of stats: " + totalShown);

  // Hostile text stayed text: no element came of it, and it reads back whole.
  bool comment = false, title = false;
  for (const HtmlTag& t : tags) {
    check(t.name != "img" && t.name != "script" && t.name != "/script", "no <" + t.name + "> element in the page");
    if (t.name == "td" && t.attribute("class") == "comment" &&
        t.text == "</script><script>document.title='owned'</script><img src=x onerror=\"document.title='owned'\"> ]]> \u2401")
      comment = true;
    if (t.name == "title" && t.text.find("owned") == std::string::npos && t.text.find("Activity of") == 0) title = true;
  }
  check(comment, "the hostile comment reads back whole in its cell");
  check(title, "the page's title is its own");
  check(shown.count({"user", hostileUser}) == 1, "the hostile user name is a bar like any other");

  std::printf("report_in_browser: %zu bars checked against velmora stats in %s; screenshot %s, DOM %s/report-dom.html\n",
              shown.size(), browser.c_str(), png.c_str(), outDir.c_str());
  if (failures) std::printf("%d check(s) failed\n", failures);
  return failures ? 1 : 0;
}
