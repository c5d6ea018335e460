#include "winamp_watch.h"

#include "base/messages.h"

namespace hook {

namespace {

constexpr int kMain = lsv::kWinampMain;

bool SameWindow(const WindowLook& before, const WindowLook& now) { return before.id != 0 && before.id == now.id; }

// Shown and not minimised: the only state in which the main window's position means anything
// (a minimised window is parked far off-screen, so its "move" there is no drag).
bool MainNormal(const WinampLook& look) {
  return look.windows[kMain].id != 0 && look.mainVisible && !look.mainMinimized;
}

bool SameSize(const platform::Rect& a, const platform::Rect& b) {
  return a.right - a.left == b.right - b.left && a.bottom - a.top == b.bottom - b.top;
}

bool SamePosition(const platform::Rect& a, const platform::Rect& b) { return a.left == b.left && a.top == b.top; }

bool Changed(const WinampLook& before, const WinampLook& now) {
  if (before.mainVisible != now.mainVisible || before.mainMinimized != now.mainMinimized ||
      before.mainIsForeground != now.mainIsForeground) {
    return true;
  }
  for (std::size_t i = 0; i < now.windows.size(); ++i) {
    if (before.windows[i].id != now.windows[i].id || !(before.windows[i].rect == now.windows[i].rect)) return true;
  }
  return false;
}

}  // namespace

void WinampWatch::Reset() {
  hasBaseline_ = false;
  moving_ = false;
}

std::vector<unsigned> WinampWatch::Step(const WinampLook& look) {
  std::vector<unsigned> out;
  if (!hasBaseline_) {
    hasBaseline_ = true;
    last_ = look;
    lastActivity_ = look.time;
    return out;
  }
  const WinampLook before = last_;
  last_ = look;
  if (Changed(before, look)) lastActivity_ = look.time;

  const WindowLook& wasMain = before.windows[kMain];
  const WindowLook& isMain = look.windows[kMain];

  // Closed, or closed and started again between two looks: every handle the strip holds is stale.
  if (wasMain.id != 0 && wasMain.id != isMain.id) {
    // Letting go first also stops a follow timer that would go on reading a window that no longer
    // exists. Closing hides the window before destroying it, so a look may fall in between and
    // have let go already; either way the strip gets the same two messages in the same order.
    if (MainNormal(before)) out.push_back(lsv::WM_UNDOCK);
    moving_ = false;
    out.push_back(lsv::WM_HOOK_DETACH);
    return out;
  }

  const bool mainKept = SameWindow(wasMain, isMain);
  if (mainKept && MainNormal(before) && !MainNormal(look)) {
    // Undocking also stops the follow timer, so no WM_CHASE_STOP goes before it.
    moving_ = false;
    out.push_back(lsv::WM_UNDOCK);
  } else if (mainKept && MainNormal(before) && MainNormal(look) && !SamePosition(wasMain.rect, isMain.rect)) {
    lastMove_ = look.time;
    if (!moving_) {
      moving_ = true;
      out.push_back(lsv::WM_CHASE_START);
    }
  } else if (moving_ && look.time - lastMove_ >= kSettleTime) {
    moving_ = false;
    out.push_back(lsv::WM_CHASE_STOP);
  }

  for (std::size_t i = 0; i < look.windows.size(); ++i) {
    const WindowLook& a = before.windows[i];
    const WindowLook& b = look.windows[i];
    // Minimising changes the size Windows reports, not the size Winamp will be restored to.
    const bool minimized = i == static_cast<std::size_t>(kMain) && (before.mainMinimized || look.mainMinimized);
    if (SameWindow(a, b) && !minimized && !SameSize(a.rect, b.rect)) {
      out.push_back(lsv::WM_REFIT_BOTTOM);
      break;
    }
  }

  if (!before.mainIsForeground && look.mainIsForeground) out.push_back(lsv::WM_RESTACK);
  return out;
}

Millis WinampWatch::NextPollDelay() const {
  if (moving_ || last_.time - lastActivity_ < kFastPollLinger) return kMovingPollInterval;
  return kStillPollInterval;
}

}  // namespace hook
