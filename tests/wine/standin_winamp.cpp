// A stand-in for Winamp in integration tests: it registers Winamp's five window classes and
// creates one top-level window of each, so that the product finds "Winamp" without Winamp.
//
// Command line (NAME is a short name - main, playlist, equalizer, video, minibrowser - or the
// window class, e.g. "Winamp PE"):
//   --rect NAME l,t,r,b   outer rectangle of that window (right and bottom one past the last pixel)
//   --without NAME        do not register that class nor create its window
//   --hidden NAME         create the window without showing it
//   --shown NAME          show a window that is hidden by default
// Defaults: main 100,100,375,216; equalizer 100,216,375,332; playlist 100,332,375,564; video
// 400,100,675,332 and minibrowser 400,332,675,564, both hidden (as in a usual Winamp session).
//
// Commands at run time: WM_COPYDATA, sent (not posted, so the sender knows the change is done
// when the call returns) to the message-only window of class standin::kControlClass, with dwData
// standin::kCommandTag and lpData the command as UTF-16 text (cbData bytes, no terminator needed).
// The reply is the LRESULT: 0 for an unknown or failed command, non-zero when done.
//   move NAME x y          move the outer top-left corner, size unchanged
//   size NAME w h          resize, top-left unchanged
//   rect NAME l t r b      move and resize at once
//   hide NAME / show NAME  hide, or show without activating
//   front NAME             bring to the top of the stacking order and make it the foreground window
//   destroy NAME           destroy the window (its class stays registered): "Winamp closed it"
//   create NAME            create the window again at its last rectangle, shown
//   msgbox plain|error TEXT   open a message box (for checking the probe itself)
//   popup x y ITEM|ITEM|-|ITEM   open a popup menu there, "-" being a separator (same purpose)
//   last-result            1 + the result of the last message box or menu (1: none yet or none
//                          chosen; for a menu, 1 + the 1-based position of the chosen item)
//   quit                   destroy every window and end with exit code 0
// Message boxes and menus are modal, so they are opened from a posted message after the reply.

#include <windows.h>
// shellapi.h needs the types of windows.h before it.
#include <shellapi.h>

#include <array>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "standin_protocol.h"
#include "unique_handle.h"

namespace {

using testtools::UniqueHandle;
using Brush = UniqueHandle<HBRUSH, nullptr, DeleteObject>;
using Menu = UniqueHandle<HMENU, nullptr, DestroyMenu>;

constexpr UINT kOpenModal = WM_APP + 1;

struct WindowState {
  bool wanted = true;
  bool visible = true;
  RECT rect{};
  HWND hwnd = nullptr;
  COLORREF colour = 0;
};

struct ModalRequest {
  enum class Kind { MessageBox, Menu } kind = Kind::MessageBox;
  UINT boxStyle = MB_OK;
  std::wstring text;
  POINT at{};
  std::vector<std::wstring> items;
};

HINSTANCE gInstance = nullptr;
std::array<WindowState, standin::kWindowKindCount> gWindows;
HWND gControl = nullptr;
std::optional<ModalRequest> gPendingModal;
LRESULT gLastResult = 1;

std::vector<std::wstring> SplitWords(std::wstring_view text) {
  std::vector<std::wstring> words;
  std::wistringstream in{std::wstring(text)};
  std::wstring word;
  while (in >> word) words.push_back(word);
  return words;
}

// The rest of the text after skipping `count` words, so a message text keeps its own spaces.
std::wstring RestAfterWords(std::wstring_view text, int count) {
  size_t pos = 0;
  for (int i = 0; i < count; ++i) {
    pos = text.find_first_not_of(L' ', pos);
    if (pos == std::wstring_view::npos) return {};
    pos = text.find(L' ', pos);
    if (pos == std::wstring_view::npos) return {};
  }
  pos = text.find_first_not_of(L' ', pos);
  return pos == std::wstring_view::npos ? std::wstring{} : std::wstring(text.substr(pos));
}

std::optional<long> ParseInt(const std::wstring& s) {
  if (s.empty()) return std::nullopt;
  wchar_t* end = nullptr;
  long value = std::wcstol(s.c_str(), &end, 10);
  if (end == nullptr || *end != L'\0') return std::nullopt;
  return value;
}

std::optional<RECT> ParseRect(const std::wstring& s) {
  RECT r{};
  long* parts[] = {&r.left, &r.top, &r.right, &r.bottom};
  std::wistringstream in(s);
  std::wstring piece;
  int n = 0;
  while (std::getline(in, piece, L',')) {
    if (n == 4) return std::nullopt;
    auto v = ParseInt(piece);
    if (!v) return std::nullopt;
    *parts[n++] = *v;
  }
  if (n != 4) return std::nullopt;
  return r;
}

void DefaultLayout() {
  const RECT rects[] = {
      {100, 100, 375, 216},  // main
      {100, 332, 375, 564},  // playlist
      {100, 216, 375, 332},  // equalizer
      {400, 100, 675, 332},  // video
      {400, 332, 675, 564},  // minibrowser
  };
  const COLORREF colours[] = {RGB(40, 120, 40), RGB(40, 40, 140), RGB(140, 100, 20), RGB(100, 40, 100),
                              RGB(20, 110, 120)};
  for (int i = 0; i < standin::kWindowKindCount; ++i) {
    gWindows[i].rect = rects[i];
    gWindows[i].colour = colours[i];
    gWindows[i].visible = i < 3;
  }
}

LRESULT CALLBACK WinampWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (msg == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    auto index = static_cast<int>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    Brush brush(CreateSolidBrush(gWindows[index].colour));
    FillRect(dc, &client, brush.Get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    std::wstring label(standin::kWindowKinds[index].className);
    DrawTextW(dc, label.c_str(), -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    EndPaint(hwnd, &ps);
    return 0;
  }
  if (msg == WM_NCDESTROY) {
    auto index = static_cast<int>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (gWindows[index].hwnd == hwnd) gWindows[index].hwnd = nullptr;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool CreateWinampWindow(int index, bool show) {
  WindowState& w = gWindows[index];
  const auto& kind = standin::kWindowKinds[index];
  // WS_POPUP like Winamp's skinned windows: no frame, so the outer rectangle is exactly the one
  // asked for and nothing of a window manager decoration gets in the way of the edge arithmetic.
  HWND hwnd = CreateWindowExW(0, std::wstring(kind.className).c_str(), std::wstring(kind.title).c_str(),
                              WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX, w.rect.left, w.rect.top,
                              w.rect.right - w.rect.left, w.rect.bottom - w.rect.top, nullptr, nullptr, gInstance,
                              reinterpret_cast<void*>(static_cast<INT_PTR>(index)));
  if (hwnd == nullptr) return false;
  w.hwnd = hwnd;
  if (show) ShowWindow(hwnd, index == 0 ? SW_SHOW : SW_SHOWNOACTIVATE);
  return true;
}

bool SetRect(int index, const RECT& r) {
  WindowState& w = gWindows[index];
  if (w.hwnd == nullptr) return false;
  w.rect = r;
  return SetWindowPos(w.hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                      SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

LRESULT RunCommand(std::wstring_view text) {
  auto words = SplitWords(text);
  if (words.empty()) return 0;
  const std::wstring& verb = words[0];
  if (verb == L"quit") {
    for (auto& w : gWindows) {
      if (w.hwnd != nullptr) DestroyWindow(w.hwnd);
    }
    PostQuitMessage(0);
    return 1;
  }
  if (verb == L"last-result") return gLastResult;
  if (verb == L"msgbox" && words.size() >= 2 && (words[1] == L"plain" || words[1] == L"error")) {
    ModalRequest request;
    request.kind = ModalRequest::Kind::MessageBox;
    request.boxStyle = words[1] == L"error" ? MB_OK | MB_ICONERROR : MB_OK;
    request.text = RestAfterWords(text, 2);
    gPendingModal = std::move(request);
    PostMessageW(gControl, kOpenModal, 0, 0);
    return 1;
  }
  if (verb == L"popup" && words.size() >= 4) {
    auto x = ParseInt(words[1]);
    auto y = ParseInt(words[2]);
    if (!x || !y) return 0;
    ModalRequest request;
    request.kind = ModalRequest::Kind::Menu;
    request.at = {*x, *y};
    std::wistringstream in(RestAfterWords(text, 3));
    std::wstring item;
    while (std::getline(in, item, L'|')) request.items.push_back(item);
    gPendingModal = std::move(request);
    PostMessageW(gControl, kOpenModal, 0, 0);
    return 1;
  }

  if (words.size() < 2) return 0;
  // A class name with a space ("Winamp PE") arrives as two words; rejoin before looking it up.
  int index = standin::FindWindowKind(words[1]);
  size_t argStart = 2;
  if (index < 0 && words.size() >= 3) {
    index = standin::FindWindowKind(words[1] + L" " + words[2]);
    argStart = 3;
  }
  if (index < 0 || !gWindows[index].wanted) return 0;
  WindowState& w = gWindows[index];
  std::vector<long> args;
  for (size_t i = argStart; i < words.size(); ++i) {
    auto v = ParseInt(words[i]);
    if (!v) return 0;
    args.push_back(*v);
  }

  if (verb == L"move" && args.size() == 2) {
    RECT r{args[0], args[1], args[0] + (w.rect.right - w.rect.left), args[1] + (w.rect.bottom - w.rect.top)};
    return SetRect(index, r) ? 1 : 0;
  }
  if (verb == L"size" && args.size() == 2) {
    RECT r{w.rect.left, w.rect.top, w.rect.left + args[0], w.rect.top + args[1]};
    return SetRect(index, r) ? 1 : 0;
  }
  if (verb == L"rect" && args.size() == 4) return SetRect(index, RECT{args[0], args[1], args[2], args[3]}) ? 1 : 0;
  if (!args.empty()) return 0;
  if (verb == L"hide" && w.hwnd != nullptr) {
    ShowWindow(w.hwnd, SW_HIDE);
    return 1;
  }
  if (verb == L"show" && w.hwnd != nullptr) {
    ShowWindow(w.hwnd, SW_SHOWNOACTIVATE);
    return 1;
  }
  if (verb == L"front" && w.hwnd != nullptr) {
    SetWindowPos(w.hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    // Windows gives the foreground only to the process that had the last input; the probe grants it
    // (AllowSetForegroundWindow) before sending this command. Wine does not enforce the rule.
    SetForegroundWindow(w.hwnd);
    return 1;
  }
  if (verb == L"destroy" && w.hwnd != nullptr) return DestroyWindow(w.hwnd) ? 1 : 0;
  if (verb == L"create" && w.hwnd == nullptr) return CreateWinampWindow(index, true) ? 1 : 0;
  return 0;
}

void OpenPendingModal() {
  if (!gPendingModal) return;
  ModalRequest request = std::move(*gPendingModal);
  gPendingModal.reset();
  if (request.kind == ModalRequest::Kind::MessageBox) {
    gLastResult = 1 + MessageBoxW(nullptr, request.text.c_str(), L"standin", request.boxStyle);
    return;
  }
  Menu menu(CreatePopupMenu());
  UINT id = 0;
  for (const auto& item : request.items) {
    ++id;
    if (item == L"-") {
      AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuW(menu.Get(), MF_STRING, id, item.c_str());
    }
  }
  // A popup menu only tracks and closes properly while its owner is the foreground window.
  HWND owner = gWindows[0].hwnd != nullptr ? gWindows[0].hwnd : gControl;
  SetForegroundWindow(owner);
  UINT chosen =
      static_cast<UINT>(TrackPopupMenu(menu.Get(), TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_NONOTIFY,
                                       request.at.x, request.at.y, 0, owner, nullptr));
  gLastResult = 1 + static_cast<LRESULT>(chosen);
}

LRESULT CALLBACK ControlWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (data == nullptr || data->dwData != standin::kCommandTag || data->lpData == nullptr) return 0;
    std::wstring_view command(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
    while (!command.empty() && command.back() == L'\0') command.remove_suffix(1);
    return RunCommand(command);
  }
  if (msg == kOpenModal) {
    OpenPendingModal();
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool ParseCommandLine() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return false;
  bool ok = true;
  for (int i = 1; i < argc && ok; ++i) {
    std::wstring option = argv[i];
    if (i + 1 >= argc) {
      ok = false;
      break;
    }
    int index = standin::FindWindowKind(argv[i + 1]);
    if (index < 0) {
      ok = false;
      break;
    }
    if (option == L"--without") {
      gWindows[index].wanted = false;
      i += 1;
    } else if (option == L"--hidden") {
      gWindows[index].visible = false;
      i += 1;
    } else if (option == L"--shown") {
      gWindows[index].visible = true;
      i += 1;
    } else if (option == L"--rect" && i + 2 < argc) {
      auto r = ParseRect(argv[i + 2]);
      if (!r)
        ok = false;
      else
        gWindows[index].rect = *r;
      i += 2;
    } else {
      ok = false;
    }
  }
  LocalFree(argv);
  return ok;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  gInstance = instance;
  DefaultLayout();
  if (!ParseCommandLine()) {
    MessageBoxW(nullptr, L"usage: standin_winamp [--rect NAME l,t,r,b] [--without NAME] [--hidden NAME] [--shown NAME]",
                L"standin", MB_OK);
    return 2;
  }

  WNDCLASSEXW control{};
  control.cbSize = sizeof(control);
  control.lpfnWndProc = ControlWndProc;
  control.hInstance = instance;
  control.lpszClassName = standin::kControlClass;
  if (RegisterClassExW(&control) == 0) return 1;
  gControl = CreateWindowExW(0, standin::kControlClass, L"standin control", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             instance, nullptr);
  if (gControl == nullptr) return 1;

  for (int i = 0; i < standin::kWindowKindCount; ++i) {
    if (!gWindows[i].wanted) continue;
    std::wstring className(standin::kWindowKinds[i].className);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WinampWndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = className.c_str();
    if (RegisterClassExW(&wc) == 0) return 1;
  }
  // Creation in reverse order leaves the main window on top, as after Winamp's own start.
  for (int i = standin::kWindowKindCount - 1; i >= 0; --i) {
    if (gWindows[i].wanted && !CreateWinampWindow(i, gWindows[i].visible)) return 1;
  }

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
