// The round trip of one page event natively: request sent, parsed on a connection thread,
// handed to the window thread (here the headless one, pumping), executed, answered, read.
// Usage: event_roundtrip_bench [requests, default 5000]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/main_form.h"
#include "platform/headless/headless_application.h"
#include "platform/headless/headless_form.h"
#include "platform/headless/libxml2_document.h"
#include "platform/headless/posix_files.h"
#include "platform/sockets.h"
#include "settings/setting_form.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string RoundTrip(std::uint16_t port, const std::string& request) {
  platform::Socket socket = platform::ConnectTcp("127.0.0.1", port);
  platform::SendAll(socket, request.data(), request.size());
  std::string received;
  char buffer[512];
  for (;;) {
    const std::size_t count = platform::Receive(socket, buffer, sizeof buffer);
    if (count == 0) return received;
    received.append(buffer, count);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::atoi(argv[1]) : 5000;
  platform::StartSockets();
  const auto dir = std::filesystem::temp_directory_path() / "lsv-event-bench";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "settings.xml") << "<settings><disphtml>about:blank</disphtml>"
                                         "<refresh_interval>0</refresh_interval><port>0</port></settings>";

  platform::headless::HeadlessApplication app;
  app.moduleDirectory = (dir / "").string();
  app.xmlDocumentFactory = [] { return platform::headless::CreateLibxml2Document(); };
  platform::headless::PosixFiles files;
  app.files = &files;
  // Port 0 is refused as a setting; the strip keeps the free port it was built with.
  lsv::app::TMainForm strip(app, 0);
  lsv::settings::TSettingForm dialog(app, strip.SettingHost());
  strip.SetSettingForm(&dialog);
  app.mainForm->Show();
  const std::uint16_t port = strip.HttpServer().ListeningPort();

  const std::string request = "GET /event?type=none&arg1=0&arg2=0 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  std::vector<double> latencies;
  std::atomic<bool> done{false};
  long failures = 0;
  std::thread client([&] {
    for (int i = 0; i < requests; ++i) {
      const auto begin = Clock::now();
      if (RoundTrip(port, request).compare(0, 12, "HTTP/1.1 404") != 0) ++failures;
      latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
    }
    done = true;
  });
  // The window thread: delivers the sent messages as a message loop would.
  while (!done) app.PumpSent(std::chrono::milliseconds(1));
  client.join();

  std::sort(latencies.begin(), latencies.end());
  std::printf("event round trip, native, headless window thread, %d requests\n", requests);
  std::printf("p50 %.1f us   p99 %.1f us   max %.1f us   failures %ld\n", latencies[latencies.size() / 2],
              latencies[latencies.size() * 99 / 100], latencies.back(), failures);
  std::filesystem::remove_all(dir);
  return failures == 0 ? 0 : 1;
}
