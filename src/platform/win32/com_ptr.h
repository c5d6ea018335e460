#pragma once

#include <unknwn.h>

#include <concepts>
#include <cstddef>
#include <utility>

namespace platform::win32 {

// Owns one reference to a COM interface. Move-only, so every AddRef has exactly one Release and
// early returns cannot leak. Interface ids are passed explicitly: several SDK headers mingw ships
// (msxml2.h among them) declare no __uuidof for their interfaces.
template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes over a reference the caller already owns (an out parameter, a fresh object).
  explicit ComPtr(T* owned) noexcept : pointer_(owned) {}

  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  ComPtr(ComPtr&& other) noexcept : pointer_(other.Detach()) {}
  // A derived interface converts to its base without a QueryInterface round trip.
  template <class U>
  requires std::derived_from<U, T> ComPtr(ComPtr<U>&& other)
  noexcept : pointer_(other.Detach()) {}

  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset(other.Detach());
    }
    return *this;
  }

  ~ComPtr() { Reset(); }

  // Adds a reference to a pointer the caller does not own (a COM in-parameter, `this`).
  static ComPtr AddRefed(T* borrowed) noexcept {
    if (borrowed != nullptr) {
      borrowed->AddRef();
    }
    return ComPtr(borrowed);
  }

  ComPtr Clone() const noexcept { return AddRefed(pointer_); }

  T* Get() const noexcept { return pointer_; }
  T* operator->() const noexcept { return pointer_; }
  explicit operator bool() const noexcept { return pointer_ != nullptr; }

  // For out parameters: releases what is held and hands out the slot to fill.
  T** Put() noexcept {
    Reset();
    return &pointer_;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }

  void Reset(T* owned = nullptr) noexcept {
    T* old = std::exchange(pointer_, owned);
    if (old != nullptr) {
      old->Release();
    }
  }

  [[nodiscard]] T* Detach() noexcept { return std::exchange(pointer_, nullptr); }

  // QueryInterface into another smart pointer; on failure `out` is empty.
  template <class U>
  HRESULT As(REFIID iid, ComPtr<U>& out) const noexcept {
    if (pointer_ == nullptr) {
      out.Reset();
      return E_POINTER;
    }
    return pointer_->QueryInterface(iid, out.PutVoid());
  }

 private:
  T* pointer_ = nullptr;
};

}  // namespace platform::win32
