#pragma once

#include <cstdint>

namespace platform {

// An opaque top-level window handle (an HWND in the product). Handles of Winamp's windows belong
// to another process and are never closed, so a plain value is the right type.
using WindowHandle = void*;

struct Point {
  std::int32_t x = 0;
  std::int32_t y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// Right and bottom lie one past the last pixel, as in Win32.
struct Rect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace platform
