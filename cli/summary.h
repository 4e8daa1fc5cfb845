// What a tally says to a person: the records over time in buckets of an
// hour, a day, a week or a month, and users, events and run modes ranked,
// each key decoded (and translated) once. Shared by stats and report, so
// that both show the very same counts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/period.h"
#include "cli/query.h"
#include "cli/tally.h"

namespace velmora::cli {

enum class BucketSize { Hour, Day, Week, Month };

std::optional<BucketSize> parseBucketSize(std::string_view name);  // hour, day, week, month
const char* bucketName(BucketSize size);

// Chosen from the span when not asked for: up to 2 days by the hour, up to
// 62 by the day, up to 366 by the week, longer by the month.
BucketSize bucketForSpan(long long days);

struct Bucket {
  std::string key;  // 2005-01-03 10:00, 2005-01-03, 2005-01-03 (the week's Monday), 2005-01
  Activity activity;
};

// A user, event or run mode: its text for people (decoded, translated
// unless raw) and its code as the log writes it (decoded).
struct Ranked {
  std::string label, code;
  Count count;
};

// The keys ranked first, and how many others there are with how many
// records: a report or a chart shows a few, whatever the keys of the log.
struct RankedList {
  std::vector<Ranked> top;  // most records first, then by text
  std::size_t more = 0;
  std::uint64_t moreRecords = 0;
};

struct Summary {
  Count total;
  BucketSize by = BucketSize::Day;
  std::vector<Bucket> timeline;  // in time order
  // True when the timeline holds every bucket of the span, empty ones too;
  // false when a span of more than kMaxFilledBuckets shows only those with records.
  bool filled = true;
  Activity undated;  // records whose date or hour is no calendar one
  RankedList users, events;
  std::vector<Ranked> modes;          // E, C, M, D, then any other code, those with records
  std::string first, last;            // YYYY-MM-DD HH:MM:SS of the first and last record in log order
};

inline constexpr long long kMaxFilledBuckets = 100000;

// The span of the timeline: the period's given bounds, and where a bound is
// open the first or last bucket with records.
// keep: how many users and events to keep ranked (0: all).
// Keys are decoded through cp.
Summary summarise(const Tally& tally, const PeriodKeys& period, std::optional<BucketSize> by, bool raw,
                  std::size_t keep = 0, const CodePage& cp = defaultCodePage());

}  // namespace velmora::cli
