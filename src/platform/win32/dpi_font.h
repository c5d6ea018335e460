#pragma once

// What the dialog needs of the system: DPI awareness, the frame and font at a DPI, device contexts.

#include <windows.h>

#include "platform/win32/form.h"

namespace platform::win32 {

enum class Awareness { Unchanged, PerMonitor };

// Gives the thread a DPI awareness for the windows it creates meanwhile, and puts the previous one
// back at the end. The system keeps each window's awareness from its creation and switches the
// thread to it whenever it delivers that window's messages.
class DpiAwarenessScope {
 public:
  // Version 2 also scales the caption bar and the frame; Windows 10 before 1703 knows only 1.
  explicit DpiAwarenessScope(Awareness awareness);
  // Null leaves the thread as it is.
  explicit DpiAwarenessScope(HANDLE context);
  DpiAwarenessScope(const DpiAwarenessScope&) = delete;
  DpiAwarenessScope& operator=(const DpiAwarenessScope&) = delete;
  ~DpiAwarenessScope();

  // The awareness in force, or null when the thread was left as it was.
  HANDLE Context() const { return context_; }

 private:
  bool Enter(HANDLE context);

  HANDLE previous_ = nullptr;
  HANDLE context_ = nullptr;
};

// The window's DPI; 96 where the system cannot say.
UINT WindowDpi(HWND window);
// The outer rectangle for a client rectangle at the given DPI; raises platform::Error.
void AdjustFrame(RECT& rect, DWORD style, DWORD exStyle, UINT dpi);

class WindowDc {
 public:
  explicit WindowDc(HWND window, bool wholeWindow = false)
      : window_(window), dc_(wholeWindow ? GetWindowDC(window) : GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (dc_ != nullptr) {
      ReleaseDC(window_, dc_);
    }
  }
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;
  ~SelectedObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) {
      SelectObject(dc_, previous_);
    }
  }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// The dialog's font for the given DPI; raises platform::Error.
UniqueHfont CreateUiFont(UINT dpi);

}  // namespace platform::win32
