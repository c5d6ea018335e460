// A stand-in for the strip as far as hook.dll is concerned: it loads the library from its own
// folder, resolves the three entry points by ordinal as the product imports them, attaches its
// window and writes down everything that happens, so a scenario can check the library alone.
//
//   hook_receiver LOG              attach and log until the window is closed
//   hook_receiver LOG --unload     the load and unload checks below, then exit
//   hook_receiver LOG --exit-attached   attach, then end the process while attached (exit code 7)
//
// LOG gets one line per event, "<ms since start> <what> <number>":
//   hwnd H          the receiver's window, for the probe's "post"
//   attach R        AttachHook's result (low byte)
//   msg M           a message 1025..1040 that reached the window
//   attached R      IsHookAttached's result, after a command below
// Commands, posted to the window (probe post HWND MSG 0 0):
//   WM_APP+1  DetachHook, log "attached", then post itself a marker that logs "detach-marker" when
//             it arrives: posted messages arrive in order, so a "msg" after the marker was posted
//             after DetachHook had returned
//   WM_APP+2  AttachHook with the window, log "attach"
//   WM_APP+3  log "attached"
//   WM_APP+4  AttachHook with a null handle and with a handle of no window: log "attach-null" and
//             "attach-stale", then "attached" (the attachment must have survived both)
// The --unload checks log: "unloaded-after-detach MS" (how long until hook.dll left the process
// after DetachHook and FreeLibrary, -1 if it did not within 2 s), "loaded-while-attached 0|1"
// (after FreeLibrary while still attached), "unloaded-after-late-detach MS", and "cycles-unloaded
// MS" after 100 load, attach, detach, unload cycles in a row.

#include <windows.h>
// shellapi.h needs the types of windows.h before it.
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "unique_handle.h"

namespace {

// CreateFile fails with INVALID_HANDLE_VALUE, which cannot be a template argument; the opening
// code turns it into null.
using File = testtools::UniqueHandle<HANDLE, nullptr, CloseHandle>;

using AttachFn = unsigned char(__stdcall*)(HWND);
using IsAttachedFn = unsigned char(__stdcall*)();
using DetachFn = void(__stdcall*)();

constexpr wchar_t kHookDll[] = L"hook.dll";
constexpr UINT kDetach = WM_APP + 1;
constexpr UINT kAttach = WM_APP + 2;
constexpr UINT kReportAttached = WM_APP + 3;
constexpr UINT kAttachInvalid = WM_APP + 4;
constexpr UINT kDetachMarker = WM_APP + 5;
constexpr UINT kFirstLogged = WM_USER + 1;
constexpr UINT kLastLogged = WM_USER + 16;
constexpr int kExitAttachedCode = 7;
constexpr DWORD kUnloadWaitMs = 2000;
constexpr int kCycles = 100;

File gLog;
LONGLONG gStart = 0;
LONGLONG gFrequency = 1;

struct Hook {
  HMODULE module = nullptr;
  AttachFn attach = nullptr;
  IsAttachedFn isAttached = nullptr;
  DetachFn detach = nullptr;
};
Hook gHook;

void Log(const char* what, long long value) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  char line[96];
  int n =
      std::snprintf(line, sizeof line, "%.3f %s %lld\n",
                    static_cast<double>(now.QuadPart - gStart) * 1000.0 / static_cast<double>(gFrequency), what, value);
  DWORD written = 0;
  WriteFile(gLog.Get(), line, static_cast<DWORD>(n), &written, nullptr);
}

template <typename Fn>
Fn Ordinal(HMODULE module, WORD ordinal) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

Hook Load() {
  Hook hook;
  hook.module = LoadLibraryW(kHookDll);
  if (hook.module == nullptr) return hook;
  hook.attach = Ordinal<AttachFn>(hook.module, 1);
  hook.isAttached = Ordinal<IsAttachedFn>(hook.module, 2);
  hook.detach = Ordinal<DetachFn>(hook.module, 3);
  return hook;
}

// Milliseconds until no hook.dll is left in the process, or -1.
long long WaitUntilUnloaded() {
  const DWORD start = GetTickCount();
  while (GetModuleHandleW(kHookDll) != nullptr) {
    if (GetTickCount() - start > kUnloadWaitMs) return -1;
    Sleep(1);
  }
  return static_cast<long long>(GetTickCount() - start);
}

void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < ms) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

LRESULT CALLBACK ReceiverProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= kFirstLogged && msg <= kLastLogged) {
    Log("msg", msg);
    return 0;
  }
  switch (msg) {
    case kDetach:
      gHook.detach();
      Log("attached", gHook.isAttached());
      PostMessageW(hwnd, kDetachMarker, 0, 0);
      return 0;
    case kDetachMarker:
      Log("detach-marker", 0);
      return 0;
    case kAttach:
      Log("attach", gHook.attach(hwnd));
      return 0;
    case kReportAttached:
      Log("attached", gHook.isAttached());
      return 0;
    case kAttachInvalid: {
      Log("attach-null", gHook.attach(nullptr));
      // A window made and destroyed at once: its handle is valid in form and names no window.
      HWND gone = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
      DestroyWindow(gone);
      Log("attach-stale", gHook.attach(gone));
      Log("attached", gHook.isAttached());
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

void UnloadChecks(HWND hwnd) {
  {
    Hook hook = Load();
    hook.attach(hwnd);
    PumpFor(200);
    hook.detach();
    FreeLibrary(hook.module);
    Log("unloaded-after-detach", WaitUntilUnloaded());
  }
  {
    // The watcher keeps the library loaded while attached, so the entry points stay callable.
    Hook hook = Load();
    hook.attach(hwnd);
    FreeLibrary(hook.module);
    PumpFor(300);
    Log("loaded-while-attached", GetModuleHandleW(kHookDll) != nullptr ? 1 : 0);
    hook.detach();
    Log("unloaded-after-late-detach", WaitUntilUnloaded());
  }
  for (int i = 0; i < kCycles; ++i) {
    Hook hook = Load();
    hook.attach(hwnd);
    Sleep(static_cast<DWORD>(i % 3));
    hook.detach();
    FreeLibrary(hook.module);
  }
  Log("cycles-unloaded", WaitUntilUnloaded());
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  LARGE_INTEGER value;
  QueryPerformanceFrequency(&value);
  gFrequency = value.QuadPart;
  QueryPerformanceCounter(&value);
  gStart = value.QuadPart;

  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) return 2;
  const std::wstring mode = argc > 2 ? argv[2] : L"";
  HANDLE opened = CreateFileW(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  LocalFree(argv);
  if (opened == INVALID_HANDLE_VALUE) return 2;
  gLog = File(opened);

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = ReceiverProc;
  wc.hInstance = instance;
  wc.lpszClassName = L"LSV Hook Receiver";
  if (RegisterClassExW(&wc) == 0) return 1;
  // Never shown: the library must not care whether its target is visible.
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"hook receiver", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, instance,
                              nullptr);
  if (hwnd == nullptr) return 1;
  Log("hwnd", static_cast<long long>(reinterpret_cast<INT_PTR>(hwnd)));

  if (mode == L"--unload") {
    UnloadChecks(hwnd);
    return 0;
  }
  gHook = Load();
  if (gHook.module == nullptr || gHook.attach == nullptr || gHook.isAttached == nullptr || gHook.detach == nullptr) {
    return 1;
  }
  Log("attach", gHook.attach(hwnd));
  if (mode == L"--exit-attached") {
    PumpFor(100);
    ExitProcess(kExitAttachedCode);
  }
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}
