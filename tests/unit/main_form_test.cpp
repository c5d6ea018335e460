#include "app/main_form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/application_main.h"
#include "app/error_reporting.h"
#include "base/messages.h"
#include "base/winamp_windows.h"
#include "platform/form_messages.h"
#include "platform/error.h"
#include "platform/headless/headless_application.h"
#include "platform/headless/headless_form.h"
#include "platform/sockets.h"
#include "settings/setting_form.h"
#include "test_support.h"

namespace {

using lsv::app::TMainForm;
using lsv::settings::TSettingForm;
using platform::headless::HeadlessApplication;
using platform::headless::HeadlessForm;
using platform::headless::HeadlessTimer;

// The port settings in these tests are opened for real; a free one keeps parallel runs apart.
const std::string kPort = std::to_string(lsvtest::FreePort());

const std::string kGoodSettings =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<settings>\n"
    "  <datahost>http://example.jp/</datahost>\n"
    "  <disphtml>http://127.0.0.1:8000/page.html</disphtml>\n"
    "  <refresh_interval>30</refresh_interval>\n"
    "  <port>" + kPort + "</port>\n"
    "</settings>\n";

std::string Settings(const std::string& interval, const std::string& port, const std::string& page = "page.html") {
  std::string xml = "<settings>";
  if (!page.empty()) xml += "<disphtml>" + page + "</disphtml>";
  if (interval != "-") xml += "<refresh_interval>" + interval + "</refresh_interval>";
  if (port != "-") xml += "<port>" + port + "</port>";
  return xml + "</settings>";
}

class StripTest : public testing::Test {
 protected:
  lsvtest::TempDir dir;
  HeadlessApplication app;
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TSettingForm> setting;

  StripTest() {
    app.moduleDirectory = dir.WithSeparator();
    lsvtest::UseSystemXml(app);
  }
  ~StripTest() override {
    setting.reset();
    main.reset();
  }

  void Create() {
    main = std::make_unique<TMainForm>(app, 0);
    setting = std::make_unique<TSettingForm>(app, main->SettingHost());
    main->SetSettingForm(setting.get());
  }
  void AddWinamp() { lsvtest::AddWinamp(app.windows); }
  // Creates the strip and shows it as the message loop first does.
  void Start(const std::string& settingsXml, bool winamp = true) {
    if (!settingsXml.empty()) dir.Write("settings.xml", settingsXml);
    if (winamp) AddWinamp();
    Create();
    app.journal.clear();
    Strip().Show();
  }
  HeadlessForm& Strip() { return *app.mainForm; }
  HeadlessTimer& RefreshTimer() { return lsvtest::Driven(main->RefreshTimer()); }
  HeadlessTimer& LookupTimer() { return lsvtest::Driven(main->WinampLookupTimer()); }
  // Winamp closing: all five windows go.
  void RemoveWinamp() {
    for (const char* windowClass : lsv::kWinampWindowClasses) {
      while (const platform::WindowHandle window = app.windows.FindWindowByClass(windowClass)) {
        app.windows.RemoveWindow(window);
      }
    }
  }
  // One look for Winamp; what it did, as the journal records it.
  std::vector<std::string> Look() {
    app.journal.clear();
    LookupTimer().Tick();
    return app.journal;
  }
  void Notify(unsigned message) { EXPECT_TRUE(main->Dispatch(message, 0, 0)) << message; }
  platform::headless::HeadlessBrowser& Browser() { return *Strip().browser; }
  std::size_t Position(const std::string& entry) {
    return static_cast<std::size_t>(std::find(app.journal.begin(), app.journal.end(), entry) - app.journal.begin());
  }
  bool Journaled(const std::string& entry) { return Position(entry) < app.journal.size(); }
};

TEST_F(StripTest, ComponentsMatchTheWindowDefinition) {
  Create();
  EXPECT_EQ(Strip().Definition().caption, "Velkor Latest Song Viewer");
  EXPECT_EQ(Strip().Width(), 275);
  EXPECT_EQ(Strip().Height(), 14);
  EXPECT_EQ(Browser().Bounds(), (platform::Rect{-2, -2, 277, 16}));
  EXPECT_EQ(main->MouseMoveTimer().Interval(), 10u);
  EXPECT_EQ(main->ChaseTimer().Interval(), 15u);
  EXPECT_EQ(main->RefreshTimer().Interval(), 30000u);
  for (const platform::ITimer* timer : {&main->MouseMoveTimer(), &main->ChaseTimer(), &main->RefreshTimer()}) {
    EXPECT_FALSE(timer->Enabled());
  }
  EXPECT_TRUE(main->HttpServer().Active());
  EXPECT_TRUE(std::holds_alternative<std::monostate>(main->Settings().refreshInterval));
  EXPECT_FALSE(main->Docking().Winamp().valid);
  EXPECT_FALSE(Strip().Visible());
}

TEST_F(StripTest, ShowSequenceRunsInOrderAndAttachesTheHookLast) {
  Start(kGoodSettings);
  EXPECT_TRUE(app.HasActivateHandler());
  EXPECT_EQ(setting->SettingsFile(), dir.File("settings.xml"));
  EXPECT_EQ(main->RefreshTimer().Interval(), 30000u);
  EXPECT_TRUE(main->RefreshTimer().Enabled());
  EXPECT_EQ(main->HttpServer().DefaultPort(), std::stoi(kPort));
  EXPECT_EQ(main->HttpServer().ListeningPort(), std::stoi(kPort));
  EXPECT_EQ(Browser().navigations, std::vector<std::string>{"http://127.0.0.1:8000/page.html"});
  EXPECT_TRUE(main->Docking().Winamp().valid);
  EXPECT_EQ(app.hook.attachedTo, main->Handle());

  EXPECT_LT(Position("navigate http://127.0.0.1:8000/page.html"), Position("find Winamp v1.x"));
  EXPECT_LT(Position("rect Winamp MB"), Position("AttachHook"));
  EXPECT_LT(Position("AttachHook"), Position("visible Velkor Latest Song Viewer"));
  EXPECT_TRUE(app.messages.empty());
  EXPECT_TRUE(app.errorBoxes.empty());
}

TEST_F(StripTest, ShowingTheStripAgainDoesNotRunTheShowSequenceAgain) {
  Start(kGoodSettings);
  Strip().Hide();
  Strip().Show();
  EXPECT_EQ(Browser().navigations.size(), 1u);
  EXPECT_EQ(std::count(app.journal.begin(), app.journal.end(), "AttachHook"), 1);
}

TEST_F(StripTest, TheDialogsCloseBoxHidesItAndGivesTheStripBack) {
  Start(kGoodSettings);
  main->A_OpenSettingExecute();
  ASSERT_FALSE(Strip().Enabled());
  HeadlessForm& dialog = *app.forms.back();
  dialog.Deliver(lsv::WM_CLOSE_MESSAGE, 0, 0);
  EXPECT_FALSE(dialog.Closed());
  EXPECT_FALSE(dialog.Visible());
  EXPECT_TRUE(Strip().Enabled());
  // Closing the strip itself ends the program.
  Strip().Deliver(lsv::WM_CLOSE_MESSAGE, 0, 0);
  EXPECT_TRUE(Strip().Closed());
}

TEST_F(StripTest, ShowSequenceClearsTheDockingStateBeforeLookingUpWinamp) {
  dir.Write("settings.xml", kGoodSettings);
  Create();
  lsv::docking::DockingState state;
  state.docked = true;
  state.dockedTo = 3;
  state.snapLeft = state.snapRight = state.snapTop = state.snapBottom = true;
  main->Docking().SetState(state);
  Strip().Show();
  const lsv::docking::DockingState& after = main->Docking().State();
  EXPECT_FALSE(after.docked || after.snapLeft || after.snapRight || after.snapTop || after.snapBottom);
  EXPECT_EQ(after.dockedTo, 0);
}

TEST_F(StripTest, WithoutWinampOneDialogComesFirstAndTheHookIsNeverCalled) {
  Start(kGoodSettings, /*winamp=*/false);
  EXPECT_EQ(app.messages, std::vector<std::string>{"window not found: Winamp"});
  EXPECT_LT(Position("message window not found: Winamp"), Position("visible Velkor Latest Song Viewer"));
  EXPECT_TRUE(Strip().Visible());
  EXPECT_FALSE(main->Docking().Winamp().valid);
  EXPECT_FALSE(Journaled("AttachHook"));
  EXPECT_FALSE(Journaled("IsHookAttached"));
  EXPECT_EQ(Browser().navigations.size(), 1u);
  EXPECT_TRUE(RefreshTimer().Tick());
  EXPECT_EQ(Browser().refreshes, 1);
}

TEST_F(StripTest, AttachFailureShowsErrorOnceAndTheStripWorks) {
  app.hook.attachResult = false;
  Start(kGoodSettings);
  EXPECT_EQ(app.messages, std::vector<std::string>{"Error"});
  EXPECT_TRUE(Strip().Visible());
  EXPECT_TRUE(main->Docking().Winamp().valid);
}

struct ShowFailure {
  const char* name;
  std::string xml;  // empty: no settings file at all
  const char* errorContains;
  bool pathHandedOver;
  bool timerRunning;
};

TEST_F(StripTest, LibraryErrorsEndTheShowSequenceAtTheirStepAndTheStripStillShows) {
  const ShowFailure cases[] = {
      {"missing file", "", "", false, false},
      {"not well-formed", "<settings><port>1</settings>", "", false, false},
      {"interval missing", Settings("-", kPort), "refresh_interval", false, false},
      {"interval empty", Settings("", kPort), "refresh_interval", false, false},
      {"interval not a number", Settings("abc", kPort), "'abc'", false, false},
      {"port missing", Settings("30", "-"), "port", false, false},
      {"interval negative", Settings("-5", kPort), "out of range", true, false},
      {"interval beyond 32 bits", Settings("4294968", kPort), "out of range", true, false},
      {"port not a number", Settings("30", "abc"), "'abc'", true, true},
      {"port above 65535", Settings("30", "70000"), "70000", true, true},
      {"port zero", Settings("30", "0"), "out of range", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    app.journal.clear();
    app.errorBoxes.clear();
    std::filesystem::remove(dir.File("settings.xml"));
    setting.reset();
    main.reset();
    if (!c.xml.empty()) dir.Write("settings.xml", c.xml);
    Create();
    if (app.windows.FindWindowByClass("Winamp v1.x") == nullptr) AddWinamp();
    Strip().Show();

    ASSERT_EQ(app.errorBoxes.size(), 1u);
    EXPECT_NE(app.errorBoxes[0].find(c.errorContains), std::string::npos) << app.errorBoxes[0];
    EXPECT_TRUE(Strip().Visible());
    EXPECT_EQ(setting->SettingsFile().empty(), !c.pathHandedOver);
    EXPECT_EQ(main->RefreshTimer().Enabled(), c.timerRunning);
    // Every case fails before the port is applied and the page is requested.
    EXPECT_EQ(main->HttpServer().DefaultPort(), 0);
    EXPECT_TRUE(main->HttpServer().Active());
    EXPECT_TRUE(Browser().navigations.empty());
    EXPECT_FALSE(main->Docking().Winamp().valid);
    EXPECT_FALSE(app.hook.attached);
  }
}

TEST_F(StripTest, RefreshIntervalFollowsTheLocaleAndRoundsToMilliseconds) {
  struct Case {
    const char* text;
    const char* separator;
    std::uint32_t interval;
  } cases[] = {{"2.5", ".", 2500}, {"2,5", ",", 2500}, {"0.0015", ".", 2}, {"4294967.295", ".", 4294967295u}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    setting.reset();
    main.reset();
    app.decimalSeparator = c.separator;
    dir.Write("settings.xml", Settings(c.text, kPort));
    Create();
    Strip().Show();
    EXPECT_TRUE(app.errorBoxes.empty());
    EXPECT_EQ(main->RefreshTimer().Interval(), c.interval);
  }
}

TEST_F(StripTest, ZeroIntervalNeverTicksButManualRefreshStillWorks) {
  Start(Settings("0", kPort));
  EXPECT_TRUE(main->RefreshTimer().Enabled());
  EXPECT_FALSE(RefreshTimer().Tick());
  EXPECT_EQ(Browser().refreshes, 0);
  main->A_RefreshExecute();
  EXPECT_EQ(Browser().refreshes, 1);
}

TEST_F(StripTest, EmptyDisplayPageIsReplacedByTheDefaultAndSavedInPlace) {
  Start("<settings><!-- mine --><disphtml/><refresh_interval>30</refresh_interval><port>" + kPort + "</port>"
        "<extra a=\"1\">keep</extra></settings>");
  const std::string page = dir.WithSeparator() + "RavidiVevo.html";
  EXPECT_EQ(std::get<std::string>(main->Settings().displayPage), page);
  EXPECT_EQ(Browser().navigations, std::vector<std::string>{page});
  const std::string saved = dir.Read("settings.xml");
  EXPECT_NE(saved.find("<!-- mine --><disphtml>" + page + "</disphtml><refresh_interval>"), std::string::npos)
      << saved;
  EXPECT_NE(saved.find("<extra a=\"1\">keep</extra>"), std::string::npos) << saved;
}

TEST_F(StripTest, MissingDisplayPageIsAppendedAndSavedBeforeLaterStepsFail) {
  Start("<settings><port>" + kPort + "</port></settings>");
  ASSERT_EQ(app.errorBoxes.size(), 1u);  // refresh_interval is missing
  const std::string saved = dir.Read("settings.xml");
  EXPECT_NE(saved.find("<port>" + kPort + "</port><disphtml>" + dir.WithSeparator() + "RavidiVevo.html</disphtml></settings>"),
            std::string::npos)
      << saved;
}

TEST_F(StripTest, FailedSaveOfTheDefaultPageLeavesTheFileWhole) {
  const std::string original = "<settings><refresh_interval>30</refresh_interval><port>" + kPort + "</port></settings>";
  dir.Write("settings.xml", original);
  std::filesystem::permissions(dir.Path() / "settings.xml", std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::group_read |
                                                               std::filesystem::perms::others_read);
  Create();
  Strip().Show();
  ASSERT_EQ(app.errorBoxes.size(), 1u);
  EXPECT_EQ(std::get<std::string>(main->Settings().displayPage), dir.WithSeparator() + "RavidiVevo.html");
  EXPECT_EQ(dir.Read("settings.xml"), original);
  EXPECT_TRUE(Browser().navigations.empty());
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    EXPECT_EQ(entry.path().filename(), "settings.xml") << "left behind: " << entry.path();
  }
}

TEST_F(StripTest, CloseWhileDetachedAsksTheHookLibraryOnceAndEndsTheLoop) {
  Start(kGoodSettings, /*winamp=*/false);
  app.journal.clear();
  main->A_CloseExecute();
  EXPECT_EQ(app.journal, (std::vector<std::string>{"IsHookAttached", "hidden Velkor Latest Song Viewer"}));
  EXPECT_FALSE(main->HttpServer().Active());
  EXPECT_FALSE(app.DrainPosted());
  EXPECT_TRUE(app.mainFormClosed);
}

TEST_F(StripTest, CloseWhileAttachedDetachesFirst) {
  Start(kGoodSettings);
  app.journal.clear();
  main->A_CloseExecute();
  EXPECT_EQ(app.journal[0], "IsHookAttached");
  EXPECT_EQ(app.journal[1], "DetachHook");
  EXPECT_FALSE(app.hook.attached);
}

TEST_F(StripTest, MenuOpensAtMousePosAndRunsTheChosenAction) {
  Start(kGoodSettings);
  lsv::docking::DockingState state;
  state.mousePos = {308, 203};
  main->Docking().SetState(state);
  int choice = -1;
  app.menuChoice = [&](const HeadlessApplication::MenuShown&) { return choice; };

  main->A_OpenMenuExecute();
  ASSERT_EQ(app.menus.size(), 1u);
  EXPECT_EQ(app.menus[0].at, (platform::Point{308, 203}));
  EXPECT_EQ(app.menus[0].captions, (std::vector<std::string>{"設定", "更新", "-", "閉じる"}));

  choice = 1;
  main->A_OpenMenuExecute();
  EXPECT_EQ(Browser().refreshes, 1);

  choice = 0;
  main->A_OpenMenuExecute();
  EXPECT_FALSE(Strip().Enabled());
  EXPECT_TRUE(setting->Form().Visible());
  setting->Hide();
  EXPECT_TRUE(Strip().Enabled());

  choice = 3;
  main->A_OpenMenuExecute();
  EXPECT_FALSE(Strip().Visible());
  EXPECT_FALSE(app.DrainPosted());
}

TEST_F(StripTest, SettingsDialogCannotReadWhenTheStripCouldNot) {
  Start("");
  main->A_OpenSettingExecute();
  setting->Hide();
  main->A_OpenSettingExecute();
  EXPECT_EQ(app.messages, (std::vector<std::string>{"設定を読み出せません。", "設定を読み出せません。"}));
}

TEST_F(StripTest, DispatchTakesThePrivateMessagesOnly) {
  Start(kGoodSettings);
  for (unsigned message = lsv::WM_CHASE_START; message <= lsv::WM_RESTACK; ++message) {
    EXPECT_TRUE(main->Dispatch(message, 0, 0)) << message;
  }
  EXPECT_TRUE(main->Dispatch(lsv::WM_PAGE_EVENT, 0, 0));
  for (unsigned message : {1024u, 1034u, 16u, 0u}) EXPECT_FALSE(main->Dispatch(message, 0, 0)) << message;
}

// ---- looking for Winamp while no hook is attached ----

struct LookupCase {
  const char* tag;
  const char* name;
  bool winampAtStart;
  bool attachSucceeds;
  const char* startBox;  // the one box of the start, or nullptr
  bool looking;          // the look-up runs after the start
  std::vector<std::string> oneLook;
};

class LookupPacing : public StripTest, public testing::WithParamInterface<LookupCase> {};

TEST_P(LookupPacing, TheLookForWinampRunsExactlyWhileNoHookIsAttached) {
  const LookupCase& c = GetParam();
  app.hook.attachResult = c.attachSucceeds;
  Start(kGoodSettings, c.winampAtStart);
  EXPECT_EQ(main->WinampLookupTimer().Interval(), 1000u);
  EXPECT_EQ(main->WinampLookupTimer().Enabled(), c.looking);
  EXPECT_EQ(Look(), c.oneLook);
  EXPECT_EQ(Look(), c.oneLook);
  EXPECT_EQ(main->WinampLookupTimer().Enabled(), c.looking);
  EXPECT_EQ(app.messages, c.startBox ? std::vector<std::string>{c.startBox} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Starts, LookupPacing,
    testing::Values(
        LookupCase{"Attached", "attached at start: no look at all", true, true, nullptr, false, {}},
        // While Winamp is away a look is one window look-up, and the hook library is not called.
        LookupCase{"WinampAway", "Winamp not running", false, true, "window not found: Winamp", true,
                   {"find Winamp v1.x"}},
        // The library is asked again at each look, without another box.
        LookupCase{"AttachFails", "the attach fails", true, false, "Error", true,
       {"find Winamp v1.x", "find Winamp PE", "find Winamp EQ", "find Winamp Video", "find Winamp MB",
        "rect Winamp v1.x", "visible Winamp v1.x", "rect Winamp PE", "visible Winamp PE", "rect Winamp EQ",
        "visible Winamp EQ", "rect Winamp Video", "visible Winamp Video", "rect Winamp MB", "visible Winamp MB",
        "AttachHook"}}),
    [](const testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.tag); });

TEST_F(StripTest, WinampStartedAfterTheStripIsFoundAndTheStripDocksToIt) {
  Start(kGoodSettings, /*winamp=*/false);
  EXPECT_EQ(Look(), std::vector<std::string>{"find Winamp v1.x"});
  AddWinamp();
  const std::vector<std::string> look = Look();
  ASSERT_FALSE(look.empty());
  EXPECT_EQ(look.back(), "AttachHook");
  EXPECT_EQ(app.hook.attachedTo, main->Handle());
  EXPECT_TRUE(main->Docking().Winamp().valid);
  EXPECT_FALSE(main->WinampLookupTimer().Enabled());
  EXPECT_EQ(app.messages, std::vector<std::string>{"window not found: Winamp"});

  // Dragged just below the playlist, the strip snaps to it as if Winamp had been there first.
  main->BeginDrag(52, 9);  // the grab (50, 7) in the strip, in page coordinates
  app.windows.leftButtonDown = true;
  app.windows.cursor = {152, 576};
  main->MouseMove_TimerTimer();
  EXPECT_EQ(Strip().Top(), 564);
  EXPECT_TRUE(main->Docking().State().docked);
  EXPECT_TRUE(main->Docking().State().snapBottom);
  EXPECT_EQ(main->Docking().State().dockedTo, lsvutil::CWinamp::WND_PLAYLIST);
}

TEST_F(StripTest, WinampClosedAndStartedAgainIsFoundAgainWithoutABox) {
  Start(kGoodSettings);
  // Closing Winamp: the hook lets the strip go, then detaches.
  Notify(lsv::WM_UNDOCK);
  Notify(lsv::WM_HOOK_DETACH);
  EXPECT_FALSE(app.hook.attached);
  EXPECT_TRUE(main->WinampLookupTimer().Enabled());
  RemoveWinamp();
  EXPECT_EQ(Look(), std::vector<std::string>{"find Winamp v1.x"});
  AddWinamp();
  EXPECT_EQ(Look().back(), "AttachHook");
  EXPECT_TRUE(app.hook.attached);
  EXPECT_FALSE(main->WinampLookupTimer().Enabled());
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(StripTest, AFailedReattachIsRetriedByTheLookWithoutABox) {
  Start(kGoodSettings);
  app.hook.attachResult = false;
  Notify(lsv::WM_HOOK_REATTACH);
  EXPECT_TRUE(main->WinampLookupTimer().Enabled());
  EXPECT_EQ(Look().back(), "AttachHook");
  app.hook.attachResult = true;
  EXPECT_EQ(Look().back(), "AttachHook");
  EXPECT_FALSE(main->WinampLookupTimer().Enabled());
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(StripTest, TheLookWaitsForADragToEndAndStopsWhenTheStripCloses) {
  Start(kGoodSettings, /*winamp=*/false);
  AddWinamp();
  main->BeginDrag(52, 9);
  EXPECT_EQ(Look(), std::vector<std::string>{});
  main->EndDrag();
  EXPECT_EQ(Look().back(), "AttachHook");

  Notify(lsv::WM_HOOK_DETACH);
  ASSERT_TRUE(main->WinampLookupTimer().Enabled());
  main->A_CloseExecute();
  EXPECT_FALSE(main->WinampLookupTimer().Enabled());
}

// ---- staying on the desktop ----

TEST_F(StripTest, AStripOffEveryMonitorComesBackOnTheNearestOneUndocked) {
  // Two monitors, the second left of the first; each work area leaves 40 pixels for a taskbar.
  app.windows.virtualDesktop = {-1920, 0, 1280, 1080};
  app.windows.workAreas = {{-1920, 0, 0, 1040}, {0, 0, 1280, 984}};
  Start(kGoodSettings);
  lsv::docking::DockingState docked;
  docked.docked = true;
  docked.dockedTo = lsvutil::CWinamp::WND_PLAYLIST;
  main->Docking().SetState(docked);
  lsvtest::Driven(main->ChaseTimer()).SetEnabled(true);

  // Partly on the desktop: left exactly where it is.
  Strip().MoveTo({-1920 - 274, 500});
  const int moves = Strip().moves;
  Strip().Deliver(platform::kWmDisplayChange, 0, 0);
  EXPECT_EQ(Strip().moves, moves);
  EXPECT_TRUE(main->Docking().State().docked);

  // Wholly off, nearest to the left monitor: back on its work area, no longer following Winamp.
  Strip().MoveTo({-4000, 2000});
  Strip().Deliver(platform::kWmDisplayChange, 0, 0);
  EXPECT_EQ((platform::Point{Strip().Left(), Strip().Top()}), (platform::Point{-1920, 1040 - 14}));
  EXPECT_FALSE(main->Docking().State().docked);
  EXPECT_FALSE(main->ChaseTimer().Enabled());
  EXPECT_TRUE(app.messages.empty());
}

TEST_F(StripTest, AStripPlacedOffTheDesktopComesBackOnceItIsFirstShown) {
  dir.Write("settings.xml", kGoodSettings);
  AddWinamp();
  Create();
  Strip().MoveTo({3000, 40});
  Strip().Show();
  EXPECT_EQ((platform::Point{Strip().Left(), Strip().Top()}), (platform::Point{1280 - 275, 40}));
  // Later shows leave the strip where it is put.
  Strip().Hide();
  Strip().MoveTo({3000, 40});
  Strip().Show();
  EXPECT_EQ(Strip().Left(), 3000);
}

TEST(ErrorBoxText, AppendsAFullStopOnlyAfterCharactersSortingAfterIt) {
  struct Case {
    const char* message;
    const char* shown;
  } cases[] = {{"Access denied", "Access denied."},
               {"done.", "done."},
               {"", ""},
               {"ends with a comma,", "ends with a comma,"},  // ',' sorts before '.'
               {"ends with a slash/", "ends with a slash/."},
               {"设定", "设定."}};
  for (const auto& c : cases) EXPECT_EQ(lsv::app::ErrorBoxText(c.message), c.shown) << c.message;
}

TEST(RunApplication, RunsUntilTheStripClosesAndReturnsZero) {
  lsvtest::TempDir dir;
  dir.Write("settings.xml", kGoodSettings);
  HeadlessApplication app;
  app.moduleDirectory = dir.WithSeparator();
  lsvtest::UseSystemXml(app);
  // Once the loop idles, choose "閉じる" from the menu.
  app.menuChoice = [](const HeadlessApplication::MenuShown&) { return 3; };
  bool closing = false;
  app.onIdle = [&] {
    if (closing) return false;
    closing = true;
    app.mainForm->Deliver(lsv::WM_PAGE_EVENT - 1, 0, 0);  // not ours: the default handling
    auto* strip = app.mainForm;
    EXPECT_TRUE(strip->Visible());
    strip->PostClose();
    return true;
  };
  EXPECT_EQ(lsv::app::RunApplication(app, 0), 0);
  EXPECT_TRUE(app.mainFormClosed);
  EXPECT_EQ(app.journal.front(), "initialize");
  EXPECT_TRUE(app.errorBoxes.empty());
  EXPECT_EQ(app.messages, std::vector<std::string>{"window not found: Winamp"});
}

TEST(RunApplication, ErrorsLeavingStartUpEndInAnErrorBox) {
  struct Case {
    std::function<std::unique_ptr<platform::IXmlDocument>()> factory;
    const char* shown;
  } cases[] = {
      {[]() -> std::unique_ptr<platform::IXmlDocument> {
         throw platform::Error("Could not bind socket. Address and port are already in use.");
       },
       "Could not bind socket. Address and port are already in use."},
      {[]() -> std::unique_ptr<platform::IXmlDocument> { throw std::bad_alloc(); }, ""},
      {[]() -> std::unique_ptr<platform::IXmlDocument> { throw 42; }, ""},
  };
  for (const auto& c : cases) {
    HeadlessApplication app;
    app.xmlDocumentFactory = c.factory;
    EXPECT_EQ(lsv::app::RunApplication(app, 0), 0);
    EXPECT_EQ(app.errorBoxes, std::vector<std::string>{c.shown});
    EXPECT_EQ(app.mainForm, nullptr);  // nothing was ever shown
  }
}

TEST(RunApplication, APortInUseAtConstructionEndsTheProcessWithTheBindError) {
  platform::Socket blocker = platform::CreateTcpSocket();
  platform::Bind(blocker, "", 0);
  platform::Listen(blocker, 1);
  HeadlessApplication app;
  lsvtest::UseSystemXml(app);
  EXPECT_EQ(lsv::app::RunApplication(app, platform::LocalPort(blocker)), 0);
  EXPECT_EQ(app.errorBoxes, std::vector<std::string>{"Could not bind socket. Address and port are already in use."});
  EXPECT_EQ(app.mainForm, nullptr);
  EXPECT_FALSE(app.journal.empty());
  EXPECT_EQ(std::count_if(app.journal.begin(), app.journal.end(),
                          [](const std::string& entry) { return entry.rfind("visible", 0) == 0; }),
            0);
}

}  // namespace
