#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/browser.h"
#include "platform/timer.h"
#include "platform/types.h"

namespace platform {

// What the platform calls on the core for one window. The core's implementations never let an
// exception out: they report errors themselves, as the toolkit's guards would. Every platform
// calls these the same way; what a form makes of them (a show sequence that runs once, a close
// that only hides) is the core's business.
class IFormEvents {
 public:
  // At every show, before the window becomes visible.
  virtual void FormShow() = 0;
  // At every hide, before the window disappears.
  virtual void FormHide() = 0;
  // The window is asked to close (its close box, Alt+F4, a posted close): true lets it close,
  // which for the main form ends the application; false keeps it, and the form has done what
  // it does instead.
  virtual bool FormCloseQuery() = 0;
  // A page event handed over to the window thread (window message 1025), with the token its
  // sender parked the command under. Any program can send this message, so the token may name
  // nothing.
  virtual void OnPageEvent(std::uintptr_t token) = 0;
  // One of the hook library's notifications, 1026 to 1033.
  virtual void OnHookNotify(unsigned message) = 0;
  // The desktop changed: a monitor came or went, or a resolution changed (WM_DISPLAYCHANGE).
  virtual void OnDisplayChange() = 0;

 protected:
  ~IFormEvents() = default;
};

enum class FormKind {
  // Borderless pop-up with no caption, system menu or frame, owned by the hidden application
  // window so it has no taskbar button; placed at the system's default position.
  Strip,
  // Fixed dialog frame with a close box and no minimise or maximise box; the close box hides it.
  Dialog,
};

struct FormDefinition {
  FormKind kind = FormKind::Strip;
  std::string caption;
  int clientWidth = 0;
  int clientHeight = 0;
};

enum class ControlKind {
  Label,
  Edit,    // single line, any Unicode text, no length limit
  Memo,    // multi-line, editable, with a soft raised bevel
  Button,  // never the dialog's default or cancel button
};

// A child control of a dialog, laid out in client pixels at 96 dpi; the platform scales it to
// the monitor's density.
struct ControlDefinition {
  ControlKind kind = ControlKind::Label;
  std::string text;
  Rect bounds;         // left, top, right, bottom
  int tabOrder = -1;   // place in the focus order; -1 for controls that take no focus
  std::string hint;    // offered to the application's hint handler when the mouse rests on it
};

class IControl {
 public:
  virtual ~IControl() = default;
  virtual std::string Text() const = 0;
  virtual void SetText(const std::string& text) = 0;
};

// One menu entry; an empty caption or "-" is a separator.
struct MenuItem {
  std::string caption;
};

// Hands page events to one form's window thread from any thread. It may outlive the form: once
// the window is gone, it answers false and does nothing, so a thread that holds it never touches
// freed memory.
class IWindowMessenger {
 public:
  virtual ~IWindowMessenger() = default;
  // Synchronous: returns once the window thread has run OnPageEvent (inside whatever modal loop
  // it is running). False when the window cannot take messages (not yet, or no longer).
  virtual bool SendPageEvent(std::uintptr_t token) = 0;
};

class IForm {
 public:
  virtual ~IForm() = default;

  virtual WindowHandle Handle() const = 0;

  // Outer window position and size in screen pixels. Setting Left or Top moves the window at once;
  // MoveTo sets both with one move.
  virtual int Left() const = 0;
  virtual int Top() const = 0;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void SetLeft(int left) = 0;
  virtual void SetTop(int top) = 0;
  virtual void MoveTo(Point position) = 0;
  virtual Point ClientToScreen(Point client) const = 0;

  // Show runs FormShow, Hide runs FormHide, each only when the visibility changes.
  virtual void Show() = 0;
  virtual void Hide() = 0;
  virtual bool Visible() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;

  // Asks the window to close once the window thread is back in its message loop; FormCloseQuery
  // decides then.
  virtual void PostClose() = 0;
  virtual std::shared_ptr<IWindowMessenger> Messenger() = 0;

  virtual std::unique_ptr<ITimer> CreateTimer(std::uint32_t interval, std::function<void()> onTick) = 0;
  virtual std::unique_ptr<IBrowser> CreateBrowser(Rect bounds) = 0;
  // Opens a modal popup menu with its top-left corner at the screen point; returns the index of
  // the chosen item, or -1 when the menu was dismissed.
  virtual int PopupMenu(Point screen, const std::vector<MenuItem>& items) = 0;

  // A child control of a dialog form, owned by the form; onClick runs when a button is pressed.
  virtual IControl& AddControl(const ControlDefinition& definition, std::function<void()> onClick) = 0;
  // Places the form centred over another one.
  virtual void CenterOver(const IForm& other) = 0;
};

}  // namespace platform
