// POSIX sockets for the native build: the system calls under the shared socket body, with error
// codes translated to their Winsock numbers.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>
#include <vector>

#include "platform/socket_address.h"
#include "platform/socket_system.h"
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

int Fd(Socket::Handle handle) { return static_cast<int>(handle); }

}  // namespace

void Socket::Close() {
  if (handle_ != kInvalid) {
    ::close(Fd(handle_));
    handle_ = kInvalid;
  }
}

void StartSockets() {
  static std::once_flag once;
  // A write to a connection the peer has closed must fail, not end the process.
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

WakeSignal::WakeSignal() {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    const int code = ToWsa(errno);
    throw SocketError(code, SocketErrorText(code));
  }
  receiver_ = Socket(ends[0]);
  sender_ = Socket(ends[1]);
}

void WakeSignal::Signal() noexcept {
  const char byte = 1;
  static_cast<void>(::send(Fd(sender_.Get()), &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL));
}

namespace socket_system {

int LastError() { return ToWsa(errno); }
bool LastWouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

Handle OpenTcp() {
  const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return handle < 0 ? Socket::kInvalid : handle;
}

bool SetReuseAddress(Handle handle) {
  const int on = 1;
  return ::setsockopt(Fd(handle), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

bool SetNonBlocking(Handle handle) {
  const int flags = ::fcntl(Fd(handle), F_GETFL, 0);
  return flags >= 0 && ::fcntl(Fd(handle), F_SETFL, flags | O_NONBLOCK) == 0;
}

bool Bind(Handle handle, Endpoint local) {
  const sockaddr_in address = ToAddress(local);
  return ::bind(Fd(handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool Listen(Handle handle, int backlog) { return ::listen(Fd(handle), backlog) == 0; }

bool Connect(Handle handle, Endpoint remote) {
  const sockaddr_in address = ToAddress(remote);
  return ::connect(Fd(handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool LocalEndpoint(Handle handle, Endpoint& local) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(Fd(handle), reinterpret_cast<sockaddr*>(&address), &length) != 0) return false;
  local = FromAddress(address);
  return true;
}

Handle Accept(Handle listening, Endpoint& peer) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  // accept4 does not hand O_NONBLOCK on, so the accepted socket blocks.
  const int handle = ::accept4(Fd(listening), reinterpret_cast<sockaddr*>(&address), &length, SOCK_CLOEXEC);
  if (handle < 0) return Socket::kInvalid;
  peer = FromAddress(address);
  return handle;
}

int WaitReadable(const Handle* handles, std::size_t count, bool* ready, int timeoutMs) {
  std::vector<pollfd> polled;
  polled.reserve(count);
  for (std::size_t i = 0; i < count; ++i) polled.push_back({Fd(handles[i]), POLLIN, 0});
  const int result = ::poll(polled.data(), polled.size(), timeoutMs);
  if (result < 0) return errno == EINTR ? 0 : -1;
  for (std::size_t i = 0; i < count; ++i) ready[i] = polled[i].revents != 0;
  return result;
}

long Send(Handle handle, const char* data, std::size_t size) {
  for (;;) {
    const ssize_t count = ::send(Fd(handle), data, size, MSG_NOSIGNAL);
    if (count >= 0 || errno != EINTR) return static_cast<long>(count);
  }
}

long Receive(Handle handle, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t count = ::recv(Fd(handle), buffer, size, 0);
    if (count >= 0 || errno != EINTR) return static_cast<long>(count);
  }
}

void ShutdownSend(Handle handle) { ::shutdown(Fd(handle), SHUT_WR); }
void ShutdownBoth(Handle handle) { ::shutdown(Fd(handle), SHUT_RDWR); }

bool ParseIPv4(const std::string& text, std::uint32_t& address) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, text.c_str(), &parsed) != 1) return false;
  address = ntohl(parsed.s_addr);
  return true;
}

std::string FormatIPv4(std::uint32_t address) {
  in_addr raw{};
  raw.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &raw, text, sizeof text);
  return text;
}

}  // namespace socket_system

}  // namespace platform
