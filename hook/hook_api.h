#pragma once

// The three entry points of hook.dll. The DLL exports them by ordinal only (no names), and the
// program imports them the same way through the import library built from hook.def.

#include <windows.h>

extern "C" {
__declspec(dllimport) unsigned char __stdcall AttachHook(HWND window);  // ordinal 1
__declspec(dllimport) unsigned char __stdcall IsHookAttached();         // ordinal 2
__declspec(dllimport) void __stdcall DetachHook();                      // ordinal 3
}
