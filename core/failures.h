// Helpers of the reader's error paths.
#pragma once

#include <cstdint>
#include <utility>

#include "text/text.h"

namespace velmora {

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
