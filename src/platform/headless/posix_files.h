#pragma once

#include "platform/files.h"

namespace platform::headless {

// The file operations of a safe save on POSIX systems, as the product does them on Windows.
class PosixFiles final : public IFiles {
 public:
  bool IsReadOnly(const std::string& path) override;
  std::string CreateFileBeside(const std::string& target) override;
  void Replace(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) noexcept override;
};

}  // namespace platform::headless
