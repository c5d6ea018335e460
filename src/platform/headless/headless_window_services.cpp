#include "platform/headless/headless_window_services.h"

#include <stdexcept>

namespace platform::headless {

WindowHandle HeadlessWindowServices::AddWindow(const std::string& className, Rect rect, bool visible) {
  const auto handle = reinterpret_cast<WindowHandle>(nextHandle_);
  nextHandle_ += 0x10;
  windows_[handle] = SimWindow{className, rect, visible, true};
  return handle;
}

HeadlessWindowServices::SimWindow& HeadlessWindowServices::Window(WindowHandle handle) {
  const auto it = windows_.find(handle);
  if (it == windows_.end()) throw std::logic_error("no simulated window with that handle");
  return it->second;
}

void HeadlessWindowServices::RemoveWindow(WindowHandle handle) { windows_.erase(handle); }

WindowHandle HeadlessWindowServices::FindWindowByClass(const char* className) {
  journal_.push_back(std::string("find ") + className);
  for (const auto& [handle, window] : windows_) {
    if (window.className == className) return handle;
  }
  return nullptr;
}

bool HeadlessWindowServices::GetWindowRect(WindowHandle window, Rect& rect) {
  const auto it = windows_.find(window);
  journal_.push_back("rect " + (it == windows_.end() ? std::string("?") : it->second.className));
  if (it == windows_.end() || !it->second.rectReadable) return false;
  rect = it->second.rect;
  return true;
}

bool HeadlessWindowServices::IsWindowVisible(WindowHandle window) {
  const auto it = windows_.find(window);
  journal_.push_back("visible " + (it == windows_.end() ? std::string("?") : it->second.className));
  return it != windows_.end() && it->second.visible;
}

Point HeadlessWindowServices::GetCursorPos() { return cursor; }

std::int16_t HeadlessWindowServices::GetKeyState(int virtualKey) {
  if (virtualKey == kVkLButton && leftButtonDown) return static_cast<std::int16_t>(0x8000);
  return 0;
}

int HeadlessWindowServices::GetSystemMetrics(int index) {
  switch (index) {
    case kSmXVirtualScreen:
      return virtualDesktop.left;
    case kSmYVirtualScreen:
      return virtualDesktop.top;
    case kSmCxVirtualScreen:
      return virtualDesktop.right - virtualDesktop.left;
    case kSmCyVirtualScreen:
      return virtualDesktop.bottom - virtualDesktop.top;
    default:
      return 0;
  }
}

void HeadlessWindowServices::SetWindowPos(WindowHandle window, WindowHandle insertAfter, int, int, int, int,
                                          unsigned flags) {
  setWindowPosCalls.push_back({window, insertAfter, flags});
}

namespace {

// How far apart two rectangles are along one axis; 0 when they overlap on it.
long long Gap(int aLow, int aHigh, int bLow, int bHigh) {
  if (aHigh <= bLow) return static_cast<long long>(bLow) - aHigh;
  if (bHigh <= aLow) return static_cast<long long>(aLow) - bHigh;
  return 0;
}

}  // namespace

// As MonitorFromRect with MONITOR_DEFAULTTONEAREST picks: the monitor the rectangle is closest to.
Rect HeadlessWindowServices::WorkAreaNearest(const Rect& rect) {
  if (workAreas.empty()) return virtualDesktop;
  const Rect* nearest = &workAreas.front();
  long long best = -1;
  for (const Rect& area : workAreas) {
    const long long dx = Gap(rect.left, rect.right, area.left, area.right);
    const long long dy = Gap(rect.top, rect.bottom, area.top, area.bottom);
    const long long distance = dx * dx + dy * dy;
    if (best < 0 || distance < best) {
      best = distance;
      nearest = &area;
    }
  }
  return *nearest;
}

}  // namespace platform::headless
