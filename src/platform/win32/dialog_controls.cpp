// The dialog's child controls: creation, the subclass that drives hints and edit behaviour.

#include "platform/win32/dialog_controls.h"

#include <windows.h>
// commctrl.h needs the types of windows.h before it.
#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/form.h"
#include "platform/types.h"
#include "platform/win32/com_error.h"
#include "platform/win32/dpi_font.h"
#include "platform/win32/form.h"
#include "platform/win32/form_internal.h"
#include "platform/win32/utf.h"

namespace platform::win32 {

namespace {

constexpr int kFirstControlId = 100;
constexpr UINT_PTR kControlSubclassId = 1;
// Away from the small ids the system's controls give their own timers.
constexpr UINT_PTR kHintTimerId = 0x4C53;
// Width of the memo's bevel: two edges of one pixel, like the system's own 3D borders.
constexpr int kBevelWidth = 2;

bool IsDialogWindow(HWND window) {
  wchar_t name[64]{};
  return GetClassNameW(window, name, static_cast<int>(std::size(name))) > 0 && wcscmp(name, kDialogClass) == 0;
}

bool IsEnterOrEscape(const MSG& message) {
  return (message.message == WM_KEYDOWN || message.message == WM_KEYUP || message.message == WM_CHAR) &&
         (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE);
}

}  // namespace

bool Form::TranslateDialogMessage(MSG& message) {
  // IsDialogMessage would turn Enter into a click of the default button (IDOK when there is none)
  // and Escape into IDCANCEL; this dialog gives neither key a meaning of its own, so they go to the
  // focused control like any other key.
  if (message.hwnd == nullptr || IsEnterOrEscape(message)) {
    return false;
  }
  const HWND root = GetAncestor(message.hwnd, GA_ROOT);
  if (root == nullptr || !IsDialogWindow(root)) {
    return false;
  }
  return IsDialogMessageW(root, &message) != FALSE;
}

void Control::Attach(HWND window) {
  window_ = window;
  if (!SetWindowSubclass(window, &Control::SubclassProc, kControlSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
    throw Error("SetWindowSubclass failed");
  }
  if (kind_ == ControlKind::Memo) {
    // The bevel takes its room from the client area, which the system measured before the subclass.
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

LRESULT CALLBACK Control::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) {
  // Guarded whole, as the forms' window procedure is: an exception unwinding into the system's
  // frames ends the process in the 32-bit build.
  try {
    return reinterpret_cast<Control*>(self)->HandleMessage(message, wParam, lParam);
  } catch (...) {
    NoteEscapedException();
    return DefSubclassProc(window, message, wParam, lParam);
  }
}

LRESULT Control::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = window_;
  const bool editable = kind_ == ControlKind::Edit || kind_ == ControlKind::Memo;
  switch (message) {
    case WM_MOUSEMOVE:
      if (!tracking_) {
        // A new stay on this control: its hint is offered once the pointer has rested for the delay.
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof track;
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = window;
        tracking_ = TrackMouseEvent(&track) != FALSE;
        const HintSettings* hints = form_.hints_;
        if (!hintOffered_ && hints != nullptr && hints->enabled && !hint_.empty()) {
          SetTimer(window, kHintTimerId, std::max<UINT>(hints->delayMs, USER_TIMER_MINIMUM), nullptr);
        }
      }
      break;
    case WM_MOUSELEAVE:
      tracking_ = false;
      hintOffered_ = false;
      KillTimer(window, kHintTimerId);
      form_.HideHintPopup();
      break;
    case WM_TIMER:
      if (wParam == kHintTimerId) {
        KillTimer(window, kHintTimerId);
        if (!hintOffered_) {
          hintOffered_ = true;
          form_.ShowHintFor(*this);
        }
        return 0;
      }
      break;
    case WM_KEYDOWN:
    case WM_CHAR:
      // A multi-line edit inside a dialog closes the dialog on Escape; here no field gives the key
      // a meaning.
      if (editable && wParam == VK_ESCAPE) {
        return 0;
      }
      break;
    case WM_GETDLGCODE:
      if (kind_ == ControlKind::Memo) {
        // The memo keeps Enter for new lines (the message loop hands Enter to it directly) but
        // lets Tab move the focus on, so the tab order does not end in it.
        return DefSubclassProc(window, message, wParam, lParam) & ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
      }
      break;
    case WM_NCCALCSIZE:
      if (kind_ == ControlKind::Memo) {
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        RECT& client =
            wParam != FALSE ? reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : *reinterpret_cast<RECT*>(lParam);
        client.left += kBevelWidth;
        client.top += kBevelWidth;
        client.right = std::max(client.left, client.right - kBevelWidth);
        client.bottom = std::max(client.top, client.bottom - kBevelWidth);
        return result;
      }
      break;
    case WM_NCPAINT:
      if (kind_ == ControlKind::Memo) {
        DefSubclassProc(window, message, wParam, lParam);
        PaintBevel();
        return 0;
      }
      break;
    case WM_NCDESTROY:
      KillTimer(window, kHintTimerId);
      RemoveWindowSubclass(window, &Control::SubclassProc, kControlSubclassId);
      window_ = nullptr;
      return DefSubclassProc(window, message, wParam, lParam);
    default:
      break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

void Control::PaintBevel() {
  const WindowDc dc(window_, true);
  if (dc.Get() == nullptr) {
    return;
  }
  RECT rect{};
  GetWindowRect(window_, &rect);
  OffsetRect(&rect, -rect.left, -rect.top);
  // The soft variant of the raised edge: lighter shades than a button's, as on a panel.
  DrawEdge(dc.Get(), &rect, EDGE_RAISED, BF_RECT | BF_SOFT);
}

IControl& Form::AddControl(const ControlDefinition& definition, std::function<void()> onClick) {
  if (!window_) {
    throw Error("The form has no window");
  }
  const wchar_t* className = L"STATIC";
  // Siblings clip each other, so a label grown to its text never paints over a field.
  DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
  DWORD exStyle = 0;
  switch (definition.kind) {
    case ControlKind::Label:
      style |= SS_LEFTNOWORDWRAP | SS_NOPREFIX;
      break;
    case ControlKind::Edit:
      className = L"EDIT";
      style |= ES_AUTOHSCROLL;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::Memo:
      className = L"EDIT";
      style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
      break;
    case ControlKind::Button:
      className = L"BUTTON";
      style |= BS_PUSHBUTTON;
      break;
  }
  if (definition.tabOrder >= 0) {
    style |= WS_TABSTOP;
  }
  // Room first: once subclassed, the window refers to the object, which must then find its place.
  controls_.reserve(controls_.size() + 1);
  auto control = std::make_unique<Control>(*this, definition);
  const int id = kFirstControlId + static_cast<int>(controls_.size());
  // In the dialog's own awareness: a child of another awareness than its parent is scaled by the
  // system or refused, depending on the version, and a thread of another awareness would have the
  // positions below scaled once more on their way to the window.
  const DpiAwarenessScope awareness(dpiContext_);
  const HWND child =
      CreateWindowExW(exStyle, className, Utf8ToWide(definition.text).c_str(), style, 0, 0, 0, 0, window_.Get(),
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (child == nullptr) {
    ThrowLastError("CreateWindowEx");
  }
  try {
    control->Attach(child);
  } catch (...) {
    DestroyWindow(child);
    throw;
  }
  if (definition.kind == ControlKind::Edit || definition.kind == ControlKind::Memo) {
    // Zero lifts the default limit of about 32 000 characters to the largest there is.
    SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
  }
  controls_.push_back(std::move(control));
  Control& added = *controls_.back();
  if (onClick) {
    clicks_[id] = std::move(onClick);
  }
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  PlaceControl(added);
  StackInTabOrder();
  return added;
}

void Form::PlaceControl(const Control& control) {
  const Rect& bounds = control.Bounds();
  // Each edge is scaled on its own, so controls that touch at 96 dpi still touch.
  RECT rect{Scale(bounds.left), Scale(bounds.top), Scale(bounds.right), Scale(bounds.bottom)};
  if (control.Kind() == ControlKind::Label) {
    // The layout was drawn for a font whose 12-pixel line is 12 pixels tall; the Japanese UI fonts
    // have more leading, and Latin letters of another width. A label grows to its text, as the
    // toolkit's auto-sized labels do, and stays centred on its row.
    const std::wstring text = Utf8ToWide(control.Text());
    const WindowDc dc(control.Window());
    if (dc.Get() != nullptr && !text.empty()) {
      const SelectedObject font(dc.Get(), font_.Get());
      RECT needed{0, 0, 0, 0};
      DrawTextW(dc.Get(), text.c_str(), static_cast<int>(text.size()), &needed,
                DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
      rect.right = std::max(rect.right, rect.left + needed.right);
      const int height = rect.bottom - rect.top;
      if (needed.bottom > height) {
        rect.top -= (needed.bottom - height) / 2;
        rect.bottom = rect.top + needed.bottom;
      }
    }
  }
  MoveWindow(control.Window(), rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void Form::StackInTabOrder() {
  // Tab and Shift+Tab follow the stacking order of the children, and controls come in whatever
  // order the caller adds them; controls that take no focus stay below.
  std::vector<const Control*> ordered;
  for (const auto& control : controls_) {
    if (control->TabOrder() >= 0) {
      ordered.push_back(control.get());
    }
  }
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const Control* a, const Control* b) { return a->TabOrder() < b->TabOrder(); });
  HWND after = HWND_TOP;
  for (const Control* control : ordered) {
    SetWindowPos(control->Window(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    after = control->Window();
  }
}

void Form::FocusControl() {
  HWND target = lastFocus_;
  if (target == nullptr || !IsWindow(target) || !IsChild(window_.Get(), target)) {
    target = GetNextDlgTabItem(window_.Get(), nullptr, FALSE);
  }
  if (target != nullptr) {
    SetFocus(target);
  }
}

bool Form::HandleDialogMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  const HWND window = window_.Get();
  switch (message) {
    case WM_DPICHANGED:
      dpi_ = HIWORD(wParam) != 0 ? HIWORD(wParam) : USER_DEFAULT_SCREEN_DPI;
      RunLastResort([&] {
        ApplyDialogSize(reinterpret_cast<const RECT*>(lParam));
        ApplyDpi();
      });
      result = 0;
      return true;
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        // Where the focus was comes back when the dialog is activated again, also after a hide.
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window, focus)) {
          lastFocus_ = focus;
        }
        HideHintPopup();
        return false;
      }
      // The default handling would give the focus to the frame, where no key has any effect.
      FocusControl();
      result = 0;
      return true;
    case WM_SETFOCUS:
      FocusControl();
      result = 0;
      return true;
    case WM_NEXTDLGCTL: {
      // Sent by controls that move the focus themselves, as a dialog's default handling expects.
      const HWND target =
          LOWORD(lParam) != 0 ? reinterpret_cast<HWND>(wParam) : GetNextDlgTabItem(window, GetFocus(), wParam != 0);
      if (target != nullptr) {
        SetFocus(target);
      }
      result = 0;
      return true;
    }
    case WM_SHOWWINDOW:
      if (wParam == FALSE) {
        HideHintPopup();
      }
      return false;
    default:
      return false;
  }
}

}  // namespace platform::win32
