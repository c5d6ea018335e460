#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "platform/error.h"
#include "test_support.h"

namespace {

using lsv::settings::LookUpKey;
using lsv::settings::WriteKey;

class SettingsFileTest : public testing::Test {
 protected:
  lsvtest::TempDir dir;
  std::unique_ptr<platform::IXmlDocument> doc = lsvtest::NewXmlDocument();

  platform::IXmlDocument::Node Load(const std::string& xml) {
    dir.Write("settings.xml", xml);
    doc->Load(dir.File("settings.xml"));
    return doc->DocumentElement();
  }
  void Save() {
    lsv::settings::SaveDocument(*doc, dir.File("settings.xml"), lsvtest::SystemFiles(), lsvtest::NewXmlDocument);
  }
  std::string SaveAndRead() {
    Save();
    return dir.Read("settings.xml");
  }
};

struct LookUpCase {
  const char* xml;
  std::optional<std::string> expected;  // nullopt: absent
  bool fails = false;
};

TEST_F(SettingsFileTest, LookUpRule) {
  const LookUpCase cases[] = {
      {"<r><port>22222</port></r>", "22222"},
      {"<anything><port>1</port></anything>", "1"},
      {"<r><Port>22222</Port></r>", std::nullopt},
      {"<r><port/></r>", std::nullopt},
      {"<r><port></port></r>", std::nullopt},
      {"<r><port> 7 </port></r>", " 7 "},
      {"<r><port>1</port><port>2</port></r>", "1"},
      {"<r><port><!-- x -->22222</port></r>", std::nullopt, true},
      {"<r><port><![CDATA[1]]></port></r>", std::nullopt, true},
      {"<r><port><a>1</a></port></r>", std::nullopt, true},
      {"<r><port>1<?pi x?></port></r>", std::nullopt, true},
      {"<s:r xmlns:s='urn:x'><s:port>5</s:port></s:r>", "5"},
      {"<r xmlns='urn:x'><port>5</port></r>", "5"},
      {"<s:r xmlns:s='urn:x'><port>5</port></s:r>", std::nullopt},
      // Without a namespace on the root there is no namespace to filter by.
      {"<r><t:port xmlns:t='urn:t'>5</t:port></r>", "5"},
      {"<r><datahost>東京の曲</datahost></r>", "東京の曲"},
      {"<r><port>a&amp;b</port></r>", "a&b"},
  };
  for (const auto& c : cases) {
    const auto root = Load(c.xml);
    const std::string key = std::string(c.xml).find("datahost") != std::string::npos ? "datahost" : "port";
    if (c.fails) {
      EXPECT_THROW(LookUpKey(*doc, root, key), platform::Error) << c.xml;
    } else {
      EXPECT_EQ(LookUpKey(*doc, root, key), c.expected) << c.xml;
    }
  }
}

TEST_F(SettingsFileTest, WriteFillsTheElementWhereItStands) {
  const auto root = Load("<r><a>1</a><port/><b>2</b></r>");
  WriteKey(*doc, root, "port", "8080");
  EXPECT_EQ(LookUpKey(*doc, root, "port"), "8080");
  const std::string saved = SaveAndRead();
  EXPECT_NE(saved.find("<a>1</a><port>8080</port><b>2</b>"), std::string::npos) << saved;
}

TEST_F(SettingsFileTest, WriteReplacesTextAndAppendsMissingKeysLast) {
  const auto root = Load("<r><port>1</port><!-- keep --><x y='z'>u</x></r>");
  WriteKey(*doc, root, "port", "2");
  WriteKey(*doc, root, "lscss", "style.css");
  const std::string saved = SaveAndRead();
  EXPECT_NE(saved.find("<port>2</port><!-- keep --><x y=\"z\">u</x><lscss>style.css</lscss></r>"), std::string::npos)
      << saved;
}

TEST_F(SettingsFileTest, WriteUnderARootWithoutNamespaceTakesAQualifiedKeyElement) {
  auto root = Load("<r><t:port xmlns:t='urn:t'>5</t:port></r>");
  WriteKey(*doc, root, "port", "6");
  const std::string saved = SaveAndRead();
  EXPECT_NE(saved.find(">6</t:port>"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("<port"), std::string::npos) << "a second port element: " << saved;
}

TEST_F(SettingsFileTest, WriteOfEmptyTextReadsBackAsAbsent) {
  const auto root = Load("<r><disphtml>page.html</disphtml></r>");
  WriteKey(*doc, root, "disphtml", "");
  EXPECT_EQ(LookUpKey(*doc, root, "disphtml"), std::nullopt);
}

TEST_F(SettingsFileTest, WriteRefusesOtherContentAndChangesNothing) {
  const auto root = Load("<r><port><!-- c -->1</port></r>");
  EXPECT_THROW(WriteKey(*doc, root, "port", "2"), platform::Error);
  EXPECT_NE(SaveAndRead().find("<port><!-- c -->1</port>"), std::string::npos);
}

TEST_F(SettingsFileTest, NewKeyGoesIntoTheRootsNamespaceWithItsPrefix) {
  auto root = Load("<s:settings xmlns:s='urn:lsv'><s:port>1</s:port></s:settings>");
  WriteKey(*doc, root, "lsxml", "latest.xml");
  root = Load(SaveAndRead());
  EXPECT_EQ(LookUpKey(*doc, root, "lsxml"), "latest.xml");
  const auto children = doc->ChildNodes(root);
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(doc->Name(children[1]), "s:lsxml");
  EXPECT_EQ(doc->NamespaceUri(children[1]), "urn:lsv");
}

TEST_F(SettingsFileTest, DefaultNamespaceRootKeepsNewKeysInIt) {
  auto root = Load("<settings xmlns='urn:lsv'><port>1</port></settings>");
  WriteKey(*doc, root, "lsxml", "latest.xml");
  root = Load(SaveAndRead());
  EXPECT_EQ(LookUpKey(*doc, root, "lsxml"), "latest.xml");
}

TEST_F(SettingsFileTest, JapaneseTextRoundTripsThroughASave) {
  auto root = Load("<?xml version='1.0' encoding='UTF-8'?><r><datahost>x</datahost></r>");
  WriteKey(*doc, root, "datahost", "http://例え.jp/最新曲");
  root = Load(SaveAndRead());
  EXPECT_EQ(LookUpKey(*doc, root, "datahost"), "http://例え.jp/最新曲");
}

TEST_F(SettingsFileTest, ASaveEitherReadsBackOrLeavesThePreviousFile) {
  // The file keeps the encoding its declaration names. Where the DOM cannot write that encoding
  // so that it reads again (libxml2 writes UTF-7 with the declaration itself encoded), the save
  // must fail and leave the old file, not replace it with one no load accepts.
  for (const char* encoding : {"UTF-8", "ISO-8859-1", "Shift_JIS", "UTF-7"}) {
    SCOPED_TRACE(encoding);
    const std::string before = std::string("<?xml version=\"1.0\" encoding=\"") + encoding +
                               "\"?>\n<settings><port>22222</port><lsxml>a.xml</lsxml></settings>\n";
    platform::IXmlDocument::Node root{};
    try {
      root = Load(before);
    } catch (const platform::Error&) {
      continue;  // this DOM does not read the encoding at all
    }
    WriteKey(*doc, root, "port", "1");
    try {
      Save();
    } catch (const platform::Error&) {
      EXPECT_EQ(dir.Read("settings.xml"), before);
      continue;
    }
    root = Load(dir.Read("settings.xml"));
    EXPECT_EQ(LookUpKey(*doc, root, "port"), "1");
    EXPECT_EQ(LookUpKey(*doc, root, "lsxml"), "a.xml");
  }
}

TEST_F(SettingsFileTest, LoadFailureNamesThePathTheReasonTheLineAndItsBeginning) {
  const std::string longTail(120, 'x');
  struct Case {
    const char* what;
    std::string content;
    std::string line;
    std::string quoted;     // must appear in the message
    std::string notQuoted;  // the line's tail: must not
  } cases[] = {
      {"mismatched end tag", "<settings>\n  <port>1</port>\n  <disphtml>a</dispxml>\n</settings>\n", "Line 3",
       "<disphtml>a</disp", ""},
      {"long offending line", "<settings>\n\n\n  <port>" + longTail + "END_OF_LINE</prt>\n</settings>\n", "Line 4",
       "<port>xxxxxxxx", "END_OF_LINE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir.Write("broken.xml", c.content);
    const std::string path = dir.File("broken.xml");
    std::string message;
    try {
      lsv::settings::LoadDocument(*doc, path);
      ADD_FAILURE() << "loaded";
    } catch (const platform::Error& error) {
      message = error.what();
    }
    EXPECT_EQ(message.rfind("Cannot load \"" + path + "\": ", 0), 0u) << message;
    EXPECT_NE(message.find(c.line), std::string::npos) << message;
    EXPECT_NE(message.find(c.quoted), std::string::npos) << message;
    if (!c.notQuoted.empty()) {
      EXPECT_EQ(message.find(c.notQuoted), std::string::npos) << message;
    }
    // The parser's own reason sits between the path and the line number.
    EXPECT_GT(message.find(c.line), message.find(path) + path.size() + std::string("\": \r\n").size()) << message;
    EXPECT_FALSE(doc->HasDocument());
  }
}

TEST_F(SettingsFileTest, LoadFailureTextQuotesTheBeginningOfTheLineWholeCharacters) {
  const std::string japanese = "設定ファイルの行";  // 8 characters, 24 bytes
  std::string line;
  for (int i = 0; i < 10; ++i) line += japanese;
  const std::string text = lsv::settings::LoadFailureText("s.xml", platform::XmlLoadFailure("bad", 2, 5, "  " + line));
  std::string expected;
  for (int i = 0; i < 7; ++i) expected += japanese;
  expected += "設定ファ";  // 60 characters in all
  EXPECT_EQ(text, "Cannot load \"s.xml\": bad\r\nLine 2, column 5: " + expected + "...");
  EXPECT_EQ(lsv::settings::LoadFailureText("s.xml", platform::XmlLoadFailure("", 0, 0, "")),
            "Cannot load \"s.xml\": the XML parser gave no reason");
}

namespace fs = std::filesystem;

std::set<std::string> Entries(const fs::path& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.insert(entry.path().filename().string());
  return names;
}

TEST_F(SettingsFileTest, AFailedSaveLeavesThePreviousFileWholeAndNothingBehind) {
  const std::string original = "<settings><port>22222</port></settings>";
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> prepare;
    std::string expected;  // in the message, after the path
  } cases[] = {
      {"read-only target",
       [](const fs::path& target) {
         fs::permissions(target, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                         fs::perm_options::remove);
       },
       "read-only"},
      // The replace is what fails here, after the new file was written.
      {"target is a directory",
       [&](const fs::path& target) {
         fs::remove(target);
         fs::create_directory(target);
         std::ofstream(target / "inside.txt") << original;
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto root = Load(original);
    WriteKey(*doc, root, "port", "33333");
    const fs::path target = dir.Path() / "target.xml";
    std::ofstream(target) << original;
    c.prepare(target);
    const std::set<std::string> before = Entries(dir.Path());
    try {
      lsv::settings::SaveDocument(*doc, target.string(), lsvtest::SystemFiles(), lsvtest::NewXmlDocument);
      ADD_FAILURE() << "saved";
    } catch (const platform::Error& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind("Cannot save \"" + target.string() + "\": ", 0), 0u) << message;
      EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    }
    EXPECT_EQ(Entries(dir.Path()), before);
    EXPECT_EQ(dir.Read(fs::is_directory(target) ? "target.xml/inside.txt" : "target.xml"), original);
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(target);
  }
}

TEST_F(SettingsFileTest, ASaveRenamesANewFileOverTheOldOneInsteadOfRewritingIt) {
  // A second hard link shows which way the save went: rewriting the file in place (which a
  // failure halfway would leave truncated) changes both names; a new file renamed over the old
  // name leaves the other link with the old contents.
  const std::string original = "<settings><port>22222</port></settings>";
  auto root = Load(original);
  fs::create_hard_link(dir.File("settings.xml"), dir.Path() / "link.xml");
  WriteKey(*doc, root, "port", "33333");
  Save();
  EXPECT_EQ(dir.Read("link.xml"), original);
  EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"link.xml", "settings.xml"}));
  root = Load(dir.Read("settings.xml"));
  EXPECT_EQ(LookUpKey(*doc, root, "port"), "33333");
}

#ifndef _WIN32
TEST_F(SettingsFileTest, ASaveKeepsTheFilesPermissionsAndFollowsNoPlantedLink) {
  auto root = Load("<settings><port>22222</port></settings>");
  const fs::path target = dir.Path() / "settings.xml";
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
  // Another user's file, and a link to it where a save once put its temporary file.
  const fs::path victim = dir.Path() / "victim.txt";
  std::ofstream(victim) << "not yours";
  fs::create_symlink(victim, dir.Path() / "settings.xml.saving");
  WriteKey(*doc, root, "port", "33333");
  Save();
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(dir.Read("victim.txt"), "not yours");
  EXPECT_TRUE(fs::is_symlink(dir.Path() / "settings.xml.saving"));
  root = Load(dir.Read("settings.xml"));
  EXPECT_EQ(LookUpKey(*doc, root, "port"), "33333");
}
#endif

TEST_F(SettingsFileTest, ValueToTextRefusesAnAbsentValue) {
  EXPECT_EQ(lsv::settings::ValueToText(std::string("30"), "refresh_interval"), "30");
  EXPECT_THROW(lsv::settings::ValueToText(std::nullopt, "refresh_interval"), platform::Error);
}

}  // namespace
