// GetUsers: the distinct user names of the log from a position on, into the
// host value list, sorted.
#include <limits>
#include <string_view>

#include "core/fileio.h"
#include "core/log_tasks.h"
#include "core/unique_resource.h"
#include "script/journal.h"
#include "script/num_err.h"
#include "text/codepage.h"

namespace velmora {

std::int32_t Journal::GetUsers(std::int32_t StartPos, ValueList& ListStr) {
  const std::int64_t next = GetUsers64(StartPos, ListStr);
  if (next <= std::numeric_limits<std::int32_t>::max()) return static_cast<std::int32_t>(next);
  // A position past 2 GiB does not fit the script's result.
  try {
    return scriptResult(next, FilePath_);
  } catch (...) {
    return failCurrent();
  }
}

std::int64_t Journal::GetUsers64(std::int64_t StartPos, ValueList& ListStr) {
  clearError();
  TaskStats stats;
  try {
    const AtScopeEnd done([&] { keepTaskStats(stats); });
    // A log that does not exist leaves the list as it was.
    if (fileExists(FilePath_)) ListStr.RemoveAll();
    U16String name;
    const CodePage& cp = codePage();
    const std::int64_t next = listUsers(
        FilePath_, StartPos,
        [&](std::string_view user) {
          cp.decode(user, name);
          ListStr.AddValue(name, name);
        },
        progress_, stats);
    if (ListStr.GetListSize() > 0) ListStr.Sort();
    return next;
  } catch (...) {
    return failCurrent();
  }
}

}  // namespace velmora
