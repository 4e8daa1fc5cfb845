// GetUsers: the distinct user names of the log from a position on, into the
// host value list.
#include <cstring>
#include <limits>
#include <string>
#include <unordered_set>

#include "text/codepage.h"
#include "journal/failures.h"
#include "journal/fileio.h"
#include "journal/journal.h"
#include "journal/lines.h"
#include "journal/long_lines.h"

namespace velmora {
namespace {

constexpr std::int64_t kEndMargin = 18;  // no window starts this close to the end
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

std::int64_t Journal::GetUsers64(std::int64_t StartPos, ValueList& ListStr) {
  clearError();
  try {
    const AtScopeEnd done([this] { endCall(); });
    if (!fileExists(FilePath_)) return -1;
    ListStr.RemoveAll();
    file_ = std::make_unique<ReadFile>(FilePath_);
    MyFileSize_ = file_->size();
    if (StartPos >= MyFileSize_) return StartPos;

    templateSize_ = kScanWindow;
    const CodePage& cp = CodePage::current();
    SeenUsers seen;
    U16String user;
    std::int64_t P = StartPos >= 1 ? StartPos : 1;
    auto note = [&](std::string_view name) {
      if (seen.firstTime(name)) {
        if (!allSpaces(name)) {
          cp.decode(name, user);
          ListStr.AddValue(user, user);
        }
      }
    };
    std::vector<char> scratch;  // pieces of a record longer than the window
    std::string longUser;       // the user field of such a record
    do {
      const std::size_t got = scanWindow(P, kScanWindow);
      const char* buf = window_;
      const char* end = buf + windowSize_;
      const char* I = buf;
      while (const char* E = lines::findLineEnd(I, end)) {
        // The user field runs from the 19th byte to the next ";", which
        // must lie inside the record.
        if (E - I > 18) {
          if (const char* S = lines::findByte(I + 18, E, ';')) {
            note(std::string_view(I + 18, static_cast<std::size_t>(S - I - 18)));
          }
        }
        I = E + 2;
      }
      if (I != buf) {
        P += I - buf;
        continue;
      }
      // A window without a complete line. When it reaches the end of the log
      // (as found at open) that is the unterminated last record: the scan
      // ends at its start. Otherwise it is a record longer than the window,
      // followed to its CR LF (the scan also ends at it when there is none).
      if (got < kScanWindow || MyFileSize_ - P < static_cast<std::int64_t>(kScanWindow)) break;
      if (scratch.empty()) scratch.resize(lines::kLongLinePiece);
      longUser.clear();
      bool named = false, tooLong = false;
      const std::int64_t from = P + 18;
      const std::int64_t cr = lines::followLine<false>(*file_, P, MyFileSize_, scratch, [&](std::int64_t at, std::string_view piece) {
        if (named || tooLong || at + static_cast<std::int64_t>(piece.size()) <= from) return;
        if (at < from) piece.remove_prefix(static_cast<std::size_t>(from - at));
        const std::size_t semicolon = piece.find(';');
        named = semicolon != std::string_view::npos;
        piece = piece.substr(0, semicolon);
        if (piece.size() > kLongUserLimit - longUser.size()) {
          tooLong = true;
          return;
        }
        longUser.append(piece);
      });
      if (cr < 0) break;
      if (named && !tooLong) note(longUser);
      P = cr + 2;
    } while (MyFileSize_ - kEndMargin >= P);

    file_.reset();
    if (ListStr.GetListSize() > 0) ListStr.Sort();
    return P;
  } catch (...) {
    return failCurrent();
  }
}

}  // namespace velmora
