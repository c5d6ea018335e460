#include "platform/win32/utf.h"

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

#include "platform/error.h"

namespace platform::win32 {

namespace {

// The converters count in int; longer text cannot be converted in one call.
int CheckedLength(std::size_t length) {
  if (length > static_cast<std::size_t>(INT_MAX)) {
    throw Error("Text is too long to convert");
  }
  return static_cast<int>(length);
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int inputLength = CheckedLength(utf8.size());
  const int needed = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inputLength, nullptr, 0);
  if (needed <= 0) {
    throw Error("Cannot convert UTF-8 text to UTF-16");
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inputLength, wide.data(), needed);
  return wide;
}

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty()) {
    return {};
  }
  const int inputLength = CheckedLength(wide.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, wide.data(), inputLength, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    throw Error("Cannot convert UTF-16 text to UTF-8");
  }
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), inputLength, utf8.data(), needed, nullptr, nullptr);
  return utf8;
}

}  // namespace platform::win32
