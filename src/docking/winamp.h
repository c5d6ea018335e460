#pragma once

#include "base/winamp_windows.h"
#include "platform/types.h"
#include "platform/window_services.h"

namespace lsvutil {

// A snapshot of Winamp's five top-level windows: handle, rectangle and visibility, taken when
// asked. Nothing keeps it up to date in between. The handles belong to Winamp and are never closed.
class CWinamp {
 public:
  struct WINDOW {
    platform::WindowHandle hwnd = nullptr;
    platform::Rect rect;
    bool visible = false;
  };

  static constexpr int WND_MAIN = lsv::kWinampMain;
  static constexpr int WND_PLAYLIST = lsv::kWinampPlaylist;
  static constexpr int WND_EQUALIZER = lsv::kWinampEqualizer;
  static constexpr int WND_VIDEO = lsv::kWinampVideo;
  static constexpr int WND_MINIBROWSER = lsv::kWinampMiniBrowser;
  static constexpr int WINDOW_COUNT = lsv::kWinampWindowCount;
  // Not a window: the docking state's "held at a desktop edge".
  static constexpr int DOCK_DESKTOP = 5;

  explicit CWinamp(platform::IWindowServices& windows);
  CWinamp(const CWinamp&) = delete;
  CWinamp& operator=(const CWinamp&) = delete;
  virtual ~CWinamp();

  // Looks the five windows up by class, in index order; stores each handle, a null one too,
  // and raises "window not found: ..." at the first that is missing.
  void FindWindows();
  // Reads rectangle then visibility of each stored handle in index order; raises
  // "can not get window rect: ..." at the first rectangle that cannot be read.
  void ReadWindows();
  // FindWindows, ReadWindows, then valid. A failure leaves valid as it was.
  void Refresh();
  // A copy of one record: 1 to 4 select their window, every other index the main window.
  WINDOW GetWindow(int index) const;

  bool valid = false;
  WINDOW main;
  WINDOW playlist;
  WINDOW equalizer;
  WINDOW video;
  WINDOW minibrowser;

 private:
  // One switch for both constnesses.
  template <typename Self>
  static auto& RecordOf(Self& self, int index);
  WINDOW& Record(int index);
  void Clear();

  platform::IWindowServices& windows_;
};

}  // namespace lsvutil
