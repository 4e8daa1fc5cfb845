// The distinct user names of the log from a position on.
#include <cstring>
#include <limits>
#include <string>
#include <unordered_set>

#include "core/failure.h"
#include "core/unique_resource.h"
#include "core/fileio.h"
#include "core/line_source.h"
#include "core/record_format.h"
#include "core/log_tasks.h"

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

// The user field of each line to newUser, once per name. The field runs
// from the 19th byte to the next ";", which must lie inside the record.
class UserLines {
 public:
  static constexpr lines::LongLines kLongLines = lines::LongLines::Gather;

  explicit UserLines(const std::function<void(std::string_view)>& newUser) : newUser_(newUser) {}

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
    if (seen_.firstTime(name) && !allSpaces(name)) newUser_(name);
  }

  const std::function<void(std::string_view)>& newUser_;
  SeenUsers seen_;
};

}  // namespace

std::int64_t listUsers(U16View log, std::int64_t start, const std::function<void(std::string_view)>& newUser,
                       const ProgressFn& progress, TaskStats& stats) {
  if (!fileExists(log)) return -1;
  ReadFile file(log);
  stats.logSize = file.size();
  if (start >= stats.logSize) return start;
  lines::SourceOptions options;
  options.window = Reader::kScanWindow;
  options.progress = &progress;
  lines::LineSource source(file, options);
  const AtScopeEnd counted([&] { stats.windows += source.windows(); });
  UserLines users(newUser);
  return source.walk(start >= 1 ? start : 1, users);
}

}  // namespace velmora
