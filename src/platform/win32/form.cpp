#include "platform/win32/form.h"

#include <windows.h>

#include <cstdint>
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
#include "platform/win32/dialog_controls.h"
#include "platform/win32/dpi_font.h"
#include "platform/win32/form_internal.h"
#include "platform/win32/handle.h"
#include "platform/win32/utf.h"
#include "platform/win32/web_browser.h"

namespace platform::win32 {

namespace {

// Well away from the small ids other code might give its own timers on the same window.
constexpr UINT_PTR kFirstTimerId = 0x4C530000;

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
    RunLastResort([&] { DeliverSystemMessage(events_, message); });
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

void Form::CenterOver(const IForm& other) {
  // Both rectangles are read in the calling thread's coordinate space, whatever the awareness of
  // the two windows, so the centre computed here is the centre on the screen.
  const int left = other.Left() + (other.Width() - Width()) / 2;
  const int top = other.Top() + (other.Height() - Height()) / 2;
  MoveTo({left, top});
}

}  // namespace platform::win32
