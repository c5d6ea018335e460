#pragma once

// What hook.dll tells the strip, decided from successive looks at Winamp's five windows. No
// Win32 here: hook.cpp takes the looks and posts the messages, and the rules themselves run in
// native unit tests.

#include <array>
#include <chrono>
#include <cstdint>
#include <vector>

#include "base/winamp_windows.h"
#include "platform/types.h"

namespace hook {

using Millis = std::chrono::milliseconds;

// Polling is the only way to see Winamp move under Wine, so the intervals trade lag for CPU
// (bench/wine_docking.py measures both). Once following, the strip reads the main window itself
// every 15 ms; the watcher only has to notice where a move starts and ends and what else changes.
// While Winamp moves, and for a second after anything changed (a paused drag usually resumes, a
// resize comes in many steps), it looks every 10 ms, within one follow tick. When all is still,
// every 40 ms: the first move after a quiet spell waits up to that long before the strip starts
// following, and a still Winamp costs a quarter as many looks. On Windows a wait rounds up to the
// system tick (about 15.6 ms), and WinEvents wake the watcher at once anyway.
inline constexpr Millis kMovingPollInterval{10};
inline constexpr Millis kStillPollInterval{40};
inline constexpr Millis kFastPollLinger{1000};
// A drag that pauses this long counts as ended: the strip makes one last follow step and stops
// its timer. Several fast polls long, so two consecutive looks that fall between the mouse
// moves of an ongoing drag do not end it.
inline constexpr Millis kSettleTime{100};

// One of Winamp's windows as last looked at. An id of 0 means no window of that class exists;
// otherwise it identifies the window, so a window closed and made again is a different one.
struct WindowLook {
  std::uintptr_t id = 0;
  platform::Rect rect;
};

// Indexed like Winamp's windows in base/winamp_windows.h (the main window first). Only the main window's state decides
// anything beyond sizes, so only its state is read: each read is a round trip to the Wine server.
struct WinampLook {
  std::array<WindowLook, lsv::kWinampWindowCount> windows{};
  bool mainVisible = false;
  bool mainMinimized = false;
  bool mainIsForeground = false;
  Millis time{0};
};

class WinampWatch {
 public:
  // Forgets what was seen: the next look only sets the baseline and reports nothing, so a new
  // receiver is never told about a change that happened before it attached.
  void Reset();

  // The messages to post, in order, for what changed since the previous look.
  std::vector<unsigned> Step(const WinampLook& look);

  // How long to wait before the next look, measured from the time of the last one.
  Millis NextPollDelay() const;

  bool Moving() const { return moving_; }

 private:
  bool hasBaseline_ = false;
  WinampLook last_{};
  bool moving_ = false;
  Millis lastMove_{0};
  Millis lastActivity_{0};
};

}  // namespace hook
