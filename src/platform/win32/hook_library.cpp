#include "platform/win32/hook_library.h"

#include <windows.h>

#include "hook_api.h"
#include "platform/types.h"

namespace platform::win32 {

namespace {

// The entry points are declared to return an 8-bit value, so only the low byte of the return
// register is read: whatever the library leaves in the rest of it is not part of the answer.
bool LowByte(unsigned char result) { return result != 0; }

}  // namespace

bool HookLibrary::AttachHook(WindowHandle window) { return LowByte(::AttachHook(static_cast<HWND>(window))); }

bool HookLibrary::IsHookAttached() { return LowByte(::IsHookAttached()); }

void HookLibrary::DetachHook() { ::DetachHook(); }

}  // namespace platform::win32
