// GetUsers: the distinct user names of the log from a position on, into the
// host value list.
#include <cstring>
#include <limits>
#include <string>
#include <unordered_set>

#include "text/codepage.h"
#include "core/failure.h"
#include "core/unique_resource.h"
#include "core/fileio.h"
#include "script/journal.h"
#include "script/num_err.h"
#include "core/line_source.h"
#include "core/record_format.h"
#include "script/log_tasks.h"

namespace velmora {
namespace {

// A user field of a record longer than the window is gathered up to this
// size; a longer one (a damaged stretch of the log, not a name) is skipped
// like a record without the ";" after its user.
constexpr std::size_t kLongUserLimit = std::size_t{1} << 20;

// The users met so far in one call. Names are compared whole: searching a
// malformed record's candidate (no ";" before the user) in a text of all
// names could both list a name twice and hide a new name inside an old one.
class SeenUsers {
 public:
  // True, and the user remembered, when the user was not seen yet.
  bool firstTime(std::string_view user) {
    if (names_.contains(user)) return false;  // no allocation for a known user
    names_.emplace(user);
    return true;
  }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_set<std::string, Hash, std::equal_to<>> names_;
};

bool allSpaces(std::string_view s) { return s.find_first_not_of(' ') == std::string_view::npos; }

// The user field of each line into the list, once per name. The field runs
// from the 19th byte to the next ";", which must lie inside the record.
class UserLines {
 public:
  static constexpr lines::LongLines kLongLines = lines::LongLines::Gather;

  UserLines(const CodePage& cp, ValueList& list) : cp_(cp), list_(list) {}

  bool line(const char* begin, const char* cr) {
    if (cr - begin > static_cast<std::ptrdiff_t>(record::kKeySize)) {
      if (const char* s = lines::findByte(begin + record::kKeySize, cr, ';')) {
        note(std::string_view(begin + record::kKeySize, static_cast<std::size_t>(s - begin - record::kKeySize)));
      }
    }
    return true;
  }
  // The key, a user field up to the limit and its ";".
  std::size_t gatherLimit(std::string_view) { return record::kKeySize + kLongUserLimit + 1; }
  bool longLine(const lines::LongLine& line) {
    if (line.gathered.size() > record::kKeySize) {
      const std::string_view fields = line.gathered.substr(record::kKeySize);
      const std::size_t semicolon = fields.find(';');
      if (semicolon != std::string_view::npos) note(fields.substr(0, semicolon));
    }
    return true;
  }

 private:
  void note(std::string_view name) {
    if (seen_.firstTime(name) && !allSpaces(name)) {
      cp_.decode(name, user_);
      list_.AddValue(user_, user_);
    }
  }

  const CodePage& cp_;
  ValueList& list_;
  SeenUsers seen_;
  U16String user_;
};

}  // namespace

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

std::int64_t listUsers(U16View log, std::int64_t start, const CodePage& cp, ValueList& list,
                       const ProgressFn& progress, TaskStats& stats) {
  if (!fileExists(log)) return -1;
  list.RemoveAll();
  std::int64_t next = start;
  {
    ReadFile file(log);
    stats.logSize = file.size();
    if (start >= stats.logSize) return start;
    lines::SourceOptions options;
    options.window = Reader::kScanWindow;
    options.progress = &progress;
    lines::LineSource source(file, options);
    const AtScopeEnd counted([&] { stats.windows += source.windows(); });
    UserLines users(cp, list);
    next = source.walk(start >= 1 ? start : 1, users);
  }  // the log is closed before the sort
  if (list.GetListSize() > 0) list.Sort();
  return next;
}

std::int64_t Journal::GetUsers64(std::int64_t StartPos, ValueList& ListStr) {
  clearError();
  TaskStats stats;
  try {
    const AtScopeEnd done([&] { keepTaskStats(stats); });
    return listUsers(FilePath_, StartPos, codePage(), ListStr, progress_, stats);
  } catch (...) {
    return failCurrent();
  }
}

}  // namespace velmora
