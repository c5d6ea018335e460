#include "settings/strip_settings.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/error.h"

namespace lsv::settings {

void LoadSettings(platform::IXmlDocument& document, const std::string& path, const LoadContext& context,
                  StripSettings& settings) {
  LoadDocument(document, path);
  const auto root = document.DocumentElement();

  if (const auto page = LookUpKey(document, root, "disphtml")) {
    settings.displayPage = *page;
  } else {
    const std::string defaultPage = context.moduleDirectory + kDefaultDisplayPage;
    settings.displayPage = defaultPage;
    WriteKey(document, root, "disphtml", defaultPage);
    SaveDocument(document, path, context.files, context.newDocument);
  }

  const std::string interval = ValueToText(LookUpKey(document, root, "refresh_interval"), "refresh_interval");
  settings.refreshInterval = TextToFloat(interval, context.decimalSeparator) * 1000.0;

  settings.serverPort = ValueToText(LookUpKey(document, root, "port"), "port");
}

std::uint32_t RefreshTimerInterval(const Variant& refreshInterval) {
  const double* milliseconds = std::get_if<double>(&refreshInterval);
  if (milliseconds == nullptr) throw platform::Error("The refresh interval has no value");
  // Rounded to the nearest whole millisecond, ties to even.
  const double rounded = std::nearbyint(*milliseconds);
  if (!(rounded >= 0.0 && rounded <= static_cast<double>(std::numeric_limits<std::uint32_t>::max()))) {
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "%g", *milliseconds / 1000.0);
    throw platform::Error(std::string("The refresh interval of ") + seconds +
                          " seconds is out of range (0 to 4294967.295 seconds)");
  }
  return static_cast<std::uint32_t>(rounded);
}

int ListenerPort(const Variant& serverPort) {
  const std::string* text = std::get_if<std::string>(&serverPort);
  if (text == nullptr) throw platform::Error("The port setting has no value");
  const std::int32_t port = TextToInteger(*text);
  if (port < 1 || port > 65535) {
    throw platform::Error("Port " + std::to_string(port) + " is out of range (1 to 65535)");
  }
  return port;
}

}  // namespace lsv::settings
