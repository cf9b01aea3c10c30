// The saved power-management settings as the power tool, the Linux backend
// and the simulated machine read and write them.
#include <gtest/gtest.h>

#include "plist/PlistCodec.h"
#include "powertool/SavedPowerSettings.h"

namespace somnara::powertool {
namespace {

Value withMains(Value mains) {
  return Value(Dictionary{{"Custom Profile", Value(Dictionary{{"AC Power", std::move(mains)}})}});
}

TEST(SavedPowerSettings, DecodesTheMainsHibernateMode) {
  const struct {
    const char* name;
    std::string bytes;
    bool list;
    std::optional<std::int64_t> mode;
  } cases[] = {
      {"integer", plist::toXml(withMains(Value(Dictionary{{"Hibernate Mode", Value(25)}}))), true, 25},
      {"real", plist::toXml(withMains(Value(Dictionary{{"Hibernate Mode", Value(3.9)}}))), true, 3},
      {"string with digits", plist::toXml(withMains(Value(Dictionary{{"Hibernate Mode", Value("1x")}}))), true, 1},
      {"-1", plist::toXml(withMains(Value(Dictionary{{"Hibernate Mode", Value(-1)}}))), true, -1},
      {"array", plist::toXml(withMains(Value(Dictionary{{"Hibernate Mode", Value(Array{})}}))), true, {}},
      {"battery profile only",
       plist::toXml(Value(Dictionary{{"Custom Profile",
                                      Value(Dictionary{{"Battery Power",
                                                        Value(Dictionary{{"Hibernate Mode", Value(3)}})}})}})),
       true, {}},
      {"mains not a dictionary", plist::toXml(withMains(Value(3))), true, {}},
      {"top level not a dictionary", plist::toXml(Value("x")), true, {}},
      {"not a property list", "<plist><dict><key>x", false, {}},
      {"empty", "", false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SavedPowerSettings s = SavedPowerSettings::decode(c.bytes);
    EXPECT_EQ(s.list.has_value(), c.list);
    EXPECT_EQ(s.error.empty(), c.list) << s.error;
    EXPECT_EQ(s.hibernateMode, c.mode);
  }
}

// Only the mains profile's mode changes; other entries stay, levels that are
// not dictionaries start afresh; what is written reads back.
TEST(SavedPowerSettings, WritesTheMainsHibernateModeOnly) {
  const Value battery(Dictionary{{"Hibernate Mode", Value(0)}, {"Sleep", Value(3)}});
  const Value full(Dictionary{
      {"Custom Profile", Value(Dictionary{{"AC Power", Value(Dictionary{{"Hibernate Mode", Value(0)},
                                                                           {"Display Sleep Timer", Value(10)}})},
                                          {"Battery Power", battery}})},
      {"Version", Value(7)}});
  const struct {
    const char* name;
    std::optional<Value> existing;
    Value expected;
  } cases[] = {
      {"none", std::nullopt, withMains(Value(Dictionary{{"Hibernate Mode", Value(25)}}))},
      {"not a dictionary", Value("x"), withMains(Value(Dictionary{{"Hibernate Mode", Value(25)}}))},
      {"mains not a dictionary", withMains(Value(4)), withMains(Value(Dictionary{{"Hibernate Mode", Value(25)}}))},
      {"other entries",
       full,
       Value(Dictionary{
           {"Custom Profile",
            Value(Dictionary{{"AC Power", Value(Dictionary{{"Hibernate Mode", Value(25)},
                                                           {"Display Sleep Timer", Value(10)}})},
                             {"Battery Power", battery}})},
           {"Version", Value(7)}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Value written = withHibernateMode(c.existing, 25);
    EXPECT_EQ(written, c.expected);
    EXPECT_EQ(SavedPowerSettings::decode(encode(written)).hibernateMode, 25);
  }
}

}  // namespace
}  // namespace somnara::powertool
