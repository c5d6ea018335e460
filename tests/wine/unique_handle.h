#pragma once

// The test tools keep their own small owner type instead of borrowing the product's, so that a
// fault in the product's platform code cannot hide itself by breaking the tools that look for it.

#include <utility>

namespace testtools {

template <typename Handle, auto Invalid, auto Close>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : handle_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, Invalid)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, Invalid);
    }
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  Handle Get() const { return handle_; }
  explicit operator bool() const { return handle_ != Invalid; }
  void Reset(Handle h = Invalid) {
    if (handle_ != Invalid) Close(handle_);
    handle_ = h;
  }

 private:
  Handle handle_ = Invalid;
};

}  // namespace testtools
