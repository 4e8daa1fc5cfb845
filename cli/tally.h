// Counting the records of a query as they stream past the reader: per hour,
// user, event and run mode, with error records counted apart. Memory grows
// with the distinct keys (hours, users, events), never with the records;
// keys stay log bytes until the end, when each is decoded once.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/record_sink.h"

namespace velmora::cli {

struct Count {
  std::uint64_t records = 0;
  std::uint64_t errors = 0;  // of those, error records (record::isErrorRecord)
};

// The four run modes of the catalogue, then any other code.
enum ModeSlot : int { kModeE, kModeC, kModeM, kModeD, kModeOther, kModeSlots };
inline constexpr std::array<char, 4> kModeCodes{'E', 'C', 'M', 'D'};

// Records of one hour or one bucket: all and errors, and both by run mode.
struct Activity {
  Count count;
  std::array<std::uint64_t, kModeSlots> byMode{};        // all records
  std::array<std::uint64_t, kModeSlots> errorsByMode{};  // error records
  void add(const Activity& other);
};

// Counts keyed by byte strings: open addressing, the keys in one arena.
// A key of up to 16 bytes is compared as two words and its length, without
// touching the arena: users and event codes are that short, and one of each
// is looked up for every record.
class ByteCounter {
 public:
  ByteCounter();
  // Inlined into the per-record path: as a call it cost a third of the
  // counting's time, most of it spent saving and restoring registers.
#if defined(__GNUC__)
  [[gnu::always_inline]]
#endif
  Count& at(std::string_view key) {
    const KeyWords k = wordsOf(key);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hashOf(k, key.size()) & mask;; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.length == kFree) return insert(i, key, k.w0, k.w1);
      if (s.length == key.size() && s.w0 == k.w0 && s.w1 == k.w1 &&
          (key.size() <= kShortKey || std::memcmp(arena_.data() + s.offset, key.data(), key.size()) == 0))
        return s.count;
    }
  }
  std::size_t size() const { return used_; }
  // Adds every count of other to the count of the same key here.
  void add(const ByteCounter& other);
  // The keys (log bytes) with their counts, in no particular order.
  std::vector<std::pair<std::string_view, Count>> entries() const;

 private:
  static constexpr std::uint32_t kFree = 0xFFFFFFFF;
  static constexpr std::size_t kShortKey = 16;

  // The bytes of a key as two words: for a key of up to 16 bytes the pair
  // and the length determine the key (the loads overlap and never reach past
  // it); a longer key is compared whole as well.
  struct KeyWords {
    std::uint64_t w0 = 0, w1 = 0;
  };
  static KeyWords wordsOf(std::string_view key) {
    const char* p = key.data();
    const std::size_t n = key.size();
    KeyWords k;
    if (n >= 8) {
      std::memcpy(&k.w0, p, 8);
      std::memcpy(&k.w1, p + n - 8, 8);
    } else if (n >= 4) {
      std::uint32_t a, b;
      std::memcpy(&a, p, 4);
      std::memcpy(&b, p + n - 4, 4);
      k.w0 = a | (std::uint64_t{b} << 32);
    } else if (n > 0) {
      k.w0 = static_cast<unsigned char>(p[0]) | static_cast<std::uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8 |
             static_cast<std::uint64_t>(static_cast<unsigned char>(p[n - 1])) << 16;
    }
    return k;
  }
  // One multiplication, its high bits folded down: the tables are small and
  // the lookup runs twice a record, where the latency of a longer mix shows.
  static std::uint64_t hashOf(const KeyWords& k, std::size_t n) {
    const std::uint64_t h = (k.w0 ^ std::rotl(k.w1, 29) ^ n) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 32);
  }

  struct Slot {
    std::uint64_t w0 = 0, w1 = 0;  // the key's first and last bytes
    std::uint32_t length = kFree;
    std::uint32_t offset = 0;  // of the whole key in the arena
    Count count;
  };
  Count& insert(std::size_t slot, std::string_view key, std::uint64_t w0, std::uint64_t w1);
  void grow();
  std::vector<Slot> slots_;
  std::string arena_;
  std::size_t used_ = 0;
};

// An error record kept whole for the report (log bytes).
struct ErrorRecord {
  std::array<std::string, 11> fields;  // 1..10
};

class Tally : public RecordSink {
 public:
  // An hour's counts are kept in 32 bits, up to this many records; an hour
  // that reaches it goes on counting in 64 (no log has such an hour, but a
  // count must not wrap).
  static constexpr std::uint32_t kHourLimit = 0xFFFFFFFF;
  // keepErrors: how many error records to keep whole, in log order;
  // hourLimit: below kHourLimit only to test the 64-bit counting.
  explicit Tally(std::size_t keepErrors = 0, std::uint32_t hourLimit = kHourLimit)
      : keepErrors_(keepErrors), hourLimit_(hourLimit) {}
  bool record(const Record& record) override;
  // Adds a tally of the records that follow this one's in the log (a log
  // counted in two parts at once), as if they had been recorded here.
  void append(const Tally& later);
  std::size_t keepErrors() const { return keepErrors_; }

  const Count& total() const { return total_; }
  // Hours as raw keys: 8 date bytes and 2 hour bytes, as the log wrote them.
  struct Hour {
    std::string_view date, hour;
    Activity activity;
  };
  std::vector<Hour> hours() const;
  // The same hours handed to f one by one, with no list of them made: a
  // sparse log holds an hour for every few dozen records.
  template <class F>
  void forEachHour(F&& f) const {
    for (std::size_t i = 0; i < hourCount_; ++i) {
      const HourEntry& e = entry(i);
      const Hour h{std::string_view(reinterpret_cast<const char*>(&e.date), 8),
                   std::string_view(reinterpret_cast<const char*>(&e.hour), 2), activityOf(e)};
      f(h);
    }
  }
  const ByteCounter& users() const { return users_; }
  const ByteCounter& events() const { return events_; }
  const std::vector<ErrorRecord>& errorRecords() const { return errorRecords_; }
  // Date and time (17 bytes, YYYYMMDD;HH:MM:SS) of the first and the last
  // record in log order; empty before any.
  const std::string& firstKey() const { return firstKey_; }
  std::string lastKey() const { return total_.records ? std::string(lastKey_.data(), lastKey_.size()) : std::string(); }

 private:
  struct HourKey {
    std::uint64_t date;
    std::uint16_t hour;
    bool operator==(const HourKey&) const = default;
  };
  // An hour's counts in 32 bits: with its key, an hour fills one cache line.
  struct HourCounts {
    std::uint32_t records = 0, errors = 0;
    std::array<std::uint32_t, kModeSlots> byMode{}, errorsByMode{};
  };
  struct HourEntry {
    std::uint64_t date = 0;
    std::uint16_t hour = 0;
    std::uint32_t wide = 0;  // 1 + the index of its 64-bit counts in wide_; 0: none
    HourCounts counts;
    HourKey key() const { return {date, hour}; }
  };
  // Moves the entry's counts into its 64-bit counts.
  void widen(HourEntry& e);
  Activity activityOf(const HourEntry& e) const;
  // The hour's entry, made when it is new. A new hour comes every few dozen
  // records in a sparse log: no allocation per hour and no copying as the
  // hours grow, so the entries lie in chunks that never move (a pointer to
  // one stays valid) and the index holds only their numbers.
  HourEntry& hourOf(const HourKey& key);
  HourEntry& entry(std::size_t i) const { return chunks_[i / kChunk][i % kChunk]; }
  void growIndex();
  static constexpr std::size_t kChunk = 1024;

  std::size_t keepErrors_;
  std::uint32_t hourLimit_;
  Count total_;
  std::vector<std::unique_ptr<HourEntry[]>> chunks_;
  std::size_t hourCount_ = 0;
  std::vector<std::uint32_t> index_;  // entry number + 1 by hash of the key, open addressing; 0 free
  unsigned indexShift_ = 64;          // 64 less the index's size in bits
  std::vector<Activity> wide_;       // the 64-bit counts of hours that reached hourLimit_
  HourEntry* current_ = nullptr;     // the hour of the last record
  HourKey currentKey_{};
  ByteCounter users_, events_;
  std::vector<ErrorRecord> errorRecords_;
  std::string firstKey_;
  std::array<char, 17> lastKey_{};
};

}  // namespace velmora::cli
