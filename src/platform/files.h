#pragma once

#include <string>

namespace platform {

// The few file operations a safe save needs, as the system offers them. Paths are UTF-8. Errors
// are platform::Error with the system's reason only; the caller names the file.
class IFiles {
 public:
  virtual ~IFiles() = default;

  // True when the file exists and may not be written: the read-only attribute on Windows, no write
  // permission bit at all elsewhere (so that it holds for an administrator too).
  virtual bool IsReadOnly(const std::string& path) = 0;
  // Creates a new, empty file in the folder of target, under a name no file or link has, and
  // returns its path. Never opens or follows anything that already exists.
  virtual std::string CreateFileBeside(const std::string& target) = 0;
  // Puts the file at from in the place of to in one step, keeping to's permissions where the
  // system has them. On failure from is still there.
  virtual void Replace(const std::string& from, const std::string& to) = 0;
  virtual void Remove(const std::string& path) noexcept = 0;
};

}  // namespace platform
