#include "events/http_listener.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>

#include "base/exception.h"
#include "base/text.h"
#include "platform/error.h"
#include "platform/sockets.h"

namespace lsv::events {

struct ListenerConnection {
  explicit ListenerConnection(platform::Socket::Handle socket) : handle(socket) {}
  // Invalid once the serving thread has closed it; guarded by the list's lock.
  platform::Socket::Handle handle;
  std::atomic<bool> aborted{false};
  std::atomic<bool> waitingForOwner{false};
};

// Threads that have served a connection wait a moment for the next one instead of ending:
// creating a thread costs more than serving a small request. Each connection still has a thread
// to itself while it is served; idle threads end after a short wait, so an idle strip holds none.
class WorkerPool {
 public:
  static constexpr std::size_t kMaxIdle = 8;
  static constexpr std::chrono::milliseconds kIdleWait{2000};

  using Task = std::function<void()>;

  static void Submit(const std::shared_ptr<WorkerPool>& pool, Task task) {
    {
      std::unique_lock<std::mutex> guard(pool->lock_);
      if (pool->idle_ > pool->tasks_.size()) {
        pool->tasks_.push_back(std::move(task));
        // Woken after the unlock, so the worker does not wake only to wait for this lock.
        guard.unlock();
        pool->wake_.notify_one();
        return;
      }
    }
    std::thread(&WorkerPool::Work, pool, std::move(task)).detach();
  }

  // Idle threads end now rather than after their wait.
  void Stop() {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    wake_.notify_all();
  }

 private:
  static void Work(std::shared_ptr<WorkerPool> pool, Task task) noexcept {
    for (;;) {
      task();
      task = nullptr;
      std::unique_lock<std::mutex> guard(pool->lock_);
      if (pool->stopping_ || pool->idle_ >= kMaxIdle) return;
      ++pool->idle_;
      pool->wake_.wait_for(guard, kIdleWait, [&] { return pool->stopping_ || !pool->tasks_.empty(); });
      --pool->idle_;
      if (pool->tasks_.empty()) return;
      task = std::move(pool->tasks_.front());
      pool->tasks_.pop_front();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  std::size_t idle_ = 0;
  bool stopping_ = false;
};

// What one activation shares with its threads. Connection threads hold it too, so a thread that
// outlives the stop (or the listener) still has a valid list to take itself off.
struct ListenerShared {
  std::mutex lock;
  std::condition_variable changed;
  std::list<std::shared_ptr<ListenerConnection>> connections;
  std::atomic<bool> stopping{false};
  std::shared_ptr<WorkerPool> workers = std::make_shared<WorkerPool>();
  platform::WakeSignal wake;
};

namespace {

using Clock = std::chrono::steady_clock;

struct ServeConfig {
  THttpListener::CommandHandler handler;
  std::string serverSoftware;
  RequestLimits limits;
  int readTimeout;
  std::size_t maxConnections;
  std::size_t maxWaitingConnections;
  THttpListener::PeerFilter acceptFrom;
};

// Reads in short waits so that a stop is noticed at once on every platform (a blocked recv is
// not reliably woken by another thread). The deadline is the request's, set at the accept: a
// client that trickles its bytes cannot stretch it.
class SocketSource : public IByteSource {
 public:
  static constexpr int kWaitSliceMs = 50;

  SocketSource(platform::Socket& socket, const ListenerConnection& connection, Clock::time_point deadline)
      : socket_(socket), connection_(connection), deadline_(deadline) {}

  std::size_t Read(char* buffer, std::size_t size) override {
    // Usually the request is already there; only wait when it is not.
    if (connection_.aborted) throw RequestFailed("The listener has stopped.");
    if (const auto count = platform::TryReceive(socket_, buffer, size)) return *count;
    for (;;) {
      if (connection_.aborted) throw RequestFailed("The listener has stopped.");
      if (Clock::now() >= deadline_) throw RequestFailed("Read timed out.");
      if (platform::WaitReadable(socket_, kWaitSliceMs)) return platform::Receive(socket_, buffer, size);
    }
  }

 private:
  platform::Socket& socket_;
  const ListenerConnection& connection_;
  Clock::time_point deadline_;
};

// A connection accepted and waiting for its request, with the time its whole request has.
struct Pending {
  platform::Accepted accepted;
  Clock::time_point deadline;
};

void Respond(platform::Socket& socket, const ServeConfig& config, const std::shared_ptr<ListenerShared>& shared,
             const std::shared_ptr<ListenerConnection>& connection, const platform::Accepted& accepted,
             Clock::time_point deadline) {
  SocketSource source(socket, *connection, deadline);
  RequestReader reader(source, config.limits);
  std::optional<THttpRequest> request =
      ReadRequest(reader, static_cast<bool>(config.handler), accepted.peerAddress, accepted.localAddress);
  if (!request) return;

  THttpResponse response(THttpListener::kProductToken,
                         [&socket](const std::string& bytes) { platform::SendAll(socket, bytes.data(), bytes.size()); });
  if (!IsAllControlOrBlank(config.serverSoftware)) response.ServerToken = config.serverSoftware;
  TConnectionThread thread(shared, connection);
  try {
    config.handler(thread, *request, response);
  } catch (const std::exception& error) {
    response.SetStatus(500);
    response.BodyText = error.what();
  } catch (const lsv::CException& error) {
    response.SetStatus(500);
    response.BodyText = error.GetText();
  } catch (...) {
    response.SetStatus(500);
    response.BodyText = "Unknown error";
  }
  if (!response.HeaderSent) response.WriteHeader();
  if (!response.BodyText.empty()) response.WriteBody();
}

void ServeConnection(std::shared_ptr<ListenerShared> shared, std::shared_ptr<ListenerConnection> connection,
                     Pending pending, std::shared_ptr<const ServeConfig> config) noexcept {
  platform::Socket socket = std::move(pending.accepted.socket);
  try {
    Respond(socket, *config, shared, connection, pending.accepted, pending.deadline);
    platform::ShutdownSend(socket);
  } catch (...) {
    // A request that cannot be parsed, a bound exceeded, a peer gone or a stop: the connection
    // simply closes; nothing is reported.
  }
  {
    // Once the handle is marked invalid under the lock, a stop no longer aborts it, so it can be
    // closed outside: the listener thread waits for this lock to take each new connection.
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->connections.remove(connection);
    connection->handle = platform::Socket::kInvalid;
  }
  socket.Close();
  // Only a stop waits for this; it set the flag before it first looked at the list.
  if (shared->stopping) shared->changed.notify_all();
}

// Hands a connection whose request has begun to arrive to a thread of its own; over the bound
// of connections being served it is closed at once.
void Serve(const std::shared_ptr<ListenerShared>& shared, Pending pending,
           const std::shared_ptr<const ServeConfig>& config) {
  auto connection = std::make_shared<ListenerConnection>(pending.accepted.socket.Get());
  {
    std::lock_guard<std::mutex> guard(shared->lock);
    if (shared->connections.size() >= config->maxConnections) return;
    shared->connections.push_back(connection);
  }
  try {
    auto job = std::make_shared<Pending>(std::move(pending));
    WorkerPool::Submit(shared->workers, [shared, connection, job, config] {
      ServeConnection(shared, connection, std::move(*job), config);
    });
  } catch (...) {
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->connections.remove(connection);
  }
}

// The listener thread. A connection that has sent nothing yet waits here, without a thread of
// its own, until its first bytes arrive or its deadline passes: idle clients then cost a socket
// each, never one of the threads that serve requests, so they cannot crowd out the page. When
// there are as many as may wait, the oldest gives way to the newcomer: a crowd of idle clients
// cannot keep a new request out.
void ListenLoop(std::shared_ptr<ListenerShared> shared, std::vector<platform::Socket> sockets,
                std::shared_ptr<const ServeConfig> config) noexcept {
  std::deque<Pending> waiting;
  while (!shared->stopping) {
    const auto now = Clock::now();
    // Expired waiters are dropped unanswered.
    std::erase_if(waiting, [now](const Pending& w) { return w.deadline <= now; });
    int timeout = THttpListener::kAcceptWaitMs;
    for (const Pending& w : waiting) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(w.deadline - now).count() + 1;
      timeout = std::min<int>(timeout, static_cast<int>(left));
    }

    // The wake first, then the listening sockets, then the waiters.
    std::vector<platform::Socket*> polled{&shared->wake.Pollable()};
    for (platform::Socket& socket : sockets) polled.push_back(&socket);
    for (Pending& w : waiting) polled.push_back(&w.accepted.socket);
    const std::size_t firstWaiter = 1 + sockets.size();
    std::vector<std::size_t> ready;
    try {
      ready = platform::WaitForConnections(polled, timeout);
    } catch (...) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (shared->stopping) break;

    // Waiters with something to read go to be served; from the back, so indices stay valid.
    for (auto it = ready.rbegin(); it != ready.rend() && *it >= firstWaiter; ++it) {
      const auto index = static_cast<std::ptrdiff_t>(*it - firstWaiter);
      Pending pending = std::move(waiting[static_cast<std::size_t>(index)]);
      waiting.erase(waiting.begin() + index);
      Serve(shared, std::move(pending), config);
    }
    for (const std::size_t index : ready) {
      if (index == 0) continue;
      if (index >= firstWaiter) break;
      platform::Socket& listening = sockets[index - 1];
      // Take every connection that is waiting before polling again.
      for (;;) {
        platform::Accepted accepted;
        try {
          if (!platform::TryAccept(listening, accepted)) break;
        } catch (...) {
          // A pending connection the client already reset, or a lack of resources: go on
          // accepting rather than fall silent for the rest of the run.
          break;
        }
        // Closed here, unread, as the object goes.
        if (config->acceptFrom && !config->acceptFrom(accepted.peerAddress, accepted.localAddress)) continue;
        Pending pending{std::move(accepted), Clock::now() + std::chrono::milliseconds(config->readTimeout)};
        // A client usually sends its request right after connecting, so it is often here already:
        // serving it now saves a round through the poll for every such connection.
        bool readable = false;
        try {
          readable = platform::WaitReadable(pending.accepted.socket, 0);
        } catch (...) {
          continue;
        }
        if (readable) {
          Serve(shared, std::move(pending), config);
          continue;
        }
        if (waiting.size() >= config->maxWaitingConnections) {
          if (waiting.empty()) continue;
          waiting.pop_front();
        }
        waiting.push_back(std::move(pending));
      }
    }
  }
  // The listening sockets and the waiting connections close here, as the thread ends.
}

}  // namespace

// Winsock refuses a reusable bind to a port another program holds with "access denied" rather
// than "in use" (the other socket did not allow sharing it). Binding once more without reuse
// tells that case from a real lack of permission, so the user reads the message that fits.
int THttpListener::ClassifyBindError(int code, const Binding& binding) {
  if (code != platform::kWsaEAcces) return code;
  try {
    platform::Socket probe = platform::CreateTcpSocket();
    platform::Bind(probe, binding.address, static_cast<std::uint16_t>(binding.port));
  } catch (const platform::SocketError& error) {
    if (error.Code() == platform::kWsaEAddrInUse) return error.Code();
  }
  return code;
}

void TConnectionThread::SetWaitingForOwner(bool waiting) {
  // Under the lock, and with a notification: a stop that has just found this thread still at work
  // is about to wait, and would otherwise sleep through the change to its full time limit.
  std::lock_guard<std::mutex> guard(shared_->lock);
  connection_->waitingForOwner = waiting;
  shared_->changed.notify_all();
}

std::string ActivationErrorText(int code) {
  if (code == platform::kWsaEAddrInUse) return "Could not bind socket. Address and port are already in use.";
  return "Socket Error # " + std::to_string(code) + "\r\n" + platform::SocketErrorText(code);
}

THttpListener::THttpListener() { platform::StartSockets(); }

THttpListener::~THttpListener() {
  if (active_) Deactivate();
}

std::size_t THttpListener::ConnectionCount() const {
  if (!shared_) return 0;
  std::lock_guard<std::mutex> guard(shared_->lock);
  return shared_->connections.size();
}

void THttpListener::SetActive(bool active) {
  if (active == active_) return;
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
}

void THttpListener::SetDefaultPort(int port) {
  if (port < 0 || port > 65535) throw platform::Error("Invalid port " + std::to_string(port) + ".");
  defaultPort_ = port;
  if (!active_ || !bindingFromActivation_ || bindings_.size() != 1 || bindings_.front().port == port) return;
  Deactivate();
  bindings_.front().port = port;
  Activate();
}

void THttpListener::Activate() {
  if (bindings_.empty()) {
    bindings_.push_back({"", defaultPort_});
    bindingFromActivation_ = true;
  }
  std::vector<platform::Socket> sockets;
  for (const Binding& binding : bindings_) {
    platform::Socket socket;
    try {
      socket = platform::CreateTcpSocket();
    } catch (const platform::SocketError&) {
      throw platform::Error("Cannot allocate socket.");
    }
    try {
      platform::SetReuseAddress(socket);
      platform::Bind(socket, binding.address, static_cast<std::uint16_t>(binding.port));
      platform::Listen(socket, kListenBacklog);
      platform::SetNonBlocking(socket);
    } catch (const platform::SocketError& error) {
      throw platform::Error(ActivationErrorText(ClassifyBindError(error.Code(), binding)));
    }
    sockets.push_back(std::move(socket));
  }
  listeningPort_ = platform::LocalPort(sockets.front());

  auto config = std::make_shared<ServeConfig>(ServeConfig{OnCommandGet, ServerSoftware, Limits, ReadTimeout,
                                                          MaxConnections, MaxWaitingConnections, AcceptFrom});
  try {
    shared_ = std::make_shared<ListenerShared>();
  } catch (const platform::SocketError&) {
    throw platform::Error("Cannot allocate socket.");
  }
  listenerThread_ = std::thread(ListenLoop, shared_, std::move(sockets), std::move(config));
  active_ = true;
}

void THttpListener::Deactivate() {
  const std::shared_ptr<ListenerShared> shared = shared_;
  shared->stopping = true;
  // The listener thread closes the listening sockets on its way out.
  shared->wake.Signal();
  listenerThread_.join();

  std::unique_lock<std::mutex> guard(shared->lock);
  for (const auto& connection : shared->connections) {
    connection->aborted = true;
    platform::Abort(connection->handle);
  }
  const auto allWaitingOrDone = [&] {
    return std::all_of(shared->connections.begin(), shared->connections.end(),
                       [](const auto& connection) { return connection->waitingForOwner.load(); });
  };
  const auto deadline = Clock::now() + std::chrono::milliseconds(TerminateWaitTime);
  while (!allWaitingOrDone()) {
    if (OnStopWaits) OnStopWaits();
    if (shared->changed.wait_until(guard, deadline) == std::cv_status::timeout) break;
  }
  guard.unlock();

  shared->workers->Stop();
  shared_.reset();
  listeningPort_ = 0;
  active_ = false;
}

}  // namespace lsv::events
