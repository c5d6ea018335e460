#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/headless/journal.h"
#include "platform/window_services.h"

namespace platform::headless {

// Simulated top-level windows of other processes, a cursor and a left button the test sets.
class HeadlessWindowServices : public IWindowServices {
 public:
  struct SimWindow {
    std::string className;
    Rect rect;
    bool visible = true;
    bool rectReadable = true;
  };

  explicit HeadlessWindowServices(Journal& journal) : journal_(journal) {}

  // Adds a window and returns its handle.
  WindowHandle AddWindow(const std::string& className, Rect rect, bool visible = true);
  SimWindow& Window(WindowHandle handle);
  void RemoveWindow(WindowHandle handle);

  Point cursor;
  bool leftButtonDown = false;
  Rect virtualDesktop{0, 0, 1280, 1024};
  // The monitors' work areas; none means one monitor whose work area is the whole desktop.
  std::vector<Rect> workAreas;
  struct SetWindowPosCall {
    WindowHandle window;
    WindowHandle insertAfter;
    unsigned flags;
  };
  std::vector<SetWindowPosCall> setWindowPosCalls;

  WindowHandle FindWindowByClass(const char* className) override;
  bool GetWindowRect(WindowHandle window, Rect& rect) override;
  bool IsWindowVisible(WindowHandle window) override;
  Point GetCursorPos() override;
  std::int16_t GetKeyState(int virtualKey) override;
  int GetSystemMetrics(int index) override;
  void SetWindowPos(WindowHandle window, WindowHandle insertAfter, int x, int y, int cx, int cy,
                    unsigned flags) override;
  Rect WorkAreaNearest(const Rect& rect) override;

 private:
  Journal& journal_;
  std::uintptr_t nextHandle_ = 0x1000;
  std::map<WindowHandle, SimWindow> windows_;
};

}  // namespace platform::headless
