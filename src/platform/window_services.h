#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

// System metrics of the virtual desktop, with their Win32 numbers.
inline constexpr int kSmXVirtualScreen = 76;
inline constexpr int kSmYVirtualScreen = 77;
inline constexpr int kSmCxVirtualScreen = 78;
inline constexpr int kSmCyVirtualScreen = 79;

inline constexpr int kVkLButton = 0x01;

// SetWindowPos flags, Win32 values.
inline constexpr unsigned kSwpNoSize = 0x0001;
inline constexpr unsigned kSwpNoMove = 0x0002;
inline constexpr unsigned kSwpNoActivate = 0x0010;

// The window manager as seen from the strip: other processes' top-level windows, the cursor,
// the mouse button and the desktop.
class IWindowServices {
 public:
  virtual ~IWindowServices() = default;

  // Any top-level window of that class (no title test); nullptr when there is none.
  virtual WindowHandle FindWindowByClass(const char* className) = 0;
  // False when the rectangle cannot be read (for example the window has gone away).
  virtual bool GetWindowRect(WindowHandle window, Rect& rect) = 0;
  virtual bool IsWindowVisible(WindowHandle window) = 0;
  virtual Point GetCursorPos() = 0;
  // GetKeyState: the high bit (a negative result) means the key is down.
  virtual std::int16_t GetKeyState(int virtualKey) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  virtual void SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int cx, int cy,
                            unsigned flags) = 0;
  // The work area (the monitor less its taskbars) of the monitor nearest to `rect`; the whole
  // virtual desktop where the system names no monitor.
  virtual Rect WorkAreaNearest(const Rect& rect) = 0;
};

// The rectangle spanning every monitor.
inline Rect VirtualDesktop(IWindowServices& windows) {
  Rect desktop;
  desktop.left = windows.GetSystemMetrics(kSmXVirtualScreen);
  desktop.top = windows.GetSystemMetrics(kSmYVirtualScreen);
  desktop.right = desktop.left + windows.GetSystemMetrics(kSmCxVirtualScreen);
  desktop.bottom = desktop.top + windows.GetSystemMetrics(kSmCyVirtualScreen);
  return desktop;
}

}  // namespace platform
