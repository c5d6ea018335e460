// Measures how long the strip takes to follow the stand-in Winamp's main window, from inside Wine
// where the clock and the window reads are fine-grained (a probe run per look would add a process
// start to every sample). The strip must already be docked; its offset from the main window at the
// start is the one every move must keep.
//
//   follow_lag MOVES PAUSE_MS
//
// Each move shifts the main window 3 pixels along a lane (back and forth within the screen) through
// the stand-in's "move" command, sent synchronously so that the window has moved when the call
// returns. The clock starts there and stops when the strip's rectangle shows the kept offset; then
// the tool waits PAUSE_MS before the next move. A long pause measures a move that starts from
// stillness, a short one moves made while the strip is following already. Prints one line of JSON:
//   {"moves":N,"pause_ms":P,"lags_ms":[...],"missed":M}
// where a move that the strip did not follow within 2 s is counted as missed and has no lag.
// Exit code 0 when it measured, 1 when the strip or the stand-in was not found, 2 for a bad
// command line.

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "standin_protocol.h"

namespace {

constexpr wchar_t kStripTitle[] = L"Velkor Latest Song Viewer";
constexpr LONG kStepPixels = 3;
constexpr LONG kLaneStart = 100;
constexpr LONG kLaneEnd = 700;
constexpr double kGiveUpMs = 2000.0;

double NowMs() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency);
}

bool SendStandin(HWND control, const std::wstring& command) {
  COPYDATASTRUCT data{};
  data.dwData = standin::kCommandTag;
  data.cbData = static_cast<DWORD>(command.size() * sizeof(wchar_t));
  data.lpData = const_cast<wchar_t*>(command.data());
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(control, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                             standin::kReplyTimeoutMs, &result) != 0 &&
         result != 0;
}

// WriteFile, not the C runtime, like the probe: the bytes reach a file unchanged.
void Print(const std::string& line) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

int Fail(const std::string& error, int code) {
  Print("{\"error\":\"" + error + "\"}\n");
  return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return Fail("usage: follow_lag MOVES PAUSE_MS", 2);
  const long moves = std::wcstol(argv[1], nullptr, 10);
  const long pauseMs = std::wcstol(argv[2], nullptr, 10);
  if (moves <= 0 || pauseMs < 0) return Fail("bad numbers", 2);

  HWND control = FindWindowExW(HWND_MESSAGE, nullptr, standin::kControlClass, nullptr);
  HWND main = FindWindowW(std::wstring(standin::kWindowKinds[0].className).c_str(), nullptr);
  HWND strip = FindWindowW(nullptr, kStripTitle);
  if (control == nullptr || main == nullptr || strip == nullptr) return Fail("stand-in or strip not found", 1);
  RECT mainRect{};
  RECT stripRect{};
  if (!GetWindowRect(main, &mainRect) || !GetWindowRect(strip, &stripRect)) return Fail("no rectangle", 1);
  const LONG offsetX = stripRect.left - mainRect.left;
  const LONG offsetY = stripRect.top - mainRect.top;

  std::vector<double> lags;
  long missed = 0;
  LONG x = mainRect.left;
  LONG direction = kStepPixels;
  for (long i = 0; i < moves; ++i) {
    if (x + direction < kLaneStart || x + direction > kLaneEnd) direction = -direction;
    x += direction;
    if (!SendStandin(control, L"move main " + std::to_wstring(x) + L" " + std::to_wstring(mainRect.top))) {
      return Fail("the stand-in refused a move", 1);
    }
    const double moved = NowMs();
    bool followed = false;
    while (NowMs() - moved < kGiveUpMs) {
      RECT now{};
      if (GetWindowRect(strip, &now) && now.left == x + offsetX && now.top == mainRect.top + offsetY) {
        lags.push_back(NowMs() - moved);
        followed = true;
        break;
      }
      // Sleep(1) rather than spinning: the tool shares the machine with the strip it measures.
      Sleep(1);
    }
    if (!followed) ++missed;
    Sleep(static_cast<DWORD>(pauseMs));
  }

  std::string out =
      "{\"moves\":" + std::to_string(moves) + ",\"pause_ms\":" + std::to_string(pauseMs) + ",\"lags_ms\":[";
  for (size_t i = 0; i < lags.size(); ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%s%.3f", i ? "," : "", lags[i]);
    out += buf;
  }
  out += "],\"missed\":" + std::to_string(missed) + "}\n";
  Print(out);
  return 0;
}
