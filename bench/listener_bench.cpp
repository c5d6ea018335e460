// Loopback figures for the event listener next to two common embedded servers, on the same
// workload: one small GET per connection, answered 404, connection closed.
//   connections/s  - several client threads opening, asking and reading to the close for a while
//   latency p50/99 - one client, one request at a time, from connect to the close
// Usage: listener_bench [seconds per throughput run, default 3]

#include <civetweb.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "events/http_listener.h"
#include "platform/sockets.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kRequest = "GET /event?type=none&arg1=0&arg2=0 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

// One request on a new connection; true when a 404 status line came back before the close.
bool OneRequest(std::uint16_t port) {
  try {
    platform::Socket socket = platform::ConnectTcp("127.0.0.1", port);
    platform::SendAll(socket, kRequest, std::strlen(kRequest));
    char buffer[1024];
    std::string received;
    for (;;) {
      const std::size_t count = platform::Receive(socket, buffer, sizeof buffer);
      if (count == 0) break;
      received.append(buffer, count);
    }
    return received.compare(0, 12, "HTTP/1.1 404") == 0;
  } catch (const platform::SocketError&) {
    return false;
  }
}

struct Figures {
  double connectionsPerSecond;
  double p50Us;
  double p99Us;
  long failures;
};

Figures Measure(std::uint16_t port, double seconds, int clients) {
  Figures figures{};
  std::atomic<long> done{0};
  std::atomic<long> failed{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (int i = 0; i < clients; ++i) {
    threads.emplace_back([&] {
      while (!stop) (OneRequest(port) ? done : failed)++;
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  figures.connectionsPerSecond = static_cast<double>(done) / elapsed;

  std::vector<double> latencies;
  constexpr int kSamples = 2000;
  for (int i = 0; i < kSamples; ++i) {
    const auto begin = Clock::now();
    if (!OneRequest(port)) ++failed;
    latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
  }
  std::sort(latencies.begin(), latencies.end());
  figures.p50Us = latencies[latencies.size() / 2];
  figures.p99Us = latencies[latencies.size() * 99 / 100];
  figures.failures = failed;
  return figures;
}

std::uint16_t FreePort() {
  platform::Socket socket = platform::CreateTcpSocket();
  platform::Bind(socket, "127.0.0.1", 0);
  return platform::LocalPort(socket);
}

void Print(const char* name, const Figures& f) {
  std::printf("%-22s %12.0f %12.1f %12.1f %10ld\n", name, f.connectionsPerSecond, f.p50Us, f.p99Us, f.failures);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  const int clients = 4;
  platform::StartSockets();
  std::printf("loopback, %d client threads, %.1f s per throughput run, %u cores\n", clients, seconds,
              std::thread::hardware_concurrency());
  std::printf("%-22s %12s %12s %12s %10s\n", "server", "conn/s", "p50 us", "p99 us", "failures");

  {
    lsv::events::THttpListener listener;
    listener.OnCommandGet = [](lsv::events::TConnectionThread& thread, lsv::events::THttpRequest&,
                               lsv::events::THttpResponse& response) {
      response.SetStatus(404);
      thread.EndAfterRequest();
    };
    listener.SetDefaultPort(0);
    listener.SetActive(true);
    Print("THttpListener (ours)", Measure(listener.ListeningPort(), seconds, clients));
    listener.SetActive(false);
  }
  {
    httplib::Server server;
    server.set_keep_alive_max_count(1);
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread runner([&] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Print("cpp-httplib 0.11", Measure(static_cast<std::uint16_t>(port), seconds, clients));
    server.stop();
    runner.join();
  }
  {
    const std::string port = std::to_string(FreePort());
    const std::string listening = "127.0.0.1:" + port;
    const char* options[] = {"listening_ports", listening.c_str(), "num_threads", "8", "enable_keep_alive", "no",
                             nullptr};
    mg_init_library(0);
    mg_callbacks callbacks{};
    mg_context* context = mg_start(&callbacks, nullptr, options);
    if (context == nullptr) {
      std::printf("civetweb could not start\n");
      return 1;
    }
    Print("civetweb 1.15", Measure(static_cast<std::uint16_t>(std::stoi(port)), seconds, clients));
    mg_stop(context);
    mg_exit_library();
  }
  return 0;
}
