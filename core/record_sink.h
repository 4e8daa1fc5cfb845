// Records handed out as log bytes, for readers of the log that keep no host
// table: the tool's streaming output and its statistics.
#pragma once

#include <array>
#include <string_view>

namespace velmora {

// fields[k], k = 1..10: field k of a record of the period that passed the
// filters, as bytes of the log (fields[0] is unused). The views point into
// the reader's window and are valid during the call only.
using RecordFields = std::array<std::string_view, 11>;

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // False ends the scan after this record; the position returned is then
  // that of the record after it, so that a later call resumes there.
  virtual bool record(const RecordFields& fields) = 0;
};

}  // namespace velmora
