#include "settings/setting_form.h"

#include <algorithm>
#include <utility>

#include "platform/window_services.h"
#include "settings/settings_file.h"

namespace lsv::settings {

namespace {

using platform::ControlDefinition;
using platform::ControlKind;

struct Placement {
  ControlKind kind;
  const char* text;
  int left;
  int top;
  int width;
  int height;
  int tabOrder;
  const char* hint;
};

ControlDefinition Define(const Placement& p) {
  return {p.kind, p.text, {p.left, p.top, p.left + p.width, p.top + p.height}, p.tabOrder, p.hint};
}

// The dialog at 96 dpi, top to bottom.
constexpr Placement kLabel1{ControlKind::Label, "サーバー", 8, 12, 48, 12, -1, ""};
constexpr Placement kServer{ControlKind::Edit, "", 112, 8, 297, 20, 2, "データの置いてあるURIをhttp://から入力してください。"};
constexpr Placement kLabel2{ControlKind::Label, "表示用HTML", 8, 36, 66, 12, -1, ""};
constexpr Placement kHtmlUri{ControlKind::Edit, "", 112, 32, 297, 20, 3,
                             "表示用のHTMLファイルへのURIを絶対パスで指定してください。"};
constexpr Placement kLabel8{ControlKind::Label, "RavidiVevo用XML", 8, 60, 91, 12, -1, ""};
constexpr Placement kLsXml{ControlKind::Edit, "", 112, 56, 297, 20, 9, "最新曲XMLデータファイル名を入力してください。"};
constexpr Placement kLabel6{ControlKind::Label, "RavidiVevo用XSL", 8, 84, 89, 12, -1, ""};
constexpr Placement kLsXsl{ControlKind::Edit, "", 112, 80, 297, 20, 7,
                           "最新曲XMLデータファイル用のXSLファイル名を相対パスか絶対パスで指定してください。"};
constexpr Placement kLabel7{ControlKind::Label, "RavidiVevo用CSS", 8, 108, 91, 12, -1, ""};
constexpr Placement kLsCss{ControlKind::Edit, "", 112, 104, 297, 20, 8,
                           "最新曲XMLデータファイル用のCSSファイル名を相対パスか絶対パスで指定してください。"};
constexpr Placement kLabel3{ControlKind::Label, "ポート番号", 8, 132, 55, 12, -1, ""};
constexpr Placement kPort{ControlKind::Edit, "", 112, 128, 97, 20, 4,
                          "イベント通知に使用されるローカルサーバーのポート番号を指定してください。"};
constexpr Placement kLabel5{ControlKind::Label, "リフレッシュ間隔", 224, 132, 83, 12, -1, ""};
constexpr Placement kRefresh{ControlKind::Edit, "", 320, 128, 89, 20, 6, "表示のリフレッシュ間隔を秒数で指定してください。"};
constexpr Placement kLabel4{ControlKind::Label, "スクロールスピード", 8, 156, 96, 12, -1, ""};
constexpr Placement kScrollSpeed{ControlKind::Edit, "", 112, 152, 97, 20, 5,
                                 "曲名のスクロールスピードをミリ秒で入力してください。"};
constexpr Placement kMemo{ControlKind::Memo, "", 8, 176, 401, 49, 10, ""};
constexpr Placement kOk{ControlKind::Button, "OK", 120, 232, 75, 25, 0, ""};
constexpr Placement kCancel{ControlKind::Button, "キャンセル", 232, 232, 75, 25, 1, ""};

}  // namespace

TSettingForm::TSettingForm(platform::IApplication& application, SettingFormHost host)
    : app_(application),
      host_(std::move(host)),
      form_(application.CreateForm(
          {platform::FormKind::Dialog, kSettingCaption, kSettingClientWidth, kSettingClientHeight}, *this)),
      XMLDoc(application.CreateXmlDocument()) {
  platform::IForm& form = *form_;
  // Button clicks are window messages: a library error ends in the error box, as in any handler.
  const auto guarded = [this](void (TSettingForm::*handler)()) {
    return [this, handler] { host_.runGuarded([this, handler] { (this->*handler)(); }); };
  };
  B_OK = &form.AddControl(Define(kOk), guarded(&TSettingForm::B_OKClick));
  B_Cancel = &form.AddControl(Define(kCancel), guarded(&TSettingForm::B_CancelClick));
  Labels[0] = &form.AddControl(Define(kLabel1), {});
  E_Server = &form.AddControl(Define(kServer), {});
  Labels[1] = &form.AddControl(Define(kLabel2), {});
  E_HTMLURI = &form.AddControl(Define(kHtmlUri), {});
  Labels[7] = &form.AddControl(Define(kLabel8), {});
  E_LSXML = &form.AddControl(Define(kLsXml), {});
  Labels[5] = &form.AddControl(Define(kLabel6), {});
  E_LSXSL = &form.AddControl(Define(kLsXsl), {});
  Labels[6] = &form.AddControl(Define(kLabel7), {});
  E_LSCSS = &form.AddControl(Define(kLsCss), {});
  Labels[2] = &form.AddControl(Define(kLabel3), {});
  E_Port = &form.AddControl(Define(kPort), {});
  Labels[4] = &form.AddControl(Define(kLabel5), {});
  E_Refresh = &form.AddControl(Define(kRefresh), {});
  Labels[3] = &form.AddControl(Define(kLabel4), {});
  E_ScrollSpeed = &form.AddControl(Define(kScrollSpeed), {});
  Memo = &form.AddControl(Define(kMemo), {});

  app_.SetHints(true, kHintDelayMs, [this](std::string& hint, bool& canShow) { ShowHintInMemo(hint, canShow); });
}

TSettingForm::~TSettingForm() = default;

std::array<TSettingForm::Row, 8> TSettingForm::Rows() const {
  return {{{"datahost", E_Server},
           {"disphtml", E_HTMLURI},
           {"lsxml", E_LSXML},
           {"lsxsl", E_LSXSL},
           {"lscss", E_LSCSS},
           {"port", E_Port},
           {"refresh_interval", E_Refresh},
           {"scrollspeed", E_ScrollSpeed}}};
}

void TSettingForm::Show() {
  if (!placed_) {
    form_->CenterOver(host_.owner);
    // The strip is thin and often sits at a screen edge (it starts in the top-left corner):
    // centred over it, the dialog would open with its title bar off the screen, where it can
    // be neither seen whole nor dragged back. So it is kept on the desktop.
    const platform::Rect desktop = platform::VirtualDesktop(app_.WindowServices());
    const int left = std::max(desktop.left, std::min(form_->Left(), desktop.right - form_->Width()));
    const int top = std::max(desktop.top, std::min(form_->Top(), desktop.bottom - form_->Height()));
    if (left != form_->Left()) form_->SetLeft(left);
    if (top != form_->Top()) form_->SetTop(top);
    placed_ = true;
  }
  form_->Show();
}

void TSettingForm::FormShow() {
  host_.runGuarded([this] { ReadSettings(); });
}

void TSettingForm::FormHide() { host_.owner.SetEnabled(true); }

bool TSettingForm::FormCloseQuery() {
  Hide();
  return false;
}

void TSettingForm::ReadSettings() {
  if (settingsFile.empty()) {
    app_.ShowMessage(kCannotReadSettings);
    return;
  }
  LoadDocument(*XMLDoc, settingsFile);
  const auto root = XMLDoc->DocumentElement();
  for (const Row& row : Rows()) row.field->SetText(ValueToText(LookUpKey(*XMLDoc, root, row.key), row.key));
}

void TSettingForm::WriteSettings() {
  // The document of the last show, not the file as it is now.
  const auto root = XMLDoc->DocumentElement();
  for (const Row& row : Rows()) WriteKey(*XMLDoc, root, row.key, row.field->Text());
  SaveDocument(*XMLDoc, settingsFile, app_.Files(), [this] { return app_.CreateXmlDocument(); });
}

void TSettingForm::B_OKClick() {
  WriteSettings();
  Hide();
  if (host_.onSaved) host_.onSaved();
}

void TSettingForm::B_CancelClick() { Hide(); }

void TSettingForm::ShowHintInMemo(std::string& hintText, bool& canShow) {
  canShow = false;
  Memo->SetText(hintText);
}

}  // namespace lsv::settings
