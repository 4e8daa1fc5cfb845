// Owning BSTR: freed on reset, handed out by release().
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <utility>

#include "text/text.h"

namespace velmora {

class unique_bstr {
 public:
  unique_bstr() = default;
  // Allocates a copy; throws std::bad_alloc when the allocator refuses.
  explicit unique_bstr(U16View text);
  unique_bstr(const unique_bstr&) = delete;
  unique_bstr& operator=(const unique_bstr&) = delete;
  unique_bstr(unique_bstr&& o) noexcept : s_(o.release()) {}
  unique_bstr& operator=(unique_bstr&& o) noexcept {
    reset(o.release());
    return *this;
  }
  ~unique_bstr() { reset(); }

  static unique_bstr attach(BSTR s) {
    unique_bstr r;
    r.s_ = s;
    return r;
  }
  void reset(BSTR s = nullptr) {
    if (BSTR old = std::exchange(s_, s)) SysFreeString(old);
  }
  BSTR release() { return std::exchange(s_, nullptr); }
  // For out parameters: frees the old string first.
  BSTR* put() {
    reset();
    return &s_;
  }
  // For in/out parameters: the callee may free and replace the string, and
  // this object then owns the replacement.
  BSTR* inout() { return &s_; }
  BSTR get() const { return s_; }
  // A null BSTR is the empty string.
  U16View view() const { return view(s_); }
  static U16View view(BSTR s) {
    return s ? U16View(reinterpret_cast<const char16_t*>(s), SysStringLen(s)) : U16View();
  }

 private:
  BSTR s_ = nullptr;
};

// A fresh BSTR for an out parameter; throws std::bad_alloc on failure.
BSTR allocBstr(U16View text);

}  // namespace velmora
