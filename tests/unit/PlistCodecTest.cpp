#include <gtest/gtest.h>

#include <cmath>

#include "plist/PlistCodec.h"

namespace somnara {
namespace {

TEST(PlistCodec, RoundTripsEveryValueKind) {
  const Value values[] = {
      Value(true),
      Value(false),
      Value(0),
      Value(-1),
      Value(static_cast<long long>(INT64_MIN)),
      Value(static_cast<long long>(INT64_MAX)),
      Value(2.5),
      Value("text with <xml> & \"quotes\""),
      Value(""),
      Value(Date{1767225600.0}),  // 2026-01-01
      Value(Date{0.0}),
      Value(Data{{0, 1, 254, 255}}),
      Value(Array{Value(1), Value("two"), Value(Array{})}),
      Value(Dictionary{{"Custom Profile", Value(Dictionary{{"AC Power", Value(Dictionary{{"Hibernate Mode", Value(3)}})}})},
                       {"empty", Value(Dictionary{})}}),
  };
  for (const auto& v : values) {
    std::string error;
    const auto back = plist::parse(plist::toXml(v), &error);
    ASSERT_TRUE(back) << v.description() << ": " << error;
    EXPECT_EQ(*back, v) << v.description() << " came back as " << back->description();
  }
}

TEST(PlistCodec, DatesRoundToTheNearestSecondOnTheWire) {
  constexpr double k2001 = 978307200.0;  // XML dates carry whole seconds
  const std::pair<double, double> table[] = {
      {k2001 + 1.9999996, k2001 + 2},  // the rounded fraction carries into the seconds
      {k2001 + 5.25, k2001 + 5},
      {std::nan(""), k2001},
  };
  for (const auto& [in, out] : table) {
    const auto back = plist::parse(plist::toXml(Value(Date{in})));
    ASSERT_TRUE(back && back->date()) << in;
    EXPECT_EQ(back->date()->secondsSince1970, out) << in;
  }
}

TEST(PlistCodec, RejectsWhatIsNotAPropertyList) {
  // A binary list whose UTF-16 string holds a NUL: "\u00e9\0b" (libplist's
  // copying getter aborted the program on it).
  const std::string nulInString(
      "\x62\x70\x6c\x69\x73\x74\x30\x30\x63\x00\xe9\x00\x00\x00\x62\x08\x00\x00\x00\x00\x00\x00\x01\x01"
      "\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x0f",
      48);
  const std::string inputs[] = {"", "garbage", std::string(3, '\0'), "bplist00", nulInString};
  for (const auto& in : inputs) {
    std::string error;
    EXPECT_FALSE(plist::parse(in, &error)) << in;
    EXPECT_FALSE(error.empty());
  }
}

TEST(ValueConversions, NumbersAsIntegersAndFlags) {
  EXPECT_EQ(Value(true).integer(), 1);
  EXPECT_EQ(Value(-2.9).integer(), -2);
  EXPECT_EQ(Value(1e300).integer(), INT64_MAX);
  EXPECT_EQ(Value("3").integer(), std::nullopt);
  EXPECT_TRUE(Value(0.5).boolean());
  EXPECT_FALSE(Value("1").boolean());
  EXPECT_EQ(integerOrZero(std::optional<Value>{}), 0);
}

}  // namespace
}  // namespace somnara
