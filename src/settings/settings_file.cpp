#include "settings/settings_file.h"

#include <vector>

#include "platform/error.h"

namespace lsv::settings {

namespace {

using Node = platform::IXmlDocument::Node;

std::optional<Node> FindKey(platform::IXmlDocument& document, Node root, const std::string& key) {
  const std::string rootNamespace = document.NamespaceUri(root);
  for (const Node child : document.ChildNodes(root)) {
    if (document.Type(child) != platform::XmlNodeType::Element) continue;
    if (document.Name(child) != key && document.LocalName(child) != key) continue;
    if (document.NamespaceUri(child) != rootNamespace) continue;
    return child;
  }
  return std::nullopt;
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

}  // namespace lsv::settings
