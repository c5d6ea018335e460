// The probe: a console tool that the scenario driver runs once per question. It looks at the
// window system from outside the product, as a user would, and answers on stdout with one line of
// JSON (strings in UTF-8). Exit code 0 when the question was answered or the action done, 1 when
// the thing to act on was not there or the action did not take, 2 for a bad command line.
//
//   probe strip                      the strip (found by its title): rect, client size, flags
//   probe windows [FILTER] [--all]   the Winamp windows and the strip (--all: and every other
//                                    visible top-level window), with their stacking positions
//   probe dialogs [FILTER] [--all]   open dialog boxes (#32770): texts, buttons, icon
//   probe press CAPTION [FILTER] [--dialog HWND] [--timeout-ms N]
//                                    click a dialog's button, then wait until the dialog is gone
//   probe post TARGET MSG WPARAM LPARAM      PostMessage; TARGET is "strip" or a window handle
//   probe send TARGET MSG WPARAM LPARAM      SendMessageTimeout, prints the result
//   probe move TARGET X Y            move a window's outer top-left corner (size and stacking
//                                    unchanged, not activated); TARGET as for post
//   probe standin COMMAND...         forward one command to the stand-in Winamp
//   probe menu                       the open popup menu (#32768) and, where readable, its items
//   probe menu-choose CAPTION [--items A|B|-|C] [--timeout-ms N]
//                                    choose an item of the open popup menu with the keyboard
//   probe menu-cancel [--timeout-ms N]   close the open popup menu with Escape, choosing nothing
//   probe controls TARGET            a window's client rect on the screen and its child controls
//                                    in stacking (tab) order: class, text (asked of the control),
//                                    rect, flags, which one has the focus
//   probe settext HWND TEXT          WM_SETTEXT to a control, as if the user had typed TEXT
// FILTER is --pid N (a Windows process id, as the other answers print it) or --exe NAME (the file
// name of the owning process, e.g. LatestSongViewer.exe). Numbers may be decimal or 0x-hex.
//
// With LSV_PROBE_ANSWER set to a file path, the answer is also written to that file, through a
// handle of the probe's own. Under 32-bit Wine on qemu-i386 about one run in a hundred ended with
// exit code 0 and nothing in the file it had inherited as stdout, although it had run (a marker
// file written at its start was there); the scenario driver reads the answer file instead.
//
// Text is read with GetWindowTextW, which for another process's window reads the stored text and
// sends no message, so a busy or hung product cannot hang the probe.

#include <windows.h>
// shellapi.h needs the types of windows.h before it.
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin_protocol.h"
#include "unique_handle.h"

namespace {

using Handle = testtools::UniqueHandle<HANDLE, nullptr, CloseHandle>;

constexpr wchar_t kStripTitle[] = L"Velkor Latest Song Viewer";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr wchar_t kMenuClass[] = L"#32768";
constexpr UINT kMenuGetHmenu = 0x01E1;  // MN_GETHMENU, absent from some headers
constexpr UINT kMessageTimeoutMs = 2000;
constexpr DWORD kDefaultWaitMs = 5000;

// ---- output -------------------------------------------------------------------------------

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

std::string JsonString(std::wstring_view text) {
  std::string out = "\"";
  for (char c : Utf8(text)) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

std::string JsonBool(bool b) { return b ? "true" : "false"; }

std::string JsonHandle(const void* h) { return std::to_string(reinterpret_cast<std::uintptr_t>(h)); }

// Appends rather than chains operator+ on temporaries: g++ 12 at -O3 warns falsely (-Wrestrict)
// about the chained form.
std::string JsonInts(std::initializer_list<long long> values) {
  std::string out = "[";
  for (long long v : values) {
    if (out.size() > 1) out += ',';
    out += std::to_string(v);
  }
  out += ']';
  return out;
}

std::string JsonRect(const RECT& r) { return JsonInts({r.left, r.top, r.right, r.bottom}); }

// Builds one JSON object in insertion order; values are already-encoded JSON text.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, const std::string& json) {
    body_ += body_.empty() ? "" : ",";
    body_ += "\"";
    body_ += key;
    body_ += "\":";
    body_ += json;
    return *this;
  }
  std::string Text() const {
    std::string out = "{";
    out += body_;
    out += '}';
    return out;
  }

 private:
  std::string body_;
};

std::string JsonArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    out += items[i];
  }
  out += ']';
  return out;
}

// WriteFile, not the C runtime: bytes reach a pipe unchanged whatever the console code page is.
void Print(const std::string& line) {
  std::string text = line;
  text += '\n';
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);

  wchar_t path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableW(L"LSV_PROBE_ANSWER", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  HANDLE file =
      CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

int Fail(const std::string& json, int code = 1) {
  Print(json);
  return code;
}

// ---- windows ------------------------------------------------------------------------------

std::wstring WindowText(HWND hwnd) {
  wchar_t buf[4096];
  int n = GetWindowTextW(hwnd, buf, static_cast<int>(std::size(buf)));
  return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t buf[256];
  int n = GetClassNameW(hwnd, buf, static_cast<int>(std::size(buf)));
  return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

DWORD ProcessOf(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

std::wstring ImageOf(DWORD pid) {
  Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return {};
  wchar_t buf[MAX_PATH * 2];
  DWORD size = static_cast<DWORD>(std::size(buf));
  if (!QueryFullProcessImageNameW(process.Get(), 0, buf, &size)) return {};
  return std::wstring(buf, size);
}

std::wstring FileNameOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A named CALLBACK function, not a lambda: on i686 a lambda converts only to a cdecl pointer.
BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

// Every top-level window, topmost first: the index is the stacking position.
std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<HWND> ChildWindows(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&children));
  return children;
}

struct ProcessFilter {
  std::optional<DWORD> pid;
  std::optional<std::wstring> exe;

  bool Matches(HWND hwnd) const {
    DWORD owner = ProcessOf(hwnd);
    if (pid && owner != *pid) return false;
    if (exe && _wcsicmp(FileNameOf(ImageOf(owner)).c_str(), exe->c_str()) != 0) return false;
    return true;
  }
};

std::vector<HWND> StripWindows() {
  std::vector<HWND> found;
  for (HWND hwnd : TopLevelWindows()) {
    if (WindowText(hwnd) == kStripTitle) found.push_back(hwnd);
  }
  return found;
}

std::string DescribeWindow(HWND hwnd, int z) {
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  DWORD pid = ProcessOf(hwnd);
  return JsonObject()
      .Add("hwnd", JsonHandle(hwnd))
      .Add("class", JsonString(ClassOf(hwnd)))
      .Add("title", JsonString(WindowText(hwnd)))
      .Add("pid", std::to_string(pid))
      .Add("rect", JsonRect(rect))
      .Add("visible", JsonBool(IsWindowVisible(hwnd)))
      .Add("enabled", JsonBool(IsWindowEnabled(hwnd)))
      .Add("z", std::to_string(z))
      .Text();
}

// ---- argument helpers ---------------------------------------------------------------------

std::optional<std::uintptr_t> ParseNumber(const std::wstring& s) {
  if (s.empty()) return std::nullopt;
  wchar_t* end = nullptr;
  bool negative = s[0] == L'-';
  std::uintptr_t value = 0;
  if (negative) {
    long long v = std::wcstoll(s.c_str(), &end, 10);
    value = static_cast<std::uintptr_t>(v);
  } else {
    value = static_cast<std::uintptr_t>(std::wcstoull(s.c_str(), &end, 0));
  }
  if (end == nullptr || *end != L'\0') return std::nullopt;
  return value;
}

// Removes options this command understands from args, leaving the positional words.
struct Options {
  ProcessFilter filter;
  bool all = false;
  std::optional<HWND> dialog;
  DWORD timeoutMs = kDefaultWaitMs;
  std::optional<std::wstring> items;
  std::vector<std::wstring> words;
  bool bad = false;
};

Options ParseOptions(const std::vector<std::wstring>& args) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == L"--all") {
      o.all = true;
    } else if ((a == L"--pid" || a == L"--dialog" || a == L"--timeout-ms") && hasValue) {
      auto v = ParseNumber(args[++i]);
      if (!v) {
        o.bad = true;
      } else if (a == L"--pid") {
        o.filter.pid = static_cast<DWORD>(*v);
      } else if (a == L"--dialog") {
        o.dialog = reinterpret_cast<HWND>(*v);
      } else {
        o.timeoutMs = static_cast<DWORD>(*v);
      }
    } else if (a == L"--exe" && hasValue) {
      o.filter.exe = args[++i];
    } else if (a == L"--items" && hasValue) {
      o.items = args[++i];
    } else if (a.starts_with(L"--")) {
      o.bad = true;
    } else {
      o.words.push_back(a);
    }
  }
  return o;
}

std::wstring WithoutAmpersands(std::wstring_view caption) {
  std::wstring out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == L'&' && i + 1 < caption.size()) ++i;
    out += caption[i];
  }
  return out;
}

std::optional<HWND> ResolveTarget(const std::wstring& target) {
  if (target == L"strip") {
    auto strips = StripWindows();
    if (strips.empty()) return std::nullopt;
    return strips.front();
  }
  auto v = ParseNumber(target);
  if (!v) return std::nullopt;
  return reinterpret_cast<HWND>(*v);
}

// ---- commands -----------------------------------------------------------------------------

int Strip() {
  auto strips = StripWindows();
  if (strips.empty()) return Fail(JsonObject().Add("found", "false").Add("count", "0").Text(), 0);
  HWND hwnd = strips.front();
  RECT rect{};
  RECT client{};
  POINT origin{0, 0};
  GetWindowRect(hwnd, &rect);
  GetClientRect(hwnd, &client);
  ClientToScreen(hwnd, &origin);
  DWORD pid = ProcessOf(hwnd);
  Print(JsonObject()
            .Add("found", "true")
            .Add("count", std::to_string(strips.size()))
            .Add("hwnd", JsonHandle(hwnd))
            .Add("pid", std::to_string(pid))
            .Add("exe", JsonString(FileNameOf(ImageOf(pid))))
            .Add("class", JsonString(ClassOf(hwnd)))
            .Add("rect", JsonRect(rect))
            .Add("client", JsonInts({client.right - client.left, client.bottom - client.top}))
            .Add("client_origin", JsonInts({origin.x, origin.y}))
            .Add("visible", JsonBool(IsWindowVisible(hwnd)))
            .Add("enabled", JsonBool(IsWindowEnabled(hwnd)))
            .Add("foreground", JsonBool(GetForegroundWindow() == hwnd))
            .Add("owner", JsonHandle(GetWindow(hwnd, GW_OWNER)))
            .Text());
  return 0;
}

int Windows(const Options& o) {
  std::vector<std::string> listed;
  auto all = TopLevelWindows();
  for (size_t z = 0; z < all.size(); ++z) {
    HWND hwnd = all[z];
    std::wstring cls = ClassOf(hwnd);
    bool interesting = WindowText(hwnd) == kStripTitle;
    for (const auto& kind : standin::kWindowKinds) interesting = interesting || cls == kind.className;
    if ((interesting || (o.all && IsWindowVisible(hwnd))) && o.filter.Matches(hwnd)) {
      listed.push_back(DescribeWindow(hwnd, static_cast<int>(z)));
    }
  }
  Print(JsonObject().Add("foreground", JsonHandle(GetForegroundWindow())).Add("windows", JsonArray(listed)).Text());
  return 0;
}

struct DialogInfo {
  HWND hwnd = nullptr;
  std::vector<std::wstring> statics;
  std::vector<std::pair<HWND, std::wstring>> buttons;
  bool icon = false;
};

DialogInfo ReadDialog(HWND dialog) {
  DialogInfo info;
  info.hwnd = dialog;
  for (HWND child : ChildWindows(dialog)) {
    if (GetParent(child) != dialog || !IsWindowVisible(child)) continue;
    std::wstring cls = ClassOf(child);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (_wcsicmp(cls.c_str(), L"Static") == 0) {
      LONG type = style & SS_TYPEMASK;
      if (type == SS_ICON) {
        DWORD_PTR icon = 0;
        SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &icon);
        info.icon = info.icon || icon != 0;
      } else {
        std::wstring text = WindowText(child);
        if (!text.empty()) info.statics.push_back(text);
      }
    } else if (_wcsicmp(cls.c_str(), L"Button") == 0) {
      info.buttons.emplace_back(child, WindowText(child));
    }
  }
  return info;
}

std::vector<HWND> FindDialogs(const Options& o) {
  std::vector<HWND> found;
  for (HWND hwnd : TopLevelWindows()) {
    if (ClassOf(hwnd) != kDialogClass) continue;
    if (!o.all && !IsWindowVisible(hwnd)) continue;
    if (o.dialog && hwnd != *o.dialog) continue;
    if (!o.filter.Matches(hwnd)) continue;
    found.push_back(hwnd);
  }
  return found;
}

int Dialogs(const Options& o) {
  std::vector<std::string> listed;
  for (HWND hwnd : FindDialogs(o)) {
    DialogInfo info = ReadDialog(hwnd);
    std::wstring text;
    std::vector<std::string> statics;
    for (const auto& s : info.statics) {
      text += (text.empty() ? L"" : L"\n") + s;
      statics.push_back(JsonString(s));
    }
    std::vector<std::string> buttons;
    for (const auto& b : info.buttons) buttons.push_back(JsonString(b.second));
    DWORD pid = ProcessOf(hwnd);
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    listed.push_back(JsonObject()
                         .Add("hwnd", JsonHandle(hwnd))
                         .Add("pid", std::to_string(pid))
                         .Add("exe", JsonString(FileNameOf(ImageOf(pid))))
                         .Add("title", JsonString(WindowText(hwnd)))
                         .Add("text", JsonString(text))
                         .Add("statics", JsonArray(statics))
                         .Add("buttons", JsonArray(buttons))
                         .Add("icon", JsonBool(info.icon))
                         .Add("visible", JsonBool(IsWindowVisible(hwnd)))
                         .Add("enabled", JsonBool(IsWindowEnabled(hwnd)))
                         .Add("owner", JsonHandle(GetWindow(hwnd, GW_OWNER)))
                         .Add("rect", JsonRect(rect))
                         .Text());
  }
  Print(JsonObject().Add("dialogs", JsonArray(listed)).Text());
  return 0;
}

bool WaitUntilGone(HWND hwnd, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  while (IsWindow(hwnd) && IsWindowVisible(hwnd)) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

int Press(const Options& o) {
  if (o.words.size() != 1) return Fail(R"({"error":"usage: press CAPTION"})", 2);
  std::wstring wanted = WithoutAmpersands(o.words[0]);
  for (HWND dialog : FindDialogs(o)) {
    for (const auto& [button, caption] : ReadDialog(dialog).buttons) {
      if (caption != o.words[0] && WithoutAmpersands(caption) != wanted) continue;
      // WM_COMMAND as the button itself sends it, rather than BM_CLICK: BM_CLICK goes through a
      // simulated mouse press, which Windows ignores for a dialog that is not active.
      int id = GetDlgCtrlID(button);
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
      bool closed = WaitUntilGone(dialog, o.timeoutMs);
      Print(JsonObject()
                .Add("pressed", "true")
                .Add("dialog", JsonHandle(dialog))
                .Add("button", JsonString(caption))
                .Add("closed", JsonBool(closed))
                .Text());
      return closed ? 0 : 1;
    }
  }
  return Fail(JsonObject().Add("pressed", "false").Add("button", JsonString(o.words[0])).Text());
}

int PostOrSend(const Options& o, bool send) {
  if (o.words.size() != 4) return Fail(R"({"error":"usage: post|send TARGET MSG WPARAM LPARAM"})", 2);
  auto target = ResolveTarget(o.words[0]);
  auto msg = ParseNumber(o.words[1]);
  auto wParam = ParseNumber(o.words[2]);
  auto lParam = ParseNumber(o.words[3]);
  if (!msg || !wParam || !lParam) return Fail(R"({"error":"bad number"})", 2);
  if (!target) return Fail(R"({"ok":false,"error":"no such window"})");
  if (!send) {
    bool ok = PostMessageW(*target, static_cast<UINT>(*msg), static_cast<WPARAM>(*wParam),
                           static_cast<LPARAM>(*lParam)) != FALSE;
    Print(JsonObject().Add("ok", JsonBool(ok)).Add("hwnd", JsonHandle(*target)).Text());
    return ok ? 0 : 1;
  }
  DWORD_PTR result = 0;
  bool ok = SendMessageTimeoutW(*target, static_cast<UINT>(*msg), static_cast<WPARAM>(*wParam),
                                static_cast<LPARAM>(*lParam), SMTO_ABORTIFHUNG, o.timeoutMs, &result) != 0;
  Print(JsonObject()
            .Add("ok", JsonBool(ok))
            .Add("hwnd", JsonHandle(*target))
            .Add("result", std::to_string(static_cast<std::intptr_t>(result)))
            .Text());
  return ok ? 0 : 1;
}

int Move(const Options& o) {
  if (o.words.size() != 3) return Fail(R"({"error":"usage: move TARGET X Y"})", 2);
  auto target = ResolveTarget(o.words[0]);
  // Coordinates may be negative (a monitor left of the primary one), which ParseNumber also takes.
  auto x = ParseNumber(o.words[1]);
  auto y = ParseNumber(o.words[2]);
  if (!x || !y) return Fail(R"({"error":"bad number"})", 2);
  if (!target) return Fail(R"({"ok":false,"error":"no such window"})");
  bool ok = SetWindowPos(*target, nullptr, static_cast<int>(*x), static_cast<int>(*y), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
  RECT rect{};
  GetWindowRect(*target, &rect);
  Print(JsonObject().Add("ok", JsonBool(ok)).Add("hwnd", JsonHandle(*target)).Add("rect", JsonRect(rect)).Text());
  return ok ? 0 : 1;
}

int Standin(const Options& o) {
  if (o.words.empty()) return Fail(R"({"error":"usage: standin COMMAND..."})", 2);
  std::wstring command;
  for (const auto& w : o.words) command += (command.empty() ? L"" : L" ") + w;
  HWND control = FindWindowExW(HWND_MESSAGE, nullptr, standin::kControlClass, nullptr);
  if (control == nullptr) return Fail(R"({"ok":false,"error":"stand-in not running"})");
  AllowSetForegroundWindow(ProcessOf(control));
  COPYDATASTRUCT data{};
  data.dwData = standin::kCommandTag;
  data.cbData = static_cast<DWORD>(command.size() * sizeof(wchar_t));
  data.lpData = command.data();
  DWORD_PTR result = 0;
  bool answered = SendMessageTimeoutW(control, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                                      standin::kReplyTimeoutMs, &result) != 0;
  bool ok = answered && result != 0;
  Print(JsonObject()
            .Add("ok", JsonBool(ok))
            .Add("answered", JsonBool(answered))
            .Add("result", std::to_string(static_cast<std::intptr_t>(result)))
            .Text());
  return ok ? 0 : 1;
}

struct MenuItem {
  std::wstring caption;
  bool separator = false;
  bool enabled = true;
  UINT id = 0;
};

std::optional<HWND> OpenMenuWindow() {
  for (HWND hwnd : TopLevelWindows()) {
    if (ClassOf(hwnd) == kMenuClass && IsWindowVisible(hwnd)) return hwnd;
  }
  return std::nullopt;
}

// Windows keeps menus in the kernel, so another process can read them. Wine keeps them inside the
// owning process and refuses a foreign menu handle; then the caller says what the menu holds.
std::optional<std::vector<MenuItem>> ReadMenu(HWND menuWindow) {
  DWORD_PTR raw = 0;
  if (!SendMessageTimeoutW(menuWindow, kMenuGetHmenu, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &raw) || raw == 0) {
    return std::nullopt;
  }
  auto menu = reinterpret_cast<HMENU>(raw);
  int count = GetMenuItemCount(menu);
  if (count < 0) return std::nullopt;
  std::vector<MenuItem> items;
  for (int i = 0; i < count; ++i) {
    wchar_t text[512] = {};
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
    info.dwTypeData = text;
    info.cch = static_cast<UINT>(std::size(text));
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) return std::nullopt;
    MenuItem item;
    item.separator = (info.fType & MFT_SEPARATOR) != 0;
    item.enabled = (info.fState & (MFS_DISABLED | MFS_GRAYED)) == 0;
    item.id = info.wID;
    item.caption = item.separator ? L"-" : std::wstring(text);
    items.push_back(item);
  }
  return items;
}

std::vector<MenuItem> ItemsFromList(const std::wstring& list) {
  std::vector<MenuItem> items;
  size_t start = 0;
  while (start <= list.size()) {
    size_t bar = list.find(L'|', start);
    if (bar == std::wstring::npos) bar = list.size();
    MenuItem item;
    item.caption = list.substr(start, bar - start);
    item.separator = item.caption == L"-";
    items.push_back(item);
    start = bar + 1;
  }
  return items;
}

std::string DescribeItems(const std::vector<MenuItem>& items) {
  std::vector<std::string> listed;
  for (const auto& item : items) {
    listed.push_back(JsonObject()
                         .Add("caption", JsonString(item.caption))
                         .Add("separator", JsonBool(item.separator))
                         .Add("enabled", JsonBool(item.enabled))
                         .Add("id", std::to_string(item.id))
                         .Text());
  }
  return JsonArray(listed);
}

int Menu() {
  auto menuWindow = OpenMenuWindow();
  if (!menuWindow) return Fail(R"({"found":false})", 0);
  RECT rect{};
  GetWindowRect(*menuWindow, &rect);
  auto items = ReadMenu(*menuWindow);
  Print(JsonObject()
            .Add("found", "true")
            .Add("hwnd", JsonHandle(*menuWindow))
            .Add("pid", std::to_string(ProcessOf(*menuWindow)))
            .Add("rect", JsonRect(rect))
            .Add("readable", JsonBool(items.has_value()))
            .Add("items", items ? DescribeItems(*items) : "null")
            .Text());
  return 0;
}

void PostKey(HWND hwnd, WPARAM key) {
  PostMessageW(hwnd, WM_KEYDOWN, key, 1);
  PostMessageW(hwnd, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

int MenuChoose(const Options& o) {
  if (o.words.size() != 1) return Fail(R"({"error":"usage: menu-choose CAPTION [--items A|B|-|C]"})", 2);
  auto menuWindow = OpenMenuWindow();
  if (!menuWindow) return Fail(R"({"chosen":false,"error":"no open menu"})");
  auto items = ReadMenu(*menuWindow);
  bool readable = items.has_value();
  if (!readable) {
    if (!o.items) return Fail(R"({"chosen":false,"error":"menu unreadable here; pass --items"})");
    items = ItemsFromList(*o.items);
  }
  std::wstring wanted = WithoutAmpersands(o.words[0]);
  int downs = 0;
  bool found = false;
  for (const auto& item : *items) {
    if (item.separator) continue;
    ++downs;
    if (item.caption == o.words[0] || WithoutAmpersands(item.caption) == wanted) {
      found = true;
      break;
    }
  }
  if (!found) return Fail(JsonObject().Add("chosen", "false").Add("error", JsonString(L"no such item")).Text());
  // The menu's modal loop reads keyboard messages from its thread's queue whatever window they are
  // posted to. Home selects the first item even if the pointer already highlighted another one;
  // the arrow keys step over separators, so only the selectable items before the target count.
  PostKey(*menuWindow, VK_HOME);
  for (int i = 1; i < downs; ++i) PostKey(*menuWindow, VK_DOWN);
  PostKey(*menuWindow, VK_RETURN);
  bool closed = WaitUntilGone(*menuWindow, o.timeoutMs);
  Print(JsonObject()
            .Add("chosen", "true")
            .Add("caption", JsonString(o.words[0]))
            .Add("position", std::to_string(downs))
            .Add("via", readable ? R"("menu")" : R"("items")")
            .Add("closed", JsonBool(closed))
            .Text());
  return closed ? 0 : 1;
}

int MenuCancel(const Options& o) {
  if (!o.words.empty()) return Fail(R"({"error":"usage: menu-cancel"})", 2);
  auto menuWindow = OpenMenuWindow();
  if (!menuWindow) return Fail(R"({"cancelled":false,"error":"no open menu"})");
  PostKey(*menuWindow, VK_ESCAPE);
  bool closed = WaitUntilGone(*menuWindow, o.timeoutMs);
  Print(JsonObject().Add("cancelled", "true").Add("closed", JsonBool(closed)).Text());
  return closed ? 0 : 1;
}

// A control keeps its text itself; GetWindowTextW would read only its creation text from here.
std::optional<std::wstring> ControlText(HWND control) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &length)) {
    return std::nullopt;
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           kMessageTimeoutMs, &copied)) {
    return std::nullopt;
  }
  text.resize(std::min<size_t>(copied, length));
  return text;
}

int Controls(const Options& o) {
  if (o.words.size() != 1) return Fail(R"({"error":"usage: controls TARGET"})", 2);
  auto target = ResolveTarget(o.words[0]);
  if (!target || !IsWindow(*target)) return Fail(R"({"found":false,"error":"no such window"})");
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  HWND focus = GetGUIThreadInfo(GetWindowThreadProcessId(*target, nullptr), &gui) ? gui.hwndFocus : nullptr;
  std::vector<std::string> listed;
  // Direct children only, in the order EnumChildWindows gives: the stacking order, which is the
  // order Tab moves the focus in.
  for (HWND child : ChildWindows(*target)) {
    if (GetParent(child) != *target) continue;
    RECT rect{};
    GetWindowRect(child, &rect);
    auto text = ControlText(child);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    listed.push_back(JsonObject()
                         .Add("hwnd", JsonHandle(child))
                         .Add("id", std::to_string(GetDlgCtrlID(child)))
                         .Add("class", JsonString(ClassOf(child)))
                         .Add("text", text ? JsonString(*text) : "null")
                         .Add("rect", JsonRect(rect))
                         .Add("visible", JsonBool(IsWindowVisible(child)))
                         .Add("enabled", JsonBool(IsWindowEnabled(child)))
                         .Add("tabstop", JsonBool((style & WS_TABSTOP) != 0))
                         .Add("focused", JsonBool(child == focus))
                         .Text());
  }
  RECT client{};
  GetClientRect(*target, &client);
  MapWindowPoints(*target, nullptr, reinterpret_cast<POINT*>(&client), 2);
  Print(JsonObject()
            .Add("found", "true")
            .Add("hwnd", JsonHandle(*target))
            .Add("client", JsonRect(client))
            .Add("focus", JsonHandle(focus))
            .Add("controls", JsonArray(listed))
            .Text());
  return 0;
}

int SetText(const Options& o) {
  if (o.words.size() != 2) return Fail(R"({"error":"usage: settext HWND TEXT"})", 2);
  auto target = ResolveTarget(o.words[0]);
  if (!target || !IsWindow(*target)) return Fail(R"({"ok":false,"error":"no such window"})");
  const LPARAM text = reinterpret_cast<LPARAM>(o.words[1].c_str());
  DWORD_PTR result = 0;
  bool sent = SendMessageTimeoutW(*target, WM_SETTEXT, 0, text, SMTO_ABORTIFHUNG, o.timeoutMs, &result) != 0;
  bool ok = sent && result != 0;
  Print(JsonObject().Add("ok", JsonBool(ok)).Add("hwnd", JsonHandle(*target)).Text());
  return ok ? 0 : 1;
}

int Run(const std::vector<std::wstring>& args) {
  if (args.empty()) {
    return Fail(R"({"error":"usage: probe strip|windows|dialogs|press|post|send|move|standin|menu|menu-choose|menu-cancel|controls|settext ..."})", 2);
  }
  const std::wstring& command = args[0];
  Options o = ParseOptions(std::vector<std::wstring>(args.begin() + 1, args.end()));
  // The stand-in's own command words are not probe options.
  if (command == L"standin") {
    o = Options{};
    o.words.assign(args.begin() + 1, args.end());
  }
  if (o.bad) return Fail(R"({"error":"bad option"})", 2);
  if (command == L"strip") return Strip();
  if (command == L"windows") return Windows(o);
  if (command == L"dialogs") return Dialogs(o);
  if (command == L"press") return Press(o);
  if (command == L"post") return PostOrSend(o, false);
  if (command == L"send") return PostOrSend(o, true);
  if (command == L"move") return Move(o);
  if (command == L"standin") return Standin(o);
  if (command == L"menu") return Menu();
  if (command == L"menu-choose") return MenuChoose(o);
  if (command == L"menu-cancel") return MenuCancel(o);
  if (command == L"controls") return Controls(o);
  if (command == L"settext") return SetText(o);
  return Fail(R"({"error":"unknown command"})", 2);
}

}  // namespace

int main() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::wstring> args;
  for (int i = 1; argv != nullptr && i < argc; ++i) args.emplace_back(argv[i]);
  if (argv != nullptr) LocalFree(argv);
  return Run(args);
}
