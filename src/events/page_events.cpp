// The page's event requests: from the listener's connection thread to the strip's window thread.

#include "events/page_events.h"

#include <utility>

#include "base/number_text.h"
#include "base/text.h"
#include "events/http_parsing.h"

namespace lsv::events {

namespace {

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!IsDecimalDigit(c)) return false;
  }
  return true;
}

// A dotted IPv4 address of 127.0.0.0/8. Browsers write IP hosts in this canonical form, and a
// name such as "127.example.com" is no address at all.
bool IsLoopbackIpv4(std::string_view host) {
  int parts = 0;
  while (!host.empty()) {
    const std::size_t dot = host.find('.');
    const std::string_view part = host.substr(0, dot);
    if (!IsDigits(part) || part.size() > 3 || std::stoi(std::string(part)) > 255) return false;
    if (parts == 0 && part != "127") return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    host.remove_prefix(dot + 1);
    if (host.empty()) return false;
  }
  return parts == 4;
}

bool IsLoopbackOrigin(std::string_view origin) {
  const std::size_t hostStart = origin.find("://") + 3;
  const std::size_t portColon = origin.rfind(':');
  const std::string_view host = origin.substr(hostStart, portColon - hostStart);
  return host == "localhost" || host == "[::1]" || IsLoopbackIpv4(host);
}

}  // namespace

std::string EventKey(std::string_view requestPath) {
  std::string key;
  for (char c : requestPath) {
    if (c != '/') key += c;
  }
  return key;
}

std::string FieldValue(const std::vector<std::string>& queryFields, std::string_view name) {
  for (const std::string& item : queryFields) {
    const std::size_t equals = item.find('=');
    if (equals == std::string::npos || equals != name.size()) continue;
    if (EqualsNoCase(std::string_view(item).substr(0, equals), name)) return item.substr(equals + 1);
  }
  return "";
}

std::int32_t EventArgument(const std::string& text) { return ParseInteger(text).value_or(0); }

bool IsLocalPeer(const std::string& peerAddress, const std::string& localAddress) {
  return peerAddress.rfind("127.", 0) == 0 || (!peerAddress.empty() && peerAddress == localAddress);
}

std::string HttpOrigin(std::string_view url) {
  const std::size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string_view::npos) return "";
  std::string scheme;
  for (char c : url.substr(0, schemeEnd)) scheme += LowerAscii(c);
  if (scheme != "http" && scheme != "https") return "";

  std::string_view authority = url.substr(schemeEnd + 3);
  authority = authority.substr(0, authority.find_first_of("/?#\\"));
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);

  std::string_view host;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return "";
    host = authority.substr(0, close + 1);
    const std::string_view rest = authority.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return "";
      port = rest.substr(1);
    }
  } else {
    const std::size_t colon = authority.find(':');
    host = authority.substr(0, colon);
    if (colon != std::string_view::npos) port = authority.substr(colon + 1);
  }
  if (host.empty()) return "";
  std::string portText = port.empty() ? (scheme == "http" ? "80" : "443") : std::string(port);
  if (!IsDigits(portText) || portText.size() > 5 || std::stoi(portText) < 1 || std::stoi(portText) > 65535) return "";
  portText = std::to_string(std::stoi(portText));

  std::string origin = scheme + "://";
  for (char c : host) origin += LowerAscii(c);
  return origin + ":" + portText;
}

bool IsForeignSiteRequest(const std::vector<std::string>& headerLines, std::string_view pageOrigin) {
  if (EqualsNoCase(TrimControlsAndBlanks(HeaderValue(headerLines, "Sec-Fetch-Site")), "cross-site")) return true;
  for (const char* name : {"Origin", "Referer"}) {
    const std::string value = HeaderValue(headerLines, name);
    const std::string_view text = TrimControlsAndBlanks(value);
    if (text.empty() || text == "null") continue;
    const std::string origin = HttpOrigin(text);
    if (origin.empty()) {
      // Another scheme (file:, a browser's own pages) names no web site. An http(s) origin that
      // cannot be read might name any, so it counts as foreign.
      if (StartsWithNoCase(text, "http://") || StartsWithNoCase(text, "https://")) return true;
      continue;
    }
    if (IsLoopbackOrigin(origin) || (!pageOrigin.empty() && origin == pageOrigin)) continue;
    return true;
  }
  return false;
}

TPageEvents::TPageEvents(std::shared_ptr<platform::IWindowMessenger> messenger) : messenger_(std::move(messenger)) {}

void TPageEvents::SetPageOrigin(std::string origin) {
  std::lock_guard<std::mutex> guard(originLock_);
  pageOrigin_ = std::move(origin);
}

std::string TPageEvents::PageOrigin() const {
  std::lock_guard<std::mutex> guard(originLock_);
  return pageOrigin_;
}

void TPageEvents::CommandGet(TConnectionThread& AThread, THttpRequest& RequestInfo, THttpResponse& ResponseInfo) {
  ResponseInfo.SetStatus(404);
  AThread.EndAfterRequest();
  // Anyone on the network may reach the listener; only this machine may drive the strip. Others
  // get the same answer as any other request.
  if (!IsLocalPeer(RequestInfo.PeerAddress, RequestInfo.LocalAddress)) return;

  const std::string key = EventKey(RequestInfo.RequestPath);
  if (RequestInfo.QueryFields.size() != 3) return;
  if (key != kEventName) return;
  if (IsForeignSiteRequest(RequestInfo.HeaderLines, PageOrigin())) return;

  const CommandHandOver::Token token =
      handOver_.Park(COMMAND{key, FieldValue(RequestInfo.QueryFields, "type"),
                             FieldValue(RequestInfo.QueryFields, "arg1"), FieldValue(RequestInfo.QueryFields, "arg2")});
  // Synchronous, so the page's answer waits until the command has been carried out. While it
  // lasts the window thread may be stopping the listener ("close"); the stop need not wait for
  // this thread then, and may return while it is still in here: from the mark on, this thread
  // touches nothing but this object, which it holds.
  AThread.SetWaitingForOwner(true);
  messenger_->SendPageEvent(token);
  AThread.SetWaitingForOwner(false);
  handOver_.Discard(token);
}

}  // namespace lsv::events
