#pragma once

#include "platform/types.h"

namespace platform {

// hook.dll's three entry points, imported by ordinal. Results are 8-bit booleans of which only
// the low byte counts; the implementation returns them as bool already.
class IHookLibrary {
 public:
  virtual ~IHookLibrary() = default;

  virtual bool AttachHook(WindowHandle window) = 0;  // ordinal 1
  virtual bool IsHookAttached() = 0;                 // ordinal 2
  virtual void DetachHook() = 0;                     // ordinal 3
};

}  // namespace platform
