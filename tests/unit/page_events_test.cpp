#include "events/page_events.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/messages.h"
#include "platform/headless/headless_application.h"
#include "platform/headless/headless_form.h"
#include "settings/setting_form.h"
#include "test_support.h"

namespace {

using lsv::app::TMainForm;
using platform::headless::HeadlessApplication;
using platform::headless::HeadlessTimer;
using namespace std::chrono_literals;

const std::string k404 =
    "HTTP/1.1 404 Not Found\r\nServer: LatestSongViewer/1.0\r\nContent-Type: text/html\r\n\r\n";

// A shown strip whose listener serves on a free port, with this thread as its window thread.
class Strip {
 public:
  explicit Strip(bool winamp = false) {
    app.moduleDirectory = dir.WithSeparator();
    app.xmlDocumentFactory = [] { return lsvtest::NewXmlDocument(); };
    dir.Write("settings.xml", "<settings><disphtml>http://127.0.0.1:1/page.html</disphtml>"
                              "<refresh_interval>30</refresh_interval><port>" +
                                  std::to_string(lsvtest::FreePort()) + "</port></settings>");
    if (winamp) AddWinamp();
    main = std::make_unique<TMainForm>(app, 0);
    setting = std::make_unique<lsv::settings::TSettingForm>(app, *main);
    main->SettingForm = setting.get();
    app.mainForm->Show();
    app.journal.clear();
  }
  ~Strip() {
    setting.reset();
    main.reset();
  }

  void AddWinamp() { lsvtest::AddWinamp(app.windows); }

  // Sends the request from another thread while this one pumps the window messages.
  std::string Request(const std::string& raw) {
    const auto port = main->IdHTTPServer.ListeningPort();
    auto reply = std::async(std::launch::async, [port, raw] { return lsvtest::Exchange(port, raw); });
    while (reply.wait_for(0ms) != std::future_status::ready) app.PumpSent(5ms);
    return reply.get();
  }
  std::string Get(const std::string& target, const std::string& method = "GET") {
    // A POST without a length would be read up to the close.
    const std::string length = method == "POST" ? "Content-Length: 0\r\n" : "";
    return Request(method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + length + "\r\n");
  }

  lsvtest::TempDir dir;
  HeadlessApplication app;
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<lsv::settings::TSettingForm> setting;
};

enum class Effect { None, Refresh, Close, MouseUp, MouseDown };

struct EventCase {
  std::string target;
  Effect effect;
  platform::Point grab{};
  std::string method = "GET";
};

TEST(PageEvents, RequestsAndTheirEffects) {
  const EventCase cases[] = {
      {"/event?type=refresh&arg1=0&arg2=0", Effect::Refresh},
      {"/event?type=refresh&arg1=0&arg2=0", Effect::Refresh, {}, "POST"},
      {"/event?type=refresh&arg1=0&arg2=0", Effect::Refresh, {}, "HEAD"},
      {"/event?type=close&a=1&b=2", Effect::Close},
      {"/event?type=mouseup", Effect::None},
      {"/event?type=mouseup&arg1=1&arg2=2&", Effect::None},
      {"/event?TYPE=mouseup&ARG1=1&ARG2=2", Effect::MouseUp},
      {"/event?type=MouseUp&arg1=1&arg2=2", Effect::None},
      {"/event?type=mouseup&type=close&arg1=0", Effect::MouseUp},
      {"/event?type=refreshed&arg1=0&arg2=0", Effect::None},
      {"/Event?type=close&arg1=0&arg2=0", Effect::None},
      {"/event.html?type=close&arg1=0&arg2=0", Effect::None},
      {"/x/event?type=close&arg1=0&arg2=0", Effect::None},
      {"/ev/ent?type=close&arg1=0&arg2=0", Effect::Close},
      {"//event/?type=refresh&arg1=&arg2=", Effect::Refresh},
      {"/event?type=mousedown&arg1=120&arg2=6", Effect::MouseDown, {118, 4}},
      {"/event?type=mousedown&arg1=+5&arg2=%2B5", Effect::MouseDown, {3, 3}},
      {"/event?type=mousedown&arg1=5px&arg2=0x10", Effect::MouseDown, {-2, 14}},
      {"/event?type=mousedown&arg1=2147483648&arg2=$FFFFFFFF", Effect::MouseDown, {-2, -3}},
      {"/event?type=mousedown&x=1&y=2", Effect::MouseDown, {-2, -2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method + " " + c.target);
    Strip strip;
    strip.main->MouseMove_Timer->SetEnabled(c.effect == Effect::MouseUp);
    strip.main->mousePos = {777, 777};
    const std::string reply = strip.Get(c.target, c.method);

    // The stop of "close" cuts its own connection off; everything else gets the plain 404.
    EXPECT_EQ(reply, c.effect == Effect::Close ? "" : k404);
    EXPECT_EQ(strip.app.mainForm->browser->refreshes, c.effect == Effect::Refresh ? 1 : 0);
    EXPECT_EQ(strip.main->IdHTTPServer.Active(), c.effect != Effect::Close);
    EXPECT_EQ(strip.app.mainForm->Visible(), c.effect != Effect::Close);
    EXPECT_EQ(strip.main->MouseMove_Timer->Enabled(), c.effect == Effect::MouseDown);
    EXPECT_EQ(strip.main->mousePos, (c.effect == Effect::MouseDown ? c.grab : platform::Point{777, 777}));
  }
}

TEST(PageEvents, CloseEndsTheMessageLoopAtOnce) {
  Strip strip;
  EXPECT_EQ(strip.Get("/event?type=close&arg1=0&arg2=0"), "");
  EXPECT_FALSE(strip.app.DrainPosted());
  EXPECT_TRUE(strip.app.mainFormClosed);
}

TEST(PageEvents, OpenMenuAtThePagePositionOnTheScreen) {
  Strip strip;
  strip.app.mainForm->SetLeft(300);
  strip.app.mainForm->SetTop(200);
  strip.app.menuChoice = [](const HeadlessApplication::MenuShown&) { return 1; };  // "更新"
  EXPECT_EQ(strip.Get("/event?type=openmenu&arg1=10&arg2=5"), k404);
  ASSERT_EQ(strip.app.menus.size(), 1u);
  EXPECT_EQ(strip.app.menus[0].at, (platform::Point{308, 203}));
  EXPECT_EQ(strip.main->mousePos, (platform::Point{308, 203}));
  EXPECT_EQ(strip.app.mainForm->browser->refreshes, 1);
}

TEST(PageEvents, MouseDownRefreshesWinampAndReportsAMissingWindow) {
  Strip strip(/*winamp=*/true);
  ASSERT_TRUE(strip.main->winamp.valid);
  strip.app.journal.clear();
  EXPECT_EQ(strip.Get("/event?type=mousedown&arg1=120&arg2=6"), k404);
  EXPECT_EQ(strip.app.journal.front(), "find Winamp v1.x");
  EXPECT_TRUE(strip.main->MouseMove_Timer->Enabled());
  EXPECT_EQ(strip.main->mousePos, (platform::Point{118, 4}));

  strip.main->MouseMove_Timer->SetEnabled(false);
  strip.app.windows.RemoveWindow(strip.app.windows.FindWindowByClass("Winamp v1.x"));
  EXPECT_EQ(strip.Get("/event?type=mousedown&arg1=50&arg2=7"), k404);
  EXPECT_EQ(strip.app.messages, std::vector<std::string>{"window not found: Winamp"});
  EXPECT_FALSE(strip.main->MouseMove_Timer->Enabled());
  EXPECT_EQ(strip.main->mousePos, (platform::Point{118, 4}));
  EXPECT_TRUE(strip.main->winamp.valid);
  // The next event is handled as usual.
  EXPECT_EQ(strip.Get("/event?type=refresh&arg1=0&arg2=0"), k404);
  EXPECT_EQ(strip.app.mainForm->browser->refreshes, 1);
}

TEST(PageEvents, WithoutWinampMouseDownBeginsTheDragWithoutALookUp) {
  Strip strip;
  EXPECT_FALSE(strip.main->winamp.valid);
  EXPECT_EQ(strip.Get("/event?type=mousedown&arg1=10&arg2=10"), k404);
  EXPECT_TRUE(strip.main->MouseMove_Timer->Enabled());
  for (const auto& entry : strip.app.journal) EXPECT_NE(entry.rfind("find", 0), 0u) << entry;
}

TEST(PageEvents, OnlyThisMachineMayDriveTheStrip) {
  struct Case {
    const char* peer;
    const char* local;
    bool local_;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1", true},   {"127.1.2.3", "10.0.0.2", true}, {"10.0.0.2", "10.0.0.2", true},
      {"192.168.1.7", "192.168.1.5", false}, {"10.0.0.3", "127.0.0.1", false}, {"", "", false},
      {"1.127.0.0", "10.0.0.2", false},
  };
  for (const auto& c : cases) EXPECT_EQ(lsv::events::IsLocalPeer(c.peer, c.local), c.local_) << c.peer << " " << c.local;
}

TEST(PageEvents, AWindowThatIsGoneTakesNoEvent) {
  auto strip = std::make_unique<Strip>();
  const auto messenger = strip->app.mainForm->Messenger();
  TMainForm::COMMAND command{"event", "refresh", "", ""};
  strip.reset();
  EXPECT_FALSE(messenger->Send(lsv::WM_PAGE_EVENT, reinterpret_cast<std::uintptr_t>(&command), 0));
}

TEST(EventArgument, ConvertsOrGivesZero) {
  const std::pair<const char*, std::int32_t> cases[] = {{"120", 120}, {"-3", -3},        {"0x10", 16},
                                                       {"$FFFFFFFF", -1}, {" 5", 5},    {"5px", 0},
                                                       {"2147483648", 0}, {"", 0},      {"+5", 5}};
  for (const auto& [text, value] : cases) EXPECT_EQ(lsv::events::EventArgument(text), value) << text;
}

TEST(FieldValue, FirstCaseInsensitiveNameWins) {
  const std::vector<std::string> fields = {"arg1", "TYPE=a", "type=b", "=x", "arg2="};
  EXPECT_EQ(lsv::events::FieldValue(fields, "type"), "a");
  EXPECT_EQ(lsv::events::FieldValue(fields, "arg1"), "");  // no "=": never a match
  EXPECT_EQ(lsv::events::FieldValue(fields, "arg2"), "");
  EXPECT_EQ(lsv::events::FieldValue(fields, "missing"), "");
}

}  // namespace
