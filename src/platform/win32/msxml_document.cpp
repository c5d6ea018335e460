#include "platform/win32/msxml_document.h"

#include <windows.h>

#include <msxml2.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/win32/com_bstr.h"
#include "platform/win32/com_error.h"
#include "platform/win32/com_object.h"
#include "platform/win32/com_ptr.h"
#include "platform/win32/com_variant.h"
#include "platform/win32/handle.h"
#include "platform/win32/utf.h"
#include "platform/xml_document.h"

namespace platform::win32 {

namespace {

// mingw's msxml2.h stops at MSXML 4 and its uuid library lacks the SAX interface ids, so the MSXML 6
// class ids and those interface ids are spelled out here.
constexpr CLSID kClsidDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr CLSID kClsidSaxXmlReader60 = {0x88d96a0c, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
constexpr IID kIidSaxXmlReader = {0xa4f96ed0, 0xf829, 0x476e, {0x81, 0xc0, 0xcd, 0xc7, 0xbd, 0x2a, 0x08, 0x02}};
constexpr IID kIidSaxErrorHandler = {0xa60511c4, 0xccf5, 0x479e, {0x98, 0xa3, 0xdc, 0x8d, 0xc5, 0x45, 0xb7, 0xd0}};
constexpr IID kIidSaxContentHandler = {0x1545cdfa, 0x9e4e, 0x4497, {0xa8, 0xa4, 0x2b, 0xf7, 0xd0, 0x11, 0x2c, 0x44}};

constexpr char kNoDocumentMessage[] = "No active document";
// A load error quotes a line of the file; a settings file is tiny, anything this big is not one.
constexpr LONGLONG kLargestFileToQuote = 16 * 1024 * 1024;

// Opens a file; the handle is empty (false) when CreateFileW failed, with the reason in GetLastError.
UniqueFileHandle OpenPath(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD attributes) {
  return UniqueFileHandle(CreateFileW(path.c_str(), access, share, nullptr, disposition, attributes, nullptr));
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::wstring_view TrimmedRight(std::wstring_view text) {
  while (!text.empty() &&
         (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' || text.back() == L'\t')) {
    text.remove_suffix(1);
  }
  return text;
}

struct ParseFailure {
  std::wstring reason;
  long line = 0;
  long column = 0;  // 0 when unknown
  std::wstring source;
};

ParseFailure FromParseError(IXMLDOMDocument& document) {
  ParseFailure failure;
  ComPtr<IXMLDOMParseError> parseError;
  if (FAILED(document.get_parseError(parseError.Put())) || !parseError) {
    return failure;
  }
  Bstr reason;
  Bstr source;
  parseError->get_reason(reason.Put());
  parseError->get_line(&failure.line);
  parseError->get_linepos(&failure.column);
  parseError->get_srcText(source.Put());
  failure.reason = TrimmedRight(reason.View());
  failure.source = source.View();
  return failure;
}

// Collects the first fatal error of a SAX parse. It is also a content handler that ignores every
// event: Wine's reader advances its locator only while a content handler is set, and without one
// every error would be reported at the start of the document.
class SaxErrorCollector final : public ComObject<SaxErrorCollector, ISAXErrorHandler, ISAXContentHandler> {
 public:
  bool HasError() const { return hasError_; }
  const std::wstring& Message() const { return message_; }
  long Line() const { return line_; }

  void* FindInterface(REFIID iid) noexcept {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kIidSaxErrorHandler)) {
      return static_cast<ISAXErrorHandler*>(this);
    }
    if (IsEqualIID(iid, kIidSaxContentHandler)) {
      return static_cast<ISAXContentHandler*>(this);
    }
    return nullptr;
  }

  HRESULT STDMETHODCALLTYPE error(ISAXLocator* locator, const wchar_t* message, HRESULT) noexcept override {
    return Record(locator, message);
  }
  HRESULT STDMETHODCALLTYPE fatalError(ISAXLocator* locator, const wchar_t* message, HRESULT) noexcept override {
    return Record(locator, message);
  }
  HRESULT STDMETHODCALLTYPE ignorableWarning(ISAXLocator*, const wchar_t*, HRESULT) noexcept override { return S_OK; }

  HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator*) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE startDocument() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE endDocument() noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE startPrefixMapping(const wchar_t*, int, const wchar_t*, int) noexcept override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE endPrefixMapping(const wchar_t*, int) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE startElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*, int,
                                         ISAXAttributes*) noexcept override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE endElement(const wchar_t*, int, const wchar_t*, int, const wchar_t*,
                                       int) noexcept override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE characters(const wchar_t*, int) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ignorableWhitespace(const wchar_t*, int) noexcept override { return S_OK; }
  HRESULT STDMETHODCALLTYPE processingInstruction(const wchar_t*, int, const wchar_t*, int) noexcept override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE skippedEntity(const wchar_t*, int) noexcept override { return S_OK; }

 private:
  // Destroyed only by the last Release.
  friend ComObject;
  ~SaxErrorCollector() = default;

  HRESULT Record(ISAXLocator* locator, const wchar_t* message) noexcept {
    if (hasError_) {
      return E_FAIL;
    }
    try {
      message_ = message == nullptr ? std::wstring() : std::wstring(TrimmedRight(message));
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    int line = 0;
    if (locator != nullptr && SUCCEEDED(locator->getLineNumber(&line))) {
      line_ = line;
    }
    hasError_ = true;
    // Stop at the first error: the later ones are consequences of it.
    return E_FAIL;
  }

  bool hasError_ = false;
  std::wstring message_;
  long line_ = 0;
};

// Wine's DOM reports every parse failure as just "error" with no position. Its SAX reader, on the
// same parser, passes the parser's own message on, with the position of the last well-formed item
// before the error, which in practice is the offending line.
std::optional<ParseFailure> FromSaxReader(const std::wstring& path) {
  ComPtr<ISAXXMLReader> reader;
  if (FAILED(
          CoCreateInstance(kClsidSaxXmlReader60, nullptr, CLSCTX_INPROC_SERVER, kIidSaxXmlReader, reader.PutVoid()))) {
    return std::nullopt;
  }
  ComPtr<SaxErrorCollector> collector(new (std::nothrow) SaxErrorCollector());
  if (!collector) {
    return std::nullopt;
  }
  reader->putErrorHandler(collector.Get());
  reader->putContentHandler(collector.Get());
  reader->parseURL(path.c_str());
  reader->putErrorHandler(nullptr);
  reader->putContentHandler(nullptr);
  if (!collector->HasError() || collector->Line() <= 0) {
    return std::nullopt;
  }
  return ParseFailure{collector->Message(), collector->Line(), 0, {}};
}

// The text of a line of a file as the parser would number it (CR, LF and CR LF all end a line),
// decoded as UTF-16 when the file starts with that byte-order mark and as UTF-8 otherwise.
std::wstring LineOfFile(const std::wstring& path, long lineNumber) {
  const UniqueFileHandle file =
      OpenPath(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > kLargestFileToQuote) {
    return {};
  }
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && !ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
    return {};
  }
  bytes.resize(read);

  std::wstring text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
  } else {
    text = Utf8ToWide(bytes);
  }

  long current = 1;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'\r' && text[i] != L'\n') {
      continue;
    }
    if (current == lineNumber) {
      return text.substr(begin, i - begin);
    }
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') {
      ++i;
    }
    ++current;
    begin = i + 1;
  }
  return current == lineNumber ? text.substr(begin) : std::wstring();
}

// What the parser said, with a position where it gave one; the core words the message.
XmlLoadFailure DescribeLoadFailure(IXMLDOMDocument& document, const std::string& path) {
  ParseFailure failure = FromParseError(document);
  const std::wstring widePath = Utf8ToWide(path);
  if (failure.line <= 0) {
    if (!OpenPath(widePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) {
      failure.reason = Utf8ToWide(SystemMessageForWin32(GetLastError()));
    } else if (std::optional<ParseFailure> located = FromSaxReader(widePath)) {
      failure = std::move(*located);
    }
  }
  if (failure.line > 0 && failure.source.empty()) {
    failure.source = LineOfFile(widePath, failure.line);
  }
  return XmlLoadFailure(WideToUtf8(failure.reason), static_cast<int>(failure.line), static_cast<int>(failure.column),
                        WideToUtf8(failure.source));
}

class MsxmlDocument final : public IXmlDocument {
 public:
  void Load(const std::string& path) override {
    document_.Reset();
    nodes_.clear();

    ComPtr<IXMLDOMDocument> document;
    CheckHr(
        CoCreateInstance(kClsidDomDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument, document.PutVoid()),
        "Cannot create an MSXML 6 document");
    // Synchronous, no DTD validation or external fetches; keeping whitespace text nodes is what
    // lets a save write the user's indentation and line breaks back unchanged.
    CheckHr(document->put_async(VARIANT_FALSE), "Cannot configure the XML parser");
    CheckHr(document->put_validateOnParse(VARIANT_FALSE), "Cannot configure the XML parser");
    CheckHr(document->put_resolveExternals(VARIANT_FALSE), "Cannot configure the XML parser");
    CheckHr(document->put_preserveWhiteSpace(VARIANT_TRUE), "Cannot configure the XML parser");

    const Bstr source = Bstr::FromUtf8(path);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    const HRESULT result = document->load(BorrowedStringVariant(source.Get()), &loaded);
    if (FAILED(result) || loaded != VARIANT_TRUE) {
      throw DescribeLoadFailure(*document.Get(), path);
    }
    document_ = std::move(document);
  }

  bool HasDocument() const override { return static_cast<bool>(document_); }

  void WriteTo(const std::string& path) override {
    RequireDocument();
    const Bstr target = Bstr::FromUtf8(path);
    CheckHr(document_->save(BorrowedStringVariant(target.Get())), "The document cannot be written");
    // The file will be renamed over the settings file, which is only as durable as the data the
    // new name points at: force it out of the cache first.
    const UniqueFileHandle file =
        OpenPath(Utf8ToWide(path), GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (!file || !FlushFileBuffers(file.Get())) {
      throw Error(SystemMessageForWin32(GetLastError()));
    }
  }

  Node DocumentElement() override {
    RequireDocument();
    ComPtr<IXMLDOMElement> element;
    CheckHr(document_->get_documentElement(element.Put()), "Cannot read the document element");
    if (!element) {
      throw Error("The XML document has no root element");
    }
    return Keep(std::move(element));
  }

  std::vector<Node> ChildNodes(Node node) override {
    IXMLDOMNode& parent = At(node);
    ComPtr<IXMLDOMNodeList> list;
    CheckHr(parent.get_childNodes(list.Put()), "Cannot read child nodes");
    long length = 0;
    CheckHr(list->get_length(&length), "Cannot read child nodes");
    std::vector<Node> children;
    children.reserve(static_cast<std::size_t>(length));
    for (long index = 0; index < length; ++index) {
      ComPtr<IXMLDOMNode> child;
      CheckHr(list->get_item(index, child.Put()), "Cannot read child nodes");
      children.push_back(Keep(std::move(child)));
    }
    return children;
  }

  XmlNodeType Type(Node node) override {
    switch (NodeType(At(node))) {
      case NODE_ELEMENT:
        return XmlNodeType::Element;
      case NODE_TEXT:
        return XmlNodeType::Text;
      case NODE_CDATA_SECTION:
        return XmlNodeType::CData;
      case NODE_COMMENT:
        return XmlNodeType::Comment;
      case NODE_PROCESSING_INSTRUCTION:
        return XmlNodeType::ProcessingInstruction;
      default:
        return XmlNodeType::Other;
    }
  }

  std::string Name(Node node) override {
    IXMLDOMNode& target = At(node);
    // MSXML names nameless nodes "#text", "#comment" and so on; the interface wants them empty.
    if (!HasName(NodeType(target))) {
      return {};
    }
    Bstr name;
    CheckHr(target.get_nodeName(name.Put()), "Cannot read a node name");
    return name.ToUtf8();
  }

  std::string LocalName(Node node) override {
    IXMLDOMNode& target = At(node);
    if (!HasName(NodeType(target))) {
      return {};
    }
    Bstr name;
    CheckHr(target.get_baseName(name.Put()), "Cannot read a node name");
    return name.ToUtf8();
  }

  std::string NamespaceUri(Node node) override {
    Bstr uri;
    CheckHr(At(node).get_namespaceURI(uri.Put()), "Cannot read a namespace");
    return uri.ToUtf8();
  }

  std::string Text(Node node) override {
    IXMLDOMNode& target = At(node);
    switch (NodeType(target)) {
      case NODE_TEXT:
      case NODE_CDATA_SECTION:
      case NODE_COMMENT:
      case NODE_PROCESSING_INSTRUCTION: {
        // nodeValue is the data exactly as parsed; `text` would normalise whitespace.
        Variant value;
        CheckHr(target.get_nodeValue(value.Put()), "Cannot read a node's text");
        if (value.Get()->vt != VT_BSTR) {
          return {};
        }
        return WideToUtf8(std::wstring_view(value.Get()->bstrVal, SysStringLen(value.Get()->bstrVal)));
      }
      default: {
        Bstr text;
        CheckHr(target.get_text(text.Put()), "Cannot read a node's text");
        return text.ToUtf8();
      }
    }
  }

  void SetText(Node textNode, const std::string& value) override {
    IXMLDOMNode& target = At(textNode);
    const DOMNodeType type = NodeType(target);
    if (type != NODE_TEXT && type != NODE_CDATA_SECTION) {
      throw Error("Cannot set the text of a node that is not a text node");
    }
    const Bstr text = Bstr::FromUtf8(value);
    CheckHr(target.put_nodeValue(BorrowedStringVariant(text.Get())), "Cannot change a node's text");
  }

  Node AppendElement(Node parent, const std::string& qualifiedName, const std::string& namespaceUri) override {
    IXMLDOMNode& parentNode = At(parent);
    const Bstr name = Bstr::FromUtf8(qualifiedName);
    const Bstr uri = Bstr::FromUtf8(namespaceUri);
    VARIANT type;
    VariantInit(&type);
    type.vt = VT_I4;
    type.lVal = NODE_ELEMENT;
    ComPtr<IXMLDOMNode> created;
    CheckHr(document_->createNode(type, name.Get(), uri.Get(), created.Put()),
            "Cannot create the element " + Quoted(qualifiedName));
    return Append(parentNode, created, "Cannot append the element " + Quoted(qualifiedName));
  }

  Node AppendText(Node parent, const std::string& value) override {
    IXMLDOMNode& parentNode = At(parent);
    const Bstr text = Bstr::FromUtf8(value);
    ComPtr<IXMLDOMText> created;
    CheckHr(document_->createTextNode(text.Get(), created.Put()), "Cannot create a text node");
    ComPtr<IXMLDOMNode> node(std::move(created));
    return Append(parentNode, node, "Cannot append a text node");
  }

 private:
  void RequireDocument() const {
    if (!document_) {
      throw Error(kNoDocumentMessage);
    }
  }

  IXMLDOMNode& At(Node node) const {
    RequireDocument();
    if (node >= nodes_.size()) {
      throw Error("Unknown XML node handle");
    }
    return *nodes_[node].Get();
  }

  Node Keep(ComPtr<IXMLDOMNode> node) {
    nodes_.push_back(std::move(node));
    return nodes_.size() - 1;
  }

  Node Append(IXMLDOMNode& parent, const ComPtr<IXMLDOMNode>& child, const std::string& what) {
    ComPtr<IXMLDOMNode> appended;
    CheckHr(parent.appendChild(child.Get(), appended.Put()), what);
    return Keep(std::move(appended));
  }

  static DOMNodeType NodeType(IXMLDOMNode& node) {
    DOMNodeType type = NODE_INVALID;
    CheckHr(node.get_nodeType(&type), "Cannot read a node type");
    return type;
  }

  static bool HasName(DOMNodeType type) {
    return type == NODE_ELEMENT || type == NODE_ATTRIBUTE || type == NODE_PROCESSING_INSTRUCTION ||
           type == NODE_ENTITY_REFERENCE || type == NODE_ENTITY || type == NODE_DOCUMENT_TYPE || type == NODE_NOTATION;
  }

  ComPtr<IXMLDOMDocument> document_;
  // Handles index this table; it owns one reference per handle until the next Load.
  std::vector<ComPtr<IXMLDOMNode>> nodes_;
};

}  // namespace

std::unique_ptr<IXmlDocument> CreateMsxmlDocument() { return std::make_unique<MsxmlDocument>(); }

}  // namespace platform::win32
