#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "platform/form.h"
#include "platform/types.h"
#include "platform/win32/form.h"
#include "platform/win32/utf.h"

namespace platform::win32 {

// A child control of a dialog form. The window is destroyed with the form's window; the object
// outlives it, so the subclass procedure's reference to it stays valid to the last message.
class Control final : public IControl {
 public:
  Control(Form& form, const ControlDefinition& definition)
      : form_(form),
        kind_(definition.kind),
        bounds_(definition.bounds),
        tabOrder_(definition.tabOrder),
        hint_(definition.hint) {}
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  std::string Text() const override {
    const int length = GetWindowTextLengthW(window_);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window_, text.data(), length + 1)));
    return WideToUtf8(text);
  }
  void SetText(const std::string& text) override { SetWindowTextW(window_, Utf8ToWide(text).c_str()); }

  HWND Window() const { return window_; }
  ControlKind Kind() const { return kind_; }
  const Rect& Bounds() const { return bounds_; }
  int TabOrder() const { return tabOrder_; }
  const std::string& Hint() const { return hint_; }

  // Takes over the created window's messages; raises platform::Error.
  void Attach(HWND window);

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void PaintBevel();

  Form& form_;
  HWND window_ = nullptr;
  ControlKind kind_;
  Rect bounds_;  // in client pixels at 96 dpi
  int tabOrder_;
  std::string hint_;
  // Whether TrackMouseEvent is watching for the pointer to leave, and whether the hint of the
  // pointer's current stay has been offered already.
  bool tracking_ = false;
  bool hintOffered_ = false;
};

}  // namespace platform::win32
