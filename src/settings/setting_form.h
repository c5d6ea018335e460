#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/application.h"
#include "platform/form.h"
#include "platform/xml_document.h"

namespace lsv::app {
class TMainForm;
}

namespace lsv::settings {

inline constexpr const char* kSettingCaption = "設定";
inline constexpr int kSettingClientWidth = 417;
inline constexpr int kSettingClientHeight = 263;
inline constexpr const char* kCannotReadSettings = "設定を読み出せません。";

// The settings dialog: created hidden at start, shown modelessly from the strip's menu, and
// enabling the strip again whenever it hides.
class TSettingForm : public platform::IFormEvents {
 public:
  TSettingForm(platform::IApplication& application, app::TMainForm& mainForm);
  TSettingForm(const TSettingForm&) = delete;
  TSettingForm& operator=(const TSettingForm&) = delete;
  virtual ~TSettingForm();

  void SetSettingsFile(const std::string& path) { settingsFile = path; }
  const std::string& SettingsFile() const { return settingsFile; }

  void Show() { form_->Show(); }
  void Hide() { form_->Hide(); }
  platform::IForm& Form() { return *form_; }

  // IFormEvents
  void FormShow() override;
  void FormHide() override;
  bool Dispatch(unsigned, std::uintptr_t, std::intptr_t) override { return false; }

 private:
  void ReadSettings();

  platform::IApplication& app_;
  app::TMainForm& mainForm_;
  std::unique_ptr<platform::IForm> form_;
  std::unique_ptr<platform::IXmlDocument> XMLDoc;
  std::string settingsFile;
};

}  // namespace lsv::settings
