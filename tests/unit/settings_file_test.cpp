#include "settings/settings_file.h"

#include <gtest/gtest.h>

#include <optional>
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
  std::string SaveAndRead() {
    doc->Save(dir.File("settings.xml"));
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
      {"<r><t:port xmlns:t='urn:t'>5</t:port></r>", std::nullopt},
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
      doc->Save(dir.File("settings.xml"));
    } catch (const platform::Error&) {
      EXPECT_EQ(dir.Read("settings.xml"), before);
      continue;
    }
    root = Load(dir.Read("settings.xml"));
    EXPECT_EQ(LookUpKey(*doc, root, "port"), "1");
    EXPECT_EQ(LookUpKey(*doc, root, "lsxml"), "a.xml");
  }
}

TEST_F(SettingsFileTest, ValueToTextRefusesAnAbsentValue) {
  EXPECT_EQ(lsv::settings::ValueToText(std::string("30"), "refresh_interval"), "30");
  EXPECT_THROW(lsv::settings::ValueToText(std::nullopt, "refresh_interval"), platform::Error);
}

}  // namespace
