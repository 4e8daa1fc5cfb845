// The records before a position, newest first: what a viewer shows when it
// opens a log at its end and scrolls into the past. The rows are those the
// forward scan gives (the same period, filters and prefilter, through the
// same Reader), handed out in reverse order. The log is read backwards in
// windows; each window is scanned forward and its records handed out from
// its last, so memory stays bounded by a window whatever the log's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/failure.h"
#include "core/kept_records.h"
#include "core/reader.h"

namespace velmora {

struct BackwardResult {
  // Where a later call goes on (its before): the position of the last
  // record handed out when the sink ended the scan, or the start of the
  // stretch read; 0 when nothing of the period is left before it.
  std::int64_t next = 0;
  std::optional<Failure> failure;
};

class BackwardScan {
 public:
  static constexpr std::size_t kFirstWindow = std::size_t{256} << 10;
  static constexpr std::size_t kLargestWindow = std::size_t{8} << 20;

  explicit BackwardScan(Reader& reader) : reader_(reader) {}

  // Hands the records that start before position before (1-based; past the
  // log's end, or Reader::kNoStop: from its last record) to sink, newest
  // first, until the sink returns false or the period's first record is
  // handed out.
  BackwardResult scan(std::int64_t before, RecordSink& sink);
  // The record a sink gets is a copy of the forward scan's, position and
  // error bit included: nothing past a field's end may be read.

 private:
  class Collector;
  // The first line start in [from, to), or to when none.
  std::int64_t lineStartIn(std::int64_t from, std::int64_t to);

  Reader& reader_;
  std::string window_;  // bytes read to find line starts
  KeptRecords kept_;  // the records of one window
};

}  // namespace velmora
