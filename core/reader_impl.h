// Inside the typed reader: the compiled filter plan and the working storage
// of one call. Only the reader's own sources include this.
//
// Invariants: filters are compiled once, at construction, for the code page
// the reader was given; file, and source over it, are open only during a
// call (endCall closes them on every path) unless a session or a kept
// compressed stream holds them; so is the prefilter a session's first scan
// planned; record points into the source's window (or into padded / a
// gathered long record) and is cleared when the call ends.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/fileio.h"
#include "core/field_match.h"
#include "core/line_source.h"
#include "core/prefilter.h"
#include "core/reader.h"

namespace velmora {

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

  // working storage of one call (or of a session)
  std::unique_ptr<ReadFile> file;
  std::unique_ptr<lines::LineSource> source;  // the call's windows, over file
  bool keepStreamOpen = false;  // a compressed log's file outlives the call
  bool session = false;         // file, source and prefilter outlive the call
  std::unique_ptr<Prefilter> prefilter;  // a session's, planned by its first scan
  bool prefilterPlanned = false;
  std::size_t scanWindow = Reader::kScanWindow;  // the record loop's, as set
  std::int64_t fileSize = -1;       // as found at open; -1: not opened
  std::uint64_t windowReads = 0;    // of the sources closed so far
  Record record;                    // the record being handed to a sink
  int logIndex = 0;                 // what record.log says
  std::string padded;               // a line given to filterRecord, with room after it
  std::int64_t scanStart = -1;
  std::int64_t oversizeRecords = 0, firstOversize = -1;
  ProgressFn progress;

  void compile();
  bool periodSet() const;
  // Opens the log (unless a session or a kept stream holds it open) and
  // gives where a scan starts: from when it is 1 or more, else the period's
  // first record (-1: none). -1 with the log left closed when the period is
  // not set or the log does not exist.
  std::int64_t openPeriodScan(std::int64_t from);
  void endCall();
  // Closes the log and its source (the windows they read are counted).
  void closeFile();

  // The start search (the log is open).
  std::int64_t findStartPos();

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
};

}  // namespace velmora
