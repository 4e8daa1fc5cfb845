// ReplaceDateTimes: a copy of the log in which the period keys of the
// records named in a replacement list are replaced.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "journal/errors.h"
#include "journal/failures.h"
#include "journal/fileio.h"
#include "journal/journal.h"
#include "journal/lines.h"
#include "journal/long_lines.h"

namespace velmora {
namespace {

constexpr std::int64_t kEndMargin = 18;  // no window starts this close to the end
// A list is read whole; one larger than this is refused rather than
// exhausting the address space of a 32-bit process.
constexpr std::int64_t kMaxListSize = std::int64_t{1} << 30;

struct Slot {
  const char* key = nullptr;  // 18 bytes of the list, or none
  double number = 0;          // the record's number, rounded
};

// The leading decimal number of a text, blanks anywhere ignored: an optional
// sign, digits, a fractional part and an exponent; 0 when there is none.
// False when the number is too large for a double.
bool leadingNumber(std::string_view text, double& value) {
  std::string digits;
  bool mantissa = false, point = false, exponent = false, expDigits = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n') continue;
    if (c >= '0' && c <= '9') {
      digits.push_back(c);
      (exponent ? expDigits : mantissa) = true;
    } else if ((c == '+' || c == '-') && (digits.empty() || digits.back() == 'e')) {
      digits.push_back(c);
    } else if (c == '.' && !point && !exponent) {
      digits.push_back(c);
      point = true;
    } else if ((c == 'e' || c == 'E' || c == 'd' || c == 'D') && mantissa && !exponent) {
      digits.push_back('e');
      exponent = true;
    } else {
      break;
    }
  }
  // Drop an exponent without digits ("12e" is 12).
  if (exponent && !expDigits) digits.erase(digits.find('e'));
  value = 0;
  if (!mantissa) return true;
  const char* first = digits.data();
  if (*first == '+') ++first;
  const auto [end, ec] = std::from_chars(first, digits.data() + digits.size(), value);
  return ec == std::errc();
}

[[noreturn]] void badNumber(std::size_t line, U16View path) {
  const std::string digits = std::to_string(line);
  U16String text = u"Номер записи в строке ";
  text.append(digits.begin(), digits.end());
  text.append(u" файла \"");
  text.append(path);
  text.append(u"\" не помещается в 32-битное целое");
  throw Failure(ErrorNumber::Overflow, std::move(text));
}

// One slot per CR LF of the list: the new key and the record's number for a
// line of 19 bytes or more, an unusable slot (number 0) for a shorter one.
std::vector<Slot> readSlots(const std::string& list, U16View path) {
  std::vector<Slot> slots;
  const char* begin = list.data();
  const char* end = begin + list.size();
  const char* d = begin;
  while (const char* c = lines::findLineEnd(d, end)) {
    Slot slot;
    if (c - d >= 19) {
      double value = 0;
      if (!leadingNumber(std::string_view(d + 18, static_cast<std::size_t>(c - d - 18)), value)) {
        badNumber(slots.size() + 1, path);
      }
      // Halves go to the even neighbour.
      value = std::nearbyint(value);
      if (!(value >= std::numeric_limits<std::int32_t>::min() && value <= std::numeric_limits<std::int32_t>::max())) {
        badNumber(slots.size() + 1, path);
      }
      slot.key = d;
      slot.number = value;
    }
    slots.push_back(slot);
    d = c + 2;
  }
  return slots;
}

}  // namespace

std::int32_t Journal::ReplaceDateTimes(U16View FlPath, U16View ErrPath) {
  clearError();
  try {
    const AtScopeEnd done([this] { endCall(); });
    if (!fileExists(ErrPath) || FlPath == ErrPath || FlPath == FilePath_) return -1;
    // Another spelling of the same file (a relative path, a link) is refused
    // like an equal path: writing it would destroy what is being read.
    if (sameFile(FlPath, ErrPath) || sameFile(FlPath, FilePath_)) return -1;
    if (!fileExists(FilePath_)) return -1;

    std::string list;
    {
      ReadFile listFile(ErrPath);
      if (listFile.size() > kMaxListSize) {
        throw Failure(ErrorNumber::OutOfMemory, u"Список замен \"" + U16String(ErrPath) + u"\" слишком велик");
      }
      list.resize(static_cast<std::size_t>(listFile.size()));
      list.resize(listFile.readAt(1, list.data(), list.size()));
    }
    const std::vector<Slot> slots = readSlots(list, ErrPath);
    if (slots.empty()) return 0;
    const std::size_t n = slots.size();

    file_ = std::make_unique<ReadFile>(FilePath_);
    MyFileSize_ = file_->size();
    WriteFile out(FlPath);
    const auto W = std::min<std::int64_t>(MyFileSize_, kScanWindow);
    std::vector<char> scratch;  // for a record longer than a window
    std::int64_t r = 0;  // records seen
    std::size_t j = 0;   // the pending slot
    std::int64_t pos = 1;
    do {
      // Records appended while the copy runs are left out: no window
      // reaches past the length found at open. A log cut meanwhile cannot
      // give a whole copy.
      const auto want = static_cast<std::size_t>(std::min(W, MyFileSize_ - pos + 1));
      if (readWindow(pos, want) < want) throwLogCut(FilePath_);
      char* buf = Buffer_.data();
      const char* end = buf + windowSize_;
      char* h = buf;
      while (const char* l = lines::findLineEnd(h, end)) {
        ++r;
        if (static_cast<double>(r) == slots[j].number) {
          // A record shorter than a key has none to replace: writing the key
          // would garble it, eat its line end or spill into the next record.
          // Its entry is used all the same.
          if (l - h >= static_cast<std::ptrdiff_t>(lines::kKeySize)) std::memcpy(h, slots[j].key, lines::kKeySize);
          if (j + 1 < n) ++j;
        }
        h = buf + (l - buf) + 2;
      }
      if (h != buf) {
        out.write(std::string_view(buf, static_cast<std::size_t>(h - buf)));
        pos += h - buf;
        continue;
      }
      // No complete record in the window. At the end of the log that is its
      // unterminated last line, which is no record; elsewhere it is a record
      // longer than the window, copied piece by piece.
      if (pos + static_cast<std::int64_t>(want) - 1 >= MyFileSize_) break;
      if (scratch.empty()) scratch.resize(lines::kLongLinePiece);
      const std::int64_t cr = lines::followLine(*file_, pos, MyFileSize_, scratch, [](std::int64_t, std::string_view) {});
      if (cr < 0) break;
      ++r;
      const char* key = nullptr;
      if (static_cast<double>(r) == slots[j].number) {
        key = slots[j].key;
        if (j + 1 < n) ++j;
      }
      lines::readPieces(*file_, pos, cr + 1, scratch, [&](std::int64_t at, std::string_view piece) {
        if (key != nullptr && at == pos) {
          std::memcpy(scratch.data(), key, std::min(lines::kKeySize, piece.size()));
        }
        out.write(piece);
      });
      pos = cr + 2;
    } while (pos <= MyFileSize_ - kEndMargin);

    file_.reset();
    out.close();
    return static_cast<std::int32_t>(j + 1 < n ? j : n);
  } catch (...) {
    return failCurrent();
  }
}

}  // namespace velmora
