#include "app/application_main.h"

#include <exception>
#include <memory>

#include "app/error_reporting.h"
#include "app/main_form.h"
#include "settings/setting_form.h"

namespace lsv::app {

int RunApplication(platform::IApplication& application, int initialListenerPort) {
  try {
    application.Initialize();
    // The dialog refers to the strip, so it goes first when both are destroyed.
    auto mainForm = std::make_unique<TMainForm>(application, initialListenerPort);
    auto settingForm = std::make_unique<settings::TSettingForm>(application, mainForm->SettingHost());
    mainForm->SetSettingForm(settingForm.get());
    application.Run();
    mainForm->SetSettingForm(nullptr);
  } catch (...) {
    ShowLibraryError(application, std::current_exception());
  }
  return 0;
}

}  // namespace lsv::app
