#include "events/page_events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_form.h"
#include "base/messages.h"
#include "platform/headless/headless_application.h"
#include "platform/headless/headless_form.h"
#include "platform/sockets.h"
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
  explicit Strip(bool winamp = false, const std::string& page = "http://127.0.0.1:1/page.html") {
    app.moduleDirectory = dir.WithSeparator();
    lsvtest::UseSystemXml(app);
    dir.Write("settings.xml", "<settings><disphtml>" + page +
                                  "</disphtml>"
                                  "<refresh_interval>30</refresh_interval><port>" +
                                  std::to_string(lsvtest::FreePort()) + "</port></settings>");
    if (winamp) AddWinamp();
    main = std::make_unique<TMainForm>(app, 0);
    setting = std::make_unique<lsv::settings::TSettingForm>(app, main->SettingHost());
    main->SetSettingForm(setting.get());
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
    const auto port = main->HttpServer().ListeningPort();
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
    lsvtest::Driven(strip.main->MouseMoveTimer()).SetEnabled(c.effect == Effect::MouseUp);
    lsv::docking::DockingState state;
    state.mousePos = {777, 777};
    strip.main->Docking().SetState(state);
    const std::string reply = strip.Get(c.target, c.method);

    // The stop of "close" cuts its own connection off; everything else gets the plain 404.
    EXPECT_EQ(reply, c.effect == Effect::Close ? "" : k404);
    EXPECT_EQ(strip.app.mainForm->browser->refreshes, c.effect == Effect::Refresh ? 1 : 0);
    EXPECT_EQ(strip.main->HttpServer().Active(), c.effect != Effect::Close);
    EXPECT_EQ(strip.app.mainForm->Visible(), c.effect != Effect::Close);
    EXPECT_EQ(strip.main->MouseMoveTimer().Enabled(), c.effect == Effect::MouseDown);
    EXPECT_EQ(strip.main->Docking().State().mousePos,
              (c.effect == Effect::MouseDown ? c.grab : platform::Point{777, 777}));
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
  EXPECT_EQ(strip.main->Docking().State().mousePos, (platform::Point{308, 203}));
  EXPECT_EQ(strip.app.mainForm->browser->refreshes, 1);
}

TEST(PageEvents, MouseDownRefreshesWinampAndReportsAMissingWindow) {
  Strip strip(/*winamp=*/true);
  ASSERT_TRUE(strip.main->Docking().Winamp().valid);
  strip.app.journal.clear();
  EXPECT_EQ(strip.Get("/event?type=mousedown&arg1=120&arg2=6"), k404);
  EXPECT_EQ(strip.app.journal.front(), "find Winamp v1.x");
  EXPECT_TRUE(strip.main->MouseMoveTimer().Enabled());
  EXPECT_EQ(strip.main->Docking().State().mousePos, (platform::Point{118, 4}));

  lsvtest::Driven(strip.main->MouseMoveTimer()).SetEnabled(false);
  strip.app.windows.RemoveWindow(strip.app.windows.FindWindowByClass("Winamp v1.x"));
  EXPECT_EQ(strip.Get("/event?type=mousedown&arg1=50&arg2=7"), k404);
  EXPECT_EQ(strip.app.messages, std::vector<std::string>{"window not found: Winamp"});
  EXPECT_FALSE(strip.main->MouseMoveTimer().Enabled());
  EXPECT_EQ(strip.main->Docking().State().mousePos, (platform::Point{118, 4}));
  EXPECT_TRUE(strip.main->Docking().Winamp().valid);
  // The next event is handled as usual.
  EXPECT_EQ(strip.Get("/event?type=refresh&arg1=0&arg2=0"), k404);
  EXPECT_EQ(strip.app.mainForm->browser->refreshes, 1);
}

TEST(PageEvents, MouseDownDuringADragLooksWinampUpAgainAndTakesTheNewGrab) {
  Strip strip(/*winamp=*/true);
  EXPECT_EQ(strip.Get("/event?type=mousedown&arg1=120&arg2=6"), k404);
  ASSERT_TRUE(strip.main->MouseMoveTimer().Enabled());
  const auto playlist = strip.app.windows.FindWindowByClass("Winamp PE");
  strip.app.windows.Window(playlist).rect = {600, 600, 875, 832};
  strip.app.journal.clear();
  EXPECT_EQ(strip.Get("/event?type=mousedown&arg1=50&arg2=7"), k404);
  EXPECT_EQ(strip.app.journal.front(), "find Winamp v1.x");
  EXPECT_EQ(strip.main->Docking().Winamp().playlist.rect, (platform::Rect{600, 600, 875, 832}));
  EXPECT_EQ(strip.main->Docking().State().mousePos, (platform::Point{48, 5}));
  EXPECT_TRUE(strip.main->MouseMoveTimer().Enabled());
}

TEST(PageEvents, TwoFailingEventsInARowShowTwoBoxesTheSecondOverTheFirst) {
  Strip strip(/*winamp=*/true);
  strip.app.windows.RemoveWindow(strip.app.windows.FindWindowByClass("Winamp v1.x"));
  int open = 0;
  int mostOpen = 0;
  strip.app.whileBoxOpen = [&](const std::string&) {
    ++open;
    mostOpen = std::max(mostOpen, open);
    // The box's modal loop takes the next event, as a message box's does.
    if (open == 1) strip.app.PumpSent(5000ms);
    --open;
  };
  const auto port = strip.main->HttpServer().ListeningPort();
  const std::string press = "GET /event?type=mousedown&arg1=1&arg2=1 HTTP/1.1\r\n\r\n";
  auto first = std::async(std::launch::async, [&] { return lsvtest::Exchange(port, press); });
  auto second = std::async(std::launch::async, [&] { return lsvtest::Exchange(port, press); });
  while (first.wait_for(0ms) != std::future_status::ready || second.wait_for(0ms) != std::future_status::ready) {
    strip.app.PumpSent(5ms);
  }
  EXPECT_EQ(first.get(), k404);
  EXPECT_EQ(second.get(), k404);
  EXPECT_EQ(strip.app.messages, (std::vector<std::string>{"window not found: Winamp", "window not found: Winamp"}));
  EXPECT_EQ(mostOpen, 2);
}

TEST(PageEvents, WithoutWinampMouseDownBeginsTheDragWithoutALookUp) {
  Strip strip;
  EXPECT_FALSE(strip.main->Docking().Winamp().valid);
  EXPECT_EQ(strip.Get("/event?type=mousedown&arg1=10&arg2=10"), k404);
  EXPECT_TRUE(strip.main->MouseMoveTimer().Enabled());
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
  strip.reset();
  EXPECT_FALSE(messenger->SendPageEvent(1));
}

TEST(PageEvents, A1025ThatNamesNoHandOverIsIgnored) {
  // Any program on the desktop can send the strip a 1025 with any wParam.
  Strip strip;
  TMainForm::COMMAND command{"event", "close", "0", "0"};
  const std::uintptr_t strays[] = {0, 1, 0xDEADBEEF, reinterpret_cast<std::uintptr_t>(&command)};
  for (const std::uintptr_t wParam : strays) {
    EXPECT_TRUE(strip.main->Dispatch(lsv::WM_PAGE_EVENT, wParam, 0)) << wParam;
  }
  EXPECT_TRUE(strip.app.mainForm->Visible());
  EXPECT_TRUE(strip.main->HttpServer().Active());
  EXPECT_EQ(strip.app.mainForm->browser->refreshes, 0);
  EXPECT_TRUE(strip.app.errorBoxes.empty());
  // And the strip still takes the page's events.
  EXPECT_EQ(strip.Get("/event?type=refresh&arg1=0&arg2=0"), k404);
  EXPECT_EQ(strip.app.mainForm->browser->refreshes, 1);
}

TEST(PageEvents, WebSitesCannotDriveTheStrip) {
  // The display page of these strips is served from http://station.example/; the rest of the
  // web must not reach the strip through the user's browser.
  struct Case {
    const char* header;
    bool acts;
  } cases[] = {
      {"", true},
      {"Origin: null", true},
      {"Origin: http://evil.example", false},
      {"Origin: https://evil.example:8443", false},
      {"Origin: HTTP://EVIL.EXAMPLE", false},
      {"Origin: http://127.evil.example", false},
      {"Origin: http://", false},
      {"Origin: http://127.0.0.1:8000", true},
      {"Origin: http://localhost:3000", true},
      {"Origin: http://[::1]", true},
      {"Origin: http://station.example", true},
      {"Origin: http://station.example:80", true},
      {"Origin: https://station.example", false},
      {"Origin: http://station.example:8080", false},
      {"Referer: http://evil.example/page.html", false},
      {"Referer: http://station.example/other.html?x=1", true},
      {"Referer: file:///C:/Program%20Files/LatestSongViewer/RavidiVevo.html", true},
      {"Sec-Fetch-Site: cross-site", false},
      {"Sec-Fetch-Site: same-site", true},
      {"Sec-Fetch-Site: none", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    Strip strip(false, "http://station.example/page.html");
    const std::string header = *c.header ? std::string(c.header) + "\r\n" : "";
    EXPECT_EQ(strip.Request("GET /event?type=refresh&arg1=0&arg2=0 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + header + "\r\n"),
              k404);
    EXPECT_EQ(strip.app.mainForm->browser->refreshes, c.acts ? 1 : 0);
  }
}

TEST(HttpOrigin, SchemeHostAndPortOfHttpUrlsOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"http://Station.Example/page.html", "http://station.example:80"},
      {"https://station.example", "https://station.example:443"},
      {"http://user:pw@host:8080/x", "http://host:8080"},
      {"http://[::1]:22222/event", "http://[::1]:22222"},
      {"http://host:0080/", "http://host:80"},
      {"http://host:99999/", ""},
      {"http://host:x/", ""},
      {"http:///path", ""},
      {"file:///C:/page.html", ""},
      {"C:\\LatestSongViewer\\RavidiVevo.html", ""},
      {"about:blank", ""},
  };
  for (const auto& [url, origin] : cases) EXPECT_EQ(lsv::events::HttpOrigin(url), origin) << url;
}

TEST(PageEvents, ClosingWhileEventsAreInFlightTouchesNothingFreed) {
  // Clients keep sending "refresh" while one sends "close"; the strip is then destroyed at once,
  // as the process would be. A handler still on its way to the window thread must not touch the
  // strip or its messenger after the stop returned (the sanitizer build catches any read).
  const auto limit = std::chrono::steady_clock::now() + 10s;
  int rounds = 0;
  for (; rounds < 300 && std::chrono::steady_clock::now() < limit; ++rounds) {
    auto strip = std::make_unique<Strip>();
    const auto port = strip->main->HttpServer().ListeningPort();
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int i = 0; i < 5; ++i) {
      clients.emplace_back([port, &stop] {
        while (!stop) {
          try {
            lsvtest::Exchange(port, "GET /event?type=refresh&arg1=0&arg2=0 HTTP/1.1\r\n\r\n");
          } catch (const platform::SocketError&) {
          }
        }
      });
    }
    auto closing = std::async(std::launch::async, [port] {
      std::this_thread::sleep_for(2ms);
      return lsvtest::Exchange(port, "GET /event?type=close&arg1=0&arg2=0 HTTP/1.1\r\n\r\n");
    });
    while (strip->app.DrainPosted()) strip->app.PumpSent(1ms);
    strip.reset();
    stop = true;
    for (auto& client : clients) client.join();
    closing.wait();
  }
  EXPECT_GT(rounds, 0);
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
