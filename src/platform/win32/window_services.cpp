#include "platform/win32/window_services.h"

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/types.h"
#include "platform/win32/utf.h"

namespace platform::win32 {

namespace {

HWND ToHwnd(WindowHandle window) { return static_cast<HWND>(window); }

}  // namespace

WindowHandle WindowServices::FindWindowByClass(const char* className) {
  const std::wstring name = Utf8ToWide(className != nullptr ? className : "");
  return FindWindowW(name.c_str(), nullptr);
}

bool WindowServices::GetWindowRect(WindowHandle window, Rect& rect) {
  RECT read{};
  if (!::GetWindowRect(ToHwnd(window), &read)) {
    return false;
  }
  rect = {read.left, read.top, read.right, read.bottom};
  return true;
}

bool WindowServices::IsWindowVisible(WindowHandle window) { return ::IsWindowVisible(ToHwnd(window)) != FALSE; }

Point WindowServices::GetCursorPos() {
  POINT cursor{};
  ::GetCursorPos(&cursor);
  return {cursor.x, cursor.y};
}

std::int16_t WindowServices::GetKeyState(int virtualKey) { return ::GetKeyState(virtualKey); }

int WindowServices::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

void WindowServices::SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int cx, int cy,
                                  unsigned flags) {
  ::SetWindowPos(ToHwnd(window), ToHwnd(insertAfter), x, y, cx, cy, flags);
}

Rect WindowServices::WorkAreaNearest(const Rect& rect) {
  const RECT asked{rect.left, rect.top, rect.right, rect.bottom};
  MONITORINFO info{};
  info.cbSize = sizeof info;
  const HMONITOR monitor = MonitorFromRect(&asked, MONITOR_DEFAULTTONEAREST);
  if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) {
    return VirtualDesktop(*this);
  }
  return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

}  // namespace platform::win32
