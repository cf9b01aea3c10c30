#include <gtest/gtest.h>

#include "menubar/ORVTimeFormatter.h"

namespace somnara {
namespace {

struct FormatCase {
  double seconds;
  const char* text;
};

class FormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatTest, WritesTwoDecimalsInTheLargestUnitThatFits) {
  ORVTimeFormatter formatter;
  EXPECT_EQ(formatter.stringForObjectValue(Value(GetParam().seconds)), GetParam().text) << GetParam().seconds;
}

INSTANTIATE_TEST_SUITE_P(
    Ladder, FormatTest,
    ::testing::Values(FormatCase{0, "no time"}, FormatCase{0.0000005, "500.00 nanoseconds"},
                      FormatCase{0.000001, "1.00 microseconds"}, FormatCase{0.0005, "500.00 microseconds"},
                      FormatCase{0.001, "1.00 milliseconds"}, FormatCase{0.5, "500.00 milliseconds"},
                      FormatCase{1, "1.00 seconds"}, FormatCase{999.999, "1000.00 seconds"},
                      FormatCase{1000, "16.67 minutes"}, FormatCase{7199.999, "120.00 minutes"},
                      FormatCase{7200, "2.00 hours"}, FormatCase{86399, "24.00 hours"},
                      FormatCase{86400, "1.00 days"}, FormatCase{302400, "3.50 days"},
                      FormatCase{604800, "1.00 weeks"}, FormatCase{4838400, "1.84 months"},
                      FormatCase{31622400, "1.00 years"}, FormatCase{315576000, "10.00 years"},
                      FormatCase{-5, "-5000000000.00 nanoseconds"}));

TEST(ORVTimeFormatterTest, NumbersOfEveryKindAreFormattedAndAnythingElseIsNot) {
  ORVTimeFormatter formatter;
  EXPECT_EQ(formatter.stringForObjectValue(Value(3600)), "60.00 minutes");
  EXPECT_EQ(formatter.stringForObjectValue(Value(true)), "1.00 seconds");
  EXPECT_EQ(formatter.stringForObjectValue(Value("42")), std::nullopt);
  EXPECT_EQ(formatter.stringForObjectValue(Value(Array{})), std::nullopt);
  EXPECT_EQ(formatter.stringForObjectValue(std::nullopt), std::nullopt);
}

struct ParseCase {
  const char* text;
  std::optional<double> number;  // nullopt: the parse fails
};

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, AcceptsOnePlainNumberOfSeconds) {
  ORVTimeFormatter formatter;
  Value result("untouched");
  std::string error = "untouched";
  const bool ok = formatter.getObjectValue(&result, GetParam().text, &error);
  ASSERT_EQ(ok, GetParam().number.has_value()) << GetParam().text;
  if (ok) {
    EXPECT_EQ(result.real(), GetParam().number) << GetParam().text;
    EXPECT_EQ(error, "untouched");
  } else {
    EXPECT_EQ(error, "Couldn\u2019t convert  to float") << GetParam().text;
    EXPECT_EQ(result, Value("untouched"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseTest,
    ::testing::Values(ParseCase{"42", 42.0}, ParseCase{"$42", 42.0}, ParseCase{"  42  ", 42.0},
                      ParseCase{"\t$ 42\n", 42.0}, ParseCase{"-1.5", -1.5}, ParseCase{"+2", 2.0},
                      ParseCase{"0.1", static_cast<double>(0.1f)}, ParseCase{"1e3", 1000.0},
                      ParseCase{"42 seconds", std::nullopt}, ParseCase{"", std::nullopt},
                      ParseCase{"   ", std::nullopt}, ParseCase{"$", std::nullopt},
                      ParseCase{"2.00 hours", std::nullopt}, ParseCase{"inf", std::nullopt},
                      ParseCase{"nan", std::nullopt}, ParseCase{"0x10", std::nullopt},
                      ParseCase{"--1", std::nullopt}, ParseCase{"1e99", std::nullopt},
                      ParseCase{"$$42", std::nullopt}));

TEST(ORVTimeFormatterTest, ParsesWithoutPlacesForResultOrError) {
  ORVTimeFormatter formatter;
  EXPECT_TRUE(formatter.getObjectValue(nullptr, "42", nullptr));
  EXPECT_FALSE(formatter.getObjectValue(nullptr, "42 seconds", nullptr));
}

}  // namespace
}  // namespace somnara
