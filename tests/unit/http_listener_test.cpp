#include "events/http_listener.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "allocation_counter.h"
#include "platform/error.h"
#include "platform/sockets.h"
#include "test_support.h"

namespace {

using namespace lsv::events;
using namespace std::chrono_literals;
using lsvtest::Exchange;
using lsvtest::ReadToClose;

const std::string k404 =
    "HTTP/1.1 404 Not Found\r\nServer: LatestSongViewer/1.0\r\nContent-Type: text/html\r\n\r\n";

class ListenerTest : public testing::Test {
 protected:
  THttpListener listener;
  std::mutex lock;
  std::vector<THttpRequest> seen;

  ListenerTest() {
    listener.OnCommandGet = [this](TConnectionThread& thread, THttpRequest& request, THttpResponse& response) {
      response.SetStatus(404);
      thread.EndAfterRequest();
      std::lock_guard<std::mutex> guard(lock);
      seen.push_back(request);
    };
    listener.SetDefaultPort(0);
  }
  ~ListenerTest() override { listener.SetActive(false); }

  std::uint16_t Start() {
    listener.SetActive(true);
    return listener.ListeningPort();
  }
  std::optional<THttpRequest> Only() {
    std::lock_guard<std::mutex> guard(lock);
    if (seen.size() != 1) return std::nullopt;
    return seen.front();
  }
};

struct Exchanged {
  const char* name;
  std::string request;
  bool answered;  // false: closed with no response and the handler never called
};

TEST_F(ListenerTest, AnswersWhatReachesTheHandlerAndClosesOnTheRest) {
  const auto port = Start();
  const Exchanged cases[] = {
      {"plain", "GET /event HTTP/1.1\r\n\r\n", true},
      {"lower-case method", "get /event HTTP/1.1\r\n\r\n", true},
      {"post", "POST /event HTTP/1.1\r\nContent-Length: 0\r\n\r\n", true},
      {"head", "HEAD /event HTTP/1.1\r\n\r\n", true},
      {"no blank", "GET\r\n\r\n", false},
      {"other method", "DELETE /event?type=close&arg1=0&arg2=0 HTTP/1.1\r\n\r\n", false},
      {"bearer", "GET / HTTP/1.1\r\nAuthorization: Bearer abc\r\n\r\n", false},
      {"two requests", "GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\n", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    seen.clear();
    EXPECT_EQ(Exchange(port, c.request), c.answered ? k404 : "");
    EXPECT_EQ(seen.size(), c.answered ? 1u : 0u);
  }
}

TEST_F(ListenerTest, HandsTheParsedRequestToTheHandler) {
  const auto port = Start();
  Exchange(port, "GET /a b?x=1 HTTP/1.0\r\nHost: here\r\n\r\n");
  auto request = Only();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->Method, "GET");
  EXPECT_EQ(request->ProtocolVersion, "HTTP/1.0");
  EXPECT_EQ(request->RequestPath, "/a b");
  EXPECT_EQ(request->QueryFields, std::vector<std::string>{"x=1"});
  EXPECT_EQ(request->HostName, "here");
  EXPECT_EQ(request->PeerAddress, "127.0.0.1");
  EXPECT_EQ(request->LocalAddress, "127.0.0.1");
  EXPECT_EQ(request->HeaderLines, (std::vector<std::string>{"Host: here", ""}));

  seen.clear();
  Exchange(port, "GET /event\r\n\r\n");
  request = Only();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->ProtocolVersion, "/event");
  EXPECT_EQ(request->RequestPath, "/");

  seen.clear();
  Exchange(port, "GET /event HTTP/1.1\r\n\r\n");
  request = Only();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->RequestPath, "/event");
  EXPECT_TRUE(request->QueryFields.empty());

  seen.clear();
  Exchange(port, "GET /?type=close HTTP/1.1\r\nContent-Length: 7\r\n\r\nx=1&y=2");
  request = Only();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->QueryText, "x=1&y=2\r\ntype=close");
  EXPECT_EQ(request->QueryFields, (std::vector<std::string>{"x=1", "y=2\r\ntype=close"}));

  seen.clear();
  Exchange(port, "POST /p HTTP/1.1\r\n\r\nbody=1", /*endSending=*/true);
  request = Only();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->QueryText, "body=1");

  seen.clear();
  Exchange(port, "GET /?a=%41%zz%00b&c HTTP/1.1\r\nAuthorization: basic dXNlcjpwYXNz\r\n\r\n");
  request = Only();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->QueryFields, (std::vector<std::string>{"a=Ab", "c"}));
  EXPECT_TRUE(request->HasAuthorization);
  EXPECT_EQ(request->BasicUser, "user");
  EXPECT_EQ(request->BasicPassword, "pass");

  seen.clear();
  Exchange(port, "GET http://127.0.0.1:22222/event?x HTTP/1.1\r\n\r\n");
  request = Only();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->RequestPath, "/event");
  EXPECT_EQ(request->HostName, "127.0.0.1");
}

TEST_F(ListenerTest, FailingHandlerAnswers500WithItsMessage) {
  listener.OnCommandGet = [](TConnectionThread&, THttpRequest&, THttpResponse&) {
    throw platform::Error("handler failed");
  };
  const auto port = Start();
  EXPECT_EQ(Exchange(port, "GET / HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 500 Internal Server Error\r\nServer: LatestSongViewer/1.0\r\nContent-Type: text/html\r\n"
            "Content-Length: 14\r\n\r\nhandler failed");
}

TEST_F(ListenerTest, ServerSoftwareReplacesTheProductToken) {
  listener.ServerSoftware = "Other/2";
  const auto port = Start();
  EXPECT_EQ(Exchange(port, "GET / HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 404 Not Found\r\nServer: Other/2\r\nContent-Type: text/html\r\n\r\n");
}

TEST_F(ListenerTest, RequestsOverABoundAreClosedUnanswered) {
  const auto port = Start();
  const std::string line8k = "GET /" + std::string(8192 - 14, 'a') + " HTTP/1.1";
  ASSERT_EQ(line8k.size(), 8192u);
  auto headers = [](int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "X-" + std::to_string(i) + ": v\r\n";
    return text;
  };
  const Exchanged cases[] = {
      {"request line of 8 KiB", line8k + "\r\n\r\n", true},
      {"request line over 8 KiB", line8k + "a\r\n\r\n", false},
      {"header line over 8 KiB", "GET / HTTP/1.1\r\nX: " + std::string(8190, 'h') + "\r\n\r\n", false},
      {"100 header lines", "GET / HTTP/1.1\r\n" + headers(100) + "\r\n", true},
      {"101 header lines", "GET / HTTP/1.1\r\n" + headers(101) + "\r\n", false},
      {"body of 64 KiB", "POST / HTTP/1.1\r\nContent-Length: 65536\r\n\r\n" + std::string(65536, 'b'), true},
      {"body over 64 KiB", "POST / HTTP/1.1\r\nContent-Length: 65537\r\n\r\n" + std::string(65537, 'b'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    seen.clear();
    EXPECT_EQ(Exchange(port, c.request), c.answered ? k404 : "");
  }
  // A body sent to the close is held to the same bound.
  seen.clear();
  EXPECT_EQ(Exchange(port, "POST / HTTP/1.1\r\n\r\n" + std::string(65537, 'b'), true), "");
  EXPECT_TRUE(seen.empty());
}

TEST_F(ListenerTest, IdleClientsAreDroppedAfterTheReadTimeOut) {
  listener.ReadTimeout = 300;
  const auto port = Start();
  platform::Socket silent = platform::ConnectTcp("127.0.0.1", port);
  platform::Socket partial = platform::ConnectTcp("127.0.0.1", port);
  platform::SendAll(partial, "GET / HT", 8);
  EXPECT_EQ(ReadToClose(silent, 5000), "");
  EXPECT_EQ(ReadToClose(partial, 5000), "");
  EXPECT_TRUE(seen.empty());
}

TEST_F(ListenerTest, IdleConnectionsDoNotCrowdOutRequests) {
  const auto port = Start();
  std::vector<platform::Socket> idle;
  for (int i = 0; i < 65; ++i) {
    idle.push_back(platform::ConnectTcp("127.0.0.1", port));
    std::this_thread::sleep_for(1ms);  // the accept queue holds only a few at a time
  }
  EXPECT_EQ(Exchange(port, "GET /served HTTP/1.1\r\n\r\n"), k404);
  // None of the idle ones was closed to make room.
  for (auto* socket : {&idle.front(), &idle.back()}) EXPECT_EQ(ReadToClose(*socket, 200), "<still open>");
}

TEST_F(ListenerTest, RequestsOverTheLimitBeingServedAreClosedAtOnce) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> inHandler{0};
  listener.OnCommandGet = [&, released](TConnectionThread&, THttpRequest&, THttpResponse& response) {
    response.SetStatus(404);
    ++inHandler;
    released.wait();
  };
  const auto port = Start();
  std::vector<platform::Socket> busy;
  for (int i = 0; i < 64; ++i) {
    busy.push_back(platform::ConnectTcp("127.0.0.1", port));
    platform::SendAll(busy.back(), "GET / HTTP/1.1\r\n\r\n", 18);
    while (inHandler < i + 1) std::this_thread::sleep_for(1ms);
  }
  EXPECT_EQ(listener.ConnectionCount(), 64u);
  // Far shorter than any time-out: the 65th is closed as soon as its request arrives.
  EXPECT_EQ(Exchange(port, "GET /over HTTP/1.1\r\n\r\n"), "");
  release.set_value();
  for (auto& socket : busy) EXPECT_EQ(ReadToClose(socket), k404);
  EXPECT_EQ(Exchange(port, "GET /again HTTP/1.1\r\n\r\n"), k404);
}

TEST_F(ListenerTest, ResetConnectionsDoNotSilenceTheListener) {
  const auto port = Start();
  // Clients that give up half-way, as many as the accept queue holds at once.
  for (int i = 0; i < 5; ++i) {
    platform::Socket socket = platform::ConnectTcp("127.0.0.1", port);
    platform::SendAll(socket, "GET", 3);
  }
  EXPECT_EQ(Exchange(port, "GET /after HTTP/1.1\r\n\r\n"), k404);
}

TEST_F(ListenerTest, DefaultPortMovesAnActiveListener) {
  const auto first = Start();
  platform::Socket probe = platform::CreateTcpSocket();
  platform::Bind(probe, "127.0.0.1", 0);
  const auto second = platform::LocalPort(probe);
  probe.Close();

  listener.SetDefaultPort(second);
  EXPECT_TRUE(listener.Active());
  EXPECT_EQ(listener.ListeningPort(), second);
  EXPECT_THROW(platform::ConnectTcp("127.0.0.1", first), platform::SocketError);
  EXPECT_EQ(Exchange(second, "GET / HTTP/1.1\r\n\r\n"), k404);

  listener.SetDefaultPort(second);  // the same port: nothing changes
  EXPECT_EQ(Exchange(second, "GET / HTTP/1.1\r\n\r\n"), k404);

  platform::Socket other = platform::CreateTcpSocket();
  platform::Bind(other, "", 0);
  platform::Listen(other, 1);
  try {
    listener.SetDefaultPort(platform::LocalPort(other));
    FAIL() << "no error";
  } catch (const platform::Error& error) {
    EXPECT_STREQ(error.what(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_FALSE(listener.Active());
}

TEST_F(ListenerTest, StopClosesIdleClientsAtOnce) {
  const auto port = Start();
  platform::Socket idle = platform::ConnectTcp("127.0.0.1", port);
  platform::Socket partial = platform::ConnectTcp("127.0.0.1", port);
  platform::SendAll(partial, "GET", 3);
  while (listener.ConnectionCount() < 1) std::this_thread::sleep_for(5ms);
  listener.SetActive(false);
  // Far shorter than the read time-out: the stop itself ended the connection.
  EXPECT_EQ(ReadToClose(idle, 3000), "");
  EXPECT_EQ(ReadToClose(partial, 3000), "");
  EXPECT_THROW(platform::ConnectTcp("127.0.0.1", port), platform::SocketError);
}

// Opens the listener on a free port and sends it one request; returns once its handler has begun.
platform::Socket StartWithOneRequestInTheHandler(THttpListener& listener, std::promise<void>& entered) {
  listener.SetDefaultPort(0);
  listener.SetActive(true);
  platform::Socket client = platform::ConnectTcp("127.0.0.1", listener.ListeningPort());
  platform::SendAll(client, "GET /close HTTP/1.1\r\n\r\n", 24);
  entered.get_future().wait();
  return client;
}

TEST(ListenerStop, DoesNotWaitForAThreadWaitingOnTheStopperAndSurvivesIt) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> entered;
  auto listener = std::make_unique<THttpListener>();
  listener->TerminateWaitTime = 60000;
  listener->OnCommandGet = [&, released](TConnectionThread& thread, THttpRequest&, THttpResponse& response) {
    response.SetStatus(404);
    thread.SetWaitingForOwner(true);
    entered.set_value();
    released.wait();
    thread.SetWaitingForOwner(false);
  };
  platform::Socket client = StartWithOneRequestInTheHandler(*listener, entered);
  auto stop = std::async(std::launch::async, [&] { listener->SetActive(false); });
  EXPECT_EQ(stop.wait_for(10s), std::future_status::ready) << "the stop waited for the handing-over thread";
  stop.wait();
  listener.reset();
  release.set_value();
  EXPECT_EQ(ReadToClose(client), "");  // cut off by the stop: no response
}

// 127.0.0.2 is loopback, so natively it reaches the listener; the tests' peer filter lets it play
// another host on the network.
constexpr const char* kOtherHost = "127.0.0.2";
bool ThisMachineOnly(const std::string& peer, const std::string&) { return peer != kOtherHost; }

// Sends one byte every interval from another thread until told to stop or the server closes.
class Trickler {
 public:
  Trickler(platform::Socket socket, std::chrono::milliseconds interval)
      : socket_(std::move(socket)), thread_([this, interval] {
          const char request[] = "GET /trickled?x=";
          for (std::size_t i = 0; !stop_; ++i) {
            try {
              platform::SendAll(socket_, &request[i % (sizeof request - 1)], 1);
            } catch (const platform::SocketError&) {
              return;
            }
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait_for(guard, interval, [this] { return stop_.load(); });
          }
        }) {}
  ~Trickler() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  platform::Socket& Socket() { return socket_; }

 private:
  platform::Socket socket_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(ListenerTest, ConnectionsFromOtherHostsAreClosedAtAcceptUnread) {
  listener.AcceptFrom = ThisMachineOnly;
  const auto port = Start();
  platform::Socket other = lsvtest::ConnectFrom(kOtherHost, port);
  // Closed without waiting for a request, and no thread was given to it.
  EXPECT_EQ(ReadToClose(other, 3000), "");
  EXPECT_EQ(listener.ConnectionCount(), 0u);
  EXPECT_EQ(Exchange(port, "GET /local HTTP/1.1\r\n\r\n"), k404);
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(ListenerTest, CrowdsFromAnotherHostLeaveEveryPageEventAnswered) {
  // Small bounds make small crowds: the same shape as 64 slow and 520 idle connections against
  // the default bounds of 64 and 512.
  listener.AcceptFrom = ThisMachineOnly;
  listener.MaxConnections = 4;
  listener.MaxWaitingConnections = 8;
  const auto port = Start();
  struct Crowd {
    const char* name;
    int slow;
    int idle;
  } crowds[] = {{"slow", 6, 0}, {"idle", 0, 12}, {"mixed", 6, 12}};
  for (const auto& crowd : crowds) {
    SCOPED_TRACE(crowd.name);
    std::vector<std::unique_ptr<Trickler>> slow;
    std::vector<platform::Socket> idle;
    for (int i = 0; i < crowd.slow; ++i) {
      slow.push_back(std::make_unique<Trickler>(lsvtest::ConnectFrom(kOtherHost, port), 200ms));
    }
    for (int i = 0; i < crowd.idle; ++i) idle.push_back(lsvtest::ConnectFrom(kOtherHost, port));
    std::this_thread::sleep_for(300ms);
    for (int event = 0; event < 3; ++event) {
      const auto sent = std::chrono::steady_clock::now();
      EXPECT_EQ(Exchange(port, "GET /event?type=refresh&arg1=0&arg2=0 HTTP/1.1\r\n\r\n"), k404);
      EXPECT_LT(std::chrono::steady_clock::now() - sent, 1s);
    }
  }
}

TEST_F(ListenerTest, TheOldestIdleConnectionGivesWayToANewcomer) {
  listener.MaxWaitingConnections = 8;
  const auto port = Start();
  std::vector<platform::Socket> idle;
  for (int i = 0; i < 8; ++i) {
    idle.push_back(platform::ConnectTcp("127.0.0.1", port));
    std::this_thread::sleep_for(5ms);  // accepted in this order
  }
  std::this_thread::sleep_for(100ms);
  // A newcomer that, like the crowd, has not sent anything yet when it is accepted.
  platform::Socket newcomer = platform::ConnectTcp("127.0.0.1", port);
  std::this_thread::sleep_for(100ms);
  platform::SendAll(newcomer, "GET /newcomer HTTP/1.1\r\n\r\n", 26);
  EXPECT_EQ(ReadToClose(newcomer), k404);
  EXPECT_EQ(ReadToClose(idle.front(), 2000), "");
  for (std::size_t i = 1; i < idle.size(); ++i) EXPECT_EQ(ReadToClose(idle[i], 50), "<still open>") << i;
}

TEST_F(ListenerTest, TrickledBytesDoNotStretchTheRequestDeadline) {
  listener.ReadTimeout = 600;
  const auto port = Start();
  // A byte every 100 ms restarted a per-read time-out for as long as the client kept it up.
  Trickler trickler(platform::ConnectTcp("127.0.0.1", port), 100ms);
  const auto opened = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadToClose(trickler.Socket(), 5000), "");
  EXPECT_LT(std::chrono::steady_clock::now() - opened, 2s);
  EXPECT_TRUE(seen.empty());
}

TEST(ListenerStop, AStopAlreadyWaitingIsToldWhenAThreadStartsWaitingOnItsOwner) {
  // The handler marks itself only once the stop has looked at it and found it at work: a mark that
  // does not wake the stop leaves it asleep for its whole time limit.
  std::mutex lock;
  std::condition_variable changed;
  bool stopLooked = false;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> entered;
  auto listener = std::make_unique<THttpListener>();
  listener->TerminateWaitTime = 60000;
  listener->OnStopWaits = [&] {
    std::lock_guard<std::mutex> guard(lock);
    stopLooked = true;
    changed.notify_all();
  };
  listener->OnCommandGet = [&, released](TConnectionThread& thread, THttpRequest&, THttpResponse& response) {
    response.SetStatus(404);
    entered.set_value();
    {
      std::unique_lock<std::mutex> guard(lock);
      changed.wait(guard, [&] { return stopLooked; });
    }
    thread.SetWaitingForOwner(true);
    released.wait();
    thread.SetWaitingForOwner(false);
  };
  platform::Socket client = StartWithOneRequestInTheHandler(*listener, entered);
  auto stop = std::async(std::launch::async, [&] { listener->SetActive(false); });
  EXPECT_EQ(stop.wait_for(10s), std::future_status::ready) << "the stop slept through the mark";
  release.set_value();
  stop.wait();
  listener.reset();
  EXPECT_EQ(ReadToClose(client), "");
}

TEST(ListenerStop, WakesItsListenerThreadWithoutConnectingBehindAFullAcceptQueue) {
  // The peer filter runs on the listener thread: holding it there keeps the accept queue full.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> held;
  std::atomic<bool> first{true};
  THttpListener listener;
  listener.AcceptFrom = [&, released](const std::string&, const std::string&) {
    if (first.exchange(false)) {
      held.set_value();
      released.wait();
    }
    return true;
  };
  listener.SetDefaultPort(0);
  listener.SetActive(true);
  const auto port = listener.ListeningPort();
  std::vector<std::future<void>> clients;
  for (int i = 0; i < THttpListener::kListenBacklog + 6; ++i) {
    clients.push_back(std::async(std::launch::async, [port] {
      try {
        platform::Socket socket = platform::ConnectTcp("127.0.0.1", port);
        ReadToClose(socket, 3000);
      } catch (const platform::SocketError&) {
      }
    }));
    if (i == 0) held.get_future().wait();
  }
  std::this_thread::sleep_for(200ms);  // the queue fills up behind the held accept

  const auto started = std::chrono::steady_clock::now();
  auto stop = std::async(std::launch::async, [&] { listener.SetActive(false); });
  std::this_thread::sleep_for(100ms);
  release.set_value();
  stop.wait();
  // A connect to the full queue is only retried after a second; the wake needs none.
  EXPECT_LT(std::chrono::steady_clock::now() - started, 900ms);
  for (auto& client : clients) client.wait();
}

TEST(WakeSignal, WakesAWaitForConnections) {
  platform::StartSockets();
  platform::WakeSignal wake;
  platform::Socket listening = platform::CreateTcpSocket();
  platform::Bind(listening, "127.0.0.1", 0);
  platform::Listen(listening, THttpListener::kListenBacklog);
  auto waited = std::async(std::launch::async, [&] {
    return platform::WaitForConnections({&wake.Pollable(), &listening}, 20000);
  });
  std::this_thread::sleep_for(50ms);
  wake.Signal();
  ASSERT_EQ(waited.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(waited.get(), std::vector<std::size_t>{0});
}

TEST(ListenerMemory, RequestsAtTheBoundsCostLittleMoreThanTheirBytes) {
  // 64 requests held in the handler at once, as many as are served at a time. One kind has 100
  // Cookie lines of "a;a;...", the other a 64 KiB body of "&": each "a;" or "&" used to become a
  // parsed item of its own, some 30 times its size (over 2 GiB for the cookies, in a 32-bit
  // process that also holds the browser).
  std::string cookies = "GET /event HTTP/1.1\r\n";
  const std::string cookieLine = "Cookie: " + [] {
    std::string items;
    while (items.size() + 2 <= 8192 - 8) items += "a;";
    return items;
  }() + "\r\n";
  for (int i = 0; i < 100; ++i) cookies += cookieLine;
  cookies += "\r\n";
  const std::string ampersands = "POST /event HTTP/1.1\r\nContent-Length: 65536\r\n\r\n" + std::string(65536, '&');
  constexpr int kRequests = 64;
  constexpr std::size_t kBound = 64u << 20;

  const std::pair<const char*, const std::string*> kinds[] = {{"cookies", &cookies}, {"ampersands", &ampersands}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.first);
    const std::string* request = kind.second;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> inHandler{0};
    THttpListener listener;
    listener.OnCommandGet = [&, released](TConnectionThread&, THttpRequest&, THttpResponse& response) {
      response.SetStatus(404);
      ++inHandler;
      released.wait();
    };
    listener.SetDefaultPort(0);
    listener.SetActive(true);
    const auto port = listener.ListeningPort();

    // Connected one after another, so none waits for a retry behind the accept queue, and sent at
    // once.
    std::vector<std::shared_ptr<platform::Socket>> sockets;
    for (int i = 0; i < kRequests; ++i) {
      sockets.push_back(std::make_shared<platform::Socket>(platform::ConnectTcp("127.0.0.1", port)));
      std::this_thread::sleep_for(1ms);
    }
    const std::size_t before = lsvtest::LiveHeapBytes();
    lsvtest::ResetPeakHeapBytes();
    std::vector<std::future<std::string>> replies;
    for (const auto& socket : sockets) {
      replies.push_back(std::async(std::launch::async, [socket, request] {
        platform::SendAll(*socket, request->data(), request->size());
        return ReadToClose(*socket, 120000);
      }));
    }
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (inHandler < kRequests && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(inHandler, kRequests) << "being served: " << listener.ConnectionCount();
    const std::size_t added = lsvtest::PeakHeapBytes() - before;
    release.set_value();
    for (auto& reply : replies) EXPECT_EQ(reply.get(), k404);
    EXPECT_LT(added, kBound) << (added >> 20) << " MiB";
  }
}

}  // namespace
