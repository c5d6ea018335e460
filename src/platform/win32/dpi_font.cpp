// DPI awareness, the dialog font at a DPI and the frame around a client size.

#include "platform/win32/dpi_font.h"

#include <windows.h>
// commctrl.h needs the types of windows.h before it.
#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/win32/com_error.h"
#include "platform/win32/dialog_controls.h"
#include "platform/win32/form.h"
#include "platform/win32/form_internal.h"

namespace platform::win32 {

namespace {

// The per-monitor DPI functions exist from Windows 10 1607 on. They are looked up rather than
// imported so the program still starts on older systems, which then scale the dialog as a 96-dpi
// window.
struct DpiFunctions {
  using SetThreadContext = HANDLE(WINAPI*)(HANDLE context);
  using DpiForWindow = UINT(WINAPI*)(HWND window);
  using AdjustForDpi = BOOL(WINAPI*)(RECT* rect, DWORD style, BOOL menu, DWORD exStyle, UINT dpi);
  SetThreadContext setThreadContext = nullptr;
  DpiForWindow dpiForWindow = nullptr;
  AdjustForDpi adjustForDpi = nullptr;
};

template <class Function>
Function Lookup(HMODULE module, const char* name) {
  // Through the generic function pointer type, the one cast to and from which GCC accepts.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

const DpiFunctions& Dpi() {
  static const DpiFunctions functions = [] {
    DpiFunctions found;
    if (const HMODULE user32 = GetModuleHandleW(L"user32.dll"); user32 != nullptr) {
      found.setThreadContext = Lookup<DpiFunctions::SetThreadContext>(user32, "SetThreadDpiAwarenessContext");
      found.dpiForWindow = Lookup<DpiFunctions::DpiForWindow>(user32, "GetDpiForWindow");
      found.adjustForDpi = Lookup<DpiFunctions::AdjustForDpi>(user32, "AdjustWindowRectExForDpi");
    }
    return found;
  }();
  return functions;
}

// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 and ..._PER_MONITOR_AWARE, which the headers declare
// only for newer target versions than ours.
HANDLE PerMonitorAwareV2() { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)); }
HANDLE PerMonitorAware() { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-3)); }

// The character height of the dialog's text at 96 dpi.
constexpr int kFontPixels = 12;

struct FontFamily {
  std::wstring name;
  bool proportional = false;
};

int CALLBACK NoteFamily(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM families) {
  // GDI calls this; an exception must not unwind through it (the 32-bit build's DWARF unwinding
  // cannot cross system frames and would end the process). Out of memory ends the enumeration
  // with the families found so far.
  try {
    reinterpret_cast<std::vector<FontFamily>*>(families)->push_back(
        {font->lfFaceName, (font->lfPitchAndFamily & 0x3) == VARIABLE_PITCH});
    return 1;
  } catch (...) {
    return 0;
  }
}

std::vector<FontFamily> FontFamilies(HDC dc, BYTE charset, const wchar_t* face) {
  LOGFONTW query{};
  query.lfCharSet = charset;
  wcsncpy(query.lfFaceName, face, LF_FACESIZE - 1);
  std::vector<FontFamily> families;
  EnumFontFamiliesExW(dc, &query, &NoteFamily, reinterpret_cast<LPARAM>(&families), 0);
  return families;
}

// The first Japanese UI font the system has; failing those, any face with Japanese glyphs (Wine
// has none of Windows' own). Empty leaves the choice to the font mapper.
const std::wstring& UiFontFace() {
  static const std::wstring face = [] {
    const WindowDc screen(nullptr);
    for (const wchar_t* preferred : {L"Yu Gothic UI", L"Meiryo UI", L"MS UI Gothic"}) {
      for (const FontFamily& family : FontFamilies(screen.Get(), DEFAULT_CHARSET, preferred)) {
        // Some systems enumerate a substitute under a name asked for; only the face itself counts.
        if (_wcsicmp(family.name.c_str(), preferred) == 0) {
          return std::wstring(preferred);
        }
      }
    }
    std::vector<FontFamily> japanese = FontFamilies(screen.Get(), SHIFTJIS_CHARSET, L"");
    // Faces whose names begin with '@' are the vertical-writing variants.
    std::erase_if(japanese,
                  [](const FontFamily& family) { return family.name.empty() || family.name.front() == L'@'; });
    // Proportional faces first: the layout was drawn for one, and its labels are too narrow for
    // full-width kana. Then by name, because the enumeration order is the system's and every
    // start should pick the same face.
    std::sort(japanese.begin(), japanese.end(), [](const FontFamily& a, const FontFamily& b) {
      return a.proportional != b.proportional ? a.proportional : a.name < b.name;
    });
    return japanese.empty() ? std::wstring() : japanese.front().name;
  }();
  return face;
}

}  // namespace

DpiAwarenessScope::DpiAwarenessScope(Awareness awareness) {
  if (awareness == Awareness::PerMonitor && !Enter(PerMonitorAwareV2())) {
    Enter(PerMonitorAware());
  }
}

DpiAwarenessScope::DpiAwarenessScope(HANDLE context) { Enter(context); }

DpiAwarenessScope::~DpiAwarenessScope() {
  if (context_ != nullptr) {
    Dpi().setThreadContext(previous_);
  }
}

bool DpiAwarenessScope::Enter(HANDLE context) {
  if (context == nullptr || Dpi().setThreadContext == nullptr) {
    return false;
  }
  // Null answers a context the system does not know.
  previous_ = Dpi().setThreadContext(context);
  if (previous_ != nullptr) {
    context_ = context;
  }
  return context_ != nullptr;
}

UINT WindowDpi(HWND window) {
  const UINT dpi = Dpi().dpiForWindow != nullptr ? Dpi().dpiForWindow(window) : 0;
  return dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

void AdjustFrame(RECT& rect, DWORD style, DWORD exStyle, UINT dpi) {
  // The plain function measures the frame at the system DPI, wrong for a window on another monitor.
  const BOOL adjusted = Dpi().adjustForDpi != nullptr ? Dpi().adjustForDpi(&rect, style, FALSE, exStyle, dpi)
                                                      : AdjustWindowRectEx(&rect, style, FALSE, exStyle);
  if (!adjusted) {
    ThrowLastError("AdjustWindowRectEx");
  }
}

UniqueHfont CreateUiFont(UINT dpi) {
  LOGFONTW font{};
  // Negative: the height of the characters themselves, not of the cell with its leading.
  font.lfHeight = -MulDiv(kFontPixels, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = DEFAULT_CHARSET;
  font.lfQuality = DEFAULT_QUALITY;
  wcsncpy(font.lfFaceName, UiFontFace().c_str(), LF_FACESIZE - 1);
  UniqueHfont created(CreateFontIndirectW(&font));
  if (!created) {
    throw Error("The dialog font could not be created");
  }
  return created;
}

int Form::Scale(int length) const { return MulDiv(length, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI); }

void Form::ApplyDialogSize(const RECT* suggested) {
  RECT frame{0, 0, Scale(clientWidth_), Scale(clientHeight_)};
  AdjustFrame(frame, static_cast<DWORD>(GetWindowLongW(window_.Get(), GWL_STYLE)),
              static_cast<DWORD>(GetWindowLongW(window_.Get(), GWL_EXSTYLE)), dpi_);
  UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
  int left = 0;
  int top = 0;
  if (suggested != nullptr) {
    // The system's place for the window on its new monitor, with the size measured here: its own
    // suggestion scales the frame too, which only per-monitor version 2 windows have scaled.
    left = suggested->left;
    top = suggested->top;
  } else {
    flags |= SWP_NOMOVE;
  }
  SetWindowPos(window_.Get(), nullptr, left, top, frame.right - frame.left, frame.bottom - frame.top, flags);
}

void Form::ApplyDpi() {
  UniqueHfont font = CreateUiFont(dpi_);
  // The controls let go of the old font before it is deleted.
  for (const auto& control : controls_) {
    SendMessageW(control->Window(), WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
  }
  if (hintPopup_) {
    SendMessageW(hintPopup_.Get(), WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), FALSE);
    SendMessageW(hintPopup_.Get(), TTM_SETMAXTIPWIDTH, 0, Scale(kHintMaxWidth));
  }
  font_ = std::move(font);
  for (const auto& control : controls_) {
    PlaceControl(*control);
  }
}

}  // namespace platform::win32
