#include "platform/win32/form.h"

#include <windows.h>
// commctrl.h needs the types of windows.h before it.
#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "platform/browser.h"
#include "platform/error.h"
#include "platform/form.h"
#include "platform/form_messages.h"
#include "platform/timer.h"
#include "platform/types.h"
#include "platform/win32/com_error.h"
#include "platform/win32/handle.h"
#include "platform/win32/utf.h"
#include "platform/win32/web_browser.h"

namespace platform::win32 {

namespace {

constexpr wchar_t kStripClass[] = L"LatestSongViewerStrip";
constexpr wchar_t kDialogClass[] = L"LatestSongViewerDialog";

// Well away from the small ids other code might give its own timers on the same window.
constexpr UINT_PTR kFirstTimerId = 0x4C530000;

[[noreturn]] void ThrowLastError(const char* what) { ThrowSystemError(what, HRESULT_FROM_WIN32(GetLastError())); }

bool IsSeparator(const std::string& caption) { return caption.empty() || caption == "-"; }

}  // namespace

void NoteEscapedException() noexcept {
  try {
    throw;
  } catch (const std::exception& error) {
    try {
      OutputDebugStringW((L"Latest Song Viewer: unhandled exception: " + Utf8ToWide(error.what()) + L"\n").c_str());
    } catch (...) {
      OutputDebugStringW(L"Latest Song Viewer: unhandled exception\n");
    }
  } catch (...) {
    OutputDebugStringW(L"Latest Song Viewer: unhandled exception\n");
  }
}

// ---- what the dialog needs of the system: DPI, fonts, device contexts --------------------------

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

enum class Awareness { Unchanged, PerMonitor };

// Gives the thread a DPI awareness for the windows it creates meanwhile, and puts the previous one
// back at the end. The system keeps each window's awareness from its creation and switches the
// thread to it whenever it delivers that window's messages.
class DpiAwarenessScope {
 public:
  // Version 2 also scales the caption bar and the frame; Windows 10 before 1703 knows only 1.
  explicit DpiAwarenessScope(Awareness awareness) {
    if (awareness == Awareness::PerMonitor && !Enter(PerMonitorAwareV2())) {
      Enter(PerMonitorAware());
    }
  }
  // Null leaves the thread as it is.
  explicit DpiAwarenessScope(HANDLE context) { Enter(context); }
  DpiAwarenessScope(const DpiAwarenessScope&) = delete;
  DpiAwarenessScope& operator=(const DpiAwarenessScope&) = delete;
  ~DpiAwarenessScope() {
    if (context_ != nullptr) {
      Dpi().setThreadContext(previous_);
    }
  }

  // The awareness in force, or null when the thread was left as it was.
  HANDLE Context() const { return context_; }

 private:
  bool Enter(HANDLE context) {
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

  HANDLE previous_ = nullptr;
  HANDLE context_ = nullptr;
};

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

}  // namespace

// A timer whose ticks are WM_TIMER messages of its form's window. It is switched on at the system
// only while it is enabled with a non-zero interval, so interval 0 never ticks.
class FormTimer final : public ITimer {
 public:
  FormTimer(Form& form, std::uint32_t interval, std::function<void()> onTick)
      : form_(&form), interval_(interval), onTick_(std::move(onTick)) {
    id_ = form.AddTimer(*this);
  }
  FormTimer(const FormTimer&) = delete;
  FormTimer& operator=(const FormTimer&) = delete;
  ~FormTimer() override {
    if (form_ != nullptr) {
      form_->RemoveTimer(id_);
    }
  }

  void SetInterval(std::uint32_t milliseconds) override {
    if (milliseconds == interval_) {
      return;
    }
    interval_ = milliseconds;
    Apply();
  }
  std::uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override {
    if (enabled == enabled_) {
      return;
    }
    enabled_ = enabled;
    Apply();
  }
  bool Enabled() const override { return enabled_; }

  // Applies the current state; SetTimer with an id already running restarts it.
  void Apply() {
    if (form_ == nullptr || form_->Hwnd() == nullptr) {
      return;
    }
    if (Ticking()) {
      if (SetTimer(form_->Hwnd(), id_, interval_, nullptr) == 0) {
        ThrowLastError("SetTimer");
      }
    } else {
      KillTimer(form_->Hwnd(), id_);
    }
  }

  bool Ticking() const { return enabled_ && interval_ > 0; }
  const std::function<void()>& OnTick() const { return onTick_; }
  // The form is going away before its timer.
  void Detach() { form_ = nullptr; }

 private:
  Form* form_;
  UINT_PTR id_ = 0;
  std::uint32_t interval_;
  bool enabled_ = true;
  std::function<void()> onTick_;
};

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

void Form::RegisterClasses(HINSTANCE instance) {
  for (const wchar_t* name : {kStripClass, kDialogClass}) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &Form::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = name;
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      ThrowLastError("RegisterClassEx");
    }
  }
}

void Form::UnregisterClasses(HINSTANCE instance) {
  UnregisterClassW(kStripClass, instance);
  UnregisterClassW(kDialogClass, instance);
}

Form::Form(HINSTANCE instance, const FormDefinition& definition, IFormEvents& events, HWND owner,
           std::function<void()> onDestroyed, const HintSettings* hints)
    : kind_(definition.kind),
      events_(events),
      onDestroyed_(std::move(onDestroyed)),
      nextTimerId_(kFirstTimerId),
      hints_(hints) {
  // The browser child covers the client area: clipping keeps the background erase off it.
  DWORD style = WS_POPUP | WS_CLIPCHILDREN;
  DWORD exStyle = 0;
  const wchar_t* className = kStripClass;
  if (kind_ == FormKind::Dialog) {
    style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    exStyle = WS_EX_DLGMODALFRAME;
    className = kDialogClass;
  }
  RECT frame{0, 0, definition.clientWidth, definition.clientHeight};
  if (!AdjustWindowRectEx(&frame, style, FALSE, exStyle)) {
    ThrowLastError("AdjustWindowRectEx");
  }
  const std::wstring caption = Utf8ToWide(definition.caption);
  // The strip stays DPI-unaware, in Winamp's coordinate space; only the dialog is made
  // per-monitor aware, so its Japanese text is drawn at the monitor's density.
  const DpiAwarenessScope awareness(kind_ == FormKind::Dialog ? Awareness::PerMonitor : Awareness::Unchanged);
  dpiContext_ = awareness.Context();
  // CW_USEDEFAULT is the system's default placement; for a pop-up that is the screen's top-left.
  // An owned window gets no taskbar button.
  const HWND window =
      CreateWindowExW(exStyle, className, caption.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                      frame.right - frame.left, frame.bottom - frame.top, owner, nullptr, instance, this);
  if (window == nullptr) {
    ThrowLastError("CreateWindowEx");
  }
  if (kind_ == FormKind::Dialog) {
    clientWidth_ = definition.clientWidth;
    clientHeight_ = definition.clientHeight;
    try {
      // The size above was for 96 dpi; the window now knows the monitor it is on.
      dpi_ = WindowDpi(window);
      ApplyDialogSize(nullptr);
      font_ = CreateUiFont(dpi_);
    } catch (...) {
      // While every member is still alive for the window's last messages.
      window_.Reset();
      throw;
    }
  }
  messenger_->SetTarget(window);
  dispatching_ = true;
}

Form::~Form() {
  dispatching_ = false;
  messenger_->SetTarget(nullptr);
  for (auto& [id, timer] : timers_) {
    timer->Detach();
  }
  timers_.clear();
  // The pop-up is owned by the window and would go with it, leaving this handle stale.
  hintPopup_.Reset();
  window_.Reset();
}

LRESULT CALLBACK Form::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The whole body is guarded: an exception unwinding into the system's frames ends the process
  // in the 32-bit build, whose DWARF unwinding cannot cross them.
  try {
    Form* self = nullptr;
    if (message == WM_NCCREATE) {
      self = static_cast<Form*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      self->window_.Reset(window);
    } else {
      self = reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    }
    if (self == nullptr) {
      return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      self->messenger_->SetTarget(nullptr);
      self->dispatching_ = false;
      static_cast<void>(self->window_.Release());
      if (self->onDestroyed_) {
        RunLastResort(self->onDestroyed_);
      }
      return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->HandleMessage(message, wParam, lParam);
  } catch (...) {
    NoteEscapedException();
    return 0;
  }
}

LRESULT Form::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = window_.Get();
  // Timer ticks belong to the timer objects, not to the core's message routing.
  if (message == WM_TIMER && timers_.contains(wParam)) {
    Tick(wParam);
    return 0;
  }
  if (dispatching_) {
    bool handled = false;
    RunLastResort([&] { handled = DeliverPrivateMessage(events_, message, static_cast<std::uintptr_t>(wParam)); });
    if (handled) {
      return 0;
    }
  }
  if (kind_ == FormKind::Dialog) {
    LRESULT result = 0;
    if (HandleDialogMessage(message, wParam, lParam, result)) {
      return result;
    }
  }
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        const auto click = clicks_.find(LOWORD(wParam));
        if (click != clicks_.end() && click->second) {
          // The handler may replace the map's entries; run a copy, made inside the guard because
          // copying allocates.
          RunLastResort([&] {
            const std::function<void()> onClick = click->second;
            onClick();
          });
          return 0;
        }
      }
      break;
    case WM_CLOSE: {
      bool close = true;
      RunLastResort([&] { close = events_.FormCloseQuery(); });
      if (!close) {
        return 0;
      }
      break;
    }
    case WM_CONTEXTMENU:
      // A right click on the strip opens nothing; menus open only on the core's request.
      if (kind_ == FormKind::Strip) {
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

WindowHandle Form::Handle() const { return window_.Get(); }

RECT Form::WindowRect() const {
  RECT rect{};
  if (window_) {
    GetWindowRect(window_.Get(), &rect);
  }
  return rect;
}

int Form::Left() const { return WindowRect().left; }
int Form::Top() const { return WindowRect().top; }
int Form::Width() const {
  const RECT rect = WindowRect();
  return rect.right - rect.left;
}
int Form::Height() const {
  const RECT rect = WindowRect();
  return rect.bottom - rect.top;
}

void Form::MoveTo(Point position) {
  if (window_) {
    SetWindowPos(window_.Get(), nullptr, position.x, position.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Form::SetLeft(int left) { MoveTo({left, Top()}); }
void Form::SetTop(int top) { MoveTo({Left(), top}); }

Point Form::ClientToScreen(Point client) const {
  POINT point{client.x, client.y};
  if (window_) {
    ::ClientToScreen(window_.Get(), &point);
  }
  return {point.x, point.y};
}

void Form::Show() {
  if (!window_) {
    return;
  }
  if (!IsWindowVisible(window_.Get())) {
    // Before the window appears, so that anything the handler shows comes first.
    RunLastResort([this] { events_.FormShow(); });
    if (!window_) {
      return;
    }
  }
  ShowWindow(window_.Get(), SW_SHOW);
}

void Form::Hide() {
  if (!window_ || !IsWindowVisible(window_.Get())) {
    return;
  }
  // Before the window disappears: a dialog's handler re-enables its owner, and only an enabled
  // owner can take the activation back when the dialog goes.
  RunLastResort([this] { events_.FormHide(); });
  if (window_) {
    ShowWindow(window_.Get(), SW_HIDE);
  }
}

bool Form::Visible() const { return window_ && IsWindowVisible(window_.Get()); }

void Form::SetEnabled(bool enabled) {
  if (window_) {
    EnableWindow(window_.Get(), enabled ? TRUE : FALSE);
  }
}

bool Form::Enabled() const { return window_ && IsWindowEnabled(window_.Get()); }

void Form::PostClose() {
  const HWND window = messenger_->Target();
  if (window != nullptr) {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
}

bool WindowMessenger::SendPageEvent(std::uintptr_t token) {
  // Called from the listener's threads: only the atomic handle is read here.
  const HWND window = Target();
  if (window == nullptr) {
    return false;
  }
  const WPARAM wParam = static_cast<WPARAM>(token);
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    // On the window thread the handle cannot go stale before the call, and the handler may leave
    // any last-error value behind, so there is nothing to test afterwards.
    SendMessageW(window, lsv::WM_PAGE_EVENT, wParam, 0);
    return true;
  }
  // SendMessageW has no failure result of its own; a window destroyed after the handle was read
  // shows up as ERROR_INVALID_WINDOW_HANDLE on this thread.
  SetLastError(ERROR_SUCCESS);
  SendMessageW(window, lsv::WM_PAGE_EVENT, wParam, 0);
  return GetLastError() != ERROR_INVALID_WINDOW_HANDLE;
}

std::unique_ptr<ITimer> Form::CreateTimer(std::uint32_t interval, std::function<void()> onTick) {
  auto timer = std::make_unique<FormTimer>(*this, interval, std::move(onTick));
  timer->Apply();
  return timer;
}

UINT_PTR Form::AddTimer(FormTimer& timer) {
  const UINT_PTR id = nextTimerId_++;
  timers_.emplace(id, &timer);
  return id;
}

void Form::RemoveTimer(UINT_PTR id) {
  if (window_) {
    KillTimer(window_.Get(), id);
  }
  timers_.erase(id);
}

void Form::Tick(UINT_PTR id) {
  const auto found = timers_.find(id);
  // KillTimer leaves ticks that are already queued in place.
  if (found == timers_.end() || !found->second->Ticking()) {
    return;
  }
  // A copy, because the handler may destroy its own timer; made inside the guard because copying
  // allocates.
  RunLastResort([&] {
    const std::function<void()> onTick = found->second->OnTick();
    if (onTick) {
      onTick();
    }
  });
}

std::unique_ptr<IBrowser> Form::CreateBrowser(Rect bounds) { return CreateWebBrowser(window_.Get(), bounds); }

int Form::PopupMenu(Point screen, const std::vector<MenuItem>& items) {
  if (!window_) {
    return -1;
  }
  const UniqueHmenu menu(CreatePopupMenu());
  if (!menu) {
    ThrowLastError("CreatePopupMenu");
  }
  for (std::size_t index = 0; index < items.size(); ++index) {
    const std::string& caption = items[index].caption;
    // Command ids start at 1: TrackPopupMenu returns 0 for a dismissed menu.
    const BOOL appended = IsSeparator(caption)
                              ? AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr)
                              : AppendMenuW(menu.Get(), MF_STRING, index + 1, Utf8ToWide(caption).c_str());
    if (!appended) {
      ThrowLastError("AppendMenu");
    }
  }
  // A menu of a window that is not in the foreground stays open when the user clicks elsewhere.
  SetForegroundWindow(window_.Get());
  const int chosen =
      static_cast<int>(TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON,
                                      screen.x, screen.y, 0, window_.Get(), nullptr));
  // The documented companion of the foreground call: without a message after it, the menu can
  // fail to open again the next time.
  if (window_) {
    PostMessageW(window_.Get(), WM_NULL, 0, 0);
  }
  return chosen > 0 ? chosen - 1 : -1;
}

}  // namespace platform::win32

namespace platform::win32 {

namespace {

constexpr int kFirstControlId = 100;
constexpr UINT_PTR kControlSubclassId = 1;
// Away from the small ids the system's controls give their own timers.
constexpr UINT_PTR kHintTimerId = 0x4C53;
constexpr UINT_PTR kHintToolId = 1;
// Width of the memo's bevel: two edges of one pixel, like the system's own 3D borders.
constexpr int kBevelWidth = 2;
// The hint pop-up, when the handler lets it show: at most this wide at 96 dpi, and this far below
// the pointer so the cursor does not cover its first line.
constexpr int kHintMaxWidth = 400;
constexpr int kHintBelowPointer = 20;

bool IsDialogWindow(HWND window) {
  wchar_t name[64]{};
  return GetClassNameW(window, name, static_cast<int>(std::size(name))) > 0 && wcscmp(name, kDialogClass) == 0;
}

bool IsEnterOrEscape(const MSG& message) {
  return (message.message == WM_KEYDOWN || message.message == WM_KEYUP || message.message == WM_CHAR) &&
         (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE);
}

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

int Form::Scale(int length) const { return MulDiv(length, static_cast<int>(dpi_), USER_DEFAULT_SCREEN_DPI); }

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

void Form::CenterOver(const IForm& other) {
  // Both rectangles are read in the calling thread's coordinate space, whatever the awareness of
  // the two windows, so the centre computed here is the centre on the screen.
  const int left = other.Left() + (other.Width() - Width()) / 2;
  const int top = other.Top() + (other.Height() - Height()) / 2;
  MoveTo({left, top});
}

}  // namespace platform::win32
