#pragma once

#include <cstdint>

namespace platform {

// A window-thread timer: its ticks arrive as window messages, so they run between other
// messages on the window thread, also inside modal loops. Interval 0 never ticks.
class ITimer {
 public:
  virtual ~ITimer() = default;

  virtual void SetInterval(std::uint32_t milliseconds) = 0;
  virtual std::uint32_t Interval() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
};

}  // namespace platform
