#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/headless/headless_application.h"
#include "platform/headless/headless_window_services.h"
#include "platform/sockets.h"
#include "platform/xml_document.h"

namespace lsvtest {

// The DOM of this build: libxml2 natively, MSXML 6 on Windows.
std::unique_ptr<platform::IXmlDocument> NewXmlDocument();
// The file operations of this build, as the product saves the settings file with them.
platform::IFiles& SystemFiles();
// A headless application that reads and saves XML with this build's DOM and files.
void UseSystemXml(platform::headless::HeadlessApplication& app);

// Winamp's five windows in the usual layout: main, equalizer below it, playlist below that, all
// visible; video and mini browser hidden.
void AddWinamp(platform::headless::HeadlessWindowServices& windows);

// The headless platform's timer behind a component's timer, for the test to drive.
platform::headless::HeadlessTimer& Driven(const platform::ITimer& timer);

// A TCP port that was free a moment ago, for settings whose port the strip really opens.
int FreePort();

// Reads until the peer closes; gives up after waitMs (then "<still open>" ends the text) so a
// hung server fails a test instead of hanging it.
std::string ReadToClose(platform::Socket& socket, int waitMs = 5000);
// One request on a new loopback connection; what came back up to the close.
std::string Exchange(std::uint16_t port, const std::string& bytes, bool endSending = false);
// A connection to 127.0.0.1 from another loopback source address, which a test's peer filter can
// treat as another host's.
platform::Socket ConnectFrom(const std::string& source, std::uint16_t port);

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The directory as the application reports its module directory: UTF-8, trailing separator.
  std::string WithSeparator() const;
  std::string File(const std::string& name) const;
  void Write(const std::string& name, const std::string& content) const;
  std::string Read(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

}  // namespace lsvtest
