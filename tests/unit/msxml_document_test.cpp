// The MSXML 6 document on its own: what the COM layer can get wrong that the core's tests against
// the headless DOM cannot see. Needs COM initialised by the test main.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/win32/files.h"
#include "platform/win32/msxml_document.h"
#include "platform/xml_document.h"
#include "settings/settings_file.h"

namespace {

namespace fs = std::filesystem;
using platform::IXmlDocument;
using platform::XmlNodeType;
using Node = IXmlDocument::Node;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path FromUtf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  ASSERT_TRUE(out.good()) << Utf8(path);
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The first child element of the root with that qualified name.
Node ChildNamed(IXmlDocument& document, const std::string& name) {
  for (Node child : document.ChildNodes(document.DocumentElement())) {
    if (document.Type(child) == XmlNodeType::Element && document.Name(child) == name) {
      return child;
    }
  }
  ADD_FAILURE() << "no element " << name;
  return 0;
}

// The single text node inside a key element.
Node TextOf(IXmlDocument& document, const std::string& key) {
  const std::vector<Node> children = document.ChildNodes(ChildNamed(document, key));
  EXPECT_EQ(children.size(), 1u) << key;
  EXPECT_EQ(document.Type(children.at(0)), XmlNodeType::Text) << key;
  return children.at(0);
}

// Saved as the product saves the settings file: written beside it by MSXML, then renamed over it.
void Save(IXmlDocument& document, const fs::path& path) {
  static platform::win32::Win32Files files;
  lsv::settings::SaveDocument(document, Utf8(path), files, [] { return platform::win32::CreateMsxmlDocument(); });
}

std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const platform::Error& error) {
    return error.what();
  }
  ADD_FAILURE() << "no platform::Error";
  return {};
}

class MsxmlDocumentTest : public testing::Test {
 protected:
  void SetUp() override {
    // A non-ASCII directory name, so every path crosses the UTF-8/UTF-16 boundary for real.
    const std::string testName = testing::UnitTest::GetInstance()->current_test_info()->name();
    directory_ = fs::temp_directory_path() /
                 FromUtf8("lsv_msxml_設定_" + std::to_string(GetCurrentProcessId()) + "_" + testName);
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }

  void TearDown() override {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(directory_, ignored)) {
      SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(directory_, ignored);
  }

  fs::path File(const std::string& name, const std::string& content) { return File(directory_, name, content); }

  static fs::path File(const fs::path& directory, const std::string& name, const std::string& content) {
    const fs::path path = directory / FromUtf8(name);
    WriteBytes(path, content);
    return path;
  }

  // A fresh folder per table row, so rows cannot see each other's files.
  fs::path CaseDirectory(const std::string& name) {
    const fs::path path = directory_ / FromUtf8(name);
    fs::create_directory(path);
    return path;
  }

  std::unique_ptr<IXmlDocument> Loaded(const fs::path& path) {
    auto document = platform::win32::CreateMsxmlDocument();
    document->Load(Utf8(path));
    return document;
  }

  fs::path directory_;
};

constexpr char kSettings[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- written by hand -->\n"
    "<settings>\n"
    "  <disphtml>C:\\page.html</disphtml>\n"
    "  <refresh_interval>30</refresh_interval>\n"
    "  <unknown kind=\"extra\"><inner>deep</inner></unknown>\n"
    "  <?tool keep?>\n"
    "  <port>22222</port>\n"
    "</settings>\n";

TEST_F(MsxmlDocumentTest, LoadFailureGivesReasonLineAndTheLinesText) {
  // Wine's DOM gives no position of its own; the SAX reader finds it.
  struct Case {
    const char* what;
    std::string content;
    int line;
    std::string lineText;
  };
  const std::string longTail(120, 'x');
  const std::vector<Case> cases = {
      {"mismatched end tag", "<settings>\n  <port>1</port>\n  <disphtml>a</dispxml>\n</settings>\n", 3,
       "  <disphtml>a</dispxml>"},
      {"unquoted attribute", "<settings>\n<port value=1/>\n</settings>\n", 2, "<port value=1/>"},
      {"long offending line", "<settings>\n\n\n  <port>" + longTail + "END_OF_LINE</prt>\n</settings>\n", 4,
       "  <port>" + longTail + "END_OF_LINE</prt>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path = File(CaseDirectory(c.what), "broken.xml", c.content);
    auto document = platform::win32::CreateMsxmlDocument();
    try {
      document->Load(Utf8(path));
      ADD_FAILURE() << "loaded";
    } catch (const platform::XmlLoadFailure& failure) {
      EXPECT_FALSE(failure.Reason().empty());
      EXPECT_EQ(failure.Line(), c.line);
      EXPECT_EQ(failure.LineText(), c.lineText);
    }
    EXPECT_FALSE(document->HasDocument());
  }
}

TEST_F(MsxmlDocumentTest, MissingFileIsALoadFailureWithTheSystemsReason) {
  auto document = platform::win32::CreateMsxmlDocument();
  const std::string path = Utf8(directory_ / "absent.xml");
  try {
    document->Load(path);
    ADD_FAILURE() << "loaded";
  } catch (const platform::XmlLoadFailure& failure) {
    EXPECT_FALSE(failure.Reason().empty());
    EXPECT_EQ(failure.Line(), 0);
  }
  EXPECT_FALSE(document->HasDocument());
}

TEST_F(MsxmlDocumentTest, WithoutADocumentEveryOperationFails) {
  const fs::path good = File("settings.xml", kSettings);
  const fs::path bad = File("broken.xml", "<settings>");
  const std::string target = Utf8(directory_ / "out.xml");

  // Never loaded, and loaded once then failed: handles of the earlier document are refused too.
  std::vector<std::pair<const char*, std::unique_ptr<IXmlDocument>>> documents;
  documents.emplace_back("never loaded", platform::win32::CreateMsxmlDocument());
  documents.emplace_back("last load failed", Loaded(good));
  const Node root = documents.back().second->DocumentElement();
  documents.back().second->ChildNodes(root);
  EXPECT_THROW(documents.back().second->Load(Utf8(bad)), platform::Error);

  for (auto& [state, document] : documents) {
    SCOPED_TRACE(state);
    EXPECT_FALSE(document->HasDocument());
    IXmlDocument& d = *document;
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"WriteTo", [&] { d.WriteTo(target); }},
        {"DocumentElement", [&] { d.DocumentElement(); }},
        {"ChildNodes", [&] { d.ChildNodes(root); }},
        {"Type", [&] { d.Type(root); }},
        {"Name", [&] { d.Name(root); }},
        {"LocalName", [&] { d.LocalName(root); }},
        {"NamespaceUri", [&] { d.NamespaceUri(root); }},
        {"Text", [&] { d.Text(root); }},
        {"SetText", [&] { d.SetText(root, "x"); }},
        {"AppendElement", [&] { d.AppendElement(root, "port", ""); }},
        {"AppendText", [&] { d.AppendText(root, "x"); }},
    };
    for (const auto& [name, operation] : operations) {
      EXPECT_NE(ErrorText(operation).find("No active document"), std::string::npos) << name;
    }
    EXPECT_FALSE(fs::exists(target));
  }
}

TEST_F(MsxmlDocumentTest, HandlesOfAnEarlierDocumentAreRefusedAfterALoad) {
  const fs::path big = File("big.xml", kSettings);
  const fs::path small = File("small.xml", "<settings/>");
  auto document = Loaded(big);
  const std::vector<Node> oldChildren = document->ChildNodes(document->DocumentElement());
  document->Load(Utf8(small));
  for (Node old : oldChildren) {
    EXPECT_THROW(document->Type(old), platform::Error) << old;
  }
  EXPECT_EQ(document->Name(document->DocumentElement()), "settings");
}

TEST_F(MsxmlDocumentTest, JapaneseTextRoundTrips) {
  // BMP text, half-width kana and a character outside the BMP (a surrogate pair in UTF-16).
  const std::string stored = "リフレッシュ間隔ｶﾀｶﾅ𠮷";
  const std::string written = "表示用のページ「最新曲」𩸽";
  const fs::path path = File("日本語.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<設定>\n  <datahost>" + stored +
                                               "</datahost>\n  <lsxml>x</lsxml>\n</設定>\n");
  auto document = Loaded(path);
  EXPECT_EQ(document->Name(document->DocumentElement()), "設定");
  EXPECT_EQ(document->Text(TextOf(*document, "datahost")), stored);
  document->SetText(TextOf(*document, "lsxml"), written);
  const Node added = document->AppendElement(document->DocumentElement(), "曲名", "");
  document->AppendText(added, stored + written);
  Save(*document, path);

  const std::string bytes = ReadBytes(path);
  EXPECT_NE(bytes.find(stored), std::string::npos) << "the file is not UTF-8 as declared";
  auto reloaded = Loaded(path);
  EXPECT_EQ(reloaded->Text(TextOf(*reloaded, "datahost")), stored);
  EXPECT_EQ(reloaded->Text(TextOf(*reloaded, "lsxml")), written);
  EXPECT_EQ(reloaded->Text(TextOf(*reloaded, "曲名")), stored + written);
}

TEST_F(MsxmlDocumentTest, CommentsUnknownNodesAndLayoutSurviveASave) {
  const fs::path path = File("settings.xml", kSettings);
  auto document = Loaded(path);
  document->SetText(TextOf(*document, "refresh_interval"), "45");
  Save(*document, path);

  const std::string bytes = ReadBytes(path);
  for (const char* kept : {"<!-- written by hand -->", "<unknown kind=\"extra\"><inner>deep</inner></unknown>",
                           "<?tool keep?>", "\n  <port>22222</port>\n</settings>", "<refresh_interval>45<"}) {
    EXPECT_NE(bytes.find(kept), std::string::npos) << kept << "\n--- saved:\n" << bytes;
  }
}

TEST_F(MsxmlDocumentTest, NodeTypesNamesAndTextAsParsed) {
  const fs::path path =
      File("nodes.xml", "<root><e> a\n </e>  two  spaces  <![CDATA[<raw>]]><!--note--><?target data?></root>");
  auto document = Loaded(path);
  struct Expected {
    XmlNodeType type;
    std::string name;
    std::string text;
  };
  const std::vector<Expected> expected = {
      {XmlNodeType::Element, "e", " a\n "},
      {XmlNodeType::Text, "", "  two  spaces  "},
      {XmlNodeType::CData, "", "<raw>"},
      {XmlNodeType::Comment, "", "note"},
      {XmlNodeType::ProcessingInstruction, "target", "data"},
  };
  const std::vector<Node> children = document->ChildNodes(document->DocumentElement());
  ASSERT_EQ(children.size(), expected.size());
  for (std::size_t i = 0; i < children.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(document->Type(children[i]), expected[i].type);
    EXPECT_EQ(document->Name(children[i]), expected[i].name);
    EXPECT_EQ(document->LocalName(children[i]), expected[i].name);
    EXPECT_EQ(document->Text(children[i]), expected[i].text);
  }
  EXPECT_THROW(document->SetText(children[0], "x"), platform::Error);
}

TEST_F(MsxmlDocumentTest, AppendedKeyTakesTheRootsNamespaceAndPrefix) {
  struct Case {
    const char* what;
    std::string root;  // opening tag of the root, closed as </...> below
    std::string rootName;
    std::string uri;
    std::string qualifiedName;
  };
  const std::vector<Case> cases = {
      {"prefixed", "<s:settings xmlns:s=\"urn:lsv\">", "s:settings", "urn:lsv", "s:port"},
      {"default namespace", "<settings xmlns=\"urn:lsv\">", "settings", "urn:lsv", "port"},
      {"no namespace", "<settings>", "settings", "", "port"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path path =
        File(CaseDirectory(c.what), "ns.xml",
             c.root + "\n  <" + c.qualifiedName + "x>1</" + c.qualifiedName + "x>\n</" + c.rootName + ">\n");
    auto document = Loaded(path);
    const Node root = document->DocumentElement();
    EXPECT_EQ(document->NamespaceUri(root), c.uri);
    const Node existing = document->ChildNodes(root).at(1);
    EXPECT_EQ(document->Name(existing), c.qualifiedName + "x");
    EXPECT_EQ(document->LocalName(existing), "portx");
    EXPECT_EQ(document->NamespaceUri(existing), c.uri);

    const Node added = document->AppendElement(root, c.qualifiedName, c.uri);
    document->AppendText(added, "22222");
    EXPECT_EQ(document->Name(added), c.qualifiedName);
    EXPECT_EQ(document->LocalName(added), "port");
    EXPECT_EQ(document->NamespaceUri(added), c.uri);
    Save(*document, path);

    const std::string bytes = ReadBytes(path);
    // MSXML may repeat the namespace declaration on the new element; that is harmless. Losing the
    // prefix, or undeclaring the default namespace, would not be.
    EXPECT_NE(bytes.find(">22222</" + c.qualifiedName + ">"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("xmlns=\"\""), std::string::npos) << bytes;
    auto reloaded = Loaded(path);
    const std::vector<Node> children = reloaded->ChildNodes(reloaded->DocumentElement());
    const Node last = children.back();
    EXPECT_EQ(reloaded->Name(last), c.qualifiedName);
    EXPECT_EQ(reloaded->NamespaceUri(last), c.uri);
    EXPECT_EQ(reloaded->Text(last), "22222");
  }
}

}  // namespace
