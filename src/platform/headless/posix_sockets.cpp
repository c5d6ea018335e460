// POSIX sockets for the native build; error codes are translated to their Winsock numbers.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#include "platform/sockets.h"

namespace platform {

namespace {

int ToWsa(int error) {
  switch (error) {
    case EACCES:
      return kWsaEAcces;
    case EADDRINUSE:
      return kWsaEAddrInUse;
    case EADDRNOTAVAIL:
      return kWsaEAddrNotAvail;
    case ECONNABORTED:
      return kWsaEConnAborted;
    case ECONNRESET:
    case EPIPE:
      return kWsaEConnReset;
    case ENOTCONN:
      return kWsaENotConn;
    case EAGAIN:
    case ETIMEDOUT:
      return kWsaETimedOut;
    case EMFILE:
    case ENFILE:
      return kWsaEMFile;
    case ENOBUFS:
    case ENOMEM:
      return kWsaENoBufs;
    case EINVAL:
      return kWsaEInval;
    case EBADF:
    case ENOTSOCK:
      return kWsaENotSock;
    case EINTR:
      return kWsaEIntr;
    default:
      return 10000 + error;
  }
}

[[noreturn]] void Fail() {
  const int code = ToWsa(errno);
  throw SocketError(code, SocketErrorText(code));
}

std::string Dotted(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
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
    ::close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
}

void StartSockets() {
  static std::once_flag once;
  // A write to a connection the peer has closed must fail, not end the process.
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

Socket CreateTcpSocket() {
  const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (handle < 0) Fail();
  return Socket(handle);
}

void SetReuseAddress(Socket& socket) {
  const int on = 1;
  if (::setsockopt(static_cast<int>(socket.Get()), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) Fail();
}

void Bind(Socket& socket, const std::string& address, std::uint16_t port) {
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_port = htons(port);
  if (address.empty()) {
    bound.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (inet_pton(AF_INET, address.c_str(), &bound.sin_addr) != 1) {
    throw SocketError(kWsaEInval, SocketErrorText(kWsaEInval));
  }
  if (::bind(static_cast<int>(socket.Get()), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) Fail();
}

void Listen(Socket& socket, int backlog) {
  if (::listen(static_cast<int>(socket.Get()), backlog) != 0) Fail();
}

std::uint16_t LocalPort(const Socket& socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(static_cast<int>(socket.Get()), reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail();
  return ntohs(address.sin_port);
}

std::vector<std::size_t> WaitForConnections(const std::vector<Socket*>& sockets, int timeoutMs) {
  std::vector<pollfd> polled;
  for (const Socket* socket : sockets) polled.push_back({static_cast<int>(socket->Get()), POLLIN, 0});
  std::vector<std::size_t> ready;
  const int count = ::poll(polled.data(), polled.size(), timeoutMs);
  if (count < 0) {
    if (errno == EINTR) return ready;
    Fail();
  }
  for (std::size_t i = 0; i < polled.size(); ++i) {
    if (polled[i].revents != 0) ready.push_back(i);
  }
  return ready;
}

void SetNonBlocking(Socket& socket) {
  const int fd = static_cast<int>(socket.Get());
  const int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) Fail();
}

bool TryAccept(Socket& listening, Accepted& accepted) {
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  // The accepted socket blocks again: accept4 does not inherit O_NONBLOCK.
  const int handle = ::accept4(static_cast<int>(listening.Get()), reinterpret_cast<sockaddr*>(&peer), &length,
                               SOCK_CLOEXEC);
  if (handle < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
    Fail();
  }
  accepted.socket = Socket(handle);
  accepted.peerAddress = Dotted(peer);
  accepted.peerPort = ntohs(peer.sin_port);
  sockaddr_in local{};
  length = sizeof local;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &length) == 0) accepted.localAddress = Dotted(local);
  return true;
}

WakeSignal::WakeSignal() {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) Fail();
  receiver_ = Socket(ends[0]);
  sender_ = Socket(ends[1]);
}

void WakeSignal::Signal() noexcept {
  const char byte = 1;
  static_cast<void>(::send(static_cast<int>(sender_.Get()), &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL));
}

void Connect(Socket& socket, const std::string& address, std::uint16_t port) {
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  if (inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) {
    throw SocketError(kWsaEInval, SocketErrorText(kWsaEInval));
  }
  if (::connect(static_cast<int>(socket.Get()), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) Fail();
}

Socket ConnectTcp(const std::string& address, std::uint16_t port) {
  Socket socket = CreateTcpSocket();
  Connect(socket, address, port);
  return socket;
}

void ShutdownSend(Socket& socket) { ::shutdown(static_cast<int>(socket.Get()), SHUT_WR); }

bool WaitReadable(Socket& socket, int timeoutMs) {
  pollfd polled{static_cast<int>(socket.Get()), POLLIN, 0};
  const int count = ::poll(&polled, 1, timeoutMs);
  if (count < 0) {
    if (errno == EINTR) return false;
    Fail();
  }
  return count > 0;
}

std::size_t Receive(Socket& socket, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t count = ::recv(static_cast<int>(socket.Get()), buffer, size, 0);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno != EINTR) Fail();
  }
}

std::optional<std::size_t> TryReceive(Socket& socket, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t count = ::recv(static_cast<int>(socket.Get()), buffer, size, MSG_DONTWAIT);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
    if (errno != EINTR) Fail();
  }
}

void SendAll(Socket& socket, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t count = ::send(static_cast<int>(socket.Get()), data, size, MSG_NOSIGNAL);
    if (count < 0) {
      if (errno == EINTR) continue;
      Fail();
    }
    data += count;
    size -= static_cast<std::size_t>(count);
  }
}

void Abort(Socket::Handle handle) {
  if (handle != Socket::kInvalid) ::shutdown(static_cast<int>(handle), SHUT_RDWR);
}

}  // namespace platform
