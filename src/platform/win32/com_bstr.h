#pragma once

#include <oleauto.h>

#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "platform/win32/utf.h"

namespace platform::win32 {

// Owns a BSTR. A null BSTR is the empty string in COM, so it reads as empty here too.
class Bstr {
 public:
  Bstr() noexcept = default;

  explicit Bstr(std::wstring_view text) : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (value_ == nullptr) {
      throw std::bad_alloc();
    }
  }
  static Bstr FromUtf8(std::string_view utf8) { return Bstr(Utf8ToWide(utf8)); }

  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  Bstr(Bstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  Bstr& operator=(Bstr&& other) noexcept {
    if (this != &other) {
      SysFreeString(std::exchange(value_, std::exchange(other.value_, nullptr)));
    }
    return *this;
  }
  ~Bstr() { SysFreeString(value_); }

  BSTR Get() const noexcept { return value_; }
  // For out parameters: frees what is held and hands out the slot to fill.
  BSTR* Put() noexcept {
    SysFreeString(std::exchange(value_, nullptr));
    return &value_;
  }

  std::wstring_view View() const noexcept {
    return value_ == nullptr ? std::wstring_view() : std::wstring_view(value_, SysStringLen(value_));
  }
  std::string ToUtf8() const { return WideToUtf8(View()); }

 private:
  BSTR value_ = nullptr;
};

}  // namespace platform::win32
