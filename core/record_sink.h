// Records handed out as log bytes: what a scan gives each of its sinks (the
// tool's stream and statistics, the SQL cursors, the script class's table).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace velmora {

// fields[k], k = 1..10: field k of a record, as bytes of the log (fields[0]
// is unused). The views point into the reader's window and are valid during
// the call only.
using RecordFields = std::array<std::string_view, 11>;

// A record of the period that passed the filters, everything about it
// decided once, by the reader.
struct Record {
  std::int64_t position = 0;  // 1-based, where its line starts
  std::string_view key;       // the 18-byte period key
  RecordFields fields{};
  bool error = false;         // the one error-record rule (record_format.h)
  int log = 0;                // the log it lies in, by its index in a set of logs (0: the one log)
};

// A scan calls begin once it has found where it starts, record for each
// record, windowDone when the records of a window are all handed over and
// it goes on to the next (the last window ends with finish instead), and
// finish when it ends without a failure to read the log. A scan that finds
// no start calls none of them.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  virtual void begin(std::int64_t start) {}
  // False ends the scan after this record; the position returned is then
  // that of the record after it, so that a later call resumes there.
  virtual bool record(const Record& record) = 0;
  // done: bytes of the log walked so far, of total.
  virtual void windowDone(std::int64_t done, std::int64_t total) {}
  virtual void finish() {}
};

}  // namespace velmora
