#include "platform/win32/files.h"

#include <windows.h>

#include <atomic>
#include <cwchar>
#include <string>

#include "platform/error.h"
#include "platform/win32/com_error.h"
#include "platform/win32/handle.h"
#include "platform/win32/utf.h"

namespace platform::win32 {

bool Win32Files::IsReadOnly(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

std::string Win32Files::CreateFileBeside(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  const std::wstring wideTarget = Utf8ToWide(target);
  const DWORD processId = GetCurrentProcessId();
  for (;;) {
    wchar_t suffix[40];
    std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".%lx-%x.tmp", static_cast<unsigned long>(processId),
                  counter++);
    const std::wstring candidate = wideTarget + suffix;
    // CREATE_NEW fails on any name that exists, so another writer's file is never taken over.
    const UniqueFileHandle file(
        CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) return WideToUtf8(candidate);
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) throw Error(SystemMessageForWin32(error));
  }
}

void Win32Files::Replace(const std::string& from, const std::string& to) {
  if (!MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw Error(SystemMessageForWin32(GetLastError()));
  }
}

void Win32Files::Remove(const std::string& path) noexcept {
  try {
    DeleteFileW(Utf8ToWide(path).c_str());
  } catch (...) {
    // Out of memory for the conversion: the file stays, which is all that can happen here.
  }
}

}  // namespace platform::win32
