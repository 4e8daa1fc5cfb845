// velmora stats: how many records of a query fall in each hour, day, week
// or month, and to each user, event and run mode, error records counted
// apart. Bar charts on a terminal, rows (csv, tsv, jsonl) for programs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "core/failure.h"
#include "cli/query.h"
#include "cli/summary.h"

namespace velmora::cli {

struct StatsRequest {
  std::string log;
  std::vector<std::string> logs;
  PeriodOptions period;
  FilterOptions filters;
  std::string by;   // hour, day, week, month; empty: chosen from the span
  bool raw = false;  // event codes and run modes as the log writes them
  int top = -1;      // users and events shown; 0 all, -1 the default (20 on a terminal, all in rows)
};

int runStats(const StatsRequest& request, Io& io);

// Streams the records of the query through tally: the reader set up with
// the period and filters, read from the period's start. Returns kSuccess
// when records were counted, or the exit code to end with (having said why).
// From splitFrom bytes between the period's start and the log's end, the
// two halves are counted at once and the tallies joined; a negative
// splitFrom reads the log in one piece. By default a log is split from
// kSplitFrom on, when the machine has a second core. Given failedAfter, a
// read that fails after records were counted keeps them: the failure goes
// there and the call succeeds, for the caller to show them, then fail.
inline constexpr std::int64_t kSplitFrom = std::int64_t{64} << 20;
std::int64_t defaultSplitFrom();
int collect(const std::string& log, const PeriodOptions& period, const FilterOptions& filters, Tally& tally,
            PeriodKeys& keys, Io& io, std::int64_t splitFrom = defaultSplitFrom(),
            std::optional<Failure>* failedAfter = nullptr);

// The same over the logs named (LOG...): one log as above, several as one
// timeline.
int collect(const std::vector<std::string>& logs, const PeriodOptions& period, const FilterOptions& filters,
            Tally& tally, PeriodKeys& keys, Io& io, std::int64_t splitFrom = defaultSplitFrom(),
            std::optional<Failure>* failedAfter = nullptr);

// The checked --by option (UsageError otherwise).
std::optional<BucketSize> bucketOption(const std::string& by);

// The rows that stats prints for programs: group, key, records, errors.
// Groups: total (key all), the bucket size (hour, day, week, month), mode,
// user and event; top limits users and events (0: all).
// Views into the summary the rows were made of (or into literals), so that
// the rows of a log with millions of users hold no second copy of them.
struct StatRow {
  std::string_view group, key;
  Count count;
};
std::vector<StatRow> statRows(const Summary& summary, int top);
// The rows are views into the summary: it must outlive them.
std::vector<StatRow> statRows(const Summary&& summary, int top) = delete;

}  // namespace velmora::cli
