// Records copied out of a reader's window, to outlive the call that handed
// them over: a scan's views are valid during the call only. One arena holds
// the bytes; each record keeps where its key and fields lie in it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/record_format.h"
#include "core/record_sink.h"

namespace velmora {

class KeptRecords {
 public:
  struct Kept {
    std::int64_t pos;
    std::int64_t after;  // free for the keeper's use (where the next record of its log begins)
    bool error;
    std::uint32_t key;  // the key is [key, offsets[1])
    std::array<std::uint32_t, kLastField + 2> offsets;  // field k is [offsets[k], offsets[k + 1])
  };

  void clear() {
    arena_.clear();
    kept_.clear();
  }
  bool empty() const { return kept_.empty(); }
  std::size_t size() const { return kept_.size(); }
  std::size_t bytes() const { return arena_.size(); }
  Kept& operator[](std::size_t i) { return kept_[i]; }
  const Kept& operator[](std::size_t i) const { return kept_[i]; }
  Kept& back() { return kept_.back(); }

  void keep(const Record& record) {
    Kept k;
    k.pos = record.position;
    k.after = record.position;
    k.error = record.error;
    k.key = static_cast<std::uint32_t>(arena_.size());
    arena_.append(record.key);
    for (int f = 1; f <= kLastField; ++f) {
      k.offsets[static_cast<std::size_t>(f)] = static_cast<std::uint32_t>(arena_.size());
      arena_.append(record.fields[static_cast<std::size_t>(f)]);
    }
    k.offsets[kLastField + 1] = static_cast<std::uint32_t>(arena_.size());
    kept_.push_back(k);
  }

  std::string_view key(std::size_t i) const {
    const Kept& k = kept_[i];
    return std::string_view(arena_.data() + k.key, k.offsets[1] - k.key);
  }

  // The record as it was handed over, with its log's index in a set.
  void fill(std::size_t i, Record& r, int log = 0) const {
    const Kept& k = kept_[i];
    for (int f = 1; f <= kLastField; ++f) {
      const auto j = static_cast<std::size_t>(f);
      r.fields[j] = std::string_view(arena_.data() + k.offsets[j], k.offsets[j + 1] - k.offsets[j]);
    }
    r.key = key(i);
    r.position = k.pos;
    r.error = k.error;
    r.log = log;
  }

 private:
  std::string arena_;
  std::vector<Kept> kept_;
};

}  // namespace velmora
