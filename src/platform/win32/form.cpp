#include "platform/win32/form.h"

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/browser.h"
#include "platform/form.h"
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

// A child control: only its window handle; the form destroys the window with itself.
class Control final : public IControl {
 public:
  explicit Control(HWND window) : window_(window) {}
  std::string Text() const override {
    const int length = GetWindowTextLengthW(window_);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window_, text.data(), length + 1)));
    return WideToUtf8(text);
  }
  void SetText(const std::string& text) override { SetWindowTextW(window_, Utf8ToWide(text).c_str()); }
  HWND Window() const { return window_; }

 private:
  HWND window_;
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
           std::function<void()> onDestroyed)
    : kind_(definition.kind), events_(events), onDestroyed_(std::move(onDestroyed)), nextTimerId_(kFirstTimerId) {
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
  // CW_USEDEFAULT is the system's default placement; for a pop-up that is the screen's top-left.
  // An owned window gets no taskbar button.
  const HWND window =
      CreateWindowExW(exStyle, className, caption.c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                      frame.right - frame.left, frame.bottom - frame.top, owner, nullptr, instance, this);
  if (window == nullptr) {
    ThrowLastError("CreateWindowEx");
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
  window_.Reset();
}

LRESULT CALLBACK Form::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
}

LRESULT Form::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = window_.Get();
  // Timer ticks belong to the timer objects, not to the core's message routing.
  if (message == WM_TIMER && timers_.contains(wParam)) {
    Tick(wParam);
    return 0;
  }
  if (dispatching_) {
    bool handled = true;
    RunLastResort([&] {
      handled = events_.Dispatch(message, static_cast<std::uintptr_t>(wParam), static_cast<std::intptr_t>(lParam));
    });
    if (handled) {
      return 0;
    }
  }
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        const auto click = clicks_.find(LOWORD(wParam));
        if (click != clicks_.end() && click->second) {
          // The handler may replace the map's entries; run a copy.
          const std::function<void()> onClick = click->second;
          RunLastResort(onClick);
          return 0;
        }
      }
      break;
    case WM_CLOSE:
      if (kind_ == FormKind::Dialog) {
        Hide();
        return 0;
      }
      break;
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

void Form::MoveTo(int left, int top) {
  if (window_) {
    SetWindowPos(window_.Get(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void Form::SetLeft(int left) { MoveTo(left, Top()); }
void Form::SetTop(int top) { MoveTo(Left(), top); }

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

void Form::PostWindowMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  const HWND window = messenger_->Target();
  if (window != nullptr) {
    PostMessageW(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
  }
}

bool WindowMessenger::Send(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  // Called from the listener's threads: only the atomic handle is read here.
  const HWND window = Target();
  if (window == nullptr) {
    return false;
  }
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    // On the window thread the handle cannot go stale before the call, and the handler may leave
    // any last-error value behind, so there is nothing to test afterwards.
    SendMessageW(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
    return true;
  }
  // SendMessageW has no failure result of its own; a window destroyed after the handle was read
  // shows up as ERROR_INVALID_WINDOW_HANDLE on this thread.
  SetLastError(ERROR_SUCCESS);
  SendMessageW(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
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
  // A copy, because the handler may destroy its own timer.
  const std::function<void()> onTick = found->second->OnTick();
  if (onTick) {
    RunLastResort(onTick);
  }
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

IControl& Form::AddControl(const ControlDefinition& definition, std::function<void()> onClick) {
  const wchar_t* className = L"STATIC";
  DWORD style = WS_CHILD | WS_VISIBLE;
  DWORD exStyle = 0;
  switch (definition.kind) {
    case ControlKind::Label:
      style |= SS_LEFT | SS_NOPREFIX;
      break;
    case ControlKind::Edit:
      className = L"EDIT";
      style |= ES_AUTOHSCROLL | WS_BORDER;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::Memo:
      className = L"EDIT";
      style |= ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
      exStyle = WS_EX_WINDOWEDGE | WS_EX_DLGMODALFRAME;
      break;
    case ControlKind::Button:
      className = L"BUTTON";
      style |= BS_PUSHBUTTON;
      break;
  }
  if (definition.tabOrder >= 0) style |= WS_TABSTOP;
  const int id = static_cast<int>(controls_.size()) + 100;
  const Rect& b = definition.bounds;
  const HWND child = CreateWindowExW(exStyle, className, Utf8ToWide(definition.text).c_str(), style, b.left, b.top,
                                     b.right - b.left, b.bottom - b.top, window_.Get(),
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                     nullptr);
  if (child == nullptr) ThrowLastError("CreateWindowEx");
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  controls_.push_back(std::make_unique<Control>(child));
  if (onClick) clicks_[id] = std::move(onClick);
  return *controls_.back();
}

void Form::CenterOver(const IForm& other) {
  const int left = other.Left() + (other.Width() - Width()) / 2;
  const int top = other.Top() + (other.Height() - Height()) / 2;
  MoveTo(left, top);
}

}  // namespace platform::win32
