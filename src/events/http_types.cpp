#include "events/http_types.h"

#include <string_view>

#include "base/text.h"
#include "platform/error.h"

namespace lsv::events {

const char* ReasonPhraseFor(std::int32_t code) {
  switch (code) {
    case 200: return "OK";
    case 201: return "Created";
    case 202: return "Accepted";
    case 203: return "Non-authoritative Information";
    case 204: return "No Content";
    case 205: return "Reset Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Moved Temporarily";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 305: return "Use Proxy";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method not allowed";
    case 406: return "Not Acceptable";
    case 407: return "Proxy Authentication Required";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 410: return "Gone";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Request Entity To Long";
    case 414: return "Request-URI Too Long. 256 Chars max";
    case 415: return "Unsupported Media Type";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway timeout";
    case 505: return "HTTP version not supported";
    default: return "Unknown Response Code";
  }
}

void THttpResponse::SetStatus(std::int32_t code) {
  StatusCode = code;
  ReasonPhrase = ReasonPhraseFor(code);
}

void THttpResponse::SetHeader(const std::string& name, const std::string& value) {
  const std::string line = name + ": " + value;
  for (std::string& existing : ExtraHeaders) {
    const std::size_t colon = existing.find(':');
    if (colon != std::string::npos && EqualsNoCase(std::string_view(existing).substr(0, colon), name)) {
      existing = line;
      return;
    }
  }
  ExtraHeaders.push_back(line);
}

void THttpResponse::WriteHeader() {
  if (HeaderSent) throw platform::Error("Header has already been written.");
  SetHeader("Server", ServerToken);
  SetHeader("Content-Type", MediaType);
  if (BodyLength == -1 && !BodyText.empty()) BodyLength = static_cast<std::int32_t>(BodyText.size());
  if (BodyLength >= 0) SetHeader("Content-Length", std::to_string(BodyLength));
  HeaderSent = true;
  std::string block = "HTTP/1.1 " + std::to_string(StatusCode) + " " + ReasonPhrase + "\r\n";
  for (const std::string& line : ExtraHeaders) block += line + "\r\n";
  block += "\r\n";
  writer_(block);
}

void THttpResponse::WriteBody() {
  writer_(BodyText);
  BodyText.clear();
}

}  // namespace lsv::events
