#pragma once

#include <string>
#include <string_view>

namespace platform::win32 {

// Conversions at the boundary between the portable core (UTF-8) and the wide Win32 and COM APIs
// (UTF-16). Ill-formed input is not rejected: each bad sequence becomes U+FFFD, as the system
// converters do by default, so a stray byte in a settings value cannot make a whole string vanish.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

}  // namespace platform::win32
