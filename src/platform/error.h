#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// The one error type of the platform layer and of the library operations the core uses
// (XML loading, conversions, sockets). Its message is what the user sees in the error box.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace platform
