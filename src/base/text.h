#pragma once

#include <string>
#include <string_view>

// Byte-wise text helpers shared by the whole core. Case folding is ASCII only, the same in
// every locale: what is compared here are protocol names, setting keys and digits.
namespace lsv {

char LowerAscii(char c);
std::string UpperAscii(std::string text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Every byte up to and including the blank counts as blank here: control characters too.
bool IsControlOrBlank(char c);
bool IsAllControlOrBlank(std::string_view text);
std::string_view TrimControlsAndBlanks(std::string_view text);

bool IsBlankOrTab(char c);
std::string_view TrimBlanksAndTabs(std::string_view text);

// Only " " itself.
std::string_view SkipBlanks(std::string_view text);
std::string_view TrimBlanks(std::string_view text);

bool IsDecimalDigit(char c);
// 0 to 15, or -1 for a character that is no hex digit.
int HexDigitValue(char c);

}  // namespace lsv
