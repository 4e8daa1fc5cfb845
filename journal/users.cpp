// GetUsers: the distinct user names of the log from a position on, into the
// host value list.
#include <cstring>
#include <string>
#include <unordered_set>

#include "journal/codepage.h"
#include "journal/failures.h"
#include "journal/fileio.h"
#include "journal/journal.h"
#include "journal/lines.h"

namespace velmora {
namespace {

constexpr std::int64_t kEndMargin = 18;  // no window starts this close to the end

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
    do {
      readWindow(P, kScanWindow);
      const char* buf = Buffer_.data();
      const char* end = buf + windowSize_;
      const char* I = buf;
      while (const char* E = lines::findLineEnd(I, end)) {
        // The user field runs from the 19th byte to the next ";", which
        // must lie inside the record.
        if (E - I > 18) {
          const void* hit = std::memchr(I + 18, ';', static_cast<std::size_t>(E - (I + 18)));
          if (hit != nullptr) {
            const char* S = static_cast<const char*>(hit);
            const std::string_view name(I + 18, static_cast<std::size_t>(S - I - 18));
            if (seen.firstTime(name)) {
              if (!allSpaces(name)) {
                cp.decode(name, user);
                ListStr.AddValue(user, user);
              }
            }
          }
        }
        I = E + 2;
      }
      // A window without a complete line (a record longer than the window,
      // or an unterminated last record) ends the scan at that record.
      if (I == buf) break;
      P += I - buf;
    } while (MyFileSize_ - kEndMargin >= P);

    file_.reset();
    if (ListStr.GetListSize() > 0) ListStr.Sort();
    return scriptResult(P, FilePath_);
  } catch (...) {
    return failCurrent();
  }
}

}  // namespace velmora
