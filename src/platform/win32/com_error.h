#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "platform/win32/utf.h"

namespace platform::win32 {

// The system's text for an HRESULT or a Win32 error code, in the user's language, without the
// trailing line break, followed by the code in hex; a code the system has no text for gives the
// code alone. Header-only, so a test that compiles a single platform file needs nothing more.
inline std::string SystemMessage(HRESULT result) {
  constexpr DWORD kCapacity = 1024;
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));

  // Win32 errors wrapped as HRESULTs are looked up by their plain code: not every system's message
  // table (Wine's, for one) lists the wrapped form.
  const DWORD lookup = HRESULT_FACILITY(result) == FACILITY_WIN32 ? static_cast<DWORD>(HRESULT_CODE(result))
                                                                  : static_cast<DWORD>(result);
  wchar_t buffer[kCapacity];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, lookup, 0, buffer,
                                kCapacity, nullptr);
  while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' || buffer[length - 1] == L' ')) {
    --length;
  }
  if (length == 0) {
    return std::string("error ") + code;
  }
  return WideToUtf8(std::wstring_view(buffer, length)) + " (" + code + ")";
}

inline std::string SystemMessageForWin32(DWORD error) { return SystemMessage(HRESULT_FROM_WIN32(error)); }

// Raises platform::Error "<what>: <system message>".
[[noreturn]] inline void ThrowSystemError(std::string_view what, HRESULT result) {
  throw Error(std::string(what) + ": " + SystemMessage(result));
}

// Raises platform::Error "<what>: <system message>" for the calling thread's last Win32 error.
[[noreturn]] inline void ThrowLastError(std::string_view what) {
  ThrowSystemError(what, HRESULT_FROM_WIN32(GetLastError()));
}

inline void CheckHr(HRESULT result, std::string_view what) {
  if (FAILED(result)) {
    ThrowSystemError(what, result);
  }
}

}  // namespace platform::win32
