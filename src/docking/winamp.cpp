#include "docking/winamp.h"

#include "base/exception.h"

namespace lsvutil {

namespace {

struct WindowText {
  const char* notFound;
  const char* rectUnreadable;
};

// Whole literals, never composed: these are the texts the user sees.
constexpr WindowText kWindows[CWinamp::WINDOW_COUNT] = {
    {"window not found: Winamp", "can not get window rect: Winamp"},
    {"window not found: PlayList", "can not get window rect: PlayList"},
    {"window not found: Equalizer", "can not get window rect: Equalizer"},
    {"window not found: Video", "can not get window rect: Video"},
    {"window not found: MiniBrowser", "can not get window rect: MiniBrowser"},
};

}  // namespace

template <typename Self>
auto& CWinamp::RecordOf(Self& self, int index) {
  switch (index) {
    case WND_PLAYLIST:
      return self.playlist;
    case WND_EQUALIZER:
      return self.equalizer;
    case WND_VIDEO:
      return self.video;
    case WND_MINIBROWSER:
      return self.minibrowser;
    default:
      return self.main;
  }
}

CWinamp::WINDOW& CWinamp::Record(int index) { return RecordOf(*this, index); }

CWinamp::CWinamp(platform::IWindowServices& windows) : windows_(windows) {}

CWinamp::~CWinamp() { Clear(); }

void CWinamp::Clear() {
  valid = false;
  for (int i = 0; i < WINDOW_COUNT; ++i) Record(i) = WINDOW{};
}

void CWinamp::FindWindows() {
  for (int i = 0; i < WINDOW_COUNT; ++i) {
    WINDOW& record = Record(i);
    record.hwnd = windows_.FindWindowByClass(lsv::kWinampWindowClasses[i]);
    if (record.hwnd == nullptr) throw lsv::CException(kWindows[i].notFound);
  }
}

void CWinamp::ReadWindows() {
  for (int i = 0; i < WINDOW_COUNT; ++i) {
    WINDOW& record = Record(i);
    platform::Rect rect;
    if (!windows_.GetWindowRect(record.hwnd, rect)) throw lsv::CException(kWindows[i].rectUnreadable);
    record.rect = rect;
    record.visible = windows_.IsWindowVisible(record.hwnd);
  }
}

void CWinamp::Refresh() {
  FindWindows();
  ReadWindows();
  valid = true;
}

CWinamp::WINDOW CWinamp::GetWindow(int index) const { return RecordOf(*this, index); }

}  // namespace lsvutil
