#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lsv {

// The integer reading shared by the event arguments, Content-Length and the port setting:
// leading blanks, an optional sign, then either decimal digits that fit in 32 signed bits or a
// "$", "x", "X", "0x" or "0X" prefix with one to eight hex digits taken as a 32-bit pattern (a
// sign in front of those is ignored). Nothing may follow the digits. nullopt when the text is
// not such a number.
std::optional<std::int32_t> ParseInteger(std::string_view text);

// A floating-point number in the user's number format: blanks around it, an optional sign,
// digits with at most one decimal separator, an optional exponent. nullopt when it is not one.
std::optional<double> ParseFloat(std::string_view text, std::string_view decimalSeparator);

}  // namespace lsv
