#include "docking/winamp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/exception.h"
#include "platform/headless/headless_window_services.h"

namespace {

using lsvutil::CWinamp;
using platform::headless::HeadlessWindowServices;

class WinampTest : public testing::Test {
 protected:
  platform::headless::Journal journal;
  HeadlessWindowServices windows{journal};

  void AddAll() {
    windows.AddWindow("Winamp v1.x", {100, 100, 375, 216});
    windows.AddWindow("Winamp PE", {100, 332, 375, 564});
    windows.AddWindow("Winamp EQ", {100, 216, 375, 332});
    windows.AddWindow("Winamp Video", {0, 0, 10, 10}, false);
    windows.AddWindow("Winamp MB", {0, 0, 20, 20}, false);
  }

  static std::string Raised(CWinamp& winamp) {
    try {
      winamp.Refresh();
    } catch (const lsv::CException& e) {
      return e.GetText();
    }
    return "";
  }
};

TEST_F(WinampTest, RefreshLooksAllUpBeforeReadingAnyAndBecomesValid) {
  AddAll();
  CWinamp winamp(windows);
  winamp.Refresh();
  EXPECT_TRUE(winamp.valid);
  const std::vector<std::string> expected = {
      "find Winamp v1.x", "find Winamp PE",    "find Winamp EQ",    "find Winamp Video", "find Winamp MB",
      "rect Winamp v1.x", "visible Winamp v1.x", "rect Winamp PE",  "visible Winamp PE", "rect Winamp EQ",
      "visible Winamp EQ", "rect Winamp Video", "visible Winamp Video", "rect Winamp MB", "visible Winamp MB"};
  EXPECT_EQ(journal, expected);
  EXPECT_EQ(winamp.GetWindow(CWinamp::WND_PLAYLIST).rect, (platform::Rect{100, 332, 375, 564}));
  EXPECT_FALSE(winamp.GetWindow(CWinamp::WND_VIDEO).visible);  // hidden windows are found and read all the same
  EXPECT_TRUE(winamp.GetWindow(CWinamp::WND_MAIN).visible);
}

TEST_F(WinampTest, MissingWindowStoresNullHandleRaisesAndStopsTheLookUp) {
  const auto main = windows.AddWindow("Winamp v1.x", {1, 1, 2, 2});
  windows.AddWindow("Winamp PE", {1, 1, 2, 2});
  windows.AddWindow("Winamp EQ", {1, 1, 2, 2});
  windows.AddWindow("Winamp MB", {1, 1, 2, 2});
  CWinamp winamp(windows);
  winamp.video.hwnd = reinterpret_cast<platform::WindowHandle>(0xdead);
  winamp.minibrowser.hwnd = reinterpret_cast<platform::WindowHandle>(0xbeef);

  EXPECT_EQ(Raised(winamp), "window not found: Video");
  EXPECT_EQ(winamp.main.hwnd, main);
  EXPECT_EQ(winamp.video.hwnd, nullptr);  // stored before the raise
  EXPECT_EQ(winamp.minibrowser.hwnd, reinterpret_cast<platform::WindowHandle>(0xbeef));
  EXPECT_FALSE(winamp.valid);
  EXPECT_EQ(journal.back(), "find Winamp Video");  // no rectangle was read, the mini browser never looked up
}

TEST_F(WinampTest, EachWindowHasItsOwnTexts) {
  const char* classes[] = {"Winamp v1.x", "Winamp PE", "Winamp EQ", "Winamp Video", "Winamp MB"};
  const char* names[] = {"Winamp", "PlayList", "Equalizer", "Video", "MiniBrowser"};
  for (int missing = 0; missing < 5; ++missing) {
    platform::headless::Journal j;
    HeadlessWindowServices w{j};
    std::vector<platform::WindowHandle> handles;
    for (int i = 0; i < 5; ++i) {
      if (i != missing) handles.push_back(w.AddWindow(classes[i], {0, 0, 1, 1}));
    }
    CWinamp winamp(w);
    try {
      winamp.Refresh();
      ADD_FAILURE() << "no error for " << classes[missing];
    } catch (const lsv::CException& e) {
      EXPECT_EQ(e.GetText(), std::string("window not found: ") + names[missing]);
    }
  }
  for (int unreadable = 0; unreadable < 5; ++unreadable) {
    platform::headless::Journal j;
    HeadlessWindowServices w{j};
    for (int i = 0; i < 5; ++i) {
      const auto h = w.AddWindow(classes[i], {0, 0, 1, 1});
      if (i == unreadable) w.Window(h).rectReadable = false;
    }
    CWinamp winamp(w);
    try {
      winamp.Refresh();
      ADD_FAILURE() << "no error for " << classes[unreadable];
    } catch (const lsv::CException& e) {
      EXPECT_EQ(e.GetText(), std::string("can not get window rect: ") + names[unreadable]);
    }
  }
}

TEST_F(WinampTest, FailedRefreshLeavesAValidSetValid) {
  AddAll();
  CWinamp winamp(windows);
  winamp.Refresh();
  const auto playlist = windows.FindWindowByClass("Winamp PE");
  windows.Window(playlist).rectReadable = false;
  windows.Window(windows.FindWindowByClass("Winamp v1.x")).rect = {5, 5, 6, 6};
  EXPECT_EQ(Raised(winamp), "can not get window rect: PlayList");
  EXPECT_TRUE(winamp.valid);
  EXPECT_EQ(winamp.main.rect, (platform::Rect{5, 5, 6, 6}));  // read before the failing window
  EXPECT_EQ(winamp.equalizer.rect, (platform::Rect{100, 216, 375, 332}));  // after it: kept
}

TEST_F(WinampTest, GetWindowSelectsMainForEveryIndexOutsideOneToFour) {
  AddAll();
  CWinamp winamp(windows);
  winamp.Refresh();
  for (int index : {0, 5, -1, 7, 1000}) {
    EXPECT_EQ(winamp.GetWindow(index).hwnd, winamp.main.hwnd) << index;
  }
  EXPECT_EQ(winamp.GetWindow(4).hwnd, winamp.minibrowser.hwnd);
  EXPECT_EQ(winamp.GetWindow(2).hwnd, winamp.equalizer.hwnd);
}

TEST_F(WinampTest, StartsClearedAndInvalid) {
  CWinamp winamp(windows);
  EXPECT_FALSE(winamp.valid);
  for (int i = 0; i < 5; ++i) {
    const auto w = winamp.GetWindow(i);
    EXPECT_EQ(w.hwnd, nullptr);
    EXPECT_EQ(w.rect, platform::Rect{});
    EXPECT_FALSE(w.visible);
  }
}

}  // namespace
