#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace platform {

// Socket error codes are Winsock's on every platform, so one table of texts serves both.
inline constexpr int kWsaEAcces = 10013;
inline constexpr int kWsaEAddrInUse = 10048;
inline constexpr int kWsaEAddrNotAvail = 10049;
inline constexpr int kWsaEConnAborted = 10053;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaENotConn = 10057;
inline constexpr int kWsaEShutdown = 10058;
inline constexpr int kWsaETimedOut = 10060;
inline constexpr int kWsaEMFile = 10024;
inline constexpr int kWsaENoBufs = 10055;
inline constexpr int kWsaEInval = 10022;
inline constexpr int kWsaENotSock = 10038;
inline constexpr int kWsaEIntr = 10004;

// A failed socket call: the Winsock-style code and its text.
class SocketError : public Error {
 public:
  SocketError(int code, const std::string& message) : Error(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// An IPv4 TCP socket, closed when the object goes.
class Socket {
 public:
  using Handle = std::intptr_t;
  static constexpr Handle kInvalid = -1;

  Socket() = default;
  explicit Socket(Handle handle) : handle_(handle) {}
  Socket(Socket&& other) noexcept : handle_(other.Release()) {}
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { Close(); }

  bool Valid() const { return handle_ != kInvalid; }
  Handle Get() const { return handle_; }
  Handle Release() {
    const Handle handle = handle_;
    handle_ = kInvalid;
    return handle;
  }
  void Close();

 private:
  Handle handle_ = kInvalid;
};

// Once per process before the first socket (Winsock start-up; SIGPIPE off elsewhere).
void StartSockets();

// Each raises SocketError with the system's code.
Socket CreateTcpSocket();
void SetReuseAddress(Socket& socket);
// An empty address binds every local IPv4 address.
void Bind(Socket& socket, const std::string& address, std::uint16_t port);
void Listen(Socket& socket, int backlog);
std::uint16_t LocalPort(const Socket& socket);

// Indices of the listening sockets that have a connection waiting, after at most timeoutMs.
std::vector<std::size_t> WaitForConnections(const std::vector<Socket*>& sockets, int timeoutMs);

struct Accepted {
  Socket socket;
  std::string peerAddress;   // dotted IPv4
  std::uint16_t peerPort = 0;
  std::string localAddress;  // the address the peer connected to
};
// For a listening socket made non-blocking: false at once when no connection is waiting.
void SetNonBlocking(Socket& socket);
bool TryAccept(Socket& listening, Accepted& accepted);

// Wakes a thread waiting in WaitForConnections from another thread, with no connection: a
// connect to the listener's own port could stall for a second behind a full accept queue. Its
// Pollable socket is polled with the others and reads as ready once Signal has been called.
class WakeSignal {
 public:
  // Raises SocketError.
  WakeSignal();
  void Signal() noexcept;
  Socket& Pollable() { return receiver_; }

 private:
  Socket receiver_;
  Socket sender_;
};

// A client connection, for tests and tools. Connect is for a socket bound to a source address
// of its own first.
Socket ConnectTcp(const std::string& address, std::uint16_t port);
void Connect(Socket& socket, const std::string& address, std::uint16_t port);
// Ends the sending side, so the peer reads the close after everything sent.
void ShutdownSend(Socket& socket);

// True when a read would not block (data, or the peer's close), after at most timeoutMs.
bool WaitReadable(Socket& socket, int timeoutMs);
// Bytes read, or 0 when the peer has closed its sending side.
std::size_t Receive(Socket& socket, char* buffer, std::size_t size);
// The same without waiting: nullopt when nothing has arrived yet.
std::optional<std::size_t> TryReceive(Socket& socket, char* buffer, std::size_t size);
void SendAll(Socket& socket, const char* data, std::size_t size);
// Makes later reads and writes on the socket fail, from any thread, without closing the handle
// under its owner's feet (a closed handle can be reused at once by another socket).
void Abort(Socket::Handle handle);

// The system's text for a socket error code.
std::string SocketErrorText(int code);

}  // namespace platform
