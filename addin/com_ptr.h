// Owning reference to a COM interface: AddRef on copy, Release on reset.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

namespace velmora {

template <class T>
class com_ptr {
 public:
  com_ptr() = default;
  com_ptr(std::nullptr_t) {}
  // Takes a new reference of its own.
  explicit com_ptr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  com_ptr(const com_ptr& o) : com_ptr(o.p_) {}
  com_ptr(com_ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~com_ptr() { reset(); }
  com_ptr& operator=(const com_ptr& o) {
    com_ptr(o).swap(*this);
    return *this;
  }
  com_ptr& operator=(com_ptr&& o) noexcept {
    com_ptr(std::move(o)).swap(*this);
    return *this;
  }
  com_ptr& operator=(std::nullptr_t) {
    reset();
    return *this;
  }

  // Adopts a reference the caller already owns (a factory's result).
  static com_ptr attach(T* p) {
    com_ptr r;
    r.p_ = p;
    return r;
  }
  // Hands the reference to the caller (an out parameter).
  T* detach() { return std::exchange(p_, nullptr); }

  void reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // For out parameters: drops the old reference first.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void swap(com_ptr& o) noexcept { std::swap(p_, o.p_); }

  // QueryInterface; empty when the object does not have it.
  template <class U>
  com_ptr<U> query(REFIID iid) const {
    com_ptr<U> r;
    if (p_) p_->QueryInterface(iid, r.put_void());
    return r;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace velmora
