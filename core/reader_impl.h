// Inside the typed reader: the compiled filter plan and the working storage
// of one call. Only the reader's own sources include this.
//
// Invariants: filters are compiled once, at construction, for the code page
// the reader was given; file is open only during a call (endCall closes it
// on every path); window points into buffer or into file's read-ahead block
// and holds windowSize bytes followed by lines::kWindowPadding readable
// bytes; record points into the window (or into padded / a gathered long
// record) and is cleared when the call ends.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/fileio.h"
#include "core/field_match.h"
#include "core/reader.h"

namespace velmora {

class Prefilter;

// One field's filter as matched against log bytes.
struct CompiledFilter {
  bool active = false;
  bool exact = true;
  bool invert = false;
  ExactList exactList;  // exact: built from the values
  ItemList items;       // otherwise
};

struct Reader::Impl {
  Impl(U16String path, ReadQuery query, const CodePage& cp);

  U16String path;
  ReadQuery query;
  const CodePage& cp;
  std::array<CompiledFilter, kLastField + 1> filters;  // fields 3..10
  bool anyActive = false;

  // working storage of one call
  std::unique_ptr<ReadFile> file;
  bool keepStreamOpen = false;  // a compressed log's file outlives the call
  std::vector<char> buffer;         // the current window, when copied
  const char* window = nullptr;     // the current window (in buffer or in file)
  std::size_t windowSize = 0;
  std::size_t scanWindow = Reader::kScanWindow;  // the record loop's, as set
  std::int64_t fileSize = -1;       // as found at open; -1: not opened
  std::uint64_t windowReads = 0;
  Record record;                    // the record being handed to a sink
  int logIndex = 0;                 // what record.log says
  std::string padded;               // a line given to filterRecord, with room after it
  std::int64_t scanStart = -1;
  std::int64_t oversizeRecords = 0, firstOversize = -1;
  ProgressFn progress;

  void compile();
  bool periodSet() const;
  // Opens the log and gives where a scan starts: from when it is 1 or more,
  // else the period's first record (-1: none). -1 with the log left closed
  // when the period is not set or the log does not exist.
  std::int64_t openPeriodScan(std::int64_t from);
  void endCall();

  // windows
  std::size_t readWindow(std::int64_t position, std::size_t size);
  // start search (the log is open)
  std::int64_t findStartPos();
  bool windowDates(std::string_view& firstDate, std::string_view& lastDate) const;
  std::int64_t scanForStart(std::int64_t windowPos);

  // The search that lets the record loop pass over lines that no accepting
  // filter can pass; nullptr when none pays.
  std::unique_ptr<Prefilter> planPrefilter(const std::vector<std::string_view>& samples) const;
  // Sampled where a scan from start begins and at the log's end.
  std::unique_ptr<Prefilter> planPrefilterAt(std::int64_t start);
  // Cuts a line followed by at least lines::kCutBlock readable bytes into
  // fields and applies the filters.
  bool filterLine(std::string_view line);
  // The records of the period from start, each that passes the filters to
  // sink; ends before the first line that starts at or after stopAt.
  ScanResult scanPeriod(std::int64_t start, RecordSink& sink, std::int64_t stopAt);
  // A whole call: open, scan, close; a read failure comes back as a value.
  ScanResult scanCall(std::int64_t from, RecordSink& sink, std::int64_t stopAt);
};

}  // namespace velmora
