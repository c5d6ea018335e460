#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/form.h"
#include "platform/hook_library.h"
#include "platform/window_services.h"
#include "platform/xml_document.h"

namespace platform {

// The toolkit's application object: window creation, the message loop, the two kinds of box,
// and the process-wide services.
class IApplication {
 public:
  virtual ~IApplication() = default;

  virtual void Initialize() = 0;
  // The first form created becomes the main form; closing it ends Run.
  virtual std::unique_ptr<IForm> CreateForm(const FormDefinition& definition, IFormEvents& events) = 0;
  // Shows the main form, then takes and dispatches messages until the main form has closed.
  virtual void Run() = 0;

  // The plain message dialog: text unchanged, no icon, one "OK", the application title.
  virtual void ShowMessage(const std::string& text) = 0;
  // The error box: MessageBox with the error icon and one OK; the text is shown as given.
  virtual void ShowErrorBox(const std::string& text) = 0;

  // Application-wide hints: when enabled, resting the mouse on a control with a hint for delay
  // milliseconds calls the handler with the hint text and whether a hint pop-up may show; the
  // handler may change both.
  using HintHandler = std::function<void(std::string& hint, bool& canShow)>;
  virtual void SetHints(bool enabled, std::uint32_t delayMs, HintHandler onShowHint) = 0;

  // Raised on the window thread when the application becomes the active one.
  virtual void SetOnActivate(std::function<void()> handler) = 0;

  // Directory of the running module's file, with its trailing separator, UTF-8.
  virtual std::string ModuleDirectory() = 0;
  // The user's locale's decimal separator, UTF-8.
  virtual std::string DecimalSeparator() = 0;

  virtual std::unique_ptr<IXmlDocument> CreateXmlDocument() = 0;
  virtual IFiles& Files() = 0;
  virtual IWindowServices& WindowServices() = 0;
  virtual IHookLibrary& HookLibrary() = 0;
};

}  // namespace platform
