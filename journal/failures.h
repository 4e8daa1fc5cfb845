// Helpers of the methods that trap their own errors.
#pragma once

#include <cstdint>
#include <utility>

#include "text/text.h"

namespace velmora {

// A position or count as the 32-bit result of a script method. A log of
// 2 GiB or more can hold positions past that range: then this throws
// Failure(Overflow) naming the file, rather than giving a wrapped number.
std::int32_t scriptResult(std::int64_t value, U16View path);

// A copy found the log shorter than when it was opened: the host (or
// someone) cut it meanwhile, and the copy cannot be whole.
[[noreturn]] void throwLogCut(U16View path);

// Runs a callable when the scope ends, however it ends.
template <class F>
class AtScopeEnd {
 public:
  explicit AtScopeEnd(F f) : f_(std::move(f)) {}
  ~AtScopeEnd() { f_(); }
  AtScopeEnd(const AtScopeEnd&) = delete;
  AtScopeEnd& operator=(const AtScopeEnd&) = delete;

 private:
  F f_;
};

}  // namespace velmora
