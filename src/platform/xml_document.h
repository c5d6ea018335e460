#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"

namespace platform {

// A document that could not be loaded, as the parser saw it: its reason (or the system's, for a
// file that cannot be opened), the line and column (0 when unknown) and the text of that line.
// The core turns it into the text the user reads.
class XmlLoadFailure : public Error {
 public:
  XmlLoadFailure(std::string reason, int line, int column, std::string lineText)
      : Error(reason), reason_(std::move(reason)), line_(line), column_(column), lineText_(std::move(lineText)) {}
  const std::string& Reason() const { return reason_; }
  int Line() const { return line_; }
  int Column() const { return column_; }
  const std::string& LineText() const { return lineText_; }

 private:
  std::string reason_;
  int line_;
  int column_;
  std::string lineText_;
};

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

  // Replaces whatever the object held; on failure it holds no document and raises XmlLoadFailure.
  virtual void Load(const std::string& path) = 0;
  virtual bool HasDocument() const = 0;
  // Writes the whole document, in the encoding its declaration names, into the existing empty
  // file at path, and flushes it to disk. Where the file goes afterwards is the caller's business
  // (the settings file is saved through a file beside it). Raises Error with the reason only.
  virtual void WriteTo(const std::string& path) = 0;

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
