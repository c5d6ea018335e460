// hook.dll: tells the strip about Winamp's window activity by posting messages to the window
// given to AttachHook. This version records the attachment only and posts nothing yet.

#include <windows.h>

#include <atomic>

namespace {

std::atomic<HWND> g_target{nullptr};

}  // namespace

extern "C" {

__declspec(dllexport) unsigned char __stdcall AttachHook(HWND window) {
  if (window == nullptr || !IsWindow(window)) return 0;
  g_target.store(window);
  return 1;
}

__declspec(dllexport) unsigned char __stdcall IsHookAttached() { return g_target.load() != nullptr ? 1 : 0; }

__declspec(dllexport) void __stdcall DetachHook() { g_target.store(nullptr); }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
