#include "platform/headless/posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/error.h"

namespace platform::headless {

namespace {

[[noreturn]] void Fail(int error) { throw Error(std::strerror(error)); }

}  // namespace

bool PosixFiles::IsReadOnly(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

std::string PosixFiles::CreateFileBeside(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  for (;;) {
    const std::string candidate =
        target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".saving";
    // O_EXCL fails on any name that exists, a planted link included, so nothing is followed.
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return candidate;
    }
    if (errno != EEXIST) Fail(errno);
  }
}

void PosixFiles::Replace(const std::string& from, const std::string& to) {
  // The new file takes the place of the old one and with it the old one's permissions: a file
  // its owner kept private stays private.
  struct stat status {};
  if (::lstat(to.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
      ::chmod(from.c_str(), status.st_mode & 07777) != 0) {
    Fail(errno);
  }
  if (std::rename(from.c_str(), to.c_str()) != 0) Fail(errno);
}

void PosixFiles::Remove(const std::string& path) noexcept { ::unlink(path.c_str()); }

}  // namespace platform::headless
