#include "platform/win32/application.h"

#include <commctrl.h>
#include <ole2.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/error.h"
#include "platform/win32/com_error.h"
#include "platform/win32/form.h"
#include "platform/win32/msxml_document.h"
#include "platform/win32/utf.h"

namespace platform::win32 {

namespace {

constexpr wchar_t kApplicationClass[] = L"LatestSongViewerApplication";

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      ThrowLastError("GetModuleFileName");
    }
    // A result that fills the buffer may have been cut short.
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring::size_type NameStart(const std::wstring& path) {
  const auto separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? 0 : separator + 1;
}

// The started file's name without directory and extension, the title of every box.
std::wstring Title() {
  std::wstring name;
  try {
    const std::wstring path = ModulePath();
    name = path.substr(NameStart(path));
  } catch (...) {
    // A box must still open when the module path cannot be read.
    return {};
  }
  const auto dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos && dot > 0) {
    name.resize(dot);
  }
  return name;
}

void Box(const std::string& text, UINT icon) {
  const std::wstring title = Title();
  // Owned by the thread's active window, which the box disables and, unlike a box with no owner,
  // enables again before it goes, so the activation comes back to it instead of leaving the
  // application. With no active window (the application is in the background, or nothing is
  // shown yet) the task-modal flag disables every window of the thread instead. Either way the
  // box is centred on the screen and its own modal loop keeps dispatching the thread's messages.
  MessageBoxW(GetActiveWindow(), Utf8ToWide(text).c_str(), title.c_str(), MB_OK | MB_TASKMODAL | icon);
}

}  // namespace

Application::Application() noexcept : instance_(GetModuleHandleW(nullptr)) {}

Application::~Application() {
  window_.Reset();
  if (classesRegistered_) {
    Form::UnregisterClasses(instance_);
    UnregisterClassW(kApplicationClass, instance_);
  }
  if (oleInitialized_) {
    OleUninitialize();
  }
}

void Application::Initialize() {
  if (window_) {
    return;
  }
  if (!oleInitialized_) {
    // OLE, not just COM: the browser control needs in-place activation and drag and drop.
    CheckHr(OleInitialize(nullptr), "OleInitialize");
    oleInitialized_ = true;
  }
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
  if (!InitCommonControlsEx(&controls)) {
    throw Error("InitCommonControlsEx failed");
  }

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &Application::WindowProc;
  windowClass.hInstance = instance_;
  windowClass.lpszClassName = kApplicationClass;
  if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ThrowLastError("RegisterClassEx");
  }
  classesRegistered_ = true;
  Form::RegisterClasses(instance_);

  // Never shown. Owning the forms keeps them off the taskbar, and as a top-level window of the
  // thread it hears WM_ACTIVATEAPP like every other one.
  const std::wstring title = Title();
  const HWND window =
      CreateWindowExW(0, kApplicationClass, title.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance_, this);
  if (window == nullptr) {
    ThrowLastError("CreateWindowEx");
  }
  window_.Reset(window);
}

LRESULT CALLBACK Application::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The whole body is guarded: an exception unwinding into the system's frames ends the process
  // in the 32-bit build, whose DWARF unwinding cannot cross them.
  try {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_NCDESTROY) {
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    } else if (message == WM_ACTIVATEAPP && wParam != 0) {
      // Every top-level window of the thread receives WM_ACTIVATEAPP; answering only here raises the
      // event once per activation.
      auto* self = reinterpret_cast<Application*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (self != nullptr && self->onActivate_) {
        // A copy, because the handler may install another one; made inside the guard because
        // copying allocates.
        RunLastResort([self] {
          const std::function<void()> handler = self->onActivate_;
          handler();
        });
      }
    }
    return DefWindowProcW(window, message, wParam, lParam);
  } catch (...) {
    NoteEscapedException();
    return 0;
  }
}

std::unique_ptr<IForm> Application::CreateForm(const FormDefinition& definition, IFormEvents& events) {
  if (!window_) {
    throw Error("The application has not been initialised");
  }
  const bool isMain = !mainFormCreated_;
  std::function<void()> onDestroyed;
  if (isMain) {
    onDestroyed = [this] { MainFormDestroyed(); };
  }
  auto form = std::make_unique<Form>(instance_, definition, events, window_.Get(), std::move(onDestroyed), &hints_);
  if (isMain) {
    mainForm_ = form.get();
    mainFormCreated_ = true;
  }
  return form;
}

void Application::MainFormDestroyed() {
  mainForm_ = nullptr;
  // Only a running loop is told to end: a WM_QUIT left in the queue would close the next message
  // box at once, such as the error box of a failed start.
  if (running_) {
    PostQuitMessage(0);
  }
}

void Application::Run() {
  if (mainForm_ == nullptr) {
    return;
  }
  running_ = true;
  mainForm_->Show();
  MSG message{};
  // WM_QUIT comes from the main form's destruction; a modal loop that sees it first posts it again.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (Form::TranslateDialogMessage(message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  running_ = false;
}

void Application::ShowMessage(const std::string& text) { Box(text, 0); }

void Application::ShowErrorBox(const std::string& text) { Box(text, MB_ICONERROR); }

void Application::SetOnActivate(std::function<void()> handler) { onActivate_ = std::move(handler); }

std::string Application::ModuleDirectory() {
  std::wstring path = ModulePath();
  path.resize(NameStart(path));
  return WideToUtf8(path);
}

std::string Application::DecimalSeparator() {
  // The system allows at most three characters plus the terminator.
  wchar_t separator[8]{};
  const int length = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
  if (length <= 0) {
    ThrowLastError("GetLocaleInfo");
  }
  return WideToUtf8(std::wstring_view(separator, static_cast<std::size_t>(length - 1)));
}

std::unique_ptr<IXmlDocument> Application::CreateXmlDocument() { return CreateMsxmlDocument(); }

IWindowServices& Application::WindowServices() { return windowServices_; }

IHookLibrary& Application::HookLibrary() { return hookLibrary_; }

}  // namespace platform::win32

namespace platform::win32 {

void Application::SetHints(bool enabled, std::uint32_t delayMs, HintHandler onShowHint) {
  hints_.enabled = enabled;
  hints_.delayMs = delayMs;
  hints_.onShowHint = std::move(onShowHint);
}

}  // namespace platform::win32
