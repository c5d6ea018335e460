#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "events/command_handover.h"
#include "events/http_listener.h"
#include "events/http_types.h"
#include "platform/form.h"

namespace lsv::events {

inline constexpr const char* kEventName = "event";

// The request path with every "/" taken out: "/event", "//event/" and "/ev/ent" all give "event".
std::string EventKey(std::string_view requestPath);

// The value of the first query item whose name (the text before its first "=") matches without
// regard to case; "" when none does. Items without "=" have no name.
std::string FieldValue(const std::vector<std::string>& queryFields, std::string_view name);

// An event argument as a number; anything that is not one gives 0.
std::int32_t EventArgument(const std::string& text);

// Page events are acted on only from this machine: a loopback peer, or one whose address is the
// connection's own local address (a local client that used the machine's network address).
bool IsLocalPeer(const std::string& peerAddress, const std::string& localAddress);

// "scheme://host:port" of an http or https URL, lower case, with the scheme's default port made
// explicit; "" for anything else (file:, about:, a relative path, text that is no URL).
std::string HttpOrigin(std::string_view url);

// Whether a request was made by a web page of another site: its Origin or Referer names an http(s)
// origin other than a loopback address, localhost or the display page's own origin, or it says
// Sec-Fetch-Site: cross-site. A browser adds these to every request a page makes, an image or a
// script included, so any site the user visits could otherwise drive the strip. Requests without
// them (the display page from a file sends none), "Origin: null" and other schemes pass.
bool IsForeignSiteRequest(const std::vector<std::string>& headerLines, std::string_view pageOrigin);

// The page's event requests, from the listener's connection threads to the strip's window thread.
//
// The listener's handler holds this object (std::shared_ptr), never the strip: a connection
// thread that is still handing a command over when the strip closes touches only this object and
// the messenger, both of which outlive the window.
class TPageEvents {
 public:
  explicit TPageEvents(std::shared_ptr<platform::IWindowMessenger> messenger);

  // The listener's request handler: answers 404 and, for an event request from this machine,
  // hands the command to the window thread and waits until it has been carried out there.
  void CommandGet(TConnectionThread& AThread, THttpRequest& RequestInfo, THttpResponse& ResponseInfo);

  // On the window thread, for the 1025 message: the command handed over under that token, once;
  // nullopt for a token that names no hand-over in flight.
  std::optional<COMMAND> Receive(std::uintptr_t token) { return handOver_.Take(token); }

  // The display page's own origin, whose requests may carry its Origin and Referer; from any thread.
  void SetPageOrigin(std::string origin);
  std::string PageOrigin() const;

 private:
  std::shared_ptr<platform::IWindowMessenger> messenger_;
  CommandHandOver handOver_;
  mutable std::mutex originLock_;
  std::string pageOrigin_;
};

}  // namespace lsv::events
