// The socket calls both platforms share, written once over the system calls each platform
// supplies (socket_system.h). Only start-up, close and the wake signal differ enough to stay
// in the platforms' own files.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/socket_system.h"
#include "platform/sockets.h"

namespace platform {

namespace {

namespace sys = socket_system;

[[noreturn]] void Fail(int code) { throw SocketError(code, SocketErrorText(code)); }
[[noreturn]] void Fail() { Fail(sys::LastError()); }

sys::Endpoint EndpointOf(const std::string& address, std::uint16_t port) {
  sys::Endpoint endpoint;
  endpoint.port = port;
  if (!sys::ParseIPv4(address, endpoint.address)) {
    Fail(kWsaEInval);
  }
  return endpoint;
}

}  // namespace

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.Release();
  }
  return *this;
}

Socket CreateTcpSocket() {
  const Socket::Handle handle = sys::OpenTcp();
  if (handle == Socket::kInvalid) Fail();
  return Socket(handle);
}

void SetReuseAddress(Socket& socket) {
  if (!sys::SetReuseAddress(socket.Get())) Fail();
}

void Bind(Socket& socket, const std::string& address, std::uint16_t port) {
  // An empty address is every local address (0.0.0.0).
  const sys::Endpoint local = address.empty() ? sys::Endpoint{0, port} : EndpointOf(address, port);
  if (!sys::Bind(socket.Get(), local)) Fail();
}

void Listen(Socket& socket, int backlog) {
  if (!sys::Listen(socket.Get(), backlog)) Fail();
}

std::uint16_t LocalPort(const Socket& socket) {
  sys::Endpoint local;
  if (!sys::LocalEndpoint(socket.Get(), local)) Fail();
  return local.port;
}

std::vector<std::size_t> WaitForConnections(const std::vector<Socket*>& sockets, int timeoutMs) {
  std::vector<Socket::Handle> handles;
  handles.reserve(sockets.size());
  for (const Socket* socket : sockets) handles.push_back(socket->Get());
  // Not vector<bool>: the system layer needs the flags as a plain array.
  const auto ready = std::make_unique<bool[]>(sockets.size());
  if (sys::WaitReadable(handles.data(), handles.size(), ready.get(), timeoutMs) < 0) Fail();
  std::vector<std::size_t> indices;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    if (ready[i]) indices.push_back(i);
  }
  return indices;
}

void SetNonBlocking(Socket& socket) {
  if (!sys::SetNonBlocking(socket.Get())) Fail();
}

bool TryAccept(Socket& listening, Accepted& accepted) {
  sys::Endpoint peer;
  const Socket::Handle handle = sys::Accept(listening.Get(), peer);
  if (handle == Socket::kInvalid) {
    if (sys::LastWouldBlock()) return false;
    Fail();
  }
  accepted.socket = Socket(handle);
  accepted.peerAddress = sys::FormatIPv4(peer.address);
  accepted.peerPort = peer.port;
  sys::Endpoint local;
  accepted.localAddress = sys::LocalEndpoint(handle, local) ? sys::FormatIPv4(local.address) : std::string();
  return true;
}

void Connect(Socket& socket, const std::string& address, std::uint16_t port) {
  if (!sys::Connect(socket.Get(), EndpointOf(address, port))) Fail();
}

Socket ConnectTcp(const std::string& address, std::uint16_t port) {
  Socket socket = CreateTcpSocket();
  Connect(socket, address, port);
  return socket;
}

void ShutdownSend(Socket& socket) { sys::ShutdownSend(socket.Get()); }

bool WaitReadable(Socket& socket, int timeoutMs) {
  const Socket::Handle handle = socket.Get();
  bool ready = false;
  const int count = sys::WaitReadable(&handle, 1, &ready, timeoutMs);
  if (count < 0) Fail();
  return count > 0;
}

std::size_t Receive(Socket& socket, char* buffer, std::size_t size) {
  const long count = sys::Receive(socket.Get(), buffer, size);
  if (count < 0) Fail();
  return static_cast<std::size_t>(count);
}

std::optional<std::size_t> TryReceive(Socket& socket, char* buffer, std::size_t size) {
  if (!WaitReadable(socket, 0)) return std::nullopt;
  return Receive(socket, buffer, size);
}

void SendAll(Socket& socket, const char* data, std::size_t size) {
  while (size > 0) {
    const long count = sys::Send(socket.Get(), data, size);
    if (count < 0) Fail();
    data += count;
    size -= static_cast<std::size_t>(count);
  }
}

void Abort(Socket::Handle handle) {
  if (handle != Socket::kInvalid) sys::ShutdownBoth(handle);
}

}  // namespace platform
