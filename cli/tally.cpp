#include "cli/tally.h"

#include <bit>
#include <cstring>
#include <stdexcept>


namespace velmora::cli {

void Activity::add(const Activity& other) {
  count.records += other.count.records;
  count.errors += other.count.errors;
  for (int m = 0; m < kModeSlots; ++m) {
    byMode[m] += other.byMode[m];
    errorsByMode[m] += other.errorsByMode[m];
  }
}

namespace {

constexpr std::size_t kFirstCapacity = 64;

}  // namespace

ByteCounter::ByteCounter() : slots_(kFirstCapacity) {}

Count& ByteCounter::insert(std::size_t i, std::string_view key, std::uint64_t w0, std::uint64_t w1) {
  if ((used_ + 1) * 2 > slots_.size()) {
    grow();
    return at(key);
  }
  // Offsets are 32-bit; counted in 64 bits, so that 32-bit builds test it too.
  if (std::uint64_t{arena_.size()} + key.size() > 0xFFFFFFFFull)
    throw std::length_error("more than 4 GiB of distinct keys");
  Slot& s = slots_[i];
  s.w0 = w0;
  s.w1 = w1;
  s.length = static_cast<std::uint32_t>(key.size());
  s.offset = static_cast<std::uint32_t>(arena_.size());
  arena_.append(key);
  ++used_;
  return s.count;
}

void ByteCounter::grow() {
  std::vector<Slot> old(slots_.size() * 2);
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& s : old) {
    if (s.length == kFree) continue;
    std::size_t i = hashOf({s.w0, s.w1}, s.length) & mask;
    while (slots_[i].length != kFree) i = (i + 1) & mask;
    slots_[i] = s;
  }
}

std::vector<std::pair<std::string_view, Count>> ByteCounter::entries() const {
  std::vector<std::pair<std::string_view, Count>> out;
  out.reserve(used_);
  for (const Slot& s : slots_)
    if (s.length != kFree) out.emplace_back(std::string_view(arena_).substr(s.offset, s.length), s.count);
  return out;
}

void ByteCounter::add(const ByteCounter& other) {
  for (const auto& [key, count] : other.entries()) {
    Count& c = at(key);
    c.records += count.records;
    c.errors += count.errors;
  }
}

void Tally::append(const Tally& later) {
  if (later.total_.records == 0) return;
  if (total_.records == 0) firstKey_ = later.firstKey_;
  lastKey_ = later.lastKey_;
  total_.records += later.total_.records;
  total_.errors += later.total_.errors;
  for (std::size_t i = 0; i < later.hourCount_; ++i) {
    const HourEntry& from = later.entry(i);
    const Activity a = later.activityOf(from);
    HourEntry& e = hourOf(from.key());
    // No count exceeds its hour's records: the sum of those decides.
    if (std::uint64_t{e.counts.records} + a.count.records > hourLimit_) {
      widen(e);
      wide_[e.wide - 1].add(a);
      continue;
    }
    HourCounts& c = e.counts;
    c.records += static_cast<std::uint32_t>(a.count.records);
    c.errors += static_cast<std::uint32_t>(a.count.errors);
    for (std::size_t m = 0; m < kModeSlots; ++m) {
      c.byMode[m] += static_cast<std::uint32_t>(a.byMode[m]);
      c.errorsByMode[m] += static_cast<std::uint32_t>(a.errorsByMode[m]);
    }
  }
  // The next record here continues the later part's last hour, found afresh.
  current_ = nullptr;
  users_.add(later.users_);
  events_.add(later.events_);
  for (const ErrorRecord& e : later.errorRecords_) {
    if (errorRecords_.size() >= keepErrors_) break;
    errorRecords_.push_back(e);
  }
}

namespace {

std::size_t hourSlot(std::uint64_t date, std::uint16_t hour, unsigned shift) {
  return static_cast<std::size_t>(((date ^ std::rotl(std::uint64_t{hour}, 40)) * 0x9E3779B97F4A7C15ull) >> shift);
}

}  // namespace

Tally::HourEntry& Tally::hourOf(const HourKey& key) {
  if ((hourCount_ + 1) * 2 > index_.size()) growIndex();
  const std::size_t mask = index_.size() - 1;
  for (std::size_t i = hourSlot(key.date, key.hour, indexShift_);; i = (i + 1) & mask) {
    const std::uint32_t n = index_[i];
    if (n == 0) {
      if (hourCount_ % kChunk == 0) chunks_.push_back(std::make_unique<HourEntry[]>(kChunk));
      HourEntry& e = entry(hourCount_);
      e.date = key.date;
      e.hour = key.hour;
      index_[i] = static_cast<std::uint32_t>(++hourCount_);
      return e;
    }
    HourEntry& e = entry(n - 1);
    if (e.date == key.date && e.hour == key.hour) return e;
  }
}

void Tally::widen(HourEntry& e) {
  if (e.wide == 0) {
    wide_.emplace_back();
    e.wide = static_cast<std::uint32_t>(wide_.size());
  }
  wide_[e.wide - 1] = activityOf(e);
  e.counts = HourCounts{};
}

Activity Tally::activityOf(const HourEntry& e) const {
  Activity a = e.wide != 0 ? wide_[e.wide - 1] : Activity{};
  a.count.records += e.counts.records;
  a.count.errors += e.counts.errors;
  for (std::size_t m = 0; m < kModeSlots; ++m) {
    a.byMode[m] += e.counts.byMode[m];
    a.errorsByMode[m] += e.counts.errorsByMode[m];
  }
  return a;
}

void Tally::growIndex() {
  // Entry numbers are 32-bit; so many distinct hours would not fit in memory anyway.
  if (hourCount_ >= 0x7FFFFFFF) throw std::length_error("too many distinct hours");
  const std::size_t size = index_.empty() ? 256 : index_.size() * 2;
  indexShift_ = 64 - static_cast<unsigned>(std::countr_zero(size));
  index_.assign(size, 0);
  const std::size_t mask = size - 1;
  for (std::size_t n = 0; n < hourCount_; ++n) {
    const HourKey k = entry(n).key();
    std::size_t i = hourSlot(k.date, k.hour, indexShift_);
    while (index_[i] != 0) i = (i + 1) & mask;
    index_[i] = static_cast<std::uint32_t>(n + 1);
  }
}

bool Tally::record(const Record& record) {
  const RecordFields& f = record.fields;
  // The reader hands out only records longer than their 18-byte key, and
  // fields 1 and 2 are its bytes 1-8 and 10-17: the date and time of a
  // record are 17 bytes in a row.
  HourKey key;
  std::memcpy(&key.date, f[1].data(), 8);
  std::memcpy(&key.hour, f[2].data(), 2);
  if (total_.records == 0) firstKey_.assign(f[1].data(), 17);
  if (current_ == nullptr || !(key == currentKey_)) {
    // Records stand in time order: the hour changes once in dozens or hundreds.
    current_ = &hourOf(key);
    currentKey_ = key;
  }
  std::memcpy(lastKey_.data(), f[1].data(), 17);

  const bool error = record.error;
  int mode = kModeOther;
  if (f[4].size() == 1) {
    for (int m = 0; m < 4; ++m)
      if (f[4][0] == kModeCodes[static_cast<std::size_t>(m)]) mode = m;
  }
  Count& user = users_.at(f[3]);
  Count& event = events_.at(f[6]);
  // Every count of an hour is at most its records: only those can reach the limit.
  if (current_->counts.records == hourLimit_) widen(*current_);
  HourCounts& hour = current_->counts;
  ++total_.records;
  ++hour.records;
  ++hour.byMode[mode];
  ++user.records;
  ++event.records;
  // Errors are counted apart, under one branch: added as "+= error" beside
  // the records, g++ paired the two counts into a vector built on the stack,
  // and the record path waited on it.
  if (error) {
    ++total_.errors;
    ++hour.errors;
    ++hour.errorsByMode[mode];
    ++user.errors;
    ++event.errors;
    if (errorRecords_.size() < keepErrors_) {
      ErrorRecord& e = errorRecords_.emplace_back();
      for (int k = 1; k <= 10; ++k) e.fields[static_cast<std::size_t>(k)].assign(f[k]);
    }
  }
  return true;
}

std::vector<Tally::Hour> Tally::hours() const {
  std::vector<Hour> out;
  out.reserve(hourCount_);
  // The key's bytes live in this tally, so views into it stay valid.
  forEachHour([&](const Hour& h) { out.push_back(h); });
  return out;
}

}  // namespace velmora::cli
