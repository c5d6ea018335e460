#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "base/messages.h"
#include "platform/headless/headless_application.h"
#include "platform/headless/headless_form.h"
#include "test_support.h"

namespace {

using lsv::app::TMainForm;
using lsv::docking::DockingState;
using lsvutil::CWinamp;
using platform::Point;
using platform::Rect;
using platform::headless::HeadlessApplication;
using platform::headless::HeadlessTimer;

// The strip 275 x 14 with the grab offset (50, 7), a 1280 x 1024 desktop, Winamp's main window at
// 100,100,375,216, the playlist at 100,332,375,564 and the equalizer at 100,216,375,332, all
// visible; video and mini browser hidden.
class DockingTest : public testing::Test {
 protected:
  HeadlessApplication app;
  std::unique_ptr<TMainForm> main;
  platform::WindowHandle mainWindow = nullptr;
  platform::WindowHandle playlist = nullptr;
  platform::WindowHandle video = nullptr;

  DockingTest() {
    lsvtest::UseSystemXml(app);
    mainWindow = app.windows.AddWindow("Winamp v1.x", {100, 100, 375, 216});
    playlist = app.windows.AddWindow("Winamp PE", {100, 332, 375, 564});
    app.windows.AddWindow("Winamp EQ", {100, 216, 375, 332});
    video = app.windows.AddWindow("Winamp Video", {400, 560, 675, 700}, false);
    app.windows.AddWindow("Winamp MB", {0, 0, 1, 1}, false);
    main = std::make_unique<TMainForm>(app, 0);
    main->Docking().Winamp().Refresh();
    Change([](DockingState& s) { s.mousePos = {50, 7}; });
    app.windows.leftButtonDown = true;
  }

  const DockingState& State() { return main->Docking().State(); }
  template <typename F>
  void Change(F change) {
    DockingState state = main->Docking().State();
    change(state);
    main->Docking().SetState(state);
  }

  platform::IForm& Strip() { return main->Form(); }
  void Tick(Point cursor) {
    app.windows.cursor = cursor;
    main->MouseMove_TimerTimer();
  }
  void Notify(unsigned message) { EXPECT_TRUE(main->Dispatch(message, 0, 0)) << message; }
  HeadlessTimer& ChaseTimer() { return lsvtest::Driven(main->ChaseTimer()); }
  void DockBelowPlaylist(Point offset) {
    Change([&](DockingState& s) {
      s.docked = true;
      s.dockedTo = CWinamp::WND_PLAYLIST;
      s.snapBottom = true;
      s.dockOffset = offset;
    });
  }
};

struct Flags {
  bool left, right, top, bottom;
};

struct TickCase {
  const char* name;
  Point cursor;
  Point position;  // Left, Top after the tick
  bool docked;
  int dockedTo;
  Flags flags;
};

void ExpectTick(const DockingState& state, platform::IForm& strip, const TickCase& c) {
  SCOPED_TRACE(c.name);
  EXPECT_EQ((Point{strip.Left(), strip.Top()}), c.position);
  EXPECT_EQ(state.docked, c.docked);
  if (c.docked) {
    EXPECT_EQ(state.dockedTo, c.dockedTo);
  }
  EXPECT_EQ(state.snapLeft, c.flags.left);
  EXPECT_EQ(state.snapRight, c.flags.right);
  EXPECT_EQ(state.snapTop, c.flags.top);
  EXPECT_EQ(state.snapBottom, c.flags.bottom);
}

TEST_F(DockingTest, DraggingAlongThePlaylistsBottomEdge) {
  // Each tick starts from where the one before left the strip.
  const TickCase ticks[] = {
      {"bottom edge of the playlist", {200, 578}, {150, 564}, true, 1, {false, false, false, true}},
      {"left ends aligned while hanging below", {158, 575}, {100, 564}, true, 1, {true, false, false, true}},
      {"pulled up: still aligned on this tick", {158, 560}, {100, 553}, true, 1, {true, false, false, false}},
      {"no longer stacked: free", {158, 560}, {108, 553}, false, 1, {false, false, false, false}},
  };
  const Point offsets[] = {{50, 464}, {0, 464}, {0, 453}, {8, 453}};
  for (std::size_t i = 0; i < std::size(ticks); ++i) {
    Tick(ticks[i].cursor);
    ExpectTick(State(), Strip(), ticks[i]);
    EXPECT_EQ(State().dockOffset, offsets[i]) << ticks[i].name;
  }
}

TEST_F(DockingTest, SingleTicksFromAFreshStrip) {
  const TickCase cases[] = {
      {"9 pixels from the main window's right edge", {434, 150}, {375, 143}, true, 0, {false, true, false, false}},
      {"10 pixels: too far", {435, 150}, {385, 143}, false, 0, {false, false, false, false}},
      {"desktop right edge", {1240, 500}, {1005, 493}, true, 5, {false, true, false, false}},
      {"19 pixels from the desktop's left edge", {69, 500}, {0, 493}, true, 5, {true, false, false, false}},
      {"20 pixels: free", {70, 500}, {20, 493}, false, 0, {false, false, false, false}},
      {"far beyond the top-left corner", {-500, -500}, {0, 0}, true, 5, {true, false, true, false}},
      {"near the hidden video window only", {445, 560}, {395, 553}, false, 0, {false, false, false, false}},
  };
  for (const auto& c : cases) {
    Strip().SetLeft(0);
    Strip().SetTop(0);
    Change([](DockingState& s) { s.snapLeft = s.snapRight = s.snapTop = s.snapBottom = false; });
    Tick(c.cursor);
    ExpectTick(State(), Strip(), c);
  }
}

TEST_F(DockingTest, EachTickMovesTheStripAtMostOnce) {
  // A snap that holds on both axes, a follow step, and a tick that changes nothing.
  const int before = app.mainForm->moves;
  Tick({158, 575});
  EXPECT_EQ(app.mainForm->moves, before + 1);
  Change([](DockingState& s) {
    s.docked = true;
    s.dockedTo = CWinamp::WND_PLAYLIST;
  });
  app.windows.Window(mainWindow).rect = {300, 50, 575, 166};
  main->ChaseWinamp();
  EXPECT_EQ(app.mainForm->moves, before + 2);
  main->ChaseWinamp();
  EXPECT_EQ(app.mainForm->moves, before + 2);
}

TEST(DockingRules, ArePureFunctionsOfStateAndGeometry) {
  using lsv::docking::FollowStep;
  using lsv::docking::SnapToDesktop;
  lsv::docking::DockingState state;
  state.mousePos = {50, 7};
  const lsv::docking::StripGeometry strip{{300, 300}, 275, 14};
  // Near the desktop's left edge the strip is held there; the state says so.
  EXPECT_EQ(SnapToDesktop(state, strip, {0, 0, 1280, 1024}, {60, 300}, 20), (Point{0, 300}));
  EXPECT_TRUE(state.docked && state.snapLeft);
  EXPECT_EQ(state.dockedTo, CWinamp::DOCK_DESKTOP);
  // Docked to the desktop, nothing follows Winamp; docked to a window, the offset is kept.
  EXPECT_EQ(FollowStep(state, {100, 100, 375, 216}), std::nullopt);
  state.dockedTo = CWinamp::WND_PLAYLIST;
  state.dockOffset = {50, 464};
  EXPECT_EQ(FollowStep(state, {300, 50, 575, 166}), (Point{350, 514}));
}

TEST(DockingRules, AStripWhollyOffTheDesktopComesBackToTheNearestPlaceOnIt) {
  using lsv::docking::StayOnDesktop;
  struct Case {
    const char* name;
    Point at;
    Rect desktop;
    Rect workArea;
    std::optional<Point> to;
  };
  const Rect desktop{0, 0, 1280, 1024};
  const Rect work{0, 0, 1280, 984};  // a taskbar along the bottom
  // Two monitors, the left one at negative coordinates.
  const Rect wide{-1920, 0, 1280, 1080};
  const Rect leftWork{-1920, 0, 0, 1040};
  const std::vector<Case> cases = {
      {"off the left edge", {-400, 300}, desktop, work, Point{0, 300}},
      {"off the right edge", {1500, 300}, desktop, work, Point{1280 - 275, 300}},
      {"off the top edge", {300, -100}, desktop, work, Point{300, 0}},
      {"off the bottom edge, above the taskbar", {300, 1100}, desktop, work, Point{300, 984 - 14}},
      {"off the top-left corner", {-5000, -5000}, desktop, work, Point{0, 0}},
      {"off the bottom-right corner", {5000, 5000}, desktop, work, Point{1280 - 275, 984 - 14}},
      {"just touching the left edge", {-274, 300}, desktop, work, std::nullopt},
      {"just touching the bottom edge", {300, 1023}, desktop, work, std::nullopt},
      {"beside the left edge, not touching", {-275, 300}, desktop, work, Point{0, 300}},
      {"wholly on", {500, 500}, desktop, work, std::nullopt},
      {"on the monitor at negative coordinates", {-1000, 500}, wide, leftWork, std::nullopt},
      {"off the monitor at negative coordinates", {-2500, 500}, wide, leftWork, Point{-1920, 500}},
      {"a desktop smaller than the strip", {500, 500}, {0, 0, 200, 10}, {0, 0, 200, 10}, Point{0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(StayOnDesktop({c.at, 275, 14}, c.desktop, c.workArea), c.to);
  }
}

TEST_F(DockingTest, TopEdgesAlignBesideAWindow) {
  Tick({434, 150});
  ASSERT_EQ(Strip().Left(), 375);
  Tick({434, 107});
  EXPECT_EQ((Point{Strip().Left(), Strip().Top()}), (Point{375, 100}));
  EXPECT_TRUE(State().snapRight);
  EXPECT_TRUE(State().snapTop);
  EXPECT_EQ(State().dockOffset, (Point{275, 0}));
}

TEST_F(DockingTest, WithoutAValidWindowSetOnlyTheDesktopHolds) {
  TMainForm fresh(app, 0);
  DockingState state;
  state.mousePos = {50, 7};
  state.dockOffset = {-1, -1};
  fresh.Docking().SetState(state);
  app.windows.cursor = {434, 150};
  fresh.MouseMove_TimerTimer();
  EXPECT_EQ(fresh.Form().Left(), 384);
  EXPECT_FALSE(fresh.Docking().State().docked);
  EXPECT_EQ(fresh.Docking().State().dockOffset, (Point{-1, -1}));
  app.windows.cursor = {1240, 500};
  fresh.MouseMove_TimerTimer();
  EXPECT_EQ(fresh.Form().Left(), 1005);
  EXPECT_EQ(fresh.Docking().State().dockedTo, CWinamp::DOCK_DESKTOP);
}

TEST_F(DockingTest, ReleasedButtonEndsTheDragWithoutMoving) {
  lsvtest::Driven(main->MouseMoveTimer()).SetEnabled(true);
  Change([](DockingState& s) { s.docked = true; });
  app.windows.leftButtonDown = false;
  Tick({700, 700});
  EXPECT_FALSE(main->MouseMoveTimer().Enabled());
  EXPECT_EQ((Point{Strip().Left(), Strip().Top()}), (Point{0, 0}));
  EXPECT_TRUE(State().docked);
}

TEST_F(DockingTest, WindowsThatMoveDuringADragAreSnappedToWhereTheyWere) {
  app.windows.Window(playlist).rect = {600, 600, 875, 832};
  Tick({200, 578});
  EXPECT_EQ(Strip().Top(), 564);
  EXPECT_EQ(State().dockedTo, CWinamp::WND_PLAYLIST);
}

TEST_F(DockingTest, FollowsTheMainWindowWhileWinampMoves) {
  DockBelowPlaylist({50, 464});
  app.windows.Window(mainWindow).rect = {300, 50, 575, 166};
  Notify(lsv::WM_CHASE_START);
  EXPECT_TRUE(ChaseTimer().Tick());
  EXPECT_EQ((Point{Strip().Left(), Strip().Top()}), (Point{350, 514}));
  app.windows.Window(mainWindow).rect = {310, 60, 585, 176};
  Notify(lsv::WM_CHASE_STOP);
  EXPECT_EQ((Point{Strip().Left(), Strip().Top()}), (Point{360, 524}));
  EXPECT_FALSE(ChaseTimer().Enabled());
}

TEST_F(DockingTest, NeverMovesByItselfUnlessDockedToWinamp) {
  struct Case {
    const char* name;
    bool docked;
    int dockedTo;
  } cases[] = {{"docked to the desktop", true, CWinamp::DOCK_DESKTOP}, {"not docked", false, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Change([&](DockingState& s) {
      s.docked = c.docked;
      s.dockedTo = c.dockedTo;
    });
    app.windows.Window(mainWindow).rect = {300, 50, 575, 166};
    Notify(lsv::WM_CHASE_START);
    EXPECT_TRUE(ChaseTimer().Tick());
    EXPECT_EQ((Point{Strip().Left(), Strip().Top()}), (Point{0, 0}));
  }
}

TEST_F(DockingTest, UndockThenChaseStartNoLongerFollows) {
  DockBelowPlaylist({50, 464});
  Notify(lsv::WM_CHASE_START);
  Notify(lsv::WM_UNDOCK);
  EXPECT_FALSE(State().docked);
  EXPECT_FALSE(ChaseTimer().Enabled());
  EXPECT_TRUE(State().snapBottom);  // only the dock is dropped
  app.windows.Window(mainWindow).rect = {300, 50, 575, 166};
  Notify(lsv::WM_CHASE_START);
  ChaseTimer().Tick();
  EXPECT_EQ((Point{Strip().Left(), Strip().Top()}), (Point{0, 0}));
}

TEST_F(DockingTest, FollowStepStaysWhenWinampHasGone) {
  DockBelowPlaylist({50, 464});
  Strip().SetLeft(150);
  Strip().SetTop(564);
  app.windows.RemoveWindow(mainWindow);
  Notify(lsv::WM_CHASE_STOP);
  EXPECT_EQ((Point{Strip().Left(), Strip().Top()}), (Point{150, 564}));
}

TEST_F(DockingTest, RefitToTheNewBottomEdgeOnlyWhenHangingBelow) {
  struct Case {
    const char* name;
    int left;
    bool snapBottom;
    int top;  // after 1032
  } cases[] = {{"hanging below", 100, true, 600},
               {"against the left side", 100 - 275, true, 564},
               {"against the right side", 375, true, 564},
               {"not held at the bottom", 100, false, 564}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    app.windows.Window(playlist).rect = {100, 332, 375, 564};
    main->Docking().Winamp().ReadWindows();
    DockBelowPlaylist({0, 464});
    Change([&](DockingState& s) { s.snapBottom = c.snapBottom; });
    Strip().SetLeft(c.left);
    Strip().SetTop(564);
    app.windows.Window(playlist).rect = {100, 332, 375, 600};
    Notify(lsv::WM_REFIT_BOTTOM);
    EXPECT_EQ(Strip().Top(), c.top);
    EXPECT_EQ(Strip().Left(), c.left);
    EXPECT_EQ(State().dockOffset, (c.top == 600 ? Point{0, 500} : Point{0, 464}));
  }
}

TEST_F(DockingTest, RefitReportsAnUnreadableWindowAndStays) {
  DockBelowPlaylist({0, 464});
  Strip().SetLeft(100);
  Strip().SetTop(564);
  app.windows.Window(playlist).rectReadable = false;
  Notify(lsv::WM_REFIT_BOTTOM);
  EXPECT_EQ(app.messages, std::vector<std::string>{"can not get window rect: PlayList"});
  EXPECT_EQ(Strip().Top(), 564);
  EXPECT_EQ(State().dockOffset, (Point{0, 464}));
}

TEST_F(DockingTest, HookLibraryMessages) {
  // 1028 is taken and does nothing.
  const auto before = app.journal.size();
  Notify(lsv::WM_HOOK_NOTHING);
  EXPECT_EQ(app.journal.size(), before);

  app.journal.clear();
  Notify(lsv::WM_HOOK_REATTACH);
  Notify(lsv::WM_HOOK_DETACH);
  EXPECT_EQ(app.journal, (std::vector<std::string>{"IsHookAttached", "IsHookAttached"}));

  app.hook.AttachHook(main->Handle());
  app.journal.clear();
  Notify(lsv::WM_HOOK_REATTACH);
  EXPECT_EQ(app.journal, (std::vector<std::string>{"IsHookAttached", "DetachHook", "AttachHook"}));
  EXPECT_TRUE(app.hook.attached);
  EXPECT_EQ(app.hook.attachedTo, main->Handle());
  Notify(lsv::WM_HOOK_DETACH);
  EXPECT_FALSE(app.hook.attached);
}

TEST_F(DockingTest, StackingOrderNextToTheMainWindow) {
  main->AppActivate();
  Notify(lsv::WM_RESTACK);
  ASSERT_EQ(app.windows.setWindowPosCalls.size(), 2u);
  EXPECT_EQ(app.windows.setWindowPosCalls[0].window, mainWindow);
  EXPECT_EQ(app.windows.setWindowPosCalls[0].insertAfter, main->Handle());
  EXPECT_EQ(app.windows.setWindowPosCalls[1].window, main->Handle());
  EXPECT_EQ(app.windows.setWindowPosCalls[1].insertAfter, mainWindow);
  for (const auto& call : app.windows.setWindowPosCalls) EXPECT_EQ(call.flags, 0x13u);

  // Without a valid set, activation leaves the order alone; 1033 acts regardless.
  TMainForm fresh(app, 0);
  app.windows.setWindowPosCalls.clear();
  fresh.AppActivate();
  EXPECT_TRUE(app.windows.setWindowPosCalls.empty());
  fresh.Dispatch(lsv::WM_RESTACK, 0, 0);
  ASSERT_EQ(app.windows.setWindowPosCalls.size(), 1u);
  EXPECT_EQ(app.windows.setWindowPosCalls[0].insertAfter, nullptr);
}

}  // namespace
