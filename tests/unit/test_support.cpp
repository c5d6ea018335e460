#include "test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/sockets.h"

#ifdef _WIN32
#include "platform/win32/files.h"
#include "platform/win32/msxml_document.h"
#else
#include "platform/headless/libxml2_document.h"
#include "platform/headless/posix_files.h"
#endif

namespace lsvtest {

void AddWinamp(platform::headless::HeadlessWindowServices& windows) {
  windows.AddWindow("Winamp v1.x", {100, 100, 375, 216});
  windows.AddWindow("Winamp PE", {100, 332, 375, 564});
  windows.AddWindow("Winamp EQ", {100, 216, 375, 332});
  windows.AddWindow("Winamp Video", {0, 0, 1, 1}, false);
  windows.AddWindow("Winamp MB", {0, 0, 1, 1}, false);
}

std::unique_ptr<platform::IXmlDocument> NewXmlDocument() {
#ifdef _WIN32
  return platform::win32::CreateMsxmlDocument();
#else
  return platform::headless::CreateLibxml2Document();
#endif
}

platform::IFiles& SystemFiles() {
#ifdef _WIN32
  static platform::win32::Win32Files files;
#else
  static platform::headless::PosixFiles files;
#endif
  return files;
}

platform::headless::HeadlessTimer& Driven(const platform::ITimer& timer) {
  // The timer belongs to the headless platform, which lets a test drive it.
  return const_cast<platform::headless::HeadlessTimer&>(dynamic_cast<const platform::headless::HeadlessTimer&>(timer));
}

void UseSystemXml(platform::headless::HeadlessApplication& app) {
  app.xmlDocumentFactory = [] { return NewXmlDocument(); };
  app.files = &SystemFiles();
}

int FreePort() {
  platform::StartSockets();
  platform::Socket socket = platform::CreateTcpSocket();
  platform::Bind(socket, "127.0.0.1", 0);
  return platform::LocalPort(socket);
}

std::string ReadToClose(platform::Socket& socket, int waitMs) {
  std::string received;
  char buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return received + "<still open>";
    if (!platform::WaitReadable(socket, static_cast<int>(left.count()))) continue;
    std::size_t count = 0;
    try {
      count = platform::Receive(socket, buffer, sizeof buffer);
    } catch (const platform::SocketError&) {
      return received;  // a reset ends the exchange as well
    }
    if (count == 0) return received;
    received.append(buffer, count);
  }
}

std::string Exchange(std::uint16_t port, const std::string& bytes, bool endSending) {
  platform::Socket socket = platform::ConnectTcp("127.0.0.1", port);
  platform::SendAll(socket, bytes.data(), bytes.size());
  if (endSending) platform::ShutdownSend(socket);
  return ReadToClose(socket);
}

platform::Socket ConnectFrom(const std::string& source, std::uint16_t port) {
  platform::Socket socket = platform::CreateTcpSocket();
  platform::Bind(socket, source, 0);
  platform::Connect(socket, "127.0.0.1", port);
  return socket;
}

namespace {

std::string ToUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    auto candidate = base / ("lsv-test-" + std::to_string(std::rand()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      break;
    }
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
  for (const auto& entry : std::filesystem::directory_iterator(path_, ignored)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all, ignored);
  }
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::WithSeparator() const { return ToUtf8(path_ / ""); }

std::string TempDir::File(const std::string& name) const { return ToUtf8(path_ / name); }

void TempDir::Write(const std::string& name, const std::string& content) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream in(path_ / name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace lsvtest
