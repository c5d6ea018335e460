#pragma once

#include <cstdint>

#include "platform/types.h"
#include "platform/window_services.h"

namespace platform::win32 {

// The window manager through user32, called straight through.
class WindowServices final : public IWindowServices {
 public:
  WindowHandle FindWindowByClass(const char* className) override;
  bool GetWindowRect(WindowHandle window, Rect& rect) override;
  bool IsWindowVisible(WindowHandle window) override;
  Point GetCursorPos() override;
  std::int16_t GetKeyState(int virtualKey) override;
  int GetSystemMetrics(int index) override;
  void SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int cx, int cy,
                    unsigned flags) override;
  Rect WorkAreaNearest(const Rect& rect) override;
};

}  // namespace platform::win32
