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

#include "core/failure.h"
#include "core/unique_resource.h"
#include "core/fileio.h"
#include "core/line_source.h"
#include "core/record_format.h"
#include "core/log_tasks.h"

namespace velmora {
namespace {

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
  throw Failure(FailureKind::LineOverflow, U16String(path), static_cast<std::int64_t>(line));
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
    if (c - d > static_cast<std::ptrdiff_t>(record::kKeySize)) {
      double value = 0;
      const std::string_view number(d + record::kKeySize, static_cast<std::size_t>(c - d) - record::kKeySize);
      if (!leadingNumber(number, value)) {
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

// Counts the records and writes each window's lines to the copy, the key
// of each record that the next slot names replaced first. A record longer
// than a window is copied through, its key replaced in its first piece.
class KeyReplacer {
 public:
  static constexpr lines::LongLines kLongLines = lines::LongLines::CopyThrough;
  static constexpr bool kWritesLines = true;

  KeyReplacer(const std::vector<Slot>& slots, WriteFile& out) : slots_(slots), out_(out) {}

  bool line(char* begin, char* cr) {
    if (const char* key = take()) {
      // A record shorter than a key has none to replace: writing the key
      // would garble it, eat its line end or spill into the next record.
      // Its entry is used all the same.
      if (cr - begin >= static_cast<std::ptrdiff_t>(record::kKeySize)) std::memcpy(begin, key, record::kKeySize);
    }
    return true;
  }
  void consumed(const char* begin, const char* end) { out_.write(std::string_view(begin, static_cast<std::size_t>(end - begin))); }
  void inspect(std::int64_t, std::string_view) {}
  bool longLine(const lines::LongLine&) {
    key_ = take();
    return true;
  }
  void copy(std::int64_t offset, char* piece, std::size_t n) {
    if (key_ != nullptr && offset == 0) std::memcpy(piece, key_, std::min(record::kKeySize, n));
    out_.write(std::string_view(piece, n));
  }

  // The slots used: all of them once the last was.
  std::size_t used() const { return j_ + 1 < slots_.size() ? j_ : slots_.size(); }

 private:
  // The next record's new key, or nullptr when the pending slot names
  // another record.
  const char* take() {
    ++r_;
    if (static_cast<double>(r_) != slots_[j_].number) return nullptr;
    const char* key = slots_[j_].key;
    if (j_ + 1 < slots_.size()) ++j_;
    return key;
  }

  const std::vector<Slot>& slots_;
  WriteFile& out_;
  std::int64_t r_ = 0;   // records seen
  std::size_t j_ = 0;    // the pending slot
  const char* key_ = nullptr;  // of the long record being copied
};

}  // namespace

std::int64_t replaceRecordKeys(U16View log, U16View outPath, U16View listPath, const ProgressFn& progress,
                               TaskStats& stats) {
  if (!fileExists(listPath) || outPath == listPath || outPath == log) return -1;
  // Another spelling of the same file (a relative path, a link) is refused
  // like an equal path: writing it would destroy what is being read.
  if (sameFile(outPath, listPath) || sameFile(outPath, log)) return -1;
  if (!fileExists(log)) return -1;

  std::string list;
  {
    ReadFile listFile(listPath);
    if (listFile.size() > kMaxListSize) {
      throw Failure(FailureKind::ListTooLarge, U16String(listPath));
    }
    list.resize(static_cast<std::size_t>(listFile.size()));
    list.resize(listFile.readAt(1, list.data(), list.size()));
  }
  const std::vector<Slot> slots = readSlots(list, listPath);
  if (slots.empty()) return 0;

  ReadFile file(log);
  stats.logSize = file.size();
  WriteFile out(outPath);
  lines::LineSource source(file, lines::SourceOptions::forCopy(Reader::kScanWindow, &progress));
  const AtScopeEnd counted([&] { stats.windows += source.windows(); });
  KeyReplacer replacer(slots, out);
  source.walk(1, replacer);

  out.close();
  return static_cast<std::int64_t>(replacer.used());
}

}  // namespace velmora
