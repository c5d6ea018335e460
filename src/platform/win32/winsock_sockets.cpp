// Winsock 2 for the product: the system calls under the shared socket body. Winsock's error
// codes are already the ones the body reports.

// The listener waits on its idle connections with select; Winsock's default set holds only 64.
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform/socket_address.h"
#include "platform/socket_system.h"
#include "platform/sockets.h"

namespace platform {

namespace {

using socket_system::ToAddress;

SOCKET Raw(Socket::Handle handle) { return static_cast<SOCKET>(handle); }

[[noreturn]] void FailLast() {
  const int code = WSAGetLastError();
  throw SocketError(code, SocketErrorText(code));
}

Socket OpenUdp() {
  const SOCKET handle = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (handle == INVALID_SOCKET) FailLast();
  return Socket(static_cast<Socket::Handle>(handle));
}

}  // namespace

void Socket::Close() {
  if (handle_ != kInvalid) {
    ::closesocket(Raw(handle_));
    handle_ = kInvalid;
  }
}

void StartSockets() {
  static std::once_flag once;
  // Winsock stays started for the rest of the process: connection threads may outlive the
  // listener that started it.
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}

// Winsock's select takes sockets only, so the wake is a datagram between two loopback UDP
// sockets rather than a pipe. A datagram needs no connection and no accept queue.
WakeSignal::WakeSignal() {
  receiver_ = OpenUdp();
  sockaddr_in address = ToAddress({INADDR_LOOPBACK, 0});
  if (::bind(Raw(receiver_.Get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) FailLast();
  int length = sizeof address;
  if (::getsockname(Raw(receiver_.Get()), reinterpret_cast<sockaddr*>(&address), &length) != 0) FailLast();
  sender_ = OpenUdp();
  if (::connect(Raw(sender_.Get()), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) FailLast();
}

void WakeSignal::Signal() noexcept {
  const char byte = 1;
  static_cast<void>(::send(Raw(sender_.Get()), &byte, 1, 0));
}

namespace socket_system {

int LastError() { return WSAGetLastError(); }
bool LastWouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }

Handle OpenTcp() {
  const SOCKET handle = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  return handle == INVALID_SOCKET ? Socket::kInvalid : static_cast<Handle>(handle);
}

bool SetReuseAddress(Handle handle) {
  const BOOL on = TRUE;
  return ::setsockopt(Raw(handle), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) == 0;
}

bool SetNonBlocking(Handle handle) {
  u_long on = 1;
  return ::ioctlsocket(Raw(handle), FIONBIO, &on) == 0;
}

bool Bind(Handle handle, Endpoint local) {
  const sockaddr_in address = ToAddress(local);
  return ::bind(Raw(handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool Listen(Handle handle, int backlog) { return ::listen(Raw(handle), backlog) == 0; }

bool Connect(Handle handle, Endpoint remote) {
  const sockaddr_in address = ToAddress(remote);
  return ::connect(Raw(handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool LocalEndpoint(Handle handle, Endpoint& local) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(Raw(handle), reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  local = FromAddress(address);
  return true;
}

Handle Accept(Handle listening, Endpoint& peer) {
  sockaddr_in address{};
  int length = sizeof address;
  const SOCKET handle = ::accept(Raw(listening), reinterpret_cast<sockaddr*>(&address), &length);
  if (handle == INVALID_SOCKET) return Socket::kInvalid;
  // Winsock hands the listening socket's non-blocking mode on to the accepted one.
  u_long off = 0;
  ::ioctlsocket(handle, FIONBIO, &off);
  peer = FromAddress(address);
  return static_cast<Handle>(handle);
}

int WaitReadable(const Handle* handles, std::size_t count, bool* ready, int timeoutMs) {
  if (count > FD_SETSIZE) {
    WSASetLastError(WSAEINVAL);
    return -1;
  }
  fd_set readable;
  FD_ZERO(&readable);
  for (std::size_t i = 0; i < count; ++i) FD_SET(Raw(handles[i]), &readable);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int result = ::select(0, &readable, nullptr, nullptr, &timeout);
  if (result == SOCKET_ERROR) return -1;
  for (std::size_t i = 0; i < count; ++i) ready[i] = FD_ISSET(Raw(handles[i]), &readable) != 0;
  return result;
}

long Send(Handle handle, const char* data, std::size_t size) {
  const int count = ::send(Raw(handle), data, static_cast<int>(size), 0);
  return count == SOCKET_ERROR ? -1 : count;
}

long Receive(Handle handle, char* buffer, std::size_t size) {
  const int count = ::recv(Raw(handle), buffer, static_cast<int>(size), 0);
  return count == SOCKET_ERROR ? -1 : count;
}

void ShutdownSend(Handle handle) { ::shutdown(Raw(handle), SD_SEND); }
void ShutdownBoth(Handle handle) { ::shutdown(Raw(handle), SD_BOTH); }

bool ParseIPv4(const std::string& text, std::uint32_t& address) {
  in_addr parsed{};
  if (::InetPtonA(AF_INET, text.c_str(), &parsed) != 1) return false;
  address = ntohl(parsed.s_addr);
  return true;
}

std::string FormatIPv4(std::uint32_t address) {
  in_addr raw{};
  raw.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  ::InetNtopA(AF_INET, &raw, text, sizeof text);
  return text;
}

}  // namespace socket_system

}  // namespace platform
