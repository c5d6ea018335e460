#pragma once

#include <oleauto.h>

namespace platform::win32 {

// Owns a VARIANT and clears it (freeing any string or interface it holds) when it goes.
class Variant {
 public:
  Variant() noexcept { VariantInit(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&value_); }

  VARIANT* Get() noexcept { return &value_; }
  const VARIANT* Get() const noexcept { return &value_; }
  // For out parameters: clears what is held and hands out the variant to fill.
  VARIANT* Put() noexcept {
    VariantClear(&value_);
    return &value_;
  }

 private:
  VARIANT value_;
};

// A VARIANT that refers to a string it does not own, for by-value VARIANT parameters: the callee
// copies what it keeps, so nothing must be freed afterwards.
inline VARIANT BorrowedStringVariant(BSTR text) noexcept {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  value.bstrVal = text;
  return value;
}

}  // namespace platform::win32
