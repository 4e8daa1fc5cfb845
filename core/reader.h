// The typed reader: what the script class, the tool and the SQL tables all
// read the log through. A ReadQuery is built once (period keys, a filter
// plan per field, the columns wanted); a Reader holds the query, the log's
// path and the code page it is given, and its scans hand records of the
// period that pass the filters to a RecordSink as log bytes, with 64-bit
// positions. It knows nothing of scripts: no masks, no "|"-joined texts, no
// NumErr/TextErr; a failure comes back as a value.
//
// States: a Reader is idle between calls (no file open); each call opens
// the log, takes its length once, and closes it before returning, so a log
// that grows between calls is seen anew by the next. In a session
// (beginSession) the calls share one open log instead, as one scan would.
//
// Windows: every call reads through one line walker (core/line_source.h).
// The start search probes in kSearchWindow windows; the record loop, and the
// search's walk on from a probe, in the scan window: kScanWindow unless
// setScanWindow says otherwise.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/failure.h"
#include "core/record_format.h"
#include "core/record_sink.h"
#include "text/text.h"

namespace velmora {

class CodePage;

// Called once per read window by the long scans: bytes done, log length.
using ProgressFn = std::function<void(std::int64_t done, std::int64_t total)>;

// The filter of one field. Matching folds letter case through the code
// page. exact: the field's whole value equals one of values; otherwise it
// contains one of them. A value that the code page cannot write matches
// nothing. on with no values matches no record (all of them inverted).
struct FieldFilter {
  bool on = false;
  bool exact = true;
  bool invert = false;
  std::vector<U16String> values;
};

// The keys of a period left open at an end: below (begin) or above (end)
// every record's key, a record dated by a wrong clock included.
inline std::string openBeginKey() { return std::string(record::kKeySize, '\0'); }
inline std::string openEndKey() { return std::string(record::kKeySize, '\xFF'); }

struct ReadQuery {
  // The period: two 18-byte keys, begin <= end byte by byte.
  std::string begin, end;
  std::array<FieldFilter, kLastField + 1> filters;  // fields 3..10
  // The fields the sink reads; the others may reach it empty.
  std::bitset<kLastField + 1> columns = std::bitset<kLastField + 1>().set();
};

// How a scan ended.
struct ScanResult {
  // Where a later scan resumes (the record after the last one examined);
  // -1 when the scan had no start: no record of the period, or no log.
  std::int64_t next = -1;
  bool reachedStop = false;        // the scan got to its stopAt
  std::optional<Failure> failure;  // set when the log could not be read
};

class Reader {
 public:
  static constexpr std::int64_t kNoStop = INT64_MAX;
  // The start search's probe windows, and the record loop's after it.
  static constexpr std::size_t kSearchWindow = 32768;
  static constexpr std::size_t kScanWindow = 65536;

  Reader(U16String path, ReadQuery query, const CodePage& cp);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  const ReadQuery& query() const;
  const U16String& path() const;

  // Where a scan from 0 would begin (the start search); -1 when no record
  // of the period is found or the log does not exist.
  ScanResult findStart();
  // Records from position from (1-based, a line start; 0: the period's
  // first record, found by the start search) up to the first line that
  // starts at or after stopAt. The sink returning false ends the scan after
  // that record.
  ScanResult scan(std::int64_t from, RecordSink& sink, std::int64_t stopAt = kNoStop);
  // The same scan as two halves at once: the second from the first line
  // start after the middle, on a thread of its own when one is to be had,
  // into its own sink. The second half's records count only when
  // secondKept: the first half got to the split, as a whole scan would
  // have; the caller then merges second into first. No split for a stretch
  // of less than splitFrom bytes (or splitFrom < 0): all goes to first.
  // The second half's failure, or what its sink throws, counts only when
  // it is kept.
  struct Halves : ScanResult {
    bool secondKept = false;
  };
  Halves scanInHalves(std::int64_t from, RecordSink& first, RecordSink& second, std::int64_t splitFrom);

  // During a sink's record call, or after a call: where the last scan (or
  // start search) began; -1 when it found no start.
  std::int64_t scanStart() const;
  // Records of the period over the long-record limit that the last scan
  // passed over, and the position of the first (-1 when none).
  std::int64_t oversizeRecords() const;
  std::int64_t firstOversize() const;
  std::int64_t logSize() const;  // as found at the last call's open; -1 when it opened none
  void setProgress(ProgressFn fn);
  // The size of the scan window (0: kScanWindow, as a new reader has); the
  // start search probes in kSearchWindow windows whatever it is.
  void setScanWindow(std::size_t bytes);

  // A compressed log (read forward only) stays open between calls, so that
  // a scan resumed where the last one stopped goes on decoding from there;
  // a plain log is opened by each call whatever this says.
  void keepStreamOpen(bool keep);

  // A session: the calls from the next one on share the log it opens (and
  // the length found then), its windows, and the prefilter its first scan
  // plans, until endSession(), a failure to read, or the reader's end. A
  // scan read in consecutive stretches (each scan from where the last one
  // ended) then opens and plans once, and ends where one scan would.
  void beginSession();
  void endSession();

  // Cuts one record (a line without CR LF, log bytes) into fields and
  // applies the filters; true when it passes, and lastRecord() then holds
  // it (position 0), pointing into a copy of line kept until the next call.
  bool filterRecord(std::string_view line);
  const Record& lastRecord() const;
  std::uint64_t windowReads() const;  // windows read since the reader was made
  // The index its records carry as Record::log (0 unless set): its place
  // in a set of logs.
  void setLogIndex(int log);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velmora
