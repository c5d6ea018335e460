#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "platform/files.h"
#include "platform/xml_document.h"
#include "settings/settings_file.h"

namespace lsv::settings {

// Empty, a number or a string.
using Variant = std::variant<std::monostate, double, std::string>;

// The three settings the strip itself acts on, as LoadSettings leaves them.
struct StripSettings {
  Variant displayPage;      // the page the browser shows
  Variant refreshInterval;  // milliseconds between reloads
  Variant serverPort;       // the listener's port, as text
};

// What LoadSettings needs beyond the file: where the program is installed (for the default
// page), the user's decimal separator, and how a save is made.
struct LoadContext {
  std::string moduleDirectory;
  std::string decimalSeparator;
  platform::IFiles& files;
  DocumentFactory newDocument;
};

// Reads disphtml, refresh_interval and port from the settings file at path into settings, each
// as it is read, so that a failure leaves the values read before it. An absent disphtml is
// replaced by the installed default page, which is written back to the file.
void LoadSettings(platform::IXmlDocument& document, const std::string& path, const LoadContext& context,
                  StripSettings& settings);

// The refresh timer's interval from refreshInterval; platform::Error for a value that is not a
// number, negative, or beyond 32 bits of milliseconds (a wrapped interval would be nonsense).
std::uint32_t RefreshTimerInterval(const Variant& refreshInterval);
// The listener port from serverPort; platform::Error when it is not an integer or not 1 to 65535.
int ListenerPort(const Variant& serverPort);

}  // namespace lsv::settings
