#include "events/http_listener.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>

#include "app/exception.h"
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
      std::lock_guard<std::mutex> guard(pool->lock_);
      if (pool->idle_ > pool->tasks_.size()) {
        pool->tasks_.push_back(std::move(task));
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
};

namespace {

struct ServeConfig {
  THttpListener::CommandHandler handler;
  std::string serverSoftware;
  RequestLimits limits;
  int readTimeout;
  std::size_t maxConnections;
};

// Reads in short waits so that a stop is noticed at once on every platform (a blocked recv is
// not reliably woken by another thread), and an idle client is dropped after the read time-out.
class SocketSource : public IByteSource {
 public:
  static constexpr int kWaitSliceMs = 50;

  SocketSource(platform::Socket& socket, const ListenerConnection& connection, int readTimeoutMs)
      : socket_(socket), connection_(connection), readTimeout_(readTimeoutMs) {}

  std::size_t Read(char* buffer, std::size_t size) override {
    // Usually the request is already there; only wait when it is not.
    if (connection_.aborted) throw RequestFailed("The listener has stopped.");
    if (const auto count = platform::TryReceive(socket_, buffer, size)) return *count;
    const auto deadline = std::chrono::steady_clock::now() + readTimeout_;
    for (;;) {
      if (connection_.aborted) throw RequestFailed("The listener has stopped.");
      if (platform::WaitReadable(socket_, kWaitSliceMs)) return platform::Receive(socket_, buffer, size);
      if (std::chrono::steady_clock::now() >= deadline) throw RequestFailed("Read timed out.");
    }
  }

 private:
  platform::Socket& socket_;
  const ListenerConnection& connection_;
  std::chrono::milliseconds readTimeout_;
};

bool IsBlank(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

void Respond(platform::Socket& socket, const ServeConfig& config, const std::shared_ptr<ListenerConnection>& connection,
             const platform::Accepted& accepted) {
  SocketSource source(socket, *connection, config.readTimeout);
  RequestReader reader(source, config.limits);
  std::optional<THttpRequest> request =
      ReadRequest(reader, static_cast<bool>(config.handler), accepted.peerAddress, accepted.localAddress);
  if (!request) return;

  THttpResponse response(THttpListener::kProductToken,
                         [&socket](const std::string& bytes) { platform::SendAll(socket, bytes.data(), bytes.size()); });
  if (!IsBlank(config.serverSoftware)) response.ServerToken = config.serverSoftware;
  TConnectionThread thread(connection);
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
                     platform::Accepted accepted, std::shared_ptr<const ServeConfig> config) noexcept {
  platform::Socket socket = std::move(accepted.socket);
  try {
    Respond(socket, *config, connection, accepted);
    platform::ShutdownSend(socket);
  } catch (...) {
    // A request that cannot be parsed, a bound exceeded, a peer gone or a stop: the connection
    // simply closes; nothing is reported.
  }
  {
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->connections.remove(connection);
    connection->handle = platform::Socket::kInvalid;
    socket.Close();
  }
  shared->changed.notify_all();
}

// Hands a connection whose request has begun to arrive to a thread of its own; over the bound
// of connections being served it is closed at once.
void Serve(const std::shared_ptr<ListenerShared>& shared, platform::Accepted accepted,
           const std::shared_ptr<const ServeConfig>& config) {
  auto connection = std::make_shared<ListenerConnection>(accepted.socket.Get());
  {
    std::lock_guard<std::mutex> guard(shared->lock);
    if (shared->connections.size() >= config->maxConnections) return;
    shared->connections.push_back(connection);
  }
  try {
    auto job = std::make_shared<platform::Accepted>(std::move(accepted));
    WorkerPool::Submit(shared->workers, [shared, connection, job, config] {
      ServeConnection(shared, connection, std::move(*job), config);
    });
  } catch (...) {
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->connections.remove(connection);
  }
}

// The listener thread. A connection that has sent nothing yet waits here, without a thread of
// its own, until its first bytes arrive or its read time-out passes: idle clients then cost a
// socket each, never one of the threads that serve requests, so they cannot crowd out the page.
void ListenLoop(std::shared_ptr<ListenerShared> shared, std::vector<platform::Socket> sockets,
                std::shared_ptr<const ServeConfig> config) noexcept {
  using Clock = std::chrono::steady_clock;
  struct Waiting {
    platform::Accepted accepted;
    Clock::time_point deadline;
  };
  std::vector<Waiting> waiting;
  while (!shared->stopping) {
    const auto now = Clock::now();
    // Expired waiters are dropped unanswered.
    std::erase_if(waiting, [now](const Waiting& w) { return w.deadline <= now; });
    int timeout = THttpListener::kAcceptWaitMs;
    for (const Waiting& w : waiting) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(w.deadline - now).count() + 1;
      timeout = std::min<int>(timeout, static_cast<int>(left));
    }

    std::vector<platform::Socket*> polled;
    for (platform::Socket& socket : sockets) polled.push_back(&socket);
    for (Waiting& w : waiting) polled.push_back(&w.accepted.socket);
    std::vector<std::size_t> ready;
    try {
      ready = platform::WaitForConnections(polled, timeout);
    } catch (...) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (shared->stopping) break;

    // Waiters with something to read go to be served; from the back, so indices stay valid.
    for (auto it = ready.rbegin(); it != ready.rend() && *it >= sockets.size(); ++it) {
      const std::size_t index = *it - sockets.size();
      platform::Accepted accepted = std::move(waiting[index].accepted);
      waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(index));
      Serve(shared, std::move(accepted), config);
    }
    for (const std::size_t index : ready) {
      if (index >= sockets.size()) break;
      // Take every connection that is waiting before polling again.
      for (;;) {
        platform::Accepted accepted;
        try {
          if (!platform::TryAccept(sockets[index], accepted)) break;
        } catch (...) {
          // A pending connection the client already reset, or a lack of resources: go on
          // accepting rather than fall silent for the rest of the run.
          break;
        }
        // Over the bound the connection is closed at once, so the listener stays responsive.
        if (waiting.size() >= THttpListener::kMaxWaitingConnections) continue;
        waiting.push_back({std::move(accepted), Clock::now() + std::chrono::milliseconds(config->readTimeout)});
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
  connection_->waitingForOwner = waiting;
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
                                                          MaxConnections});
  shared_ = std::make_shared<ListenerShared>();
  listenerThread_ = std::thread(ListenLoop, shared_, std::move(sockets), std::move(config));
  active_ = true;
}

void THttpListener::Deactivate() {
  const std::shared_ptr<ListenerShared> shared = shared_;
  shared->stopping = true;
  // Wake the listener thread from its wait with a connection of our own, and let it close the
  // listening sockets on its way out; without the wake it would notice only after its time-out.
  try {
    const std::string address = bindings_.front().address.empty() ? "127.0.0.1" : bindings_.front().address;
    platform::ConnectTcp(address, listeningPort_);
  } catch (...) {
  }
  listenerThread_.join();

  std::unique_lock<std::mutex> guard(shared->lock);
  for (const auto& connection : shared->connections) {
    connection->aborted = true;
    platform::Abort(connection->handle);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TerminateWaitTime);
  shared->changed.wait_until(guard, deadline, [&] {
    return std::all_of(shared->connections.begin(), shared->connections.end(),
                       [](const auto& connection) { return connection->waitingForOwner.load(); });
  });
  guard.unlock();

  shared->workers->Stop();
  shared_.reset();
  listeningPort_ = 0;
  active_ = false;
}

}  // namespace lsv::events
