#pragma once

#include <string>

namespace platform {

// The embedded HTML view that fills the strip.
class IBrowser {
 public:
  virtual ~IBrowser() = default;

  // Position inside the parent's client area (the strip puts it at -2, -2 to hide its edge).
  virtual int Left() const = 0;
  virtual int Top() const = 0;
  // A URI or a plain file-system path, UTF-8.
  virtual void Navigate(const std::string& uri) = 0;
  // Reloads the current page. Never reports a failure to the user: a timer reloads every few
  // seconds and must not stack up boxes.
  virtual void Refresh() = 0;
};

}  // namespace platform
