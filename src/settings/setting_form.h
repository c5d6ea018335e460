#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include <functional>

#include "platform/application.h"
#include "platform/form.h"
#include "platform/xml_document.h"

namespace lsv::settings {

inline constexpr const char* kSettingCaption = "設定";
inline constexpr int kSettingClientWidth = 417;
inline constexpr int kSettingClientHeight = 263;
inline constexpr const char* kCannotReadSettings = "設定を読み出せません。";
inline constexpr std::uint32_t kHintDelayMs = 10;

// What the dialog needs of the program that opens it.
struct SettingFormHost {
  // The strip: the dialog opens centred over it, and enables it again whenever it hides.
  platform::IForm& owner;
  // Runs a handler as every handler of the program runs: a library error ends in the error box.
  std::function<void(const std::function<void()>&)> runGuarded;
  // After OK has saved the settings.
  std::function<void()> onSaved;
};

// The settings dialog: created hidden at start, shown modelessly from the strip's menu, and
// enabling the strip again whenever it hides. It edits all eight keys of settings.xml.
class TSettingForm : public platform::IFormEvents {
 public:
  TSettingForm(platform::IApplication& application, SettingFormHost host);
  TSettingForm(const TSettingForm&) = delete;
  TSettingForm& operator=(const TSettingForm&) = delete;
  virtual ~TSettingForm();

  void SetSettingsFile(const std::string& path) { settingsFile = path; }
  const std::string& SettingsFile() const { return settingsFile; }

  // The first show places the dialog over the strip; later ones leave it where it was.
  void Show();
  void Hide() { form_->Hide(); }
  platform::IForm& Form() { return *form_; }

  // IFormEvents
  void FormShow() override;
  void FormHide() override;
  // The close box hides the dialog; it lives as long as the program.
  bool FormCloseQuery() override;
  void OnPageEvent(std::uintptr_t) override {}
  void OnHookNotify(unsigned) override {}
  void OnDisplayChange() override {}

  void ReadSettings();
  void WriteSettings();
  void B_OKClick();
  void B_CancelClick();
  void ShowHintInMemo(std::string& hintText, bool& canShow);

 private:
  platform::IApplication& app_;
  SettingFormHost host_;
  std::unique_ptr<platform::IForm> form_;
  bool placed_ = false;

 public:
  platform::IControl* B_OK = nullptr;
  platform::IControl* B_Cancel = nullptr;
  std::array<platform::IControl*, 8> Labels{};  // Label1 ... Label8
  platform::IControl* E_Server = nullptr;
  platform::IControl* E_HTMLURI = nullptr;
  platform::IControl* E_Port = nullptr;
  platform::IControl* E_ScrollSpeed = nullptr;
  platform::IControl* E_Refresh = nullptr;
  platform::IControl* E_LSXSL = nullptr;
  platform::IControl* E_LSCSS = nullptr;
  platform::IControl* E_LSXML = nullptr;
  platform::IControl* Memo = nullptr;

 private:
  std::unique_ptr<platform::IXmlDocument> XMLDoc;
  std::string settingsFile;

  // The eight keys with their fields, in the order of every read and write.
  struct Row {
    const char* key;
    platform::IControl* field;
  };
  std::array<Row, 8> Rows() const;
};

}  // namespace lsv::settings
