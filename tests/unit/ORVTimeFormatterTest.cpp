#include <gtest/gtest.h>

#include "menubar/ORVTimeFormatter.h"

namespace somnara {
namespace {

// Two decimals in the largest unit that fits; numbers of every kind, nothing else.
TEST(ORVTimeFormatter, Formats) {
  const std::pair<std::optional<Value>, std::optional<std::string>> cases[] = {
      {Value(0), "no time"}, {Value(0.0000005), "500.00 nanoseconds"}, {Value(0.000001), "1.00 microseconds"},
      {Value(0.0005), "500.00 microseconds"}, {Value(0.001), "1.00 milliseconds"},
      {Value(0.5), "500.00 milliseconds"}, {Value(1), "1.00 seconds"}, {Value(999.999), "1000.00 seconds"},
      {Value(1000), "16.67 minutes"}, {Value(7199.999), "120.00 minutes"}, {Value(7200), "2.00 hours"},
      {Value(86399), "24.00 hours"}, {Value(86400), "1.00 days"}, {Value(302400), "3.50 days"},
      {Value(604800), "1.00 weeks"}, {Value(4838400), "1.84 months"}, {Value(31622400), "1.00 years"},
      {Value(315576000), "10.00 years"}, {Value(-5), "-5000000000.00 nanoseconds"},
      {Value(3600), "60.00 minutes"}, {Value(true), "1.00 seconds"}, {Value("42"), std::nullopt},
      {Value(Array{}), std::nullopt}, {std::nullopt, std::nullopt}};
  ORVTimeFormatter formatter;
  for (const auto& [value, text] : cases)
    EXPECT_EQ(formatter.stringForObjectValue(value), text) << (value ? value->description() : "(none)");
}

// One plain number of seconds, with an optional "$" and spaces around.
TEST(ORVTimeFormatter, Parses) {
  const std::pair<const char*, std::optional<double>> cases[] = {
      {"42", 42.0}, {"$42", 42.0}, {"  42  ", 42.0}, {"\t$ 42\n", 42.0}, {"-1.5", -1.5}, {"+2", 2.0},
      {"0.1", static_cast<double>(0.1f)}, {"1e3", 1000.0}, {"42 seconds", std::nullopt}, {"", std::nullopt},
      {"   ", std::nullopt}, {"$", std::nullopt}, {"2.00 hours", std::nullopt}, {"inf", std::nullopt},
      {"nan", std::nullopt}, {"0x10", std::nullopt}, {"--1", std::nullopt}, {"1e99", std::nullopt},
      {"$$42", std::nullopt}};
  ORVTimeFormatter formatter;
  for (const auto& [text, number] : cases) {
    SCOPED_TRACE(text);
    Value result("untouched");
    std::string error = "untouched";
    const bool ok = formatter.getObjectValue(&result, text, &error);
    ASSERT_EQ(ok, number.has_value());
    EXPECT_EQ(formatter.getObjectValue(nullptr, text, nullptr), ok) << "without places for result or error";
    EXPECT_EQ(ok ? result.real() : std::optional<double>(), number);
    if (!ok) {
      EXPECT_EQ(result, Value("untouched"));
    }
    EXPECT_EQ(error, ok ? "untouched" : "Couldn\u2019t convert  to float");
  }
}

}  // namespace
}  // namespace somnara
