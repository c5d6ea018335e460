#include "settings/settings_file.h"

#include <string_view>
#include <vector>

#include "base/number_text.h"
#include "base/scope_exit.h"
#include "base/text.h"
#include "platform/error.h"

namespace lsv::settings {

namespace {

using Node = platform::IXmlDocument::Node;

std::optional<Node> FindKey(platform::IXmlDocument& document, Node root, const std::string& key) {
  // The namespace filter applies only when the root is in a namespace: a file without one takes
  // a key element however it is qualified.
  const std::string rootNamespace = document.NamespaceUri(root);
  for (const Node child : document.ChildNodes(root)) {
    if (document.Type(child) != platform::XmlNodeType::Element) continue;
    if (document.Name(child) != key && document.LocalName(child) != key) continue;
    if (!rootNamespace.empty() && document.NamespaceUri(child) != rootNamespace) continue;
    return child;
  }
  return std::nullopt;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// The line without the blanks around it, cut at a character boundary after the excerpt length.
std::string Excerpt(const std::string& line) {
  const std::string_view text = lsv::TrimControlsAndBlanks(line);
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // A UTF-8 character starts at every byte that is not a continuation byte.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters == kLoadErrorExcerptLength) return std::string(text.substr(0, i)) + "...";
    ++characters;
  }
  return std::string(text);
}

[[noreturn]] void ThrowContentError(const std::string& key) {
  throw platform::Error("Element \"" + key + "\" does not hold a single text node");
}

}  // namespace

std::optional<std::string> LookUpKey(platform::IXmlDocument& document, Node root, const std::string& key) {
  const std::optional<Node> element = FindKey(document, root, key);
  if (!element) return std::nullopt;
  const std::vector<Node> children = document.ChildNodes(*element);
  if (children.empty() || document.Text(*element).empty()) return std::nullopt;
  if (children.size() != 1 || document.Type(children.front()) != platform::XmlNodeType::Text) {
    ThrowContentError(key);
  }
  return document.Text(children.front());
}

void WriteKey(platform::IXmlDocument& document, Node root, const std::string& key, const std::string& value) {
  std::optional<Node> element = FindKey(document, root, key);
  if (!element) {
    const std::string rootName = document.Name(root);
    const std::size_t colon = rootName.find(':');
    const std::string qualified = colon == std::string::npos ? key : rootName.substr(0, colon + 1) + key;
    element = document.AppendElement(root, qualified, document.NamespaceUri(root));
  }
  const std::vector<Node> children = document.ChildNodes(*element);
  if (children.empty()) {
    document.AppendText(*element, value);
  } else if (children.size() == 1 && document.Type(children.front()) == platform::XmlNodeType::Text) {
    document.SetText(children.front(), value);
  } else {
    ThrowContentError(key);
  }
}

std::string ValueToText(const std::optional<std::string>& value, const std::string& key) {
  if (!value) throw platform::Error("Setting \"" + key + "\" has no value to convert to text");
  return *value;
}

std::int32_t TextToInteger(const std::string& text) {
  if (const auto value = lsv::ParseInteger(text)) return *value;
  throw platform::Error("'" + text + "' is not a valid integer value");
}

double TextToFloat(const std::string& text, const std::string& decimalSeparator) {
  if (const auto value = lsv::ParseFloat(text, decimalSeparator)) return *value;
  throw platform::Error("'" + text + "' is not a valid floating point value");
}

std::string LoadFailureText(const std::string& path, const platform::XmlLoadFailure& failure) {
  std::string text = "Cannot load " + Quoted(path) + ": ";
  text += failure.Reason().empty() ? std::string("the XML parser gave no reason") : failure.Reason();
  if (failure.Line() > 0) {
    text += "\r\nLine " + std::to_string(failure.Line());
    if (failure.Column() > 0) text += ", column " + std::to_string(failure.Column());
    const std::string excerpt = Excerpt(failure.LineText());
    if (!excerpt.empty()) text += ": " + excerpt;
  }
  return text;
}

void LoadDocument(platform::IXmlDocument& document, const std::string& path) {
  try {
    document.Load(path);
  } catch (const platform::XmlLoadFailure& failure) {
    throw platform::Error(LoadFailureText(path, failure));
  }
}

void SaveDocument(platform::IXmlDocument& document, const std::string& path, platform::IFiles& files,
                  const DocumentFactory& newDocument) {
  const std::string target = Quoted(path);
  // Replacing the file would bypass its protection (Wine's MoveFileEx replaces a read-only file,
  // Windows refuses): refusing first gives one outcome everywhere, before anything is written.
  if (files.IsReadOnly(path)) throw platform::Error("Cannot save " + target + ": the file is read-only");
  std::string temporary;
  try {
    temporary = files.CreateFileBeside(path);
  } catch (const platform::Error& error) {
    throw platform::Error("Cannot save " + target + ": cannot create a file beside it: " + error.what());
  }
  lsv::ScopeExit removeTemporary([&] { files.Remove(temporary); });
  try {
    document.WriteTo(temporary);
  } catch (const platform::Error& error) {
    throw platform::Error("Cannot save " + target + ": " + error.what());
  }
  // A DOM may write a declared encoding in a form it cannot read again (libxml2 encodes even
  // the declaration in UTF-7); such a file must not replace one that loads.
  try {
    newDocument()->Load(temporary);
  } catch (const platform::Error&) {
    throw platform::Error("Cannot save " + target + ": the written file would not load again");
  }
  try {
    files.Replace(temporary, path);
  } catch (const platform::Error& error) {
    throw platform::Error("Cannot save " + target + ": " + error.what());
  }
  removeTemporary.Release();
}

}  // namespace lsv::settings
