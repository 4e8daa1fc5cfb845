#include "cli/stats.h"

#include <algorithm>
#include <memory>
#include <ostream>
#include <thread>
#include <vector>

#include "cli/files.h"
#include "cli/log_names.h"
#include "core/log_set.h"
#include "cli/progress.h"
#include "cli/terminal.h"
#include "core/failure.h"
#include "core/fileio.h"
#include "core/reader.h"
#include "text/codepage.h"
#include "text/text.h"

namespace velmora::cli {

std::optional<BucketSize> bucketOption(const std::string& by) {
  if (by.empty()) return std::nullopt;
  if (const auto size = parseBucketSize(by)) return size;
  throw UsageError("--by " + by + " is not a bucket; expected hour, day, week or month");
}

std::int64_t defaultSplitFrom() { return std::thread::hardware_concurrency() >= 2 ? kSplitFrom : -1; }

int collect(const std::string& log, const PeriodOptions& period, const FilterOptions& filters, Tally& tally,
            PeriodKeys& keys, Io& io, std::int64_t splitFrom, std::optional<Failure>* failedAfter) {
  ReadQuery query;
  keys = resolvePeriod(period);
  query.begin = keys.begin;
  query.end = keys.end;
  query.filters = readFilters(filters, io);
  // Checked before the start search opens it: a FIFO would block it.
  if (const int code = checkLog(log, io.err)) return code;

  Reader reader(fromUtf8(log), std::move(query), io.codePage());
  // Two halves at once when the log is long enough, the second from a line
  // start; its tally counts only when the first half's scan got there, as a
  // scan of the whole log would have. A period open at its start begins at
  // the log's first byte: no search.
  Tally later(tally.keepErrors());
  Reader::Halves scan;
  {
    ProgressScope progress(reader, io);
    scan = reader.scanInHalves(keys.openBegin ? 1 : 0, tally, later, splitFrom);
  }
  if (scan.secondKept) tally.append(later);
  noteOversize(reader.oversizeRecords(), reader.firstOversize(), io);
  if (scan.failure) {
    // What was counted before a read failed (an archive that breaks off)
    // is still shown, where the caller can, before the failure.
    if (failedAfter == nullptr || tally.total().records == 0) return reportFailure(*scan.failure, io);
    failedAfter->emplace(*scan.failure);
    return kSuccess;
  }
  if (scan.next < 0 && !fileExists(fromUtf8(log))) return reportMissingLog(log, io);
  if (tally.total().records == 0) {
    io.err << "velmora: no record of the period passes the filters\n";
    return kNothingFound;
  }
  return kSuccess;
}

int collect(const std::vector<std::string>& names, const PeriodOptions& period, const FilterOptions& filters,
            Tally& tally, PeriodKeys& keys, Io& io, std::int64_t splitFrom, std::optional<Failure>* failedAfter) {
  if (!manyLogs(names)) return collect(names.front(), period, filters, tally, keys, io, splitFrom, failedAfter);
  ReadQuery query;
  keys = resolvePeriod(period);
  query.begin = keys.begin;
  query.end = keys.end;
  query.filters = readFilters(filters, io);
  std::vector<U16String> logs;
  if (const int code = resolveLogs(names, io.err, logs)) return code;
  // Logs read one after another may be counted in two halves at once, as
  // one long log is; the later half's tally appended.
  LogSetReader set(std::move(logs), query, io.codePage());
  Tally later(tally.keepErrors());
  LogSetReader::Halves scan;
  {
    ProgressScope progress(set, io);
    scan = set.scanInHalves(tally, later, splitFrom);
  }
  if (scan.secondKept) tally.append(later);
  noteOversize(set.oversizeRecords(), set.firstOversize(), io);
  if (scan.failure) {
    // As for one log: what was counted before the failure (the first half's
    // records, when only the second failed) is shown where the caller can.
    const Failure& f = *scan.failure;
    if (failedAfter == nullptr || tally.total().records == 0) return reportFailure(f, io);
    failedAfter->emplace(f);
    return kSuccess;
  }
  if (tally.total().records == 0) {
    io.err << "velmora: no record of the period passes the filters\n";
    return kNothingFound;
  }
  return kSuccess;
}

std::vector<StatRow> statRows(const Summary& s, int top) {
  std::vector<StatRow> rows;
  rows.push_back({"total", "all", s.total});
  for (const Bucket& b : s.timeline) rows.push_back({bucketName(s.by), b.key, b.activity.count});
  if (s.undated.count.records) rows.push_back({bucketName(s.by), "undated", s.undated.count});
  for (const Ranked& m : s.modes) rows.push_back({"mode", m.label, m.count});
  auto ranked = [&](const char* group, const RankedList& ranking) {
    const std::vector<Ranked>& list = ranking.top;
    const std::size_t n = top > 0 ? std::min(list.size(), static_cast<std::size_t>(top)) : list.size();
    for (std::size_t i = 0; i < n; ++i) rows.push_back({group, list[i].label, list[i].count});
  };
  ranked("user", s.users);
  ranked("event", s.events);
  return rows;
}

namespace {

class StatRowSource : public RowSource {
 public:
  explicit StatRowSource(const std::vector<StatRow>& rows) : rows_(rows) {}
  std::size_t columns() const override { return 4; }
  std::string columnName(std::size_t c) const override {
    static constexpr const char* kNames[] = {"group", "key", "records", "errors"};
    return kNames[c];
  }
  bool numeric(std::size_t c) const override { return c >= 2; }
  std::size_t rows() const override { return rows_.size(); }
  void cell(std::size_t r, std::size_t c, std::string& out) const override {
    const StatRow& row = rows_[r];
    switch (c) {
      case 0: out = row.group; break;
      case 1: out = row.key; break;
      case 2: out = std::to_string(row.count.records); break;
      default: out = std::to_string(row.count.errors); break;
    }
  }

 private:
  const std::vector<StatRow>& rows_;
};

// ---- bar charts ---------------------------------------------------------------

// A bar of width cells for value against the largest, in eighths of a cell.
std::string bar(std::uint64_t value, std::uint64_t largest, int width) {
  static constexpr const char* kEighths[] = {"", "▏", "▎", "▍", "▌", "▋", "▊", "▉"};
  if (largest == 0 || value == 0 || width <= 0) return {};
  const auto eighths = static_cast<std::uint64_t>(static_cast<double>(value) / static_cast<double>(largest) * width * 8 + 0.5);
  std::string out;
  for (std::uint64_t k = 0; k < eighths / 8; ++k) out += "█";
  out += kEighths[eighths % 8];
  if (out.empty()) out = kEighths[1];  // a value too small to show still shows
  return out;
}

// A label cut to width characters on screen, with an ellipsis.
std::string fitted(const std::string& text, std::size_t width) {
  std::string shown;
  appendTableCell(shown, text);
  if (displayWidth(shown) <= width) return shown;
  std::string out;
  std::size_t n = 0;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const bool start = (static_cast<unsigned char>(shown[i]) & 0xC0) != 0x80;
    if (start && ++n > width - 1) break;
    out.push_back(shown[i]);
  }
  return out + "…";
}

struct ChartLine {
  std::string label;
  Count count;
};

void chart(std::ostream& out, const std::string& title, const std::vector<ChartLine>& lines, int columns,
           const std::string& more) {
  if (lines.empty()) return;
  constexpr std::size_t kMaxLabel = 32;
  std::size_t labelWidth = 0;
  std::uint64_t largest = 0, largestErrors = 0;
  for (const ChartLine& l : lines) {
    std::string shown;
    appendTableCell(shown, l.label);
    labelWidth = std::max(labelWidth, std::min(kMaxLabel, displayWidth(shown)));
    largest = std::max(largest, l.count.records);
    largestErrors = std::max(largestErrors, l.count.errors);
  }
  const std::size_t recordsWidth = std::max<std::size_t>(7, std::to_string(largest).size());
  const std::size_t errorsWidth = std::max<std::size_t>(6, std::to_string(largestErrors).size());
  const int barWidth = std::max(10, columns - static_cast<int>(labelWidth + recordsWidth + errorsWidth) - 6);

  auto pad = [](std::string text, std::size_t width, bool right) {
    const std::size_t w = displayWidth(text);
    const std::string fill(width > w ? width - w : 0, ' ');
    return right ? fill + text : text + fill;
  };
  out << "\n" << pad(title, labelWidth + 2 + static_cast<std::size_t>(barWidth), false) << "  "
      << pad("records", recordsWidth, true) << "  " << pad("errors", errorsWidth, true) << "\n";
  for (const ChartLine& l : lines) {
    out << pad(fitted(l.label, kMaxLabel), labelWidth, false) << "  "
        << pad(bar(l.count.records, largest, barWidth), static_cast<std::size_t>(barWidth), false) << "  "
        << pad(std::to_string(l.count.records), recordsWidth, true) << "  "
        << pad(std::to_string(l.count.errors), errorsWidth, true) << "\n";
  }
  if (!more.empty()) out << more << "\n";
}

void printCharts(std::ostream& out, const std::string& log, const Summary& s, int top, int columns) {
  out << log << ": " << s.total.records << " records, " << s.total.errors << " error records, from " << s.first
      << " to " << s.last << "\n";
  static constexpr const char* kBucketTitles[] = {"by hour", "by day", "by week (from Monday)", "by month"};
  std::vector<ChartLine> lines;
  for (const Bucket& b : s.timeline) lines.push_back({b.key, b.activity.count});
  if (s.undated.count.records) lines.push_back({"undated", s.undated.count});
  chart(out, kBucketTitles[static_cast<int>(s.by)], lines,  columns,
        s.filled ? std::string() : "(only the " + std::string(bucketName(s.by)) + "s with records: the span is too long to show whole)");

  lines.clear();
  for (const Ranked& m : s.modes) lines.push_back({m.label, m.count});
  chart(out, "by run mode", lines, columns, "");

  auto ranked = [&](const char* title, const char* noun, const RankedList& ranking) {
    const std::vector<Ranked>& list = ranking.top;
    const std::size_t n = top > 0 ? std::min(list.size(), static_cast<std::size_t>(top)) : list.size();
    std::vector<ChartLine> shown;
    for (std::size_t i = 0; i < n; ++i) shown.push_back({list[i].label, list[i].count});
    std::string more;
    if (n < list.size() || ranking.more > 0) {
      std::uint64_t rest = ranking.moreRecords;
      for (std::size_t i = n; i < list.size(); ++i) rest += list[i].count.records;
      more = "… " + std::to_string(list.size() - n + ranking.more) + " more " + noun + " with " + std::to_string(rest) +
             " records (--top 0 shows all)";
    }
    chart(out, title, shown, columns, more);
  };
  ranked("by user", "users", s.users);
  ranked("by event", "events", s.events);
}

}  // namespace

int runStats(const StatsRequest& r, Io& io) {
  const std::optional<BucketSize> by = bucketOption(r.by);
  Tally tally;
  PeriodKeys keys;
  std::optional<Failure> failedAfter;
  const int code = collect(logNames(r.log, r.logs), r.period, r.filters, tally, keys, io, defaultSplitFrom(), &failedAfter);
  if (code != kSuccess) return code;
  // Only the users and events shown are decoded and kept.
  const int top = io.format == Format::Table ? (r.top < 0 ? 20 : r.top) : std::max(r.top, 0);
  const Summary summary = summarise(tally, keys, by, r.raw, static_cast<std::size_t>(top), io.codePage());
  if (io.format == Format::Table) {
    printCharts(io.out, r.log, summary, top, terminalColumns(stdout));
  } else {
    const std::vector<StatRow> rows = statRows(summary, r.top < 0 ? 0 : r.top);
    RowPrinter printer(io.format, io.out, io.outIsTerminal);
    printer.print(StatRowSource(rows));
  }
  io.out.flush();
  if (failedAfter) return reportFailure(*failedAfter, io);
  return kSuccess;
}

}  // namespace velmora::cli
