// Dragging the strip by hand: the browser swallows the mouse, so the page reports press and
// release, and a timer follows the cursor in between, holding the strip to nearby edges. Once
// docked, the strip follows Winamp's main window.

#include "docking/docking.h"

#include <algorithm>

#include "base/exception.h"

namespace lsv::docking {

namespace {

using lsvutil::CWinamp;

// Strictly closer than the threshold.
bool Near(int a, int edge, int threshold) { return edge - threshold < a && a < edge + threshold; }

}  // namespace

platform::Point SnapToWindow(DockingState& state, StripGeometry strip, const CWinamp::WINDOW& window, int index,
                             platform::Point cursor, int threshold) {
  platform::Point at = strip.position;
  if (state.docked || !window.visible) return at;

  const int width = strip.width;
  const int height = strip.height;
  // Where the strip would be if it moved freely.
  const int cl = cursor.x - state.mousePos.x;
  const int ct = cursor.y - state.mousePos.y;
  const int cr = cl + width;
  const int cb = ct + height;
  const int L = window.rect.left;
  const int T = window.rect.top;
  const int R = window.rect.right;
  const int B = window.rect.bottom;
  const bool rowsOverlap = T - threshold < cb && ct < B + threshold;
  const bool columnsOverlap = L - threshold < cr && cl < R + threshold;
  // Both read the strip where it stands now, which the rules before may just have moved.
  const auto stacked = [&] { return at.y == T - height || at.y == B; };
  const auto beside = [&] { return at.x == L - width || at.x == R; };

  if (Near(cr, L, threshold) && rowsOverlap) {
    at.x = L - width;
    state.snapLeft = true;
  } else if (Near(cl, L, threshold) && stacked()) {
    at.x = L;
    state.snapLeft = true;
  } else {
    state.snapLeft = false;
  }
  // The partner of a rule that held is not tried and keeps its value.
  if (!state.snapLeft) {
    if (Near(cl, R, threshold) && rowsOverlap) {
      at.x = R;
      state.snapRight = true;
    } else if (Near(cr, R, threshold) && stacked()) {
      at.x = R - width;
      state.snapRight = true;
    } else {
      state.snapRight = false;
    }
  }

  if (Near(cb, T, threshold) && columnsOverlap) {
    at.y = T - height;
    state.snapTop = true;
  } else if (Near(ct, T, threshold) && beside()) {
    at.y = T;
    state.snapTop = true;
  } else {
    state.snapTop = false;
  }
  if (!state.snapTop) {
    if (Near(ct, B, threshold) && columnsOverlap) {
      at.y = B;
      state.snapBottom = true;
    } else if (Near(cb, B, threshold) && beside()) {
      at.y = B - height;
      state.snapBottom = true;
    } else {
      state.snapBottom = false;
    }
  }

  if (state.snapLeft || state.snapRight || state.snapTop || state.snapBottom) {
    state.docked = true;
    state.dockedTo = index;
  }
  return at;
}

platform::Point SnapToDesktop(DockingState& state, StripGeometry strip, platform::Rect desktop, platform::Point cursor,
                              int threshold) {
  platform::Point at = strip.position;
  if (state.docked) return at;
  const int left = cursor.x - state.mousePos.x;
  const int top = cursor.y - state.mousePos.y;

  // One bound per edge, so a strip dragged far past an edge is held at it too.
  state.snapLeft = left < desktop.left + threshold;
  if (state.snapLeft) at.x = desktop.left;
  state.snapTop = top < desktop.top + threshold;
  if (state.snapTop) at.y = desktop.top;
  state.snapRight = left + strip.width > desktop.right - threshold;
  if (state.snapRight) at.x = desktop.right - strip.width;
  state.snapBottom = top + strip.height > desktop.bottom - threshold;
  if (state.snapBottom) at.y = desktop.bottom - strip.height;

  if (state.snapLeft || state.snapRight || state.snapTop || state.snapBottom) {
    state.docked = true;
    state.dockedTo = CWinamp::DOCK_DESKTOP;
  }
  return at;
}

platform::Point DragStep(DockingState& state, StripGeometry strip, const CWinamp& winamp, platform::Point cursor,
                         platform::Rect desktop) {
  state.docked = false;
  if (winamp.valid) {
    for (int index = CWinamp::WND_MAIN; index <= CWinamp::WND_MINIBROWSER; ++index) {
      strip.position = SnapToWindow(state, strip, winamp.GetWindow(index), index, cursor, kWindowSnapThreshold);
    }
  }
  strip.position = SnapToDesktop(state, strip, desktop, cursor, kDesktopSnapThreshold);

  if (!state.snapLeft && !state.snapRight) strip.position.x = cursor.x - state.mousePos.x;
  if (!state.snapTop && !state.snapBottom) strip.position.y = cursor.y - state.mousePos.y;
  if (winamp.valid) {
    // The main window's rectangle as read when the drag began, not as it is now.
    const platform::Rect main = winamp.GetWindow(CWinamp::WND_MAIN).rect;
    state.dockOffset = {strip.position.x - main.left, strip.position.y - main.top};
  }
  return strip.position;
}

std::optional<platform::Point> FollowStep(const DockingState& state, platform::Rect mainWindow) {
  if (!state.docked || state.dockedTo == CWinamp::DOCK_DESKTOP) return std::nullopt;
  return platform::Point{mainWindow.left + state.dockOffset.x, mainWindow.top + state.dockOffset.y};
}

std::optional<platform::Point> RefitStep(DockingState& state, StripGeometry strip, platform::Rect dockedWindow,
                                         platform::Rect mainWindow) {
  if (!state.docked || state.dockedTo == CWinamp::DOCK_DESKTOP || !state.snapBottom) return std::nullopt;
  const int left = strip.position.x;
  // Standing beside the window, not hanging below it.
  if (left == dockedWindow.left - strip.width || left == dockedWindow.right) return std::nullopt;
  const platform::Point at{left, dockedWindow.bottom};
  state.dockOffset = {at.x - mainWindow.left, at.y - mainWindow.top};
  return at;
}

std::optional<platform::Point> StayOnDesktop(StripGeometry strip, platform::Rect desktop, platform::Rect workArea) {
  const int left = strip.position.x;
  const int top = strip.position.y;
  const bool touches = left < desktop.right && left + strip.width > desktop.left && top < desktop.bottom &&
                       top + strip.height > desktop.top;
  if (touches) return std::nullopt;
  // The far edge first, then the near one: a strip larger than the work area keeps its top-left
  // corner on it, where the page's text begins.
  const auto into = [](int at, int size, int low, int high) { return std::max(low, std::min(at, high - size)); };
  return platform::Point{into(left, strip.width, workArea.left, workArea.right),
                         into(top, strip.height, workArea.top, workArea.bottom)};
}

TDocking::TDocking(platform::IWindowServices& windows) : windows_(windows), winamp_(windows) {}

void TDocking::Clear() {
  state_.docked = false;
  state_.dockedTo = 0;
  state_.snapLeft = false;
  state_.snapRight = false;
  state_.snapTop = false;
  state_.snapBottom = false;
}

void TDocking::BeginDrag(platform::Point grab) {
  if (winamp_.valid) winamp_.Refresh();
  state_.mousePos = grab;
}

platform::Point TDocking::DragTick(StripGeometry strip, platform::Point cursor) {
  return DragStep(state_, strip, winamp_, cursor, platform::VirtualDesktop(windows_));
}

std::optional<platform::Point> TDocking::Chase() {
  if (!state_.docked || state_.dockedTo == CWinamp::DOCK_DESKTOP) return std::nullopt;
  platform::Rect main;
  if (!windows_.GetWindowRect(winamp_.main.hwnd, main)) return std::nullopt;
  return FollowStep(state_, main);
}

std::optional<platform::Point> TDocking::Refit(StripGeometry strip) {
  if (!winamp_.valid || !state_.docked || state_.dockedTo == CWinamp::DOCK_DESKTOP || !state_.snapBottom) {
    return std::nullopt;
  }
  winamp_.ReadWindows();
  return RefitStep(state_, strip, winamp_.GetWindow(state_.dockedTo).rect, winamp_.GetWindow(CWinamp::WND_MAIN).rect);
}

bool TDocking::LookUpWinamp() {
  try {
    winamp_.Refresh();
    return true;
  } catch (const lsv::CException&) {
    // Winamp is not (or no longer, or not yet wholly) there; the next look tries again.
    return false;
  }
}

std::optional<platform::Point> TDocking::KeepOnDesktop(StripGeometry strip) {
  const platform::Rect outer{strip.position.x, strip.position.y, strip.position.x + strip.width,
                             strip.position.y + strip.height};
  const std::optional<platform::Point> to =
      StayOnDesktop(strip, platform::VirtualDesktop(windows_), windows_.WorkAreaNearest(outer));
  // Following Winamp would carry the strip straight back off the desktop.
  if (to) Undock();
  return to;
}

}  // namespace lsv::docking
