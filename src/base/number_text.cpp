#include "base/number_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.h"

namespace lsv {

std::optional<std::int32_t> ParseInteger(std::string_view text) {
  text = SkipBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }

  std::size_t prefix = 0;
  if (!text.empty() && (text.front() == '$' || text.front() == 'x' || text.front() == 'X')) {
    prefix = 1;
  } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    prefix = 2;
  }
  if (prefix != 0) {
    std::string_view digits = text.substr(prefix);
    if (digits.empty() || digits.size() > 8) return std::nullopt;
    std::uint32_t pattern = 0;
    for (char c : digits) {
      const int v = HexDigitValue(c);
      if (v < 0) return std::nullopt;
      pattern = (pattern << 4) | static_cast<std::uint32_t>(v);
    }
    return static_cast<std::int32_t>(pattern);
  }

  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (!IsDecimalDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > 2147483648LL) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::optional<double> ParseFloat(std::string_view text, std::string_view decimalSeparator) {
  text = TrimBlanks(text);
  std::string normal;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) normal += text[i++];
  bool digits = false;
  while (i < text.size() && IsDecimalDigit(text[i])) {
    normal += text[i++];
    digits = true;
  }
  if (!decimalSeparator.empty() && text.substr(i, decimalSeparator.size()) == decimalSeparator) {
    i += decimalSeparator.size();
    normal += '.';
    while (i < text.size() && IsDecimalDigit(text[i])) {
      normal += text[i++];
      digits = true;
    }
  }
  if (!digits) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) normal += text[i++];
    bool exponentDigits = false;
    while (i < text.size() && IsDecimalDigit(text[i])) {
      normal += text[i++];
      exponentDigits = true;
    }
    if (!exponentDigits) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;

  // strtod reads the "C" locale's "." (this program never changes the C locale); it gives
  // infinity on overflow, which the range checks of the callers then refuse.
  char* end = nullptr;
  const double value = std::strtod(normal.c_str(), &end);
  if (end != normal.c_str() + normal.size()) return std::nullopt;
  return value;
}

}  // namespace lsv
