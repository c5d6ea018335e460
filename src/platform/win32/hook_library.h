#pragma once

#include "platform/hook_library.h"
#include "platform/types.h"

namespace platform::win32 {

// hook.dll's entry points, bound at load time by ordinal through the import library.
class HookLibrary final : public IHookLibrary {
 public:
  bool AttachHook(WindowHandle window) override;
  bool IsHookAttached() override;
  void DetachHook() override;
};

}  // namespace platform::win32
