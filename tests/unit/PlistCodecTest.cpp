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

TEST(PlistCodec, BinaryListsWithinBoundsAndSharedObjectBombsRefused) {
  // {"a": [1, "x", true], "s": [["y"], ["y"]]}, the inner list stored once.
  const std::string binary(
      "\x62\x70\x6c\x69\x73\x74\x30\x30\xd2\x01\x02\x03\x07\x51\x61\x51\x73\xa3\x04\x05\x06\x10\x01\x51"
      "\x78\x09\xa2\x08\x08\xa1\x09\x51\x79\x08\x0d\x0f\x11\x15\x17\x19\x1a\x1d\x1f\x00\x00\x00\x00\x00"
      "\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x0a\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x21",
      75);
  std::string error;
  const auto parsed = plist::parse(binary, &error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(*parsed, Value(Dictionary{{"a", Value(Array{Value(1), Value("x"), Value(true)})},
                                      {"s", Value(Array{Value(Array{Value("y")}), Value(Array{Value("y")})})}}));
  // Twelve levels of eight references to the level below: 8^12 values.
  const std::string bomb(
      "\x62\x70\x6c\x69\x73\x74\x30\x30\xa8\x01\x01\x01\x01\x01\x01\x01\x01\xa8\x02\x02\x02\x02\x02\x02"
      "\x02\x02\xa8\x03\x03\x03\x03\x03\x03\x03\x03\xa8\x04\x04\x04\x04\x04\x04\x04\x04\xa8\x05\x05\x05"
      "\x05\x05\x05\x05\x05\xa8\x06\x06\x06\x06\x06\x06\x06\x06\xa8\x07\x07\x07\x07\x07\x07\x07\x07\xa8"
      "\x08\x08\x08\x08\x08\x08\x08\x08\xa8\x09\x09\x09\x09\x09\x09\x09\x09\xa8\x0a\x0a\x0a\x0a\x0a\x0a"
      "\x0a\x0a\xa8\x0b\x0b\x0b\x0b\x0b\x0b\x0b\x0b\xa8\x0c\x0c\x0c\x0c\x0c\x0c\x0c\x0c\xa1\x0d\x51\x78"
      "\x08\x11\x1a\x23\x2c\x35\x3e\x47\x50\x59\x62\x6b\x74\x76\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00"
      "\x00\x00\x00\x00\x00\x0e\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x78",
      166);
  EXPECT_FALSE(plist::parse(bomb, &error));
  EXPECT_EQ(error, "property list too large");
  // Its trailer cut short, or a reference pointing back at itself.
  EXPECT_FALSE(plist::parse(bomb.substr(0, bomb.size() - 8), &error));
  std::string cycle = bomb;
  cycle[9] = '\x00';  // the top array's first element is the top array
  EXPECT_FALSE(plist::parse(cycle, &error));
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
