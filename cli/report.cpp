#include "cli/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <ostream>

#include "cli/files.h"
#include "cli/html.h"
#include "journal/errors.h"
#include "journal/fileio.h"
#include "text/codepage.h"
#include "text/text.h"
#include "transform/transform.h"
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
  Transform t;
  t.SetTransformStr(u"0100");
  for (int m = 0; m < 4; ++m) {
    U16String text(1, static_cast<char16_t>(kModeCodes[static_cast<std::size_t>(m)]));
    if (!raw) t.TransformCol(text, 4);
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
             const char* noun, const std::vector<Ranked>& list, int top, bool showCode) {
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
  if (n < list.size()) {
    std::uint64_t rest = 0;
    for (std::size_t i = n; i < list.size(); ++i) rest += list[i].count.records;
    o += "<tr class=\"more\"><td colspan=\"4\">… " + num(list.size() - n) + " more " + noun + " with " +
         groupedNumber(rest) + " records</td></tr>\n";
  }
  o += "</tbody></table></section>\n";
}

std::string decoded(std::string_view bytes) { return toUtf8(CodePage::current().decode(bytes)); }

std::string isoDate(const std::string& bytes) {
  if (bytes.size() == 8 && std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return bytes.substr(0, 4) + "-" + bytes.substr(4, 2) + "-" + bytes.substr(6, 2);
  return decoded(bytes);
}

void errorTable(std::string& o, const Summary& s, const std::vector<ErrorRecord>& errors, bool raw) {
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
  Transform t;
  t.SetTransformStr(u"0101");
  for (const ErrorRecord& e : errors) {
    auto cell = [&](const std::string& text, const char* cls = nullptr) {
      o += cls ? "<td class=\"" + std::string(cls) + "\">" : std::string("<td>");
      appendHtml(o, text);
      o += "</td>";
    };
    auto translated = [&](const std::string& bytes, std::int16_t field) {
      U16String text = CodePage::current().decode(bytes);
      if (!raw) t.TransformCol(text, field);
      return toUtf8(text);
    };
    o += "<tr>";
    cell(isoDate(e.fields[1]));
    cell(decoded(e.fields[2]));
    cell(decoded(e.fields[3]));
    cell(translated(e.fields[4], 4));
    cell(translated(e.fields[6], 6));
    cell(decoded(e.fields[8]), "comment");
    if (objects) cell(decoded(e.fields[10]));
    o += "</tr>\n";
  }
  o += "</tbody></table></section>\n";
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
  ranking(o, "users", "Top users", "User", "user", "users", s.users, page.top, false);
  ranking(o, "events", "Top events", "Event", "event", "events", s.events, page.top, !page.raw);
  static const std::vector<ErrorRecord> kNone;
  errorTable(o, s, page.errors ? *page.errors : kNone, page.raw);
  o += "<footer>Made by velmora 1.0.0 from the log as it stood when read.</footer>\n</body>\n</html>\n";
  return o;
}

int runReport(const ReportRequest& r, Io& io) {
  const std::optional<BucketSize> by = bucketOption(r.by);
  if (r.out.empty()) throw UsageError("-o FILE.html is required: the file to write the report to");
  // The output is checked, and held under a temporary name, before counting.
  OutputFile out(r.out, "-o");
  if (!out.toStdout() && sameFile(out.target().u16string(), fromUtf8(r.log)))
    throw UsageError("-o " + r.out + " names the log itself; the report needs a file of its own");
  Tally tally(static_cast<std::size_t>(std::max(0, r.errorRows)));
  PeriodKeys keys;
  const int code = collect(r.log, r.period, r.filters, tally, keys, io);
  if (code != kSuccess) return code;
  const Summary summary = summarise(tally, keys, by, r.raw);
  ReportPage page;
  page.title = r.log;
  page.summary = &summary;
  page.errors = &tally.errorRecords();
  page.raw = r.raw;
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
    io.err << "velmora: failed, NumErr " << f.number() << ": " << toUtf8(f.text()) << "\n";
    return kFailed;
  }
  io.err << "velmora: report of " << summary.total.records << " records written to " << r.out << " ("
         << (text.size() + 1023) / 1024 << " KiB)\n";
  return kSuccess;
}

}  // namespace velmora::cli
