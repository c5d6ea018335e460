#include "settings/setting_form.h"

#include "app/error_reporting.h"
#include "app/main_form.h"

namespace lsv::settings {

TSettingForm::TSettingForm(platform::IApplication& application, app::TMainForm& mainForm)
    : app_(application),
      mainForm_(mainForm),
      form_(application.CreateForm({platform::FormKind::Dialog, kSettingCaption, kSettingClientWidth,
                                    kSettingClientHeight},
                                   *this)),
      XMLDoc(application.CreateXmlDocument()) {}

TSettingForm::~TSettingForm() = default;

void TSettingForm::FormShow() {
  app::RunGuarded(app_, [this] { ReadSettings(); });
}

void TSettingForm::FormHide() { mainForm_.Form().SetEnabled(true); }

void TSettingForm::ReadSettings() {
  if (settingsFile.empty()) {
    app_.ShowMessage(kCannotReadSettings);
    return;
  }
  XMLDoc->Load(settingsFile);
}

}  // namespace lsv::settings
