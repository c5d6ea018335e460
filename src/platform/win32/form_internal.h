#pragma once

// What the files of the form toolkit share among themselves and nobody else needs.

namespace platform::win32 {

inline constexpr wchar_t kStripClass[] = L"LatestSongViewerStrip";
inline constexpr wchar_t kDialogClass[] = L"LatestSongViewerDialog";

// The hint pop-up, when the handler lets it show, is at most this wide at 96 dpi.
inline constexpr int kHintMaxWidth = 400;

}  // namespace platform::win32
