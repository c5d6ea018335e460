#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace lsv::events
