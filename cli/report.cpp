#include "cli/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>
#include <sstream>

#include "cli/files.h"
#include "cli/html.h"
#include "cli/log_names.h"
#include "core/log_set.h"
#include "core/failure.h"
#include "core/fileio.h"
#include "core/reader.h"
#include "core/calendar.h"
#include "text/codepage.h"
#include "text/text.h"
#include "transform/lookup.h"
#include "cli/stats.h"

namespace velmora::cli {
namespace {

constexpr std::array<const char*, kModeSlots> kModeClasses{"mE", "mC", "mM", "mD", "mX"};

constexpr const char* kStyle = R"(
:root { --E: #4e79a7; --C: #f28e2b; --M: #59a14f; --D: #b07aa1; --X: #9c9c9c; --err: #d62728; --ink: #222; --soft: #666; --rule: #ddd; }
* { box-sizing: border-box; }
body { font: 14px/1.4 "DejaVu Sans", "Segoe UI", Arial, sans-serif; color: var(--ink); margin: 0 auto; padding: 16px 24px; max-width: 1120px; background: #fff; }
h1 { font-size: 22px; margin: 0 0 4px; }
h2 { font-size: 17px; margin: 28px 0 8px; border-bottom: 1px solid var(--rule); padding-bottom: 3px; }
.meta { color: var(--soft); margin: 0; }
.meta b { color: var(--ink); font-weight: 600; }
svg { display: block; }
svg.activity { width: 100%; height: auto; }
svg text { font: 11px "DejaVu Sans", Arial, sans-serif; fill: var(--soft); }
.grid line { stroke: var(--rule); stroke-width: 1; }
.mE { fill: var(--E); } .mC { fill: var(--C); } .mM { fill: var(--M); } .mD { fill: var(--D); } .mX { fill: var(--X); }
.err { fill: var(--err); } .ok { fill: var(--E); }
g.day line { stroke: var(--err); stroke-width: 1.5; }
ul.legend { list-style: none; padding: 0; margin: 6px 0 0; display: flex; flex-wrap: wrap; gap: 4px 18px; }
ul.legend li { display: flex; align-items: center; gap: 6px; }
ul.legend svg { width: 12px; height: 12px; }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: 3px 8px; border-bottom: 1px solid var(--rule); vertical-align: top; }
th { font-weight: 600; background: #f6f6f6; }
td.n, th.n { text-align: right; white-space: nowrap; font-variant-numeric: tabular-nums; }
td.barcell { width: 42%; vertical-align: middle; }
td.barcell svg { width: 100%; height: 12px; }
.code { color: var(--soft); font-size: 12px; }
tr.more td { color: var(--soft); font-style: italic; }
table.errors td { font-size: 13px; }
table.errors td.comment { word-break: break-word; }
footer { color: var(--soft); margin-top: 28px; font-size: 12px; }
@page { size: A4 landscape; margin: 12mm; }
@media print {
  body { padding: 0; max-width: none; }
  section { break-inside: avoid; }
  table.errors tr { break-inside: avoid; }
  section.errors { break-inside: auto; }
}
)";

std::string num(std::uint64_t v) { return std::to_string(v); }

// A coordinate with two decimals at most.
std::string coord(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  std::string s = buf;
  while (s.find('.') != std::string::npos && (s.back() == '0' || s.back() == '.')) {
    const bool dot = s.back() == '.';
    s.pop_back();
    if (dot) break;
  }
  return s == "-0" ? "0" : s;
}

double niceStep(double rough) {
  if (rough <= 0) return 1;
  const double p = std::pow(10.0, std::floor(std::log10(rough)));
  const double f = rough / p;
  return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * p;
}

// The data attributes that tie a bar to a row of velmora stats.
void appendCounts(std::string& o, const char* group, const std::string& key, const Count& c) {
  o += " data-group=\"";
  o += group;
  o += "\" data-key=\"";
  appendHtml(o, key);
  o += "\" data-records=\"" + num(c.records) + "\" data-errors=\"" + num(c.errors) + "\"";
}

struct ModeNames {
  std::array<std::string, kModeSlots> label;
};

ModeNames modeNames(bool raw) {
  ModeNames n;
  for (int m = 0; m < 4; ++m) {
    U16String text(1, static_cast<char16_t>(kModeCodes[static_cast<std::size_t>(m)]));
    if (!raw) presentCode(4, text);
    n.label[static_cast<std::size_t>(m)] = toUtf8(text);
  }
  n.label[kModeOther] = "other";
  return n;
}

void activityChart(std::string& o, const Summary& s) {
  constexpr double W = 1000, H = 300, left = 58, right = 40, top = 10, bottom = 36;
  constexpr double PW = W - left - right, PH = H - top - bottom;
  std::uint64_t largest = 0;
  for (const Bucket& b : s.timeline) largest = std::max(largest, b.activity.count.records);
  const double step = niceStep(static_cast<double>(std::max<std::uint64_t>(largest, 1)) / 4);
  const double yMax = std::max(step, std::ceil(static_cast<double>(largest) / step) * step);
  const std::size_t n = s.timeline.size();

  o += "<svg class=\"activity\" viewBox=\"0 0 " + coord(W) + " " + coord(H) + "\" role=\"img\" data-by=\"";
  o += bucketName(s.by);
  o += "\" data-buckets=\"" + num(n) + "\" aria-label=\"Records by " + std::string(bucketName(s.by)) + "\">\n";
  o += "<g class=\"grid\">";
  for (double v = 0; v <= yMax + step / 2; v += step) {
    const double y = top + PH - v / yMax * PH;
    o += "<line x1=\"" + coord(left) + "\" x2=\"" + coord(W - right) + "\" y1=\"" + coord(y) + "\" y2=\"" + coord(y) +
         "\"/><text x=\"" + coord(left - 6) + "\" y=\"" + coord(y + 4) + "\" text-anchor=\"end\">" +
         groupedNumber(static_cast<std::uint64_t>(v)) + "</text>";
  }
  o += "</g>\n";
  if (n == 0) {
    o += "</svg>\n";
    return;
  }
  const double slot = PW / static_cast<double>(n);
  const double gap = slot >= 4 ? slot * 0.15 : 0;
  const double barWidth = std::max(slot - gap, 0.5);
  const std::size_t keyLength = s.timeline.front().key.size();
  const auto maxLabels = std::max<std::size_t>(1, static_cast<std::size_t>(PW / (static_cast<double>(keyLength) * 6.6 + 14)));
  const std::size_t every = (n + maxLabels - 1) / maxLabels;

  for (std::size_t i = 0; i < n; ++i) {
    const Bucket& b = s.timeline[i];
    const Activity& a = b.activity;
    const double x = left + static_cast<double>(i) * slot + gap / 2;
    o += "<g class=\"bucket\"";
    appendCounts(o, bucketName(s.by), b.key, a.count);
    o += "><title>";
    appendHtml(o, b.key);
    o += ": " + num(a.count.records) + " records, " + num(a.count.errors) + " error records</title>";
    double y = top + PH;
    auto segment = [&](const char* cls, const char* mode, std::uint64_t count) {
      if (count == 0) return;
      const double h = static_cast<double>(count) / yMax * PH;
      y -= h;
      o += "<rect class=\"";
      o += cls;
      o += "\" data-mode=\"";
      o += mode;
      o += "\" data-count=\"" + num(count) + "\" x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" width=\"" +
           coord(barWidth) + "\" height=\"" + coord(h) + "\"/>";
    };
    static constexpr std::array<const char*, kModeSlots> kModeKeys{"E", "C", "M", "D", "other"};
    for (int m = 0; m < kModeSlots; ++m)
      segment(kModeClasses[static_cast<std::size_t>(m)], kModeKeys[static_cast<std::size_t>(m)],
              a.byMode[static_cast<std::size_t>(m)] - a.errorsByMode[static_cast<std::size_t>(m)]);
    segment("err", "error", a.count.errors);
    o += "</g>\n";
  }
  o += "<g class=\"labels\">";
  for (std::size_t i = 0; i < n; i += every) {
    const double x = left + (static_cast<double>(i) + 0.5) * slot;
    o += "<text x=\"" + coord(x) + "\" y=\"" + coord(top + PH + 16) + "\" text-anchor=\"middle\">";
    appendHtml(o, s.timeline[i].key);
    o += "</text>";
  }
  o += "</g>\n</svg>\n";
}

void legend(std::string& o, const Summary& s, const ModeNames& names) {
  o += "<ul class=\"legend\">";
  for (const Ranked& m : s.modes) {
    int slot = kModeOther;
    for (int k = 0; k < 4; ++k)
      if (m.code.size() == 1 && m.code[0] == kModeCodes[static_cast<std::size_t>(k)]) slot = k;
    o += "<li";
    appendCounts(o, "mode", m.label, m.count);
    o += "><svg viewBox=\"0 0 12 12\"><rect class=\"";
    o += kModeClasses[static_cast<std::size_t>(slot)];
    o += "\" width=\"12\" height=\"12\"/></svg>";
    appendHtml(o, names.label[static_cast<std::size_t>(slot)]);
    o += " <span class=\"code\">" + groupedNumber(m.count.records - m.count.errors) + "</span></li>";
  }
  o += "<li><svg viewBox=\"0 0 12 12\"><rect class=\"err\" width=\"12\" height=\"12\"/></svg>error records "
       "<span class=\"code\">" + groupedNumber(s.total.errors) + "</span></li></ul>\n";
}

void ranking(std::string& o, const char* id, const char* title, const char* heading, const char* group,
             const char* noun, const RankedList& ranking, int top, bool showCode) {
  const std::vector<Ranked>& list = ranking.top;
  const std::size_t n = top > 0 ? std::min(list.size(), static_cast<std::size_t>(top)) : list.size();
  std::uint64_t largest = 0;
  for (std::size_t i = 0; i < n; ++i) largest = std::max(largest, list[i].count.records);
  o += "<section id=\"";
  o += id;
  o += "\"><h2>";
  o += title;
  o += "</h2>\n<table class=\"ranking\"><thead><tr><th>";
  o += heading;
  o += "</th><th>records, error records in red</th><th class=\"n\">records</th><th class=\"n\">errors</th></tr></thead><tbody>\n";
  for (std::size_t i = 0; i < n; ++i) {
    const Ranked& r = list[i];
    o += "<tr";
    appendCounts(o, group, r.label, r.count);
    o += "><td>";
    appendHtml(o, r.label);
    if (showCode && r.code != r.label) {
      o += " <span class=\"code\">";
      appendHtml(o, r.code);
      o += "</span>";
    }
    const double whole = largest ? static_cast<double>(r.count.records) / static_cast<double>(largest) * 300 : 0;
    const double errors = largest ? static_cast<double>(r.count.errors) / static_cast<double>(largest) * 300 : 0;
    o += "</td><td class=\"barcell\"><svg viewBox=\"0 0 300 12\" preserveAspectRatio=\"none\"><rect class=\"ok\" x=\"0\" "
         "y=\"0\" width=\"" + coord(whole - errors) + "\" height=\"12\"/>";
    if (r.count.errors)
      o += "<rect class=\"err\" x=\"" + coord(whole - errors) + "\" y=\"0\" width=\"" + coord(errors) + "\" height=\"12\"/>";
    o += "</svg></td><td class=\"n\">" + groupedNumber(r.count.records) + "</td><td class=\"n\">" +
         groupedNumber(r.count.errors) + "</td></tr>\n";
  }
  if (n < list.size() || ranking.more > 0) {
    std::uint64_t rest = ranking.moreRecords;
    for (std::size_t i = n; i < list.size(); ++i) rest += list[i].count.records;
    o += "<tr class=\"more\"><td colspan=\"4\">… " + num(list.size() - n + ranking.more) + " more " + noun + " with " +
         groupedNumber(rest) + " records</td></tr>\n";
  }
  o += "</tbody></table></section>\n";
}

std::string decoded(std::string_view bytes, const CodePage& cp) { return toUtf8(cp.decode(bytes)); }

std::string isoDate(const std::string& bytes, const CodePage& cp) {
  if (bytes.size() == 8 && std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return bytes.substr(0, 4) + "-" + bytes.substr(4, 2) + "-" + bytes.substr(6, 2);
  return decoded(bytes, cp);
}

void errorTable(std::string& o, const Summary& s, const std::vector<ErrorRecord>& errors, bool raw,
                const CodePage& cp) {
  o += "<section id=\"errors\" class=\"errors\"><h2>Error records</h2>\n<p class=\"meta\" data-error-total=\"" +
       num(s.total.errors) + "\" data-error-listed=\"" + num(errors.size()) + "\">";
  if (s.total.errors == 0) {
    o += "No error records.</p></section>\n";
    return;
  }
  o += "<b>" + groupedNumber(s.total.errors) + "</b> error records in all";
  if (errors.size() < s.total.errors) o += "; the first " + groupedNumber(errors.size()) + " are listed";
  o += ".</p>\n";
  bool objects = false;
  for (const ErrorRecord& e : errors) objects = objects || !e.fields[10].empty();
  o += "<table class=\"errors\"><thead><tr><th>Date</th><th>Time</th><th>User</th><th>Mode</th><th>Event</th><th>Comment</th>";
  if (objects) o += "<th>Object</th>";
  o += "</tr></thead><tbody>\n";
  CodeTranslator shown(cp, raw ? TranslatedFields{} : fieldSet({4, 6}));
  for (const ErrorRecord& e : errors) {
    auto cell = [&](const std::string& text, const char* cls = nullptr) {
      o += cls ? "<td class=\"" + std::string(cls) + "\">" : std::string("<td>");
      appendHtml(o, text);
      o += "</td>";
    };
    o += "<tr>";
    cell(isoDate(e.fields[1], cp));
    cell(decoded(e.fields[2], cp));
    cell(decoded(e.fields[3], cp));
    cell(shown.utf8(4, e.fields[4]));
    cell(shown.utf8(6, e.fields[6]));
    cell(decoded(e.fields[8], cp), "comment");
    if (objects) cell(decoded(e.fields[10], cp));
    o += "</tr>\n";
  }
  o += "</tbody></table></section>\n";
}


// Sessions open at once, hour by hour over the report's span: each hour's
// peak, and each day's peak over its hours, what licences are counted by.
// A session of unknown start counts from the span's start, one never
// closed to its end; a Close and an Open in the same second do not overlap.
struct HourPeak {
  std::int64_t hour;  // seconds since 1970 / 3600
  int peak;
};

std::vector<HourPeak> hourlyPeaks(const std::vector<Session>& sessions, std::int64_t from, std::int64_t to) {
  std::vector<HourPeak> hours;
  if (from < 0 || to < from) return hours;
  const std::int64_t first = from / 3600, last = to / 3600;
  if (last - first > 24 * 400) return hours;  // over a year of hours: not drawn
  std::vector<std::pair<std::int64_t, int>> steps;  // time, -1 before +1
  for (const Session& s : sessions) {
    std::int64_t a = s.start.empty() ? from : keySeconds(s.start);
    std::int64_t b = s.end.empty() ? to + 1 : keySeconds(s.end);
    if (a < 0 || b < 0 || b < a) continue;
    a = std::max(a, from);
    b = std::min(b, to + 1);
    if (a >= b) continue;
    steps.emplace_back(a, 1);
    steps.emplace_back(b, -1);
  }
  std::sort(steps.begin(), steps.end());
  int level = 0;
  std::size_t k = 0;
  for (std::int64_t h = first; h <= last; ++h) {
    // A session closed at the hour's first second is not open in it.
    for (; k < steps.size() && steps[k].first == h * 3600 && steps[k].second < 0; ++k) level += steps[k].second;
    int peak = level;
    for (; k < steps.size() && steps[k].first < (h + 1) * 3600; ++k) {
      level += steps[k].second;
      peak = std::max(peak, level);
    }
    hours.push_back({h, peak});
  }
  return hours;
}

std::string hourText(std::int64_t hour, bool withHour) {
  const int date = civilFromDays(hour / 24);
  char buf[64];  // room for any int fields, so nothing is ever cut
  if (withHour)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02lld:00", date / 10000, date / 100 % 100, date % 100,
                  static_cast<long long>(hour % 24));
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", date / 10000, date / 100 % 100, date % 100);
  return buf;
}

void sessionsChart(std::string& o, const std::vector<HourPeak>& hours) {
  constexpr double W = 1000, H = 220, left = 58, right = 40, top = 18, bottom = 30;
  constexpr double PW = W - left - right, PH = H - top - bottom;
  int largest = 0;
  for (const HourPeak& h : hours) largest = std::max(largest, h.peak);
  const double step = niceStep(static_cast<double>(std::max(largest, 1)) / 4);
  const double yMax = std::max(step, std::ceil(static_cast<double>(largest) / step) * step);
  const std::size_t n = hours.size();
  o += "<svg class=\"activity sessions\" viewBox=\"0 0 " + coord(W) + " " + coord(H) +
       "\" role=\"img\" data-hours=\"" + num(n) + "\" aria-label=\"Sessions open at once by hour\">\n<g class=\"grid\">";
  for (double v = 0; v <= yMax + step / 2; v += step) {
    const double y = top + PH - v / yMax * PH;
    o += "<line x1=\"" + coord(left) + "\" x2=\"" + coord(W - right) + "\" y1=\"" + coord(y) + "\" y2=\"" + coord(y) +
         "\"/><text x=\"" + coord(left - 6) + "\" y=\"" + coord(y + 4) + "\" text-anchor=\"end\">" +
         num(static_cast<std::uint64_t>(v)) + "</text>";
  }
  o += "</g>\n";
  const double slot = n ? PW / static_cast<double>(n) : PW;
  const double barWidth = std::max(slot - (slot >= 4 ? slot * 0.15 : 0), 0.5);
  for (std::size_t i = 0; i < n; ++i) {
    if (hours[i].peak == 0) continue;
    const double h = hours[i].peak / yMax * PH;
    o += "<rect class=\"ok\" data-hour=\"" + hourText(hours[i].hour, true) + "\" data-peak=\"" +
         num(static_cast<std::uint64_t>(hours[i].peak)) + "\" x=\"" + coord(left + static_cast<double>(i) * slot) +
         "\" y=\"" + coord(top + PH - h) + "\" width=\"" + coord(barWidth) + "\" height=\"" + coord(h) + "\"><title>" +
         hourText(hours[i].hour, true) + ": " + num(static_cast<std::uint64_t>(hours[i].peak)) + " at most</title></rect>";
  }
  o += "\n";
  // Each day's peak: a line over its hours, its number above when there is room.
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i;
    int peak = 0;
    while (j < n && hours[j].hour / 24 == hours[i].hour / 24) peak = std::max(peak, hours[j++].peak);
    const double x1 = left + static_cast<double>(i) * slot, x2 = left + static_cast<double>(j) * slot;
    const double y = top + PH - peak / yMax * PH;
    const std::string day = hourText(hours[i].hour, false);
    o += "<g class=\"day\" data-day=\"" + day + "\" data-peak=\"" + num(static_cast<std::uint64_t>(peak)) +
         "\"><title>" + day + ": at most " + num(static_cast<std::uint64_t>(peak)) + " sessions at once</title>"
         "<line x1=\"" + coord(x1) + "\" x2=\"" + coord(x2) + "\" y1=\"" + coord(y) + "\" y2=\"" + coord(y) +
         "\"/>";
    // About 6.5 pixels a digit at the chart's type size, and a gap between
    // neighbours: narrower days keep their number in the title only.
    const std::string label = num(static_cast<std::uint64_t>(peak));
    if (x2 - x1 >= 6.5 * static_cast<double>(label.size()) + 6)
      o += "<text x=\"" + coord((x1 + x2) / 2) + "\" y=\"" + coord(y - 3) + "\" text-anchor=\"middle\">" + label + "</text>";
    o += "</g>\n";
    i = j;
  }
  o += "</svg>\n";
}

void sessionsSection(std::string& o, const Summary& s, const std::vector<Session>& sessions) {
  // 'YYYY-MM-DD HH:MM:SS' as a key's "YYYYMMDDHH:MM:SS".
  const auto key = [](const std::string& t) {
    return t.size() == 19 ? t.substr(0, 4) + t.substr(5, 2) + t.substr(8, 2) + t.substr(11) : std::string();
  };
  const std::vector<HourPeak> hours = hourlyPeaks(sessions, keySeconds(key(s.first)), keySeconds(key(s.last)));
  int peak = 0;
  for (const HourPeak& h : hours) peak = std::max(peak, h.peak);
  o += "<section id=\"sessions\"><h2>Sessions open at once, by hour</h2>\n<p class=\"meta\" data-sessions=\"" +
       num(sessions.size()) + "\" data-peak=\"" + num(static_cast<std::uint64_t>(peak)) + "\"><b>" +
       groupedNumber(sessions.size()) + "</b> sessions in the log; at most <b>" + num(static_cast<std::uint64_t>(peak)) +
       "</b> at once in this span. Each day's peak is the red line.</p>\n";
  if (!hours.empty()) sessionsChart(o, hours);
  o += "</section>\n";
}

}  // namespace

std::string renderReport(const ReportPage& page) {
  const Summary& s = *page.summary;
  const ModeNames names = modeNames(page.raw);
  std::string o;
  o.reserve(64 * 1024);
  o += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
       // Nothing may load or run, whatever a log holds.
       "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>Activity of ";
  appendHtml(o, page.title);
  o += "</title>\n<style>";
  o += kStyle;
  o += "</style>\n</head>\n<body>\n<header><h1>Activity of ";
  appendHtml(o, page.title);
  o += "</h1>\n<p class=\"meta\" data-total=\"" + num(s.total.records) + "\" data-errors=\"" + num(s.total.errors) +
       "\"><b>" + groupedNumber(s.total.records) + "</b> records, <b>" + groupedNumber(s.total.errors) +
       "</b> error records, from <b>";
  appendHtml(o, s.first);
  o += "</b> to <b>";
  appendHtml(o, s.last);
  o += "</b></p>\n</header>\n";

  static constexpr const char* kTitles[] = {"Records by hour", "Records by day", "Records by week (from Monday)",
                                            "Records by month"};
  o += "<section id=\"activity\"><h2>";
  o += kTitles[static_cast<int>(s.by)];
  o += "</h2>\n";
  activityChart(o, s);
  legend(o, s, names);
  if (!s.filled)
    o += "<p class=\"meta\">Only the " + std::string(bucketName(s.by)) +
         "s with records are shown: the span is too long to show whole.</p>\n";
  if (s.undated.count.records)
    o += "<p class=\"meta\" data-undated=\"" + num(s.undated.count.records) + "\">" +
         groupedNumber(s.undated.count.records) + " records carry no calendar date and are not on the chart.</p>\n";
  o += "</section>\n";
  if (page.sessions) sessionsSection(o, s, *page.sessions);
  ranking(o, "users", "Top users", "User", "user", "users", s.users, page.top, false);
  ranking(o, "events", "Top events", "Event", "event", "events", s.events, page.top, !page.raw);
  static const std::vector<ErrorRecord> kNone;
  errorTable(o, s, page.errors ? *page.errors : kNone, page.raw, page.codepage ? *page.codepage : defaultCodePage());
  o += "<footer>Made by velmora 1.0.0 from the log as it stood when read.</footer>\n</body>\n</html>\n";
  return o;
}

// The whole log's sessions: one more pass, which the reader's prefilter
// narrows to the two event codes.
std::vector<Session> readSessions(const std::vector<std::string>& logs, const CodePage& cp) {
  struct Sink : RecordSink {
    SessionPairing pairing;
    bool record(const Record& record) override {
      pairing.record(record.fields);
      return true;
    }
  } sink;
  ReadQuery query;
  query.begin = openBeginKey();
  query.end = openEndKey();
  query.filters[6] = FieldFilter{true, true, false, {u"OpenSession", u"CloseSession"}};
  // A log that fails to read has no sessions to show.
  if (manyLogs(logs)) {
    std::vector<U16String> set;
    std::ostringstream quiet;  // what the counting pass has said already
    if (resolveLogs(logs, quiet, set) == kSuccess) LogSetReader(std::move(set), std::move(query), cp).scan(sink);
  } else {
    Reader reader(fromUtf8(logs.front()), std::move(query), cp);
    reader.scan(0, sink);
  }
  sink.pairing.finish();
  return sink.pairing.sessions();
}

int runReport(const ReportRequest& r, Io& io) {
  const std::optional<BucketSize> by = bucketOption(r.by);
  if (r.out.empty()) throw UsageError("-o FILE.html is required: the file to write the report to");
  // The output is checked, and held under a temporary name, before counting.
  OutputFile out(r.out, "-o");
  if (!out.toStdout() && sameFile(out.target().u16string(), fromUtf8(r.log)))
    throw UsageError("-o " + r.out + " names the log itself; the report needs a file of its own");
  // Nor may it be one of a set's logs, a folder's included.
  if (!out.toStdout() && manyLogs(logNames(r.log, r.logs))) {
    std::vector<U16String> names;
    for (const std::string& n : logNames(r.log, r.logs)) names.push_back(fromUtf8(n));
    for (const U16String& log : listLogs(names).logs)
      if (sameFile(out.target().u16string(), log))
        throw UsageError("-o " + r.out + " names the log " + toUtf8(log) + "; the report needs a file of its own");
  }
  Tally tally(static_cast<std::size_t>(std::max(0, r.errorRows)));
  PeriodKeys keys;
  const int code = collect(logNames(r.log, r.logs), r.period, r.filters, tally, keys, io);
  if (code != kSuccess) return code;
  // Only the users and events the page shows are decoded and kept.
  const Summary summary =
      summarise(tally, keys, by, r.raw, static_cast<std::size_t>(std::max(r.top, 0)), io.codePage());
  ReportPage page;
  page.title = r.log;
  page.summary = &summary;
  page.errors = &tally.errorRecords();
  const std::vector<Session> sessions = readSessions(logNames(r.log, r.logs), io.codePage());
  page.sessions = &sessions;
  page.raw = r.raw;
  page.codepage = &io.codePage();
  page.top = r.top;
  const std::string text = renderReport(page);
  try {
    if (out.toStdout()) {
      io.out << text;
    } else {
      {
        WriteFile file(out.tempPath());
        file.write(text);
        file.close();
      }
      out.commit(io.out);
    }
  } catch (const Failure& f) {
    io.err << "velmora: failed, " << describe(f) << "\n";
    return kFailed;
  }
  io.err << "velmora: report of " << summary.total.records << " records written to " << r.out << " ("
         << (text.size() + 1023) / 1024 << " KiB)\n";
  return kSuccess;
}

}  // namespace velmora::cli
