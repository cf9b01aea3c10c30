#include <gtest/gtest.h>

#include <cmath>

#include "plist/PlistCodec.h"

namespace somnara {
namespace {

TEST(PlistCodec, RoundTripsEveryValueKind) {
  const Value values[] = {
      Value(true), Value(false), Value(0), Value(-1), Value(static_cast<long long>(INT64_MIN)),
      Value(static_cast<long long>(INT64_MAX)), Value(2.5), Value("text with <xml> & \"quotes\""), Value(""),
      Value(Date{1767225600.0}), Value(Date{0.0}), Value(Data{{0, 1, 254, 255}}),
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

// A binary list whose key holds a NUL byte (found by fuzzing): libplist's
// key reader asserts on it; the list is refused instead of aborting.
TEST(PlistCodec, BinaryKeyWithANulByteIsRefusedWithoutAborting) {
  const unsigned char bytes[] = {
      0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd2, 0x01, 0x02, 0x03, 0x0d, 0x5e, 0x43, 0x75,
      0x73, 0x74, 0x6f, 0x6d, 0x20, 0x50, 0x72, 0x6f, 0x66, 0x69, 0x6c, 0x65, 0x57, 0x56, 0x65, 0x72,
      0x73, 0x69, 0x6f, 0x6e, 0xd2, 0x04, 0x05, 0x06, 0x0b, 0x58, 0x41, 0x43, 0x20, 0x50, 0x6f, 0x77,
      0x65, 0x72, 0x5d, 0x42, 0x61, 0x74, 0x74, 0x65, 0x72, 0x79, 0x20, 0x50, 0x6f, 0x77, 0x65, 0x72,
      0xd2, 0x07, 0x08, 0x09, 0x0a, 0x66, 0x10, 0x13, 0x4e, 0x69, 0x73, 0x70, 0x00, 0x00, 0x00, 0x00,
      0xff, 0xff, 0xff, 0x69, 0x6c, 0x65, 0x57, 0x56, 0x65, 0x72, 0x73, 0x69, 0x48, 0x69, 0x62, 0x65,
      0x72, 0x6e, 0x61, 0x74, 0x65, 0x20, 0x4d, 0x6f, 0x64, 0x65, 0x10, 0x0a, 0x10, 0x03, 0xd1, 0x08,
      0x0c, 0x10, 0x00, 0x10, 0x07, 0x08, 0x0d, 0x1c, 0x24, 0x32, 0x29, 0x40, 0x45, 0x5b, 0x6a, 0x6c,
      0x6e, 0x71, 0x73, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2d, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x0e, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x75};
  auto v = plist::parse(std::string(reinterpret_cast<const char*>(bytes), sizeof bytes));
  EXPECT_FALSE(v.has_value());
}

TEST(PlistCodec, RejectsWhatIsNotAPropertyList) {
  // A binary list whose UTF-16 string holds a NUL: "\u00e9\0b" (libplist's
  // copying getter aborted the program on it).
  const std::string nulInString(
      "\x62\x70\x6c\x69\x73\x74\x30\x30\x63\x00\xe9\x00\x00\x00\x62\x08\x00\x00\x00\x00\x00\x00\x01\x01"
      "\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x0f",
      48);
  const char kNulInString[] = "<?xml version=\"1.0\"?><plist version=\"1.0\"><string>x\0y</string></plist>";
  const std::string inputs[] = {"", "garbage", std::string(3, '\0'), "bplist00", nulInString,
                                std::string(kNulInString, sizeof kNulInString - 1)};
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

// libplist's XML reader and its tree release recurse once per level: deep
// enough nesting overflows the stack. Nesting is bounded before libplist
// sees the text; 64 levels of values are read, more are refused.
TEST(PlistCodec, NestingIsBoundedBeforeLibplistRecurses) {
  auto nested = [](std::size_t levels, const char* open, const char* close, const std::string& leaf) {
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (std::size_t i = 0; i < levels; ++i) xml += open;
    xml += leaf;
    for (std::size_t i = 0; i < levels; ++i) xml += close;
    return xml + "</plist>";
  };
  const std::string dictOpen = "<dict><key>k</key>";
  struct {
    std::string xml;
    bool accepted;
  } const cases[] = {
      {nested(64, "<array>", "</array>", ""), true},
      {nested(63, dictOpen.c_str(), "</dict>", "<dict/>"), true},
      {nested(63, "<array>", "</array>", "<array/><dict/><!-- <array><array> --><string>&lt;array&gt;</string>"),
       true},
      {nested(65, "<array>", "</array>", ""), false},
      {nested(63, "<array>", "</array>", "<array><array><string>x</string></array></array>"), false},
      {nested(200000, "<array>", "</array>", ""), false},
      {nested(200000, dictOpen.c_str(), "</dict>", ""), false},
      {nested(200000, "<array>", "", ""), false},
  };
  for (const auto& c : cases) {
    std::string error;
    const auto v = plist::parse(c.xml, &error);
    EXPECT_EQ(v.has_value(), c.accepted) << c.xml.substr(0, 120) << ": " << error;
    if (!c.accepted && c.xml.size() > 100000) {
      EXPECT_EQ(error, "property list nested too deeply");
    }
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

TEST(ValueConversions, NumberValueReadsAStringsLeadingNumber) {
  struct {
    Value value;
    double expected;
  } const cases[] = {
      {Value(0.25), 0.25}, {Value(7), 7.0}, {Value(true), 1.0}, {Value("58"), 58.0}, {Value("0.6"), 0.6},
      {Value("  \t0.25 s"), 0.25}, {Value("+.5"), 0.5}, {Value("-3e1x"), -30.0}, {Value("1.5e"), 1.5},
      {Value("12abc"), 12.0}, {Value("0x10"), 0.0}, {Value("abc"), 0.0}, {Value(""), 0.0}, {Value("-"), 0.0},
      {Value("."), 0.0}, {Value("inf"), 0.0}, {Value("nan"), 0.0}, {Value("1e999"), 0.0}, {Value("- 4"), 0.0},
      {Value(Date{5}), 0.0}, {Value(Array{Value(3)}), 0.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.description());
    EXPECT_DOUBLE_EQ(c.value.numberValue(), c.expected);
  }
}

}  // namespace
}  // namespace somnara
