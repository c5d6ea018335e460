#pragma once

#include <optional>
#include <string>

#include "platform/xml_document.h"

namespace lsv::settings {

inline constexpr const char* kSettingsFileName = "settings.xml";
inline constexpr const char* kDefaultDisplayPage = "RavidiVevo.html";

// The key's value by the look-up rule: the first child of root whose qualified or local name is
// key (case-sensitive, and in root's namespace); nullopt when there is none, when it has no
// child nodes or when its text is empty. Any content other than one text node raises
// platform::Error.
std::optional<std::string> LookUpKey(platform::IXmlDocument& document, platform::IXmlDocument::Node root,
                                     const std::string& key);

// Stores value as the key's text, appending a new element as root's last child (in root's
// namespace, with root's prefix) when there is none. The same content error as LookUpKey.
void WriteKey(platform::IXmlDocument& document, platform::IXmlDocument::Node root, const std::string& key,
              const std::string& value);

// An absent value cannot be converted to text: platform::Error naming the key.
std::string ValueToText(const std::optional<std::string>& value, const std::string& key);

}  // namespace lsv::settings
