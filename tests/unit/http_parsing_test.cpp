#include "events/http_parsing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events/http_types.h"
#include "platform/error.h"

namespace {

using namespace lsv::events;

TEST(DecodeQueryItem, PercentRules) {
  struct Case {
    std::string item;
    std::string decoded;
  } cases[] = {
      {"a=%41%zz%00b", "a=Ab"},
      {"a+b", "a b"},
      {"%2B5", "+5"},
      {"%", ""},
      {"x%", "x"},
      {"x%4", "x\x04"},
      {"x%g", "x"},
      {"%e3%81%82", "\xe3\x81\x82"},
      {"%3D=1", "==1"},
      {"%%41", "1"},
      {"100%25", "100%"},
      // A "%" and one character at the end: the digit's byte, except 0, which is dropped like
      // "%00"; a character that is no hex digit drops both, as two of them drop all three.
      {"x%0", "x"},
      {"x%F", "x\x0f"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeQueryItem(c.item), c.decoded) << c.item;
}

TEST(SplitQuery, SplitsBeforeDecodingAndKeepsEmptyItems) {
  EXPECT_EQ(SplitQuery(""), std::vector<std::string>{});
  EXPECT_EQ(SplitQuery("a=1&"), (std::vector<std::string>{"a=1", ""}));
  EXPECT_EQ(SplitQuery("a=%26&&b"), (std::vector<std::string>{"a=&", "", "b"}));
  EXPECT_EQ(SplitQuery("a=%41%zz%00b&c"), (std::vector<std::string>{"a=Ab", "c"}));
}

TEST(DeriveRequestPath, Examples) {
  struct Case {
    std::string part;
    std::string path;
    std::string host;
  } cases[] = {
      {"/event", "/event", ""},
      {"event", "/event", ""},
      {"\\event", "/event", ""},
      {"/a/b.html#top", "/a/b.html", ""},
      {"http://127.0.0.1:22222/event", "/event", "127.0.0.1"},
      {"http://host", "/", "host"},
      {"", "/", ""},
      {"/ev/ent", "/ev/ent", ""},
      {"a\\b/c", "/a/b/c", ""},
  };
  for (const auto& c : cases) {
    const DerivedPath derived = DeriveRequestPath(c.part);
    EXPECT_EQ(derived.path, c.path) << c.part;
    EXPECT_EQ(derived.host, c.host) << c.part;
  }
}

TEST(SplitRequestLine, LastBlankThenFirstBlank) {
  auto line = SplitRequestLine("GET /a b?x=1 HTTP/1.0");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->method, "GET");
  EXPECT_EQ(line->target, "/a b?x=1");
  EXPECT_EQ(line->protocolVersion, "HTTP/1.0");
  line = SplitRequestLine("GET /event");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->target, "");
  EXPECT_EQ(line->protocolVersion, "/event");
  EXPECT_FALSE(SplitRequestLine("GET"));
}

TEST(HeaderValue, CaseInsensitiveFirstMatchWithContinuations) {
  const std::vector<std::string> lines = {"host: a", " b",     "\tc",   "Host: second", "X-Blank: v ",
                                          "  w",     "Empty:", "Lead:", " more",        ""};
  EXPECT_EQ(HeaderValue(lines, "HOST"), "a b c");
  EXPECT_EQ(HeaderValue(lines, "x-blank"), "v w");
  EXPECT_EQ(HeaderValue(lines, "Empty"), "");
  // An empty value ends in no blank, so the continuation is joined with one.
  EXPECT_EQ(HeaderValue(lines, "Lead"), " more");
  EXPECT_EQ(HeaderValue(lines, "Missing"), "");
}

TEST(DecodeBase64, StandardAlphabet) {
  EXPECT_EQ(DecodeBase64("dXNlcjpwYXNz"), "user:pass");
  EXPECT_EQ(DecodeBase64("YQ=="), "a");
}

TEST(ParseCookies, QuotedAndPlainValues) {
  const auto cookies = ParseCookies(R"(a=1; b="x;y"; c)");
  ASSERT_EQ(cookies.size(), 3u);
  EXPECT_EQ(cookies[0], (std::pair<std::string, std::string>{"a", "1"}));
  EXPECT_EQ(cookies[1], (std::pair<std::string, std::string>{"b", "x;y"}));
  EXPECT_EQ(cookies[2].first, "c");
}

TEST(THttpResponse, ReasonPhrasesAndHeaderBlock) {
  const std::pair<int, const char*> phrases[] = {{200, "OK"},
                                                 {203, "Non-authoritative Information"},
                                                 {302, "Moved Temporarily"},
                                                 {402, "Unknown Response Code"},
                                                 {404, "Not Found"},
                                                 {405, "Method not allowed"},
                                                 {413, "Request Entity To Long"},
                                                 {414, "Request-URI Too Long. 256 Chars max"},
                                                 {504, "Gateway timeout"},
                                                 {999, "Unknown Response Code"}};
  for (const auto& [code, phrase] : phrases) EXPECT_STREQ(ReasonPhraseFor(code), phrase) << code;

  std::vector<std::string> writes;
  THttpResponse response("Token/1", [&](const std::string& bytes) { writes.push_back(bytes); });
  response.ExtraHeaders = {"content-type: old", "X-A: 1"};
  response.SetStatus(500);
  response.BodyText = "boom";
  response.WriteHeader();
  response.WriteBody();
  ASSERT_EQ(writes.size(), 2u);  // the header block is one write
  EXPECT_EQ(writes[0],
            "HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/html\r\nX-A: 1\r\nServer: Token/1\r\n"
            "Content-Length: 4\r\n\r\n");
  EXPECT_EQ(writes[1], "boom");
  EXPECT_THROW(response.WriteHeader(), platform::Error);
}

}  // namespace
