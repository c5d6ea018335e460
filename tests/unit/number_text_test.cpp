#include "base/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include "platform/error.h"
#include "settings/settings_file.h"

namespace {

struct IntegerCase {
  const char* text;
  std::optional<std::int32_t> expected;
};

TEST(ParseInteger, ReadsDecimalAndHexPatternsAndRefusesTheRest) {
  const IntegerCase cases[] = {
      {"120", 120},
      {"-3", -3},
      {"+5", 5},
      {" 5", 5},
      {"0x10", 16},
      {"0X1f", 31},
      {"x10", 16},
      {"$FFFFFFFF", -1},
      {"-$10", 16},  // a sign in front of hex digits is ignored
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"$123456789", std::nullopt},  // nine hex digits
      {"5px", std::nullopt},
      {"5 ", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"0x", std::nullopt},
      {"1.5", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lsv::ParseInteger(c.text), c.expected) << '"' << c.text << '"';
  }
}

struct FloatCase {
  const char* text;
  const char* separator;
  std::optional<double> expected;
};

TEST(ParseFloat, FollowsTheLocaleSeparator) {
  const FloatCase cases[] = {
      {"30", ".", 30.0},     {"2.5", ".", 2.5},        {"2,5", ",", 2.5},     {"2.5", ",", std::nullopt},
      {" 0.5 ", ".", 0.5},   {"-1", ".", -1.0},        {"1e3", ".", 1000.0},  {".5", ".", 0.5},
      {"5.", ".", 5.0},      {"abc", ".", std::nullopt}, {"", ".", std::nullopt}, {"1e", ".", std::nullopt},
      {"1,000", ".", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lsv::ParseFloat(c.text, c.separator), c.expected) << '"' << c.text << "\" with " << c.separator;
  }
}

TEST(ParseFloat, OverflowBecomesInfinityForTheRangeChecks) {
  const auto value = lsv::ParseFloat("1e400", ".");
  ASSERT_TRUE(value.has_value());
  EXPECT_TRUE(std::isinf(*value));
}

TEST(TextToFloat, NamesTheRefusedText) {
  try {
    lsv::settings::TextToFloat("abc", ".");
    FAIL() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find("'abc'"), std::string::npos);
  }
}

}  // namespace
