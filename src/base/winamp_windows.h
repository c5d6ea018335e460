#pragma once

// Winamp's five top-level windows: their order and the window classes they are found by. The
// strip's docking looks them up and hook.dll watches them; both take the names from here, so a
// change reaches both.
namespace lsv {

inline constexpr int kWinampMain = 0;
inline constexpr int kWinampPlaylist = 1;
inline constexpr int kWinampEqualizer = 2;
inline constexpr int kWinampVideo = 3;
inline constexpr int kWinampMiniBrowser = 4;
inline constexpr int kWinampWindowCount = 5;

// In the order of the indices above.
inline constexpr const char* kWinampWindowClasses[kWinampWindowCount] = {"Winamp v1.x", "Winamp PE", "Winamp EQ",
                                                                         "Winamp Video", "Winamp MB"};

}  // namespace lsv
