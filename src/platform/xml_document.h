#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

enum class XmlNodeType { Element, Text, CData, Comment, ProcessingInstruction, Other };

// A DOM document: load from a file, walk the root's children, change text, append elements,
// save. Nodes are named by handles that stay valid until the next Load. All text is UTF-8.
//
// Every operation on an object that holds no document (never loaded, or the last Load failed)
// raises platform::Error.
class IXmlDocument {
 public:
  using Node = std::size_t;

  virtual ~IXmlDocument() = default;

  // Replaces whatever the object held; on failure it holds no document and the error names the
  // parser's reason, the line and the beginning of the offending line.
  virtual void Load(const std::string& path) = 0;
  virtual bool HasDocument() const = 0;
  // Writes the whole document so that a failed save leaves the previous file whole.
  virtual void Save(const std::string& path) = 0;

  virtual Node DocumentElement() = 0;
  virtual std::vector<Node> ChildNodes(Node node) = 0;
  virtual XmlNodeType Type(Node node) = 0;
  // Qualified name ("p:key") and local name ("key"); empty for nodes without a name.
  virtual std::string Name(Node node) = 0;
  virtual std::string LocalName(Node node) = 0;
  // Namespace URI, empty when the node is in no namespace.
  virtual std::string NamespaceUri(Node node) = 0;
  // Text of a text node (its data), or the text content of an element.
  virtual std::string Text(Node node) = 0;
  // Replaces the data of a text node.
  virtual void SetText(Node textNode, const std::string& value) = 0;
  // Appends a new element as the last child of parent, in the namespace given (empty: none).
  virtual Node AppendElement(Node parent, const std::string& qualifiedName, const std::string& namespaceUri) = 0;
  virtual Node AppendText(Node parent, const std::string& value) = 0;
};

}  // namespace platform
