#pragma once

// Between the socket layer's endpoints and the system's sockaddr_in, which both platforms lay out
// alike. Included by each platform's socket file after its own socket headers.

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include "platform/socket_system.h"

namespace platform::socket_system {

inline sockaddr_in ToAddress(Endpoint endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(endpoint.address);
  address.sin_port = htons(endpoint.port);
  return address;
}

inline Endpoint FromAddress(const sockaddr_in& address) {
  return {ntohl(address.sin_addr.s_addr), ntohs(address.sin_port)};
}

}  // namespace platform::socket_system
