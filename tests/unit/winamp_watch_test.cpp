#include "winamp_watch.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/winamp_windows.h"

namespace {

using hook::Millis;
using hook::WinampLook;
using hook::WinampWatch;

constexpr unsigned kStart = lsv::WM_CHASE_START;
constexpr unsigned kStop = lsv::WM_CHASE_STOP;
constexpr unsigned kUndock = lsv::WM_UNDOCK;
constexpr unsigned kDetach = lsv::WM_HOOK_DETACH;
constexpr unsigned kRefit = lsv::WM_REFIT_BOTTOM;
constexpr unsigned kRestack = lsv::WM_RESTACK;

constexpr int kMain = lsv::kWinampMain;
constexpr int kPlaylist = lsv::kWinampPlaylist;
constexpr int kEqualizer = lsv::kWinampEqualizer;
constexpr int kVideo = lsv::kWinampVideo;

// A usual session: main, equalizer and playlist stacked and shown, video and mini browser hidden.
WinampLook UsualWinamp() {
  WinampLook look;
  const platform::Rect rects[] = {
      {100, 100, 375, 216}, {100, 332, 375, 564}, {100, 216, 375, 332}, {400, 100, 675, 332}, {400, 332, 675, 564}};
  for (int i = 0; i < lsv::kWinampWindowCount; ++i) look.windows[i] = {static_cast<std::uintptr_t>(i + 1), rects[i]};
  look.mainVisible = true;
  return look;
}

using Change = std::function<void(WinampLook&)>;

Change Nothing() {
  return [](WinampLook&) {};
}
Change Move(int index, int dx, int dy) {
  return [=](WinampLook& l) {
    auto& r = l.windows[index].rect;
    r = {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
  };
}
Change Grow(int index, int dw, int dh) {
  return [=](WinampLook& l) {
    l.windows[index].rect.right += dw;
    l.windows[index].rect.bottom += dh;
  };
}
// Dragging the top-left corner: position and size change together.
Change GrowFromTopLeft(int index, int d) {
  return [=](WinampLook& l) {
    l.windows[index].rect.left -= d;
    l.windows[index].rect.top -= d;
  };
}
Change ShowMain(bool visible) {
  return [=](WinampLook& l) { l.mainVisible = visible; };
}
// Windows parks a minimised window off-screen at its icon size.
Change Minimize() {
  return [](WinampLook& l) {
    l.mainMinimized = true;
    l.windows[kMain].rect = {-32000, -32000, -31840, -31976};
  };
}
Change RestoreAt(platform::Rect rect) {
  return [=](WinampLook& l) {
    l.mainMinimized = false;
    l.windows[kMain].rect = rect;
  };
}
Change Foreground(bool main) {
  return [=](WinampLook& l) { l.mainIsForeground = main; };
}
Change Remove(int index) {
  return [=](WinampLook& l) {
    l.windows[index] = {};
    if (index == kMain) l.mainIsForeground = l.mainVisible = false;
  };
}
// The same class with a new window, e.g. Winamp restarted or the video window made again.
Change Recreate(int index, std::uintptr_t id, platform::Rect rect) {
  return [=](WinampLook& l) {
    l.windows[index] = {id, rect};
    if (index == kMain) l.mainVisible = true;
  };
}
Change Both(Change a, Change b) {
  return [=](WinampLook& l) {
    a(l);
    b(l);
  };
}

struct Step {
  int timeMs;
  Change change;
  std::vector<unsigned> expected;
};

struct Case {
  std::string name;
  std::vector<Step> steps;  // the first one is the baseline
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"a drag starts once and stops after the settle time",
       {{0, Nothing(), {}},
        {10, Move(kMain, 5, 0), {kStart}},
        {20, Move(kMain, 5, 3), {}},
        {30, Move(kMain, 0, -2), {}},
        {129, Nothing(), {}},
        {130, Nothing(), {kStop}},
        {140, Nothing(), {}},
        {400, Nothing(), {}}}},
      {"a drag resumed after settling starts again",
       {{0, Nothing(), {}},
        {10, Move(kMain, 1, 1), {kStart}},
        {110, Nothing(), {kStop}},
        {120, Move(kMain, 1, 1), {kStart}},
        {220, Nothing(), {kStop}}}},
      {"only the main window's position starts a chase",
       {{0, Nothing(), {}},
        {10, Move(kPlaylist, 30, 30), {}},
        {20, Move(kEqualizer, -5, 0), {}},
        {30, Move(kVideo, 1, 0), {}},
        {200, Nothing(), {}}}},
      {"any window's size change asks for a refit, once per look",
       {{0, Nothing(), {}},
        {10, Grow(kPlaylist, 0, 40), {kRefit}},
        {20, Nothing(), {}},
        {30, Grow(kMain, 10, 0), {kRefit}},
        {40, Both(Grow(kPlaylist, 0, 1), Grow(kEqualizer, 1, 0)), {kRefit}},
        {50, Grow(kVideo, 5, 5), {kRefit}}}},
      {"moving and resizing in one look report both",
       {{0, Nothing(), {}}, {10, GrowFromTopLeft(kMain, 8), {kStart, kRefit}}, {110, Nothing(), {kStop}}}},
      {"minimising lets go, and neither minimising nor restoring is a move or a resize",
       {{0, Nothing(), {}},
        {10, Minimize(), {kUndock}},
        {20, Nothing(), {}},
        {500, RestoreAt({150, 120, 425, 236}), {}},
        {510, Move(kMain, 1, 0), {kStart}}}},
      {"hiding lets go, and showing elsewhere is no move",
       {{0, Nothing(), {}},
        {10, ShowMain(false), {kUndock}},
        {20, Move(kMain, 50, 0), {}},
        {30, ShowMain(true), {}},
        {40, Nothing(), {}}}},
      {"letting go mid-drag needs no stop",
       {{0, Nothing(), {}}, {10, Move(kMain, 4, 4), {kStart}}, {20, ShowMain(false), {kUndock}}, {300, Nothing(), {}}}},
      {"closing lets go and detaches, and a Winamp started again is only a new baseline",
       {{0, Nothing(), {}},
        {10, Remove(kMain), {kUndock, kDetach}},
        {20, Nothing(), {}},
        {30, Recreate(kMain, 77, {0, 0, 275, 116}), {}},
        {40, Move(kMain, 3, 0), {kStart}}}},
      {"closing mid-drag lets go without a stop",
       {{0, Nothing(), {}},
        {10, Move(kMain, 2, 0), {kStart}},
        {20, Remove(kMain), {kUndock, kDetach}},
        {300, Nothing(), {}}}},
      {"closing a window already let go only detaches",
       {{0, Nothing(), {}}, {10, ShowMain(false), {kUndock}}, {20, Remove(kMain), {kDetach}}}},
      {"a restart between two looks is a close",
       {{0, Nothing(), {}}, {10, Recreate(kMain, 99, {100, 100, 375, 216}), {kUndock, kDetach}}, {20, Nothing(), {}}}},
      {"a window that appears or is made again is no resize",
       {{0, Remove(kVideo), {}},
        {10, Recreate(kVideo, 50, {0, 0, 300, 300}), {}},
        {20, Recreate(kVideo, 51, {0, 0, 10, 10}), {}},
        {30, Remove(kPlaylist), {}}}},
      {"coming to the front is reported on the transition only",
       {{0, Nothing(), {}},
        {10, Foreground(true), {kRestack}},
        {20, Nothing(), {}},
        {30, Foreground(false), {}},
        {40, Both(Foreground(true), Move(kMain, 0, 9)), {kStart, kRestack}}}},
      {"the state at the first look is never reported",
       {{0, Both(Foreground(true), Minimize()), {}}, {10, Nothing(), {}}, {20, Foreground(false), {}}}},
      {"without Winamp nothing is reported until it is there",
       {{0, Both(Remove(kMain), Remove(kPlaylist)), {}},
        {10, Nothing(), {}},
        {20, Recreate(kMain, 60, {0, 0, 275, 116}), {}},
        {30, Foreground(true), {kRestack}},
        {40, Remove(kMain), {kUndock, kDetach}},
        {50, Both(Recreate(kMain, 61, {0, 0, 275, 116}), Foreground(true)), {kRestack}}}},
  };
  return cases;
}

TEST(WinampWatchTest, SequencesOfLooksPostTheExpectedMessages) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    WinampWatch watch;
    WinampLook look = UsualWinamp();
    for (const Step& step : c.steps) {
      SCOPED_TRACE("at " + std::to_string(step.timeMs) + " ms");
      step.change(look);
      look.time = Millis{step.timeMs};
      EXPECT_EQ(watch.Step(look), step.expected);
    }
  }
}

TEST(WinampWatchTest, ResetMakesTheNextLookABaselineAndForgetsADrag) {
  WinampWatch watch;
  WinampLook look = UsualWinamp();
  watch.Step(look);
  Move(kMain, 5, 5)(look);
  look.time = Millis{10};
  ASSERT_EQ(watch.Step(look), std::vector<unsigned>{kStart});

  watch.Reset();
  // Everything differs from before the reset, yet nothing is reported, not even the stop.
  Move(kMain, 5, 5)(look);
  Grow(kPlaylist, 0, 20)(look);
  look.mainIsForeground = true;
  look.time = Millis{500};
  EXPECT_EQ(watch.Step(look), std::vector<unsigned>{});
  look.time = Millis{700};
  EXPECT_EQ(watch.Step(look), std::vector<unsigned>{});
  EXPECT_FALSE(watch.Moving());
  Move(kMain, 1, 0)(look);
  look.time = Millis{710};
  EXPECT_EQ(watch.Step(look), std::vector<unsigned>{kStart});
}

TEST(WinampWatchTest, PollsFastWhileThingsChangeAndSlowlyWhenStill) {
  // (time of the look, change, delay asked for afterwards)
  const struct {
    int timeMs;
    Change change;
    Millis delay;
  } steps[] = {
      {0, Nothing(), hook::kMovingPollInterval},  // just attached: a drag may be under way
      {999, Nothing(), hook::kMovingPollInterval},
      {1000, Nothing(), hook::kStillPollInterval},
      {1500, Grow(kPlaylist, 0, 1), hook::kMovingPollInterval},
      {2499, Nothing(), hook::kMovingPollInterval},
      {2500, Nothing(), hook::kStillPollInterval},
      {2600, Foreground(true), hook::kMovingPollInterval},
      {3600, Nothing(), hook::kStillPollInterval},
      {3700, Move(kMain, 1, 0), hook::kMovingPollInterval},
  };
  static_assert(hook::kMovingPollInterval < hook::kStillPollInterval);
  WinampWatch watch;
  WinampLook look = UsualWinamp();
  for (const auto& step : steps) {
    SCOPED_TRACE("at " + std::to_string(step.timeMs) + " ms");
    step.change(look);
    look.time = Millis{step.timeMs};
    watch.Step(look);
    EXPECT_EQ(watch.NextPollDelay(), step.delay);
  }
}

}  // namespace
