#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/sockets.h"

// The handful of system calls the one socket body (platform/sockets.cpp) is written over. Each
// platform's file supplies them: headless/posix_sockets.cpp and win32/winsock_sockets.cpp. None
// throws; a failed call returns its failure value and LastError() gives the Winsock-style code.
// Calls the system may interrupt (EINTR) are retried inside, so the body never sees that.
namespace platform::socket_system {

using Handle = Socket::Handle;

// An IPv4 address and port, both in host order.
struct Endpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

int LastError();
// The last failure means "nothing yet" on a non-blocking socket.
bool LastWouldBlock();

// A TCP socket no child process inherits; Socket::kInvalid on failure.
Handle OpenTcp();
bool SetReuseAddress(Handle handle);
bool SetNonBlocking(Handle handle);
bool Bind(Handle handle, Endpoint local);
bool Listen(Handle handle, int backlog);
bool Connect(Handle handle, Endpoint remote);
bool LocalEndpoint(Handle handle, Endpoint& local);
// The accepted socket blocks, whatever the listening socket's mode; Socket::kInvalid on failure.
Handle Accept(Handle listening, Endpoint& peer);
// Sets ready[i] for each handle a read would not block on. The count of ready handles; 0 after
// the timeout or an interruption; -1 on failure.
int WaitReadable(const Handle* handles, std::size_t count, bool* ready, int timeoutMs);
// Bytes moved, or -1. A send to a closed peer fails instead of raising a signal.
long Send(Handle handle, const char* data, std::size_t size);
long Receive(Handle handle, char* buffer, std::size_t size);
void ShutdownSend(Handle handle);
void ShutdownBoth(Handle handle);

// Strict dotted IPv4 text, as inet_pton reads it.
bool ParseIPv4(const std::string& text, std::uint32_t& address);
std::string FormatIPv4(std::uint32_t address);

}  // namespace platform::socket_system
