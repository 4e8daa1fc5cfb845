#include "cli/tally.h"

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
  for (const auto& [key, activity] : later.hours_) {
    const std::size_t i = hourIndex(key);
    hours_[i].second.add(activity);
  }
  users_.add(later.users_);
  events_.add(later.events_);
  for (const ErrorRecord& e : later.errorRecords_) {
    if (errorRecords_.size() >= keepErrors_) break;
    errorRecords_.push_back(e);
  }
}

std::size_t Tally::hourIndex(const HourKey& key) {
  const auto [it, added] = hourIndex_.try_emplace(key, hours_.size());
  if (added) hours_.emplace_back(key, Activity{});
  return it->second;
}

bool Tally::record(const Record& record) {
  const RecordFields& f = record.fields;
  // The reader hands out only records longer than their 18-byte key, and
  // fields 1 and 2 are its bytes 1-8 and 10-17: the date and time of a
  // record are 17 bytes in a row.
  HourKey key;
  std::memcpy(&key.date, f[1].data(), 8);
  std::memcpy(&key.hour, f[2].data(), 2);
  if (total_.records == 0) {
    firstKey_.assign(f[1].data(), 17);
    current_ = hourIndex(key);
    currentKey_ = key;
  } else if (!(key == currentKey_)) {
    // Records stand in time order: the hour changes once in hundreds.
    current_ = hourIndex(key);
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
  Activity& hour = hours_[current_].second;
  ++total_.records;
  ++hour.count.records;
  ++hour.byMode[mode];
  ++user.records;
  ++event.records;
  // Errors are counted apart, under one branch: added as "+= error" beside
  // the records, g++ paired the two counts into a vector built on the stack,
  // and the record path waited on it.
  if (error) {
    ++total_.errors;
    ++hour.count.errors;
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
  out.reserve(hours_.size());
  for (const auto& [key, activity] : hours_) {
    // The key's bytes live in this tally, so views into it stay valid.
    out.push_back({std::string_view(reinterpret_cast<const char*>(&key.date), 8),
                   std::string_view(reinterpret_cast<const char*>(&key.hour), 2), &activity});
  }
  return out;
}

}  // namespace velmora::cli
