#include "settings/setting_form.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "platform/headless/headless_application.h"
#include "platform/headless/headless_form.h"
#include "test_support.h"

namespace {

using lsv::app::TMainForm;
using lsv::settings::TSettingForm;
using platform::headless::HeadlessApplication;
using platform::headless::HeadlessForm;

const std::string kPort = std::to_string(lsvtest::FreePort());

std::string AllEight(const std::string& page = "http://127.0.0.1:1/page.html") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<settings>\n"
         "  <!-- kept -->\n"
         "  <datahost>http://例え.jp/</datahost>\n"
         "  <disphtml>" + page + "</disphtml>\n"
         "  <lsxml>latest.xml</lsxml>\n"
         "  <lsxsl>latest.xsl</lsxsl>\n"
         "  <lscss>latest.css</lscss>\n"
         "  <port>" + kPort + "</port>\n"
         "  <refresh_interval>30</refresh_interval>\n"
         "  <scrollspeed>100</scrollspeed>\n"
         "  <other>x</other>\n"
         "</settings>\n";
}

class SettingFormTest : public testing::Test {
 protected:
  lsvtest::TempDir dir;
  HeadlessApplication app;
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TSettingForm> dialog;

  SettingFormTest() {
    app.moduleDirectory = dir.WithSeparator();
    lsvtest::UseSystemXml(app);
  }
  ~SettingFormTest() override {
    dialog.reset();
    main.reset();
  }
  void Start(const std::string& settings) {
    if (!settings.empty()) dir.Write("settings.xml", settings);
    main = std::make_unique<TMainForm>(app, 0);
    dialog = std::make_unique<TSettingForm>(app, main->SettingHost());
    main->SetSettingForm(dialog.get());
    app.mainForm->Show();
    app.errorBoxes.clear();
    app.messages.clear();
  }
  HeadlessForm& Dialog() { return dynamic_cast<HeadlessForm&>(dialog->Form()); }
  HeadlessForm& Strip() { return *app.mainForm; }
  void Open() { main->A_OpenSettingExecute(); }
  std::vector<std::string> Fields() {
    std::vector<std::string> texts;
    for (auto* field : {dialog->E_Server, dialog->E_HTMLURI, dialog->E_LSXML, dialog->E_LSXSL, dialog->E_LSCSS,
                        dialog->E_Port, dialog->E_Refresh, dialog->E_ScrollSpeed}) {
      texts.push_back(field->Text());
    }
    return texts;
  }
  void Click(platform::IControl* button) { dynamic_cast<platform::headless::HeadlessControl&>(*button).Click(); }
};

TEST_F(SettingFormTest, LayoutMatchesTheDesign) {
  Start(AllEight());
  EXPECT_EQ(Dialog().Definition().caption, "設定");
  EXPECT_EQ(Dialog().Width(), 417);
  EXPECT_EQ(Dialog().Height(), 263);
  struct Expected {
    const char* text;
    platform::Rect bounds;
    int tabOrder;
  } expected[] = {{"OK", {120, 232, 195, 257}, 0},
                  {"キャンセル", {232, 232, 307, 257}, 1},
                  {"サーバー", {8, 12, 56, 24}, -1},
                  {"表示用HTML", {8, 36, 74, 48}, -1},
                  {"RavidiVevo用XML", {8, 60, 99, 72}, -1},
                  {"RavidiVevo用XSL", {8, 84, 97, 96}, -1},
                  {"RavidiVevo用CSS", {8, 108, 99, 120}, -1},
                  {"ポート番号", {8, 132, 63, 144}, -1},
                  {"リフレッシュ間隔", {224, 132, 307, 144}, -1},
                  {"スクロールスピード", {8, 156, 104, 168}, -1}};
  for (const auto& e : expected) {
    auto* control = Dialog().ControlWithText(e.text);
    ASSERT_NE(control, nullptr) << e.text;
    EXPECT_EQ(control->Definition().bounds, e.bounds) << e.text;
    EXPECT_EQ(control->Definition().tabOrder, e.tabOrder) << e.text;
  }
  const auto& memo = dynamic_cast<platform::headless::HeadlessControl&>(*dialog->Memo).Definition();
  EXPECT_EQ(memo.kind, platform::ControlKind::Memo);
  EXPECT_EQ(memo.bounds, (platform::Rect{8, 176, 409, 225}));
  EXPECT_EQ(memo.tabOrder, 10);
}

TEST_F(SettingFormTest, OpensWithTheEightValuesAndTheStripDisabled) {
  Start(AllEight());
  Open();
  EXPECT_TRUE(Dialog().Visible());
  EXPECT_FALSE(Strip().Enabled());
  EXPECT_EQ(Fields(), (std::vector<std::string>{"http://例え.jp/", "http://127.0.0.1:1/page.html", "latest.xml",
                                                "latest.xsl", "latest.css", kPort, "30", "100"}));
}

TEST_F(SettingFormTest, OkSavesAllEightReloadsAndLeavesTheStripsPortAlone) {
  Start(AllEight());
  Open();
  dialog->E_Port->SetText("8080");
  dialog->E_Refresh->SetText("abc");
  dialog->E_LSCSS->SetText("");
  dialog->E_LSXML->SetText("曲.xml");
  Click(dialog->B_OK);
  EXPECT_FALSE(Dialog().Visible());
  EXPECT_TRUE(Strip().Enabled());
  EXPECT_EQ(Strip().browser->refreshes, 1);
  EXPECT_EQ(std::get<std::string>(main->Settings().serverPort), kPort);
  const std::string saved = dir.Read("settings.xml");
  for (const char* part : {"<port>8080</port>", "<refresh_interval>abc</refresh_interval>", "<lsxml>曲.xml</lsxml>",
                           "<!-- kept -->", "<other>x</other>"}) {
    EXPECT_NE(saved.find(part), std::string::npos) << part << " in " << saved;
  }
  EXPECT_EQ(saved.find("latest.css"), std::string::npos);
  Open();
  EXPECT_EQ(Fields()[3], "latest.xsl");
  EXPECT_EQ(Fields()[2], "曲.xml");
}

TEST_F(SettingFormTest, OkWithoutChangesAddsTheMissingElements) {
  Start("<settings><datahost>d</datahost><disphtml>p</disphtml><lsxml>x</lsxml><lsxsl>s</lsxsl><lscss>c</lscss>"
        "<port>" + kPort + "</port><refresh_interval>30</refresh_interval></settings>");
  Open();
  ASSERT_EQ(app.errorBoxes.size(), 1u);  // the read stopped at scrollspeed
  EXPECT_NE(app.errorBoxes[0].find("scrollspeed"), std::string::npos);
  EXPECT_TRUE(Dialog().Visible());
  Click(dialog->B_OK);
  EXPECT_FALSE(Dialog().Visible());
  // An empty element either way the DOM writes it.
  const std::string saved = dir.Read("settings.xml");
  EXPECT_TRUE(saved.find("<refresh_interval>30</refresh_interval><scrollspeed/>") != std::string::npos ||
              saved.find("<refresh_interval>30</refresh_interval><scrollspeed></scrollspeed>") != std::string::npos)
      << saved;
}

TEST_F(SettingFormTest, AnEmptyPageStopsTheNextReadAtItsRow) {
  Start(AllEight());
  Open();
  dialog->E_HTMLURI->SetText("");
  Click(dialog->B_OK);
  dialog->E_LSXML->SetText("typed meanwhile");
  Open();
  ASSERT_EQ(app.errorBoxes.size(), 1u);
  EXPECT_NE(app.errorBoxes[0].find("disphtml"), std::string::npos);
  EXPECT_EQ(Fields()[0], "http://例え.jp/");
  EXPECT_EQ(Fields()[1], "");
  EXPECT_EQ(Fields()[2], "typed meanwhile");  // rows after the failing one are left as they were
}

TEST_F(SettingFormTest, CancelDiscardsTheEdits) {
  Start(AllEight());
  Open();
  dialog->E_Port->SetText("1");
  Click(dialog->B_Cancel);
  EXPECT_FALSE(Dialog().Visible());
  EXPECT_TRUE(Strip().Enabled());
  EXPECT_EQ(Strip().browser->refreshes, 0);
  Open();
  EXPECT_EQ(Fields()[5], kPort);
  // The close box hides it like Cancel.
  Dialog().Deliver(16, 0, 0);
  EXPECT_FALSE(Dialog().Visible());
  EXPECT_TRUE(Strip().Enabled());
}

TEST_F(SettingFormTest, WithoutASettingsFileEveryOpeningSaysSoAndOkNeverCloses) {
  Start("");
  for (int i = 0; i < 2; ++i) {
    Open();
    EXPECT_EQ(app.messages.back(), "設定を読み出せません。");
    Click(dialog->B_OK);
    EXPECT_TRUE(Dialog().Visible());
    EXPECT_FALSE(Strip().Enabled());
    Click(dialog->B_Cancel);
    EXPECT_TRUE(Strip().Enabled());
  }
  EXPECT_EQ(app.messages.size(), 2u);
  EXPECT_EQ(app.errorBoxes.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "settings.xml"));
}

TEST_F(SettingFormTest, AFailedSaveKeepsTheDialogOpenAndTheFileWhole) {
  Start(AllEight());
  Open();
  const std::string before = dir.Read("settings.xml");
  std::filesystem::permissions(dir.Path() / "settings.xml", std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::group_read |
                                                               std::filesystem::perms::others_read);
  dialog->E_Port->SetText("8080");
  Click(dialog->B_OK);
  EXPECT_EQ(app.errorBoxes.size(), 1u);
  EXPECT_TRUE(Dialog().Visible());
  EXPECT_FALSE(Strip().Enabled());
  EXPECT_EQ(dir.Read("settings.xml"), before);
  EXPECT_EQ(Strip().browser->refreshes, 0);
}

TEST_F(SettingFormTest, HintsGoIntoTheMemoAndNeverPopUp) {
  Start(AllEight());
  EXPECT_TRUE(app.hintsEnabled);
  EXPECT_EQ(app.hintDelayMs, 10u);
  Open();
  app.Hover(*dialog->E_Port);
  EXPECT_EQ(dialog->Memo->Text(), "イベント通知に使用されるローカルサーバーのポート番号を指定してください。");
  for (auto* other : {dialog->Labels[0], dialog->B_OK, dialog->B_Cancel, dialog->Memo}) app.Hover(*other);
  EXPECT_EQ(dialog->Memo->Text(), "イベント通知に使用されるローカルサーバーのポート番号を指定してください。");
  app.Hover(*dialog->E_Refresh);
  EXPECT_EQ(dialog->Memo->Text(), "表示のリフレッシュ間隔を秒数で指定してください。");
  EXPECT_TRUE(app.hintPopups.empty());
  // The memo keeps its text across hides and shows.
  Click(dialog->B_Cancel);
  Open();
  EXPECT_EQ(dialog->Memo->Text(), "表示のリフレッシュ間隔を秒数で指定してください。");
}

TEST_F(SettingFormTest, CentredOverTheStripOnceThenWhereItWasLeft) {
  Start(AllEight());
  Strip().SetLeft(400);
  Strip().SetTop(300);
  Open();
  EXPECT_EQ(Dialog().Left(), 400 + (275 - 417) / 2);
  EXPECT_EQ(Dialog().Top(), 300 + (14 - 263) / 2);
  Dialog().SetLeft(10);
  Dialog().SetTop(20);
  Click(dialog->B_Cancel);
  Open();
  EXPECT_EQ(Dialog().Left(), 10);
  EXPECT_EQ(Dialog().Top(), 20);
}

// Centred over a strip at an edge of the desktop, the dialog would stick out of it, title bar
// first at the top; it is moved just far enough to be whole, on the strip's side.
TEST_F(SettingFormTest, KeptWholeOnTheDesktopWhenTheStripIsAtAnEdge) {
  struct Case {
    const char* name;
    platform::Rect desktop;
    platform::Point strip;
    platform::Point dialog;
  } cases[] = {
      {"top-left corner, where the strip starts", {0, 0, 1280, 1024}, {0, 0}, {0, 0}},
      {"bottom-right corner", {0, 0, 1280, 1024}, {1280 - 275, 1024 - 14}, {1280 - 417, 1024 - 263}},
      {"top edge, centred across", {0, 0, 1280, 1024}, {500, 0}, {500 + (275 - 417) / 2, 0}},
      {"left of a desktop reaching into negative space",
       {-1920, -200, 1280, 1024},
       {-1920, 300},
       {-1920, 300 + (14 - 263) / 2}},
      {"a desktop smaller than the dialog", {0, 0, 400, 200}, {100, 100}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dialog.reset();
    main.reset();
    app.windows.virtualDesktop = c.desktop;
    Start(AllEight());
    Strip().SetLeft(c.strip.x);
    Strip().SetTop(c.strip.y);
    Open();
    EXPECT_EQ((platform::Point{Dialog().Left(), Dialog().Top()}), c.dialog);
  }
}

}  // namespace
