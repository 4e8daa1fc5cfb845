// The add-in library's own heap use, seen through its imports of malloc,
// calloc, realloc and free: live blocks and bytes, for leak bounds, and a
// failure of one chosen allocation, for out-of-memory paths. Counts start
// when the first watch begins; only the add-in's calls are seen.
#pragma once

#include <cstdint>
#include <memory>

namespace sim {

struct HeapFigures {
  std::int64_t liveBlocks = 0;
  std::int64_t liveBytes = 0;
  std::int64_t allocations = 0;  // successful ones, since the watch began
  std::int64_t refused = 0;      // allocations made to fail
};

class AddinHeapWatch {
 public:
  AddinHeapWatch();
  AddinHeapWatch(const AddinHeapWatch&) = delete;
  AddinHeapWatch& operator=(const AddinHeapWatch&) = delete;
  ~AddinHeapWatch();

  HeapFigures figures() const;
  // The n-th allocation from now (n >= 1) fails; the ones before and after
  // succeed. 0 disarms.
  void failAllocation(std::int64_t n);
  // True once the armed failure has happened.
  bool failed() const;

 private:
  struct Hooks;
  std::unique_ptr<Hooks> hooks_;
};

}  // namespace sim
