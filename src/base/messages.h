#pragma once

namespace lsv {

inline constexpr unsigned WM_CLOSE_MESSAGE = 16;  // Win32 WM_CLOSE
inline constexpr unsigned WM_USER_BASE = 0x0400;  // Win32 WM_USER

// The strip's private window messages.
inline constexpr unsigned WM_PAGE_EVENT = WM_USER_BASE + 1;     // 1025: a page event handed to the window thread
inline constexpr unsigned WM_CHASE_START = WM_USER_BASE + 2;    // 1026
inline constexpr unsigned WM_CHASE_STOP = WM_USER_BASE + 3;     // 1027
inline constexpr unsigned WM_HOOK_NOTHING = WM_USER_BASE + 4;   // 1028: taken, no reaction
inline constexpr unsigned WM_UNDOCK = WM_USER_BASE + 5;         // 1029
inline constexpr unsigned WM_HOOK_DETACH = WM_USER_BASE + 6;    // 1030
inline constexpr unsigned WM_HOOK_REATTACH = WM_USER_BASE + 7;  // 1031
inline constexpr unsigned WM_REFIT_BOTTOM = WM_USER_BASE + 8;   // 1032
inline constexpr unsigned WM_RESTACK = WM_USER_BASE + 9;        // 1033

inline constexpr unsigned WM_HOOK_FIRST = WM_CHASE_START;
inline constexpr unsigned WM_HOOK_LAST = WM_RESTACK;

}  // namespace lsv
