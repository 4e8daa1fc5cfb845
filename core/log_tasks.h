// The whole-log tasks beside the period scans, typed: the user list and the
// two copies. The script class's GetUsers, StoreErrRows and ReplaceDateTimes
// are these with the script's 32-bit results, its value list and
// NumErr/TextErr; the tool calls them directly. Each throws what stopped it
// (a Failure, mostly) and leaves the caller to render it.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "core/reader.h"
#include "text/text.h"

namespace velmora {

// What a task saw of the log: its length at the open (-1: not opened) and
// the windows it read.
struct TaskStats {
  std::int64_t logSize = -1;
  std::uint64_t windows = 0;
};

// The distinct users of the log from position start on: each name, as log
// bytes, handed to newUser the first time it is met (a blank name is left
// out); the order is the log's, sorting is the caller's. Returns the
// position after the last complete line, start itself when it lies at or
// past the end, -1 when the log does not exist.
std::int64_t listUsers(U16View log, std::int64_t start, const std::function<void(std::string_view)>& newUser,
                       const ProgressFn& progress, TaskStats& stats);

// A copy of the log without its error records into kept and, unless errors
// is blank, the error records into errors. Returns the number of error
// records; -1, nothing written, when two of the paths name the same file or
// the log does not exist.
std::int64_t splitErrorRecords(U16View log, U16View kept, U16View errors, const ProgressFn& progress,
                               TaskStats& stats);

// A copy of the log into out with the keys of the records that list names
// replaced. Returns the list entries used; -1, nothing written, when the
// list or the log does not exist or out names one of them.
std::int64_t replaceRecordKeys(U16View log, U16View out, U16View list, const ProgressFn& progress,
                               TaskStats& stats);

}  // namespace velmora
