#pragma once

// What the probe and the stand-in Winamp agree on. The probe finds the stand-in's control window
// (a message-only window, so neither EnumWindows nor the product's look-ups ever see it) and sends
// it one command as WM_COPYDATA; see standin_winamp.cpp for the command language.

#include <windows.h>

#include <string_view>

namespace standin {

inline constexpr wchar_t kControlClass[] = L"LSV Standin Winamp Control";

// Tags the COPYDATASTRUCT so that a stray WM_COPYDATA from anything else is ignored.
inline constexpr ULONG_PTR kCommandTag = 0x4C535643;  // "LSVC"

// SendMessageTimeout's own limit: a stand-in that does not answer within it is hung.
inline constexpr UINT kReplyTimeoutMs = 10000;

struct WindowKind {
  std::wstring_view shortName;
  std::wstring_view className;
  std::wstring_view title;
};

// In the order in which the product looks them up.
inline constexpr WindowKind kWindowKinds[] = {
    {L"main", L"Winamp v1.x", L"Winamp"},
    {L"playlist", L"Winamp PE", L"Winamp Playlist Editor"},
    {L"equalizer", L"Winamp EQ", L"Winamp Equalizer"},
    {L"video", L"Winamp Video", L"Winamp Video"},
    {L"minibrowser", L"Winamp MB", L"Winamp Mini Browser"},
};

inline constexpr int kWindowKindCount = static_cast<int>(std::size(kWindowKinds));

// Accepts the short name or the class name, so a test can say either "playlist" or "Winamp PE".
inline int FindWindowKind(std::wstring_view name) {
  for (int i = 0; i < kWindowKindCount; ++i) {
    if (name == kWindowKinds[i].shortName || name == kWindowKinds[i].className) return i;
  }
  return -1;
}

}  // namespace standin
