#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/files.h"
#include "platform/xml_document.h"

namespace lsv::settings {

inline constexpr const char* kSettingsFileName = "settings.xml";
inline constexpr const char* kDefaultDisplayPage = "RavidiVevo.html";

// The key's value by the look-up rule: the first child of root whose qualified or local name is
// key (case-sensitive, and in root's namespace when root has one); nullopt when there is none, when it has no
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

// The conversions of setting values: platform::Error with a text naming the value.
std::int32_t TextToInteger(const std::string& text);
double TextToFloat(const std::string& text, const std::string& decimalSeparator);

// How much of the offending line a load error quotes: enough to recognise the line.
inline constexpr std::size_t kLoadErrorExcerptLength = 60;

// The text the user reads for a file that could not be loaded: the path, the parser's reason,
// and where it names one, the line, the column and the beginning of that line.
std::string LoadFailureText(const std::string& path, const platform::XmlLoadFailure& failure);

// Loads the settings file into document; platform::Error with LoadFailureText when it cannot.
void LoadDocument(platform::IXmlDocument& document, const std::string& path);

using DocumentFactory = std::function<std::unique_ptr<platform::IXmlDocument>()>;

// Saves the document over the file at path so that a save that fails, or is cut short, leaves
// the previous file whole: a read-only file is refused before anything is written; the document
// goes into a new file beside it, which must load again, and that file then takes the old one's
// place (and its permissions) in one step. platform::Error naming the path when it fails, and
// nothing is left behind.
void SaveDocument(platform::IXmlDocument& document, const std::string& path, platform::IFiles& files,
                  const DocumentFactory& newDocument);

}  // namespace lsv::settings
