// Loopback figures for the event listener next to two common embedded servers, on the same
// workload: one small GET per connection, answered 404, connection closed.
//   connections/s  - several client threads opening, asking and reading to the close for a while
//   latency p50/99 - one client, one request at a time, from connect to the close
// Usage: listener_bench [seconds per throughput run, default 3] [rounds, default 4]
// Each round runs every server once; the order turns round after round, so no server always runs
// on a machine warmed (or tired) by the others. Each round also prints ours against cpp-httplib.

#include <civetweb.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
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

Figures RunOurs(double seconds, int clients) {
  lsv::events::THttpListener listener;
  listener.OnCommandGet = [](lsv::events::TConnectionThread& thread, lsv::events::THttpRequest&,
                             lsv::events::THttpResponse& response) {
    response.SetStatus(404);
    thread.EndAfterRequest();
  };
  // As the product runs it: only this machine is served.
  listener.AcceptFrom = [](const std::string& peer, const std::string&) { return peer.rfind("127.", 0) == 0; };
  listener.SetDefaultPort(0);
  listener.SetActive(true);
  const Figures figures = Measure(listener.ListeningPort(), seconds, clients);
  listener.SetActive(false);
  return figures;
}

Figures RunHttplib(double seconds, int clients) {
  httplib::Server server;
  server.set_keep_alive_max_count(1);
  const int port = server.bind_to_any_port("127.0.0.1");
  std::thread runner([&] { server.listen_after_bind(); });
  while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const Figures figures = Measure(static_cast<std::uint16_t>(port), seconds, clients);
  server.stop();
  runner.join();
  return figures;
}

Figures RunCivetweb(double seconds, int clients) {
  const std::string port = std::to_string(FreePort());
  const std::string listening = "127.0.0.1:" + port;
  const char* options[] = {
      "listening_ports", listening.c_str(), "num_threads", "8", "enable_keep_alive", "no", nullptr};
  mg_init_library(0);
  mg_callbacks callbacks{};
  mg_context* context = mg_start(&callbacks, nullptr, options);
  if (context == nullptr) {
    std::printf("civetweb could not start\n");
    std::exit(1);
  }
  const Figures figures = Measure(static_cast<std::uint16_t>(std::stoi(port)), seconds, clients);
  mg_stop(context);
  mg_exit_library();
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 4;
  const int clients = 4;
  platform::StartSockets();
  std::printf("loopback, %d client threads, %.1f s per throughput run, %d rounds, %u cores\n", clients, seconds, rounds,
              std::thread::hardware_concurrency());
  struct Server {
    const char* name;
    Figures (*run)(double, int);
  };
  const Server servers[] = {
      {"THttpListener (ours)", RunOurs}, {"cpp-httplib 0.11", RunHttplib}, {"civetweb 1.15", RunCivetweb}};
  constexpr int kServers = static_cast<int>(std::size(servers));
  for (int round = 0; round < rounds; ++round) {
    std::printf("round %d\n%-22s %12s %12s %12s %10s\n", round + 1, "server", "conn/s", "p50 us", "p99 us", "failures");
    double ours = 0;
    double httplib = 0;
    for (int i = 0; i < kServers; ++i) {
      // Forwards in even rounds, backwards in odd ones.
      const int index = round % 2 == 0 ? i : kServers - 1 - i;
      const Figures figures = servers[index].run(seconds, clients);
      Print(servers[index].name, figures);
      if (index == 0) ours = figures.connectionsPerSecond;
      if (index == 1) httplib = figures.connectionsPerSecond;
    }
    std::printf("ours / cpp-httplib: %.2f\n", httplib > 0 ? ours / httplib : 0.0);
  }
  return 0;
}
