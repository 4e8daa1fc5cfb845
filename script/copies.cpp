// StoreErrRows and ReplaceDateTimes: the core's two copies of the log, with
// the script's 32-bit results and NumErr/TextErr.
#include "core/log_tasks.h"
#include "core/unique_resource.h"
#include "script/journal.h"
#include "script/num_err.h"

namespace velmora {

std::int32_t Journal::StoreErrRows(U16View FlPath, U16View ErrPath) {
  clearError();
  TaskStats stats;
  try {
    const AtScopeEnd done([&] { keepTaskStats(stats); });
    return scriptResult(splitErrorRecords(FilePath_, FlPath, ErrPath, progress_, stats), FilePath_);
  } catch (...) {
    return failCurrent();
  }
}

std::int32_t Journal::ReplaceDateTimes(U16View FlPath, U16View ErrPath) {
  clearError();
  TaskStats stats;
  try {
    const AtScopeEnd done([&] { keepTaskStats(stats); });
    return static_cast<std::int32_t>(replaceRecordKeys(FilePath_, FlPath, ErrPath, progress_, stats));
  } catch (...) {
    return failCurrent();
  }
}

}  // namespace velmora
