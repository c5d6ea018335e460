// Winsock 2 for the product: the same calls as the POSIX build, Winsock's own error codes.

// The listener waits on its idle connections with select; Winsock's default set holds only 64.
#define FD_SETSIZE 1024
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform/sockets.h"

namespace platform {

namespace {

[[noreturn]] void Fail(int code) { throw SocketError(code, SocketErrorText(code)); }
[[noreturn]] void Fail() { Fail(WSAGetLastError()); }

SOCKET Raw(const Socket& socket) { return static_cast<SOCKET>(socket.Get()); }

std::string Dotted(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  InetNtopA(AF_INET, const_cast<in_addr*>(&address.sin_addr), text, sizeof text);
  return text;
}

}  // namespace

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.Release();
  }
  return *this;
}

void Socket::Close() {
  if (handle_ != kInvalid) {
    ::closesocket(static_cast<SOCKET>(handle_));
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

Socket CreateTcpSocket() {
  const SOCKET handle = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (handle == INVALID_SOCKET) Fail();
  return Socket(static_cast<Socket::Handle>(handle));
}

void SetReuseAddress(Socket& socket) {
  const BOOL on = TRUE;
  if (::setsockopt(Raw(socket), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) != 0) Fail();
}

void Bind(Socket& socket, const std::string& address, std::uint16_t port) {
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(port);
  if (address.empty()) {
    bound.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (InetPtonA(AF_INET, address.c_str(), &bound.sin_addr) != 1) {
    Fail(WSAEINVAL);
  }
  if (::bind(Raw(socket), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) Fail();
}

void Listen(Socket& socket, int backlog) {
  if (::listen(Raw(socket), backlog) != 0) Fail();
}

std::uint16_t LocalPort(const Socket& socket) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(Raw(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail();
  return ntohs(address.sin_port);
}

std::vector<std::size_t> WaitForConnections(const std::vector<Socket*>& sockets, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  for (const Socket* socket : sockets) FD_SET(Raw(*socket), &readable);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  std::vector<std::size_t> ready;
  const int count = ::select(0, &readable, nullptr, nullptr, &timeout);
  if (count == SOCKET_ERROR) Fail();
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    if (FD_ISSET(Raw(*sockets[i]), &readable)) ready.push_back(i);
  }
  return ready;
}

void SetNonBlocking(Socket& socket) {
  u_long on = 1;
  if (::ioctlsocket(Raw(socket), FIONBIO, &on) != 0) Fail();
}

bool TryAccept(Socket& listening, Accepted& accepted) {
  sockaddr_in peer{};
  int length = sizeof peer;
  const SOCKET handle = ::accept(Raw(listening), reinterpret_cast<sockaddr*>(&peer), &length);
  if (handle == INVALID_SOCKET) {
    if (WSAGetLastError() == WSAEWOULDBLOCK) return false;
    Fail();
  }
  accepted.socket = Socket(static_cast<Socket::Handle>(handle));
  // Winsock hands the listening socket's non-blocking mode on to the accepted one.
  u_long off = 0;
  ::ioctlsocket(handle, FIONBIO, &off);
  accepted.peerAddress = Dotted(peer);
  accepted.peerPort = ntohs(peer.sin_port);
  sockaddr_in local{};
  length = sizeof local;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &length) == 0) accepted.localAddress = Dotted(local);
  return true;
}

// Winsock's select takes sockets only, so the wake is a datagram between two loopback UDP
// sockets rather than a pipe. A datagram needs no connection and no accept queue.
WakeSignal::WakeSignal() {
  const auto udp = [] {
    const SOCKET handle = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (handle == INVALID_SOCKET) Fail();
    return Socket(static_cast<Socket::Handle>(handle));
  };
  receiver_ = udp();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(Raw(receiver_), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) Fail();
  int length = sizeof address;
  if (::getsockname(Raw(receiver_), reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail();
  sender_ = udp();
  if (::connect(Raw(sender_), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) Fail();
}

void WakeSignal::Signal() noexcept {
  const char byte = 1;
  static_cast<void>(::send(Raw(sender_), &byte, 1, 0));
}

void Connect(Socket& socket, const std::string& address, std::uint16_t port) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  if (InetPtonA(AF_INET, address.c_str(), &target.sin_addr) != 1) Fail(WSAEINVAL);
  if (::connect(Raw(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) Fail();
}

Socket ConnectTcp(const std::string& address, std::uint16_t port) {
  Socket socket = CreateTcpSocket();
  Connect(socket, address, port);
  return socket;
}

void ShutdownSend(Socket& socket) { ::shutdown(Raw(socket), SD_SEND); }

bool WaitReadable(Socket& socket, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Raw(socket), &readable);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int count = ::select(0, &readable, nullptr, nullptr, &timeout);
  if (count == SOCKET_ERROR) Fail();
  return count > 0;
}

std::size_t Receive(Socket& socket, char* buffer, std::size_t size) {
  const int count = ::recv(Raw(socket), buffer, static_cast<int>(size), 0);
  if (count == SOCKET_ERROR) Fail();
  return static_cast<std::size_t>(count);
}

std::optional<std::size_t> TryReceive(Socket& socket, char* buffer, std::size_t size) {
  if (!WaitReadable(socket, 0)) return std::nullopt;
  return Receive(socket, buffer, size);
}

void SendAll(Socket& socket, const char* data, std::size_t size) {
  while (size > 0) {
    const int count = ::send(Raw(socket), data, static_cast<int>(size), 0);
    if (count == SOCKET_ERROR) Fail();
    data += count;
    size -= static_cast<std::size_t>(count);
  }
}

void Abort(Socket::Handle handle) {
  if (handle != Socket::kInvalid) ::shutdown(static_cast<SOCKET>(handle), SD_BOTH);
}

}  // namespace platform
