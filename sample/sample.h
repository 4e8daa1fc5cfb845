// A realistic, deterministic event log for tests, benchmarks and the
// command-line tool.
//
// The same options and seed give the same bytes on every platform. The log is
// Windows-1251 text with CR LF line ends, records in time order, about 100
// bytes each: Cyrillic user names, all four run modes, all seventeen
// categories, every one of the 54 catalogued event codes (plus a few codes the
// catalogue does not know, as real logs have), object identifiers and
// presentations, and error records (field 7 "5") whose comment holds ";" and
// which end with two empty fields, as the host writes them.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace velmora {

struct SampleOptions {
  int days = 31;                  // calendar days, from startDate on
  int perDay = 500;               // records per day
  std::uint64_t seed = 1;
  int startDate = 20050101;       // YYYYMMDD, a valid date in 1901..9999
  // When not 0: ignore days and keep writing day after day (perDay records
  // each) until at least this many bytes are written; the log then ends
  // after the first record that reaches the target.
  std::uint64_t targetBytes = 0;
};

// What was written, so that callers can pick periods and check counts.
struct SampleSummary {
  std::uint64_t records = 0;
  std::uint64_t errorRecords = 0;  // field 7 is "5"
  std::uint64_t bytes = 0;
  int firstDate = 0;               // YYYYMMDD of the first and last record, 0 if none
  int lastDate = 0;
};

// Receives the log in blocks of up to 64 KiB, whole records only.
using SampleSink = std::function<void(std::string_view)>;

// Throws std::invalid_argument for options out of range (negative counts, a
// date that does not exist, a byte target with no records per day).
void checkSampleOptions(const SampleOptions& options);
// Checks the options first, so nothing reaches the sink for bad ones.
SampleSummary writeSampleLog(const SampleSink& sink, const SampleOptions& options);
SampleSummary writeSampleLog(std::ostream& out, const SampleOptions& options);
// The whole log in memory, for tests.
std::string sampleLog(const SampleOptions& options, SampleSummary* summary = nullptr);

// Any sample log of at least this many records holds every event code, run
// mode and category of the generator's tables.
inline constexpr int kSampleCoverageRecords = 600;

}  // namespace velmora
