#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lsv::events {

struct RequestLine {
  std::string method;
  std::string target;
  std::string protocolVersion;
};

// Splits at the last blank (the version after it) and then at the first (method before it,
// target after it, blanks included). nullopt when the line has no blank at all.
std::optional<RequestLine> SplitRequestLine(std::string_view line);

// The value of a header: names match without regard to case, the first line wins, leading
// blanks go, continuation lines join with one blank. Empty when missing.
std::string HeaderValue(const std::vector<std::string>& headerLines, std::string_view name);

// "+" becomes a blank, "%XX" the byte with that code (1 to 255); a code of 0 or non-hex digits
// drop the three characters; "%X" at the end is that one digit's byte; a trailing "%" is dropped.
std::string DecodeQueryItem(std::string_view item);

// Cuts at every "&" first, then decodes each piece; empty pieces are items too. Items after the
// first maxItems are dropped.
std::vector<std::string> SplitQuery(std::string_view queryText, std::size_t maxItems = SIZE_MAX);

struct DerivedPath {
  std::string path;
  std::string host;  // from an absolute target, without its port
};
DerivedPath DeriveRequestPath(std::string_view pathPart);

// Standard Base64; characters outside the alphabet are skipped.
std::string DecodeBase64(std::string_view text);

// The cookies of one Cookie header value, the first maxCookies of them.
std::vector<std::pair<std::string, std::string>> ParseCookies(std::string_view header,
                                                              std::size_t maxCookies = SIZE_MAX);

}  // namespace lsv::events
