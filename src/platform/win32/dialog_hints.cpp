// The dialog's hints: the tooltip pop-up a control offers after the pointer rests on it.

#include "platform/win32/form.h"

#include <windows.h>
// commctrl.h needs the types of windows.h before it.
#include <commctrl.h>

#include <functional>
#include <string>

#include "platform/win32/dialog_controls.h"
#include "platform/win32/dpi_font.h"
#include "platform/win32/form_internal.h"
#include "platform/win32/utf.h"

namespace platform::win32 {

namespace {

constexpr UINT_PTR kHintToolId = 1;
// This far below the pointer, so the cursor does not cover the hint's first line.
constexpr int kHintBelowPointer = 20;

TTTOOLINFOW HintTool(HWND owner, wchar_t* text) {
  TTTOOLINFOW tool{};
  // The version 2 size is the one every common controls version accepts.
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_TRACK | TTF_ABSOLUTE;
  tool.hwnd = owner;
  tool.uId = kHintToolId;
  tool.lpszText = text;
  return tool;
}

}  // namespace

void Form::ShowHintFor(const Control& control) {
  if (hints_ == nullptr || !hints_->enabled) {
    return;
  }
  std::string text = control.Hint();
  bool canShow = true;
  if (hints_->onShowHint) {
    // A copy, because the handler may install another one; made inside the guard because copying
    // allocates.
    RunLastResort([&] {
      const auto handler = hints_->onShowHint;
      handler(text, canShow);
    });
  }
  if (canShow && !text.empty() && window_) {
    ShowHintPopup(text);
  }
}

void Form::ShowHintPopup(const std::string& text) {
  if (!hintPopup_) {
    const DpiAwarenessScope awareness(dpiContext_);
    const HWND popup = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_.Get(),
                                       nullptr, GetModuleHandleW(nullptr), nullptr);
    // A hint that cannot be shown is not worth an error box.
    if (popup == nullptr) {
      return;
    }
    hintPopup_.Reset(popup);
    TTTOOLINFOW tool = HintTool(window_.Get(), const_cast<wchar_t*>(L""));
    SendMessageW(popup, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(popup, TTM_SETMAXTIPWIDTH, 0, Scale(kHintMaxWidth));
    SendMessageW(popup, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  }
  // The pop-up keeps a copy of the text.
  std::wstring wide = Utf8ToWide(text);
  TTTOOLINFOW tool = HintTool(window_.Get(), wide.data());
  SendMessageW(hintPopup_.Get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  POINT cursor{};
  GetCursorPos(&cursor);
  SendMessageW(hintPopup_.Get(), TTM_TRACKPOSITION, 0, MAKELPARAM(cursor.x, cursor.y + Scale(kHintBelowPointer)));
  SendMessageW(hintPopup_.Get(), TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
}

void Form::HideHintPopup() {
  if (hintPopup_) {
    TTTOOLINFOW tool = HintTool(window_.Get(), nullptr);
    SendMessageW(hintPopup_.Get(), TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
  }
}

}  // namespace platform::win32
