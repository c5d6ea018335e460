#include "platform/headless/libxml2_document.h"

#include <fcntl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/xml_document.h"

namespace platform::headless {

namespace {

struct DocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

std::string ToString(const xmlChar* text) { return text != nullptr ? reinterpret_cast<const char*>(text) : ""; }

// The whole line; how much of it a message quotes is the core's choice.
std::string LineOfFile(const std::string& path, int lineNumber) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  for (int i = 1; i <= lineNumber && std::getline(in, line); ++i) {
  }
  return line;
}

// The parser's first complaint is the one that names the fault; later ones are consequences.
struct FirstError {
  std::string message;
  int line = 0;
  int column = 0;

  static void Record(void* context, xmlErrorPtr error) {
    auto* self = static_cast<FirstError*>(context);
    if (!self->message.empty() || error == nullptr || error->message == nullptr) return;
    self->message = error->message;
    while (!self->message.empty() && (self->message.back() == '\n' || self->message.back() == ' ')) {
      self->message.pop_back();
    }
    self->line = error->line;
    // libxml2 keeps the column of parser errors in int2.
    self->column = error->int2;
  }
};

void IgnoreGeneric(void*, const char*, ...) {}
class Libxml2Document : public IXmlDocument {
 public:
  void Load(const std::string& path) override {
    doc_.reset();
    nodes_.clear();
    {
      std::ifstream probe(path, std::ios::binary);
      if (!probe) throw XmlLoadFailure(std::strerror(errno), 0, 0, "");
    }
    FirstError first;
    xmlSetStructuredErrorFunc(&first, &FirstError::Record);
    xmlSetGenericErrorFunc(nullptr, &IgnoreGeneric);
    xmlDoc* doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    xmlSetGenericErrorFunc(nullptr, nullptr);
    if (doc == nullptr || xmlDocGetRootElement(doc) == nullptr) {
      if (doc != nullptr) xmlFreeDoc(doc);
      const std::string reason = first.message.empty() ? "The document has no root element" : first.message;
      throw XmlLoadFailure(reason, first.line, first.column, first.line > 0 ? LineOfFile(path, first.line) : "");
    }
    doc_.reset(doc);
  }

  bool HasDocument() const override { return doc_ != nullptr; }

  void WriteTo(const std::string& path) override {
    Require();
    const char* encoding = doc_->encoding != nullptr ? reinterpret_cast<const char*>(doc_->encoding) : "UTF-8";
    xmlChar* bytes = nullptr;
    int size = 0;
    xmlDocDumpMemoryEnc(doc_.get(), &bytes, &size, encoding);
    if (bytes == nullptr) throw Error(std::string("the document cannot be written in ") + encoding);
    const std::unique_ptr<xmlChar, void (*)(void*)> owned(bytes, xmlFree);
    // The file was made for this write; a link put in its place meanwhile is not followed.
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw Error(std::strerror(errno));
    const char* data = reinterpret_cast<const char*>(bytes);
    std::size_t left = static_cast<std::size_t>(size);
    while (left > 0) {
      const ssize_t written = ::write(fd, data, left);
      if (written < 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        throw Error(std::strerror(error));
      }
      data += written;
      left -= static_cast<std::size_t>(written);
    }
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!synced) throw Error(std::strerror(error));
  }

  Node DocumentElement() override { return Handle(xmlDocGetRootElement(Require())); }

  std::vector<Node> ChildNodes(Node node) override {
    std::vector<Node> children;
    for (xmlNode* child = At(node)->children; child != nullptr; child = child->next) {
      children.push_back(Handle(child));
    }
    return children;
  }

  XmlNodeType Type(Node node) override {
    switch (At(node)->type) {
      case XML_ELEMENT_NODE:
        return XmlNodeType::Element;
      case XML_TEXT_NODE:
        return XmlNodeType::Text;
      case XML_CDATA_SECTION_NODE:
        return XmlNodeType::CData;
      case XML_COMMENT_NODE:
        return XmlNodeType::Comment;
      case XML_PI_NODE:
        return XmlNodeType::ProcessingInstruction;
      default:
        return XmlNodeType::Other;
    }
  }

  std::string Name(Node node) override {
    xmlNode* n = At(node);
    if (n->type != XML_ELEMENT_NODE) return LocalName(node);
    if (n->ns != nullptr && n->ns->prefix != nullptr) return ToString(n->ns->prefix) + ":" + ToString(n->name);
    return ToString(n->name);
  }

  std::string LocalName(Node node) override {
    xmlNode* n = At(node);
    switch (n->type) {
      case XML_TEXT_NODE:
        return "#text";
      case XML_CDATA_SECTION_NODE:
        return "#cdata-section";
      case XML_COMMENT_NODE:
        return "#comment";
      default:
        return ToString(n->name);
    }
  }

  std::string NamespaceUri(Node node) override {
    xmlNode* n = At(node);
    return n->type == XML_ELEMENT_NODE && n->ns != nullptr ? ToString(n->ns->href) : "";
  }

  std::string Text(Node node) override {
    xmlChar* content = xmlNodeGetContent(At(node));
    std::string text = ToString(content);
    xmlFree(content);
    return text;
  }

  void SetText(Node textNode, const std::string& value) override {
    xmlNode* n = At(textNode);
    if (n->type != XML_TEXT_NODE) throw Error("The node is not a text node");
    xmlNodeSetContentLen(n, reinterpret_cast<const xmlChar*>(value.data()), static_cast<int>(value.size()));
  }

  Node AppendElement(Node parent, const std::string& qualifiedName, const std::string& namespaceUri) override {
    xmlNode* p = At(parent);
    const std::size_t colon = qualifiedName.find(':');
    const std::string local = colon == std::string::npos ? qualifiedName : qualifiedName.substr(colon + 1);
    xmlNode* element = xmlNewDocNode(doc_.get(), nullptr, reinterpret_cast<const xmlChar*>(local.c_str()), nullptr);
    if (element == nullptr) throw Error("Out of memory");
    if (!namespaceUri.empty()) {
      const std::string prefix = colon == std::string::npos ? "" : qualifiedName.substr(0, colon);
      xmlNs* ns = xmlSearchNsByHref(doc_.get(), p, reinterpret_cast<const xmlChar*>(namespaceUri.c_str()));
      if (ns == nullptr || ToString(ns->prefix) != prefix) {
        ns = xmlNewNs(element, reinterpret_cast<const xmlChar*>(namespaceUri.c_str()),
                      prefix.empty() ? nullptr : reinterpret_cast<const xmlChar*>(prefix.c_str()));
      }
      xmlSetNs(element, ns);
    }
    xmlAddChild(p, element);
    return Handle(element);
  }

  Node AppendText(Node parent, const std::string& value) override {
    xmlNode* text = xmlNewDocTextLen(doc_.get(), reinterpret_cast<const xmlChar*>(value.data()),
                                     static_cast<int>(value.size()));
    if (text == nullptr) throw Error("Out of memory");
    // xmlAddChild merges adjacent text nodes and may free the new one; the parent has none here.
    return Handle(xmlAddChild(At(parent), text));
  }

 private:
  xmlDoc* Require() const {
    if (!doc_) throw Error("No active document");
    return doc_.get();
  }

  Node Handle(xmlNode* node) {
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
      if (nodes_[i] == node) return i;
    }
    nodes_.push_back(node);
    return nodes_.size() - 1;
  }

  xmlNode* At(Node node) {
    Require();
    if (node >= nodes_.size()) throw Error("Invalid node");
    return nodes_[node];
  }

  std::unique_ptr<xmlDoc, DocFree> doc_;
  std::vector<xmlNode*> nodes_;
};

}  // namespace

std::unique_ptr<IXmlDocument> CreateLibxml2Document() { return std::make_unique<Libxml2Document>(); }

}  // namespace platform::headless
