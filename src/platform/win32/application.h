#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/application.h"
#include "platform/form.h"
#include "platform/hook_library.h"
#include "platform/win32/files.h"
#include "platform/win32/form.h"
#include "platform/win32/handle.h"
#include "platform/win32/hook_library.h"
#include "platform/win32/window_services.h"
#include "platform/window_services.h"
#include "platform/xml_document.h"

namespace platform::win32 {

// The toolkit on Win32. Lives on the window thread: everything but construction happens there.
class Application final : public IApplication {
 public:
  Application() noexcept;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;
  ~Application() override;

  void Initialize() override;
  std::unique_ptr<IForm> CreateForm(const FormDefinition& definition, IFormEvents& events) override;
  void Run() override;

  void ShowMessage(const std::string& text) override;
  void ShowErrorBox(const std::string& text) override;
  void SetOnActivate(std::function<void()> handler) override;
  void SetHints(bool enabled, std::uint32_t delayMs, HintHandler onShowHint) override;

  std::string ModuleDirectory() override;
  std::string DecimalSeparator() override;

  std::unique_ptr<IXmlDocument> CreateXmlDocument() override;
  IFiles& Files() override { return files_; }
  IWindowServices& WindowServices() override;
  IHookLibrary& HookLibrary() override;

  // The hidden window that owns the forms; null before Initialize.
  HWND OwnerWindow() const noexcept { return window_.Get(); }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void MainFormDestroyed();

  HINSTANCE instance_;
  bool oleInitialized_ = false;
  bool classesRegistered_ = false;
  // Read by the dialog forms' controls, which hold its address: it lives as long as the application.
  HintSettings hints_;
  UniqueHwnd window_;
  bool mainFormCreated_ = false;
  Form* mainForm_ = nullptr;
  bool running_ = false;
  std::function<void()> onActivate_;
  platform::win32::WindowServices windowServices_;
  Win32Files files_;
  platform::win32::HookLibrary hookLibrary_;
};

}  // namespace platform::win32
