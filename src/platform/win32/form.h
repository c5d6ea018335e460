#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/application.h"
#include "platform/browser.h"
#include "platform/form.h"
#include "platform/timer.h"
#include "platform/types.h"
#include "platform/win32/handle.h"

namespace platform::win32 {

class FormTimer;
class Control;

// The application-wide hint settings, owned by the application and read by the dialog's controls
// each time the mouse comes to rest on one, so later changes reach controls made earlier.
struct HintSettings {
  bool enabled = false;
  std::uint32_t delayMs = 0;
  IApplication::HintHandler onShowHint;
};

struct FontTraits {
  using Type = HFONT;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type font) noexcept { DeleteObject(font); }
};
using UniqueHfont = UniqueResource<FontTraits>;

class WindowMessenger final : public IWindowMessenger {
 public:
  bool SendPageEvent(std::uintptr_t token) override;
  void SetTarget(HWND window) { target_.store(window, std::memory_order_release); }
  HWND Target() const { return target_.load(std::memory_order_acquire); }

 private:
  std::atomic<HWND> target_{nullptr};
};

// Writes an exception that escaped to where no exception may go to the debugger output.
void NoteEscapedException() noexcept;

// Runs a callback of the core where no exception may pass: a window procedure, a timer tick. The
// core reports its own errors, so anything that still escapes is a fault; it is noted and dropped.
template <class Callback>
void RunLastResort(Callback&& callback) noexcept {
  try {
    std::forward<Callback>(callback)();
  } catch (...) {
    NoteEscapedException();
  }
}

// A top-level window of the toolkit: the strip or the settings dialog.
class Form final : public IForm {
 public:
  // Creates the window hidden, owned by owner. onDestroyed runs on the window thread when the
  // window has been destroyed, whoever destroyed it. hints, when given, must outlive the form.
  // Raises platform::Error.
  Form(HINSTANCE instance, const FormDefinition& definition, IFormEvents& events, HWND owner,
       std::function<void()> onDestroyed, const HintSettings* hints = nullptr);
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;
  ~Form() override;

  // The window classes of both kinds, registered once per module; raises platform::Error.
  static void RegisterClasses(HINSTANCE instance);
  static void UnregisterClasses(HINSTANCE instance);

  HWND Hwnd() const noexcept { return window_.Get(); }

  // The message loop's keyboard handling for dialog forms: Tab and Shift+Tab move the focus through
  // the controls, while Enter and Escape go to the focused control like any other key. True when
  // the message has been dispatched.
  static bool TranslateDialogMessage(MSG& message);

  WindowHandle Handle() const override;
  int Left() const override;
  int Top() const override;
  int Width() const override;
  int Height() const override;
  void SetLeft(int left) override;
  void SetTop(int top) override;
  void MoveTo(Point position) override;
  Point ClientToScreen(Point client) const override;

  void Show() override;
  void Hide() override;
  bool Visible() const override;
  void SetEnabled(bool enabled) override;
  bool Enabled() const override;

  void PostClose() override;
  std::shared_ptr<IWindowMessenger> Messenger() override { return messenger_; }

  std::unique_ptr<ITimer> CreateTimer(std::uint32_t interval, std::function<void()> onTick) override;
  std::unique_ptr<IBrowser> CreateBrowser(Rect bounds) override;
  int PopupMenu(Point screen, const std::vector<MenuItem>& items) override;
  IControl& AddControl(const ControlDefinition& definition, std::function<void()> onClick) override;
  void CenterOver(const IForm& other) override;

 private:
  friend class FormTimer;
  friend class Control;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  RECT WindowRect() const;

  UINT_PTR AddTimer(FormTimer& timer);
  void RemoveTimer(UINT_PTR id);
  void Tick(UINT_PTR id);

  // The dialog's own handling; true when the message needs nothing more.
  bool HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  int Scale(int length) const;
  void ApplyDialogSize(const RECT* suggested);
  void ApplyDpi();
  void PlaceControl(const Control& control);
  void StackInTabOrder();
  void FocusControl();
  void ShowHintFor(const Control& control);
  void ShowHintPopup(const std::string& text);
  void HideHintPopup();

  FormKind kind_;
  IFormEvents& events_;
  std::function<void()> onDestroyed_;
  UniqueHwnd window_;
  // What other threads reach the window through; it holds the handle only while the window can
  // take messages.
  std::shared_ptr<WindowMessenger> messenger_ = std::make_shared<WindowMessenger>();
  // The core's handlers are not called while its object is still being built (the window is
  // created from its constructor) or already being torn down (from its destructor).
  bool dispatching_ = false;
  UINT_PTR nextTimerId_;
  std::map<UINT_PTR, FormTimer*> timers_;
  // Child controls in the order they were added, with their click handlers by control id.
  std::vector<std::unique_ptr<Control>> controls_;
  std::map<int, std::function<void()>> clicks_;

  // Dialog forms only. The DPI awareness the window was created with (null where the system has
  // no per-thread awareness): its controls and pop-ups must be created with the same one.
  HANDLE dpiContext_ = nullptr;
  int clientWidth_ = 0;  // at 96 dpi
  int clientHeight_ = 0;
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
  UniqueHfont font_;
  const HintSettings* hints_;
  UniqueHwnd hintPopup_;
  // The control that had the focus when the dialog was last deactivated.
  HWND lastFocus_ = nullptr;
};

}  // namespace platform::win32
