// hook.dll: tells the strip about Winamp's window activity by posting messages to the window
// given to AttachHook.
//
// Nothing runs inside Winamp. While attached, one watcher thread of this process looks at
// Winamp's five top-level windows at a short interval (see winamp_watch.h for the intervals and
// for which change posts which message). Wine delivers no WinEvents for moves, resizes or
// activation, so polling is what makes the library work there; where the system does deliver
// WinEvents they only wake the watcher early.
//
// Lifetime: the watcher exists only while attached. It holds a reference on this module and
// leaves through FreeLibraryAndExitThread, so a FreeLibrary can never unload the code under a
// running watcher; at process exit the system ends every other thread before DLL_PROCESS_DETACH.
// That is why the library has no DllMain of its own: there is nothing to stop at detach, and a
// join there could not work anyway (the loader lock would deadlock it).

#include <windows.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "base/winamp_windows.h"
#include "platform/win32/handle.h"
#include "winamp_watch.h"

namespace {

using platform::win32::UniqueHandle;

constexpr int kWindowCount = lsv::kWinampWindowCount;
constexpr int kMain = lsv::kWinampMain;

// Where Windows (and Wine) park a minimised top-level window.
constexpr LONG kMinimizedParkingX = -32000;

class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK& lock_;
};

// What the entry points and the watcher share. The watcher posts while holding the lock and
// DetachHook clears the target under it, so once DetachHook has returned nothing more is posted.
// PostMessage never waits for the receiver, so holding the lock around it cannot stall the strip.
SRWLOCK gLock = SRWLOCK_INIT;
HWND gTarget = nullptr;
// Bumped by every AttachHook: the watcher then starts over from a fresh baseline.
std::uint64_t gGeneration = 0;
bool gWatcherRunning = false;
// Auto-reset; wakes the watcher when the attachment changes. Made on first attach, not in
// DllMain, and closed by its destructor when the module goes away.
UniqueHandle gWake;

// The WinEvent callback runs on the watcher thread inside its message pump and only raises this
// flag; the handles let it ignore events about other windows.
std::atomic<bool> gWinEventWake{false};
std::array<std::atomic<HWND>, kWindowCount> gWatched{};

hook::Millis Now() {
  return std::chrono::duration_cast<hook::Millis>(std::chrono::steady_clock::now().time_since_epoch());
}

bool IsWatched(HWND hwnd) {
  for (const auto& watched : gWatched) {
    if (hwnd != nullptr && watched.load(std::memory_order_relaxed) == hwnd) return true;
  }
  return false;
}

void CALLBACK OnWinEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (event == EVENT_SYSTEM_FOREGROUND || (object == OBJID_WINDOW && child == CHILDID_SELF && IsWatched(hwnd))) {
    gWinEventWake.store(true, std::memory_order_relaxed);
  }
}

struct WinEventHookTraits {
  using Type = HWINEVENTHOOK;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type hook) noexcept { UnhookWinEvent(hook); }
};
using UniqueWinEventHook = platform::win32::UniqueResource<WinEventHookTraits>;

// Out-of-context hooks: their callbacks arrive through this thread's message queue, so they need
// the watcher's pump and must be removed by this same thread before it ends.
class WinEventWake {
 public:
  WinEventWake()
      : system_(SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_MINIMIZEEND, nullptr, OnWinEvent, 0, 0,
                                WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS)) {}

  // Object events come in floods from every process (the cursor alone reports each move), so
  // they are asked for only from Winamp's process, and asked again when Winamp starts anew.
  void Follow(HWND main) {
    if (main == followedMain_) return;
    followedMain_ = main;
    DWORD process = 0;
    if (main != nullptr) GetWindowThreadProcessId(main, &process);
    if (process == followedProcess_) return;
    followedProcess_ = process;
    objects_.Reset();
    if (process != 0) {
      objects_.Reset(SetWinEventHook(EVENT_OBJECT_DESTROY, EVENT_OBJECT_LOCATIONCHANGE, nullptr, OnWinEvent, process, 0,
                                     WINEVENT_OUTOFCONTEXT));
    }
  }

 private:
  UniqueWinEventHook system_;
  UniqueWinEventHook objects_;
  HWND followedMain_ = nullptr;
  DWORD followedProcess_ = 0;
};

// Keeps the handles between looks and finds a window again by class only when its handle stops
// working. Under Wine every read below is a round trip to the Wine server, the bulk of the
// watcher's cost, so a look reads no more than the rules use: the five rectangles, the main
// window's style and the foreground window.
class WinampWindows {
 public:
  hook::WinampLook Read(hook::Millis time) {
    hook::WinampLook look;
    look.time = time;
    for (int i = 0; i < kWindowCount; ++i) {
      HWND& hwnd = handles_[i];
      RECT r{};
      if (hwnd == nullptr || !GetWindowRect(hwnd, &r)) {
        hwnd = FindWindowA(lsv::kWinampWindowClasses[i], nullptr);
        if (hwnd != nullptr && !GetWindowRect(hwnd, &r)) hwnd = nullptr;
      }
      gWatched[i].store(hwnd, std::memory_order_relaxed);
      if (hwnd == nullptr) continue;
      look.windows[i] = {reinterpret_cast<std::uintptr_t>(hwnd), {r.left, r.top, r.right, r.bottom}};
    }
    if (HWND main = handles_[kMain]; main != nullptr) {
      // One read instead of IsWindowVisible and IsIconic: a top-level window has no parent whose
      // visibility IsWindowVisible would add.
      const auto style = static_cast<DWORD>(GetWindowLongW(main, GWL_STYLE));
      look.mainVisible = (style & WS_VISIBLE) != 0;
      // Minimising and restoring change the style and the position in separate steps, and a look
      // can fall in between; a window still at the parking spot is taken as minimised, or the
      // step out of it would pass for a drag.
      look.mainMinimized = (style & WS_MINIMIZE) != 0 || look.windows[kMain].rect.left <= kMinimizedParkingX;
      look.mainIsForeground = GetForegroundWindow() == main;
    }
    return look;
  }

  HWND Main() const { return handles_[kMain]; }

 private:
  std::array<HWND, kWindowCount> handles_{};
};

// Waits until the delay is over, the attachment changes, or a WinEvent about Winamp arrives.
void WaitForNextLook(hook::Millis delay) {
  const auto deadline = Now() + delay;
  for (;;) {
    const auto remaining = deadline - Now();
    if (remaining <= hook::Millis{0}) return;
    HANDLE wake = gWake.Get();
    const DWORD waited =
        MsgWaitForMultipleObjectsEx(1, &wake, static_cast<DWORD>(remaining.count()), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (waited == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      if (gWinEventWake.exchange(false, std::memory_order_relaxed)) return;
      continue;
    }
    if (waited == WAIT_FAILED) Sleep(static_cast<DWORD>(remaining.count()));
    return;
  }
}

// Runs until DetachHook; the RAII members (the WinEvent hooks above all) are gone before the
// thread's entry leaves this module for good.
void Watch() {
  WinampWindows windows;
  WinEventWake winEvents;
  hook::WinampWatch watch;
  // AttachHook bumps the generation under the lock the first look waits for, so that look resyncs.
  std::uint64_t generation = 0;
  for (;;) {
    const hook::WinampLook look = windows.Read(Now());
    winEvents.Follow(windows.Main());
    {
      ExclusiveLock lock(gLock);
      if (gTarget == nullptr) {
        gWatcherRunning = false;
        return;
      }
      if (generation != gGeneration) {
        watch.Reset();
        generation = gGeneration;
      }
      for (unsigned message : watch.Step(look)) PostMessageW(gTarget, message, 0, 0);
    }
    WaitForNextLook(watch.NextPollDelay());
  }
}

DWORD WINAPI WatcherEntry(void* module) noexcept {
  try {
    Watch();
  } catch (...) {
    // Out of memory, in practice. Say so through IsHookAttached rather than stay attached
    // without anyone watching.
    ExclusiveLock lock(gLock);
    gWatcherRunning = false;
    gTarget = nullptr;
  }
  FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

// Called with gLock held.
bool StartWatcher() {
  if (!gWake) gWake.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!gWake) return false;
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&WatcherEntry), &self)) {
    return false;
  }
  UniqueHandle thread(CreateThread(nullptr, 0, WatcherEntry, self, 0, nullptr));
  if (!thread) {
    FreeLibrary(self);
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

__declspec(dllexport) unsigned char __stdcall AttachHook(HWND window) noexcept {
  if (window == nullptr || !IsWindow(window)) return 0;
  ExclusiveLock lock(gLock);
  if (!gWatcherRunning) {
    if (!StartWatcher()) return 0;
    gWatcherRunning = true;
  }
  gTarget = window;
  ++gGeneration;
  SetEvent(gWake.Get());
  return 1;
}

__declspec(dllexport) unsigned char __stdcall IsHookAttached() noexcept {
  ExclusiveLock lock(gLock);
  return gTarget != nullptr ? 1 : 0;
}

__declspec(dllexport) void __stdcall DetachHook() noexcept {
  ExclusiveLock lock(gLock);
  gTarget = nullptr;
  if (gWake) SetEvent(gWake.Get());
}

}  // extern "C"
