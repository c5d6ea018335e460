// The strip's own work per drag tick and per follow step, natively: the snap rules and the moves,
// without the cost of the window system (the desktop here is a fixed table answering at once).
// On Windows a tick adds a GetCursorPos, a GetKeyState and two window moves to these figures;
// bench/wine_docking.py measures the whole path under Wine.
// Usage: docking_bench [Google Benchmark flags]

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "app/main_form.h"
#include "platform/headless/headless_application.h"
#include "platform/headless/libxml2_document.h"

namespace {

using lsv::app::TMainForm;
using lsvutil::CWinamp;
using platform::Point;
using platform::Rect;
using platform::WindowHandle;

// Winamp's five windows at fixed places (main, equalizer and playlist stacked and visible, video
// and mini browser hidden) on a 1280 x 1024 desktop; reads cost a table look-up and nothing is
// recorded, so the figures are the strip's alone.
class StillDesktop : public platform::IWindowServices {
 public:
  struct Window {
    const char* className;
    Rect rect;
    bool visible;
  };
  std::array<Window, 5> windows{{{"Winamp v1.x", {100, 100, 375, 216}, true},
                                 {"Winamp EQ", {100, 216, 375, 332}, true},
                                 {"Winamp PE", {100, 332, 375, 564}, true},
                                 {"Winamp Video", {400, 560, 675, 700}, false},
                                 {"Winamp MB", {0, 0, 1, 1}, false}}};
  Point cursor{0, 0};
  bool winampRunning = true;

  WindowHandle FindWindowByClass(const char* className) override {
    if (!winampRunning) return nullptr;
    for (Window& w : windows) {
      if (std::string_view(w.className) == className) return &w;
    }
    return nullptr;
  }
  bool GetWindowRect(WindowHandle window, Rect& rect) override {
    rect = static_cast<Window*>(window)->rect;
    return true;
  }
  bool IsWindowVisible(WindowHandle window) override { return static_cast<Window*>(window)->visible; }
  Point GetCursorPos() override { return cursor; }
  std::int16_t GetKeyState(int) override { return static_cast<std::int16_t>(0x8000); }  // button held
  int GetSystemMetrics(int index) override {
    switch (index) {
      case platform::kSmCxVirtualScreen:
        return 1280;
      case platform::kSmCyVirtualScreen:
        return 1024;
      default:
        return 0;
    }
  }
  void SetWindowPos(WindowHandle, WindowHandle, int, int, int, int, unsigned) override {}
  Rect WorkAreaNearest(const Rect&) override { return {0, 0, 1280, 1024}; }
};

class BenchApplication : public platform::headless::HeadlessApplication {
 public:
  StillDesktop desktop;
  platform::IWindowServices& WindowServices() override { return desktop; }
};

struct Strip {
  BenchApplication app;
  std::unique_ptr<TMainForm> main;

  explicit Strip(bool winampRunning) {
    app.xmlDocumentFactory = [] { return platform::headless::CreateLibxml2Document(); };
    app.desktop.winampRunning = winampRunning;
    main = std::make_unique<TMainForm>(app, 0);
    if (winampRunning) main->Docking().Winamp().Refresh();
    lsv::docking::DockingState state;
    state.mousePos = {50, 7};
    main->Docking().SetState(state);
  }
};

// Each benchmark alternates between two cursor positions, so every tick moves the strip. The
// first tick is checked, so a figure never describes a case other than the one named.
void Drag(benchmark::State& state, bool winampRunning, Point a, Point b, bool snaps) {
  Strip strip(winampRunning);
  strip.app.desktop.cursor = a;
  strip.main->MouseMove_TimerTimer();
  const lsv::docking::DockingState& m = strip.main->Docking().State();
  if ((m.snapLeft || m.snapRight || m.snapTop || m.snapBottom) != snaps) {
    state.SkipWithError(snaps ? "the strip did not snap" : "the strip snapped");
    return;
  }
  bool flip = false;
  for (auto _ : state) {
    strip.app.desktop.cursor = flip ? a : b;
    flip = !flip;
    strip.main->MouseMove_TimerTimer();
    benchmark::DoNotOptimize(strip.main->Docking().State().dockOffset);
  }
}

// In the open, far from every edge: all five windows and the desktop are tried, none holds.
void BM_DragTickFree(benchmark::State& state) { Drag(state, true, {700, 700}, {703, 702}, false); }
// Just below the playlist: the strip snaps to its bottom edge and aligns with its left edge.
void BM_DragTickSnapping(benchmark::State& state) { Drag(state, true, {152, 576}, {155, 578}, true); }
// No Winamp: only the desktop's edges are tried.
void BM_DragTickWithoutWinamp(benchmark::State& state) { Drag(state, false, {700, 700}, {703, 702}, false); }

// The follow step: read the main window, move the strip to the kept offset from it.
void BM_FollowStep(benchmark::State& state) {
  Strip strip(true);
  lsv::docking::DockingState docked = strip.main->Docking().State();
  docked.docked = true;
  docked.dockedTo = CWinamp::WND_PLAYLIST;
  docked.dockOffset = {50, 464};
  strip.main->Docking().SetState(docked);
  Rect& mainRect = strip.app.desktop.windows[0].rect;
  int step = 0;
  for (auto _ : state) {
    mainRect.left = 100 + (step & 1);
    ++step;
    strip.main->ChaseWinamp();
    benchmark::DoNotOptimize(strip.main->Form().Left());
  }
}

// One look for Winamp while it is not running, as the strip makes once a second until Winamp
// starts: one window look-up that finds nothing.
void BM_WinampLookupWithoutWinamp(benchmark::State& state) {
  Strip strip(false);
  for (auto _ : state) {
    strip.main->WinampLookup_TimerTimer();
    benchmark::DoNotOptimize(strip.main->Docking().Winamp().valid);
  }
}

BENCHMARK(BM_DragTickFree);
BENCHMARK(BM_DragTickSnapping);
BENCHMARK(BM_DragTickWithoutWinamp);
BENCHMARK(BM_FollowStep);
BENCHMARK(BM_WinampLookupWithoutWinamp);

}  // namespace

BENCHMARK_MAIN();
