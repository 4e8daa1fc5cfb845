// One owner for every resource that is released by a call: descriptors,
// handles, SQLite statements and cursors, COM type information. Each
// resource is one line, an alias over the function that releases it:
//
//   using UniqueFd = UniqueResource<int, closeFd, -1>;
//   using UniqueStmt = UniqueResource<sqlite3_stmt*, sqlite3_finalize>;
//
// A resource whose invalid value is no constant expression (a Windows
// handle's INVALID_HANDLE_VALUE) names a function that gives it instead.
//
// Invariants: an owner holds either the invalid value or a resource that
// it alone releases; moving hands the resource over and leaves the source
// invalid; release() gives it up unreleased.
#pragma once

#include <type_traits>
#include <utility>

namespace velmora {

template <class T, auto Close, auto Invalid = T{}>
class UniqueResource {
 public:
  UniqueResource() = default;
  explicit UniqueResource(T value) noexcept : value_(value) {}
  UniqueResource(UniqueResource&& o) noexcept : value_(o.release()) {}
  UniqueResource& operator=(UniqueResource&& o) noexcept {
    reset(o.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  ~UniqueResource() { reset(); }

  static T invalid() noexcept {
    if constexpr (std::is_invocable_r_v<T, decltype(Invalid)>) {
      return Invalid();
    } else {
      return static_cast<T>(Invalid);
    }
  }

  T get() const noexcept { return value_; }
  bool valid() const noexcept { return value_ != invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Releases what is held now and holds value instead.
  void reset(T value = invalid()) noexcept {
    const T old = std::exchange(value_, value);
    if (old != invalid()) Close(old);
  }
  // Gives the resource up without releasing it.
  T release() noexcept { return std::exchange(value_, invalid()); }
  // For an out parameter: what is held now is released first.
  T* put() noexcept {
    reset();
    return &value_;
  }
  // For an in/out parameter: the callee may release what is held and put
  // another resource in its place, which the owner then holds.
  T* addressof() noexcept { return &value_; }

 private:
  T value_ = invalid();
};

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
