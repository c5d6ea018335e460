#include "events/http_parsing.h"

#include "base/text.h"

namespace lsv::events {

std::optional<RequestLine> SplitRequestLine(std::string_view line) {
  const std::size_t last = line.rfind(' ');
  if (last == std::string_view::npos) return std::nullopt;
  RequestLine result;
  result.protocolVersion = std::string(line.substr(last + 1));
  const std::string_view rest = line.substr(0, last);
  const std::size_t first = rest.find(' ');
  if (first == std::string_view::npos) {
    result.method = std::string(rest);
  } else {
    result.method = std::string(rest.substr(0, first));
    result.target = std::string(rest.substr(first + 1));
  }
  return result;
}

std::string HeaderValue(const std::vector<std::string>& headerLines, std::string_view name) {
  for (std::size_t i = 0; i < headerLines.size(); ++i) {
    const std::string& line = headerLines[i];
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || !EqualsNoCase(std::string_view(line).substr(0, colon), name)) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(' '));
    for (std::size_t next = i + 1; next < headerLines.size(); ++next) {
      const std::string& continuation = headerLines[next];
      if (continuation.empty() || !IsBlankOrTab(continuation.front())) break;
      std::string_view text = continuation;
      while (!text.empty() && IsBlankOrTab(text.front())) text.remove_prefix(1);
      // One blank joins, unless the value already ends in one; an empty value ends in none.
      if (value.empty() || !IsBlankOrTab(value.back())) value += ' ';
      value += text;
    }
    return value;
  }
  return "";
}

std::string DecodeQueryItem(std::string_view item) {
  std::string plus(item);
  for (char& c : plus) {
    if (c == '+') c = ' ';
  }
  std::string decoded;
  decoded.reserve(plus.size());
  for (std::size_t i = 0; i < plus.size();) {
    if (plus[i] != '%') {
      decoded += plus[i++];
      continue;
    }
    const std::size_t left = plus.size() - i - 1;
    if (left == 0) {
      ++i;  // a "%" at the very end
    } else if (left == 1) {
      const int digit = HexDigitValue(plus[i + 1]);
      if (digit > 0) decoded += static_cast<char>(digit);
      i += 2;
    } else {
      const int high = HexDigitValue(plus[i + 1]);
      const int low = HexDigitValue(plus[i + 2]);
      if (high >= 0 && low >= 0 && (high != 0 || low != 0)) decoded += static_cast<char>(high * 16 + low);
      i += 3;
    }
  }
  return decoded;
}

std::vector<std::string> SplitQuery(std::string_view queryText, std::size_t maxItems) {
  std::vector<std::string> items;
  if (queryText.empty()) return items;
  while (items.size() < maxItems) {
    const std::size_t amp = queryText.find('&');
    items.push_back(DecodeQueryItem(queryText.substr(0, amp)));
    if (amp == std::string_view::npos) break;
    queryText.remove_prefix(amp + 1);
  }
  return items;
}

DerivedPath DeriveRequestPath(std::string_view pathPart) {
  std::string path(pathPart);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  DerivedPath result;
  const std::size_t scheme = path.find("://");
  if (scheme != std::string::npos) {
    std::string rest = path.substr(scheme + 3);
    const std::size_t slash = rest.find('/');
    const std::string hostAndPort = rest.substr(0, slash);
    result.host = hostAndPort.substr(0, hostAndPort.find(':'));
    path = slash == std::string::npos ? "" : rest.substr(slash);
  }
  const std::size_t lastSlash = path.rfind('/');
  std::string directory = lastSlash == std::string::npos ? "" : path.substr(0, lastSlash + 1);
  std::string document = lastSlash == std::string::npos ? path : path.substr(lastSlash + 1);
  if (directory.empty() || directory.front() != '/') directory = "/" + directory;
  document = document.substr(0, document.find('#'));
  result.path = directory + document;
  return result;
}

std::string DecodeBase64(std::string_view text) {
  std::string decoded;
  unsigned buffer = 0;
  int bits = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') {
      value = c - 'A';
    } else if (c >= 'a' && c <= 'z') {
      value = c - 'a' + 26;
    } else if (c >= '0' && c <= '9') {
      value = c - '0' + 52;
    } else if (c == '+') {
      value = 62;
    } else if (c == '/') {
      value = 63;
    } else {
      continue;
    }
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      decoded += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return decoded;
}

std::vector<std::pair<std::string, std::string>> ParseCookies(std::string_view header, std::size_t maxCookies) {
  std::vector<std::pair<std::string, std::string>> cookies;
  while (!header.empty() && cookies.size() < maxCookies) {
    const std::size_t equals = header.find('=');
    const std::size_t semicolon = header.find(';');
    if (equals == std::string_view::npos || (semicolon != std::string_view::npos && semicolon < equals)) {
      const std::string_view name = TrimBlanksAndTabs(header.substr(0, semicolon));
      if (!name.empty()) cookies.emplace_back(std::string(name), "");
      if (semicolon == std::string_view::npos) break;
      header.remove_prefix(semicolon + 1);
      continue;
    }
    const std::string name(TrimBlanksAndTabs(header.substr(0, equals)));
    header.remove_prefix(equals + 1);
    std::string value;
    if (!header.empty() && header.front() == '"') {
      const std::size_t close = header.find('"', 1);
      value = std::string(header.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      header.remove_prefix(close == std::string_view::npos ? header.size() : close + 1);
      const std::size_t next = header.find(';');
      header.remove_prefix(next == std::string_view::npos ? header.size() : next + 1);
    } else {
      const std::size_t next = header.find(';');
      value = std::string(header.substr(0, next));
      header.remove_prefix(next == std::string_view::npos ? header.size() : next + 1);
    }
    cookies.emplace_back(name, value);
  }
  return cookies;
}

}  // namespace lsv::events
