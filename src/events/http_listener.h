#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "events/http_request_reader.h"
#include "events/http_types.h"

namespace lsv::events {

struct ListenerShared;
struct ListenerConnection;

// The thread serving one connection, as its request handler sees it.
class TConnectionThread {
 public:
  TConnectionThread(std::shared_ptr<ListenerShared> shared, std::shared_ptr<ListenerConnection> connection)
      : shared_(std::move(shared)), connection_(std::move(connection)) {}

  // Every connection ends after its one request anyway; kept for handlers that say so.
  void EndAfterRequest() { endAfterRequest_ = true; }
  bool EndsAfterRequest() const { return endAfterRequest_; }

  // While set, stopping the listener does not wait for this thread: it is itself waiting for the
  // thread that stops the listener (a synchronous hand-over to the window thread), so waiting
  // for it could only run into the time limit. A stop that is already waiting is told at once.
  void SetWaitingForOwner(bool waiting);

 private:
  std::shared_ptr<ListenerShared> shared_;
  std::shared_ptr<ListenerConnection> connection_;
  bool endAfterRequest_ = false;
};

// A small HTTP/1.1 server: one listener thread, one thread per connection, one request per
// connection, every response followed by the close.
class THttpListener {
 public:
  using CommandHandler = std::function<void(TConnectionThread& AThread, THttpRequest& RequestInfo,
                                            THttpResponse& ResponseInfo)>;
  using PeerFilter = std::function<bool(const std::string& peerAddress, const std::string& localAddress)>;

  static constexpr int kClassDefaultPort = 80;
  static constexpr int kListenBacklog = 5;
  static constexpr int kAcceptWaitMs = 1000;
  static constexpr int kDefaultTerminateWaitTime = 5000;
  static constexpr int kDefaultReadTimeoutMs = 10000;
  static constexpr std::size_t kDefaultMaxConnections = 64;
  // Connections that have not sent anything yet; they hold no thread. When there are this many,
  // the oldest gives way to a newcomer.
  static constexpr std::size_t kDefaultMaxWaitingConnections = 512;
  static constexpr const char* kProductToken = "LatestSongViewer/1.0";

  THttpListener();
  THttpListener(const THttpListener&) = delete;
  THttpListener& operator=(const THttpListener&) = delete;
  ~THttpListener();

  bool Active() const { return active_; }
  // Activation raises platform::Error with the socket error's text; the listener stays inactive.
  void SetActive(bool active);
  int DefaultPort() const { return defaultPort_; }
  // While active on the binding its own activation made, a different port re-opens the listener there.
  void SetDefaultPort(int port);
  // The port actually listened on (port 0 asks the system for a free one); 0 while inactive.
  std::uint16_t ListeningPort() const { return listeningPort_; }
  // Connections currently being served (those whose request has begun to arrive).
  std::size_t ConnectionCount() const;

  CommandHandler OnCommandGet;
  std::string ServerSoftware;
  int TerminateWaitTime = kDefaultTerminateWaitTime;
  RequestLimits Limits;
  // One deadline from the accept on: the whole request must have arrived within it, however the
  // client spreads its bytes.
  int ReadTimeout = kDefaultReadTimeoutMs;
  std::size_t MaxConnections = kDefaultMaxConnections;
  std::size_t MaxWaitingConnections = kDefaultMaxWaitingConnections;
  // Which peers are served at all; the others are closed at accept, before anything is read from
  // them or a thread or a waiting place is given to them. Unset: every peer.
  PeerFilter AcceptFrom;
  // For tests: runs on the stopping thread, with the listener's lock held, each time the stop has
  // found a connection still being served and is about to wait for it.
  std::function<void()> OnStopWaits;

 private:
  struct Binding {
    std::string address;
    int port;
  };

  void Activate();
  void Deactivate();
  static int ClassifyBindError(int code, const Binding& binding);

  bool active_ = false;
  int defaultPort_ = kClassDefaultPort;
  std::vector<Binding> bindings_;
  bool bindingFromActivation_ = false;
  std::uint16_t listeningPort_ = 0;
  std::shared_ptr<ListenerShared> shared_;
  std::thread listenerThread_;
};

// The text of an activation failure for a socket error code.
std::string ActivationErrorText(int code);

}  // namespace lsv::events
