#pragma once

#include "platform/files.h"

namespace platform::win32 {

// The file operations of a safe save, with the wide Windows API.
class Win32Files final : public IFiles {
 public:
  bool IsReadOnly(const std::string& path) override;
  std::string CreateFileBeside(const std::string& target) override;
  void Replace(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) noexcept override;
};

}  // namespace platform::win32
