// Argument parsing, drop-in mapping and saved-settings merging of pmset.
#include <gtest/gtest.h>

#include "Arguments.h"
#include "MachinePaths.h"
#include "Writers.h"
#include "plist/PlistCodec.h"

namespace pm = somnara::pmset;
using somnara::Dictionary;
using somnara::Value;

namespace {

struct ParseCase {
  std::vector<std::string> args;
  // Expected: kind 's' set, 'n' sleepnow, 'g' show, 'e' usage error.
  char kind;
  int mode = -1;
  bool force = false;
};

class ParseArguments : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseArguments, RecognisesOnlyTheThreeCommands) {
  const ParseCase& c = GetParam();
  auto parsed = pm::parseArguments(c.args);
  if (c.kind == 'e') {
    auto* err = std::get_if<pm::UsageError>(&parsed);
    ASSERT_NE(err, nullptr);
    EXPECT_FALSE(err->message.empty());
    return;
  }
  auto* cmd = std::get_if<pm::Command>(&parsed);
  ASSERT_NE(cmd, nullptr) << std::get<pm::UsageError>(parsed).message;
  switch (c.kind) {
    case 's': {
      auto* set = std::get_if<pm::SetHibernateMode>(cmd);
      ASSERT_NE(set, nullptr);
      EXPECT_EQ(set->mode, c.mode);
      EXPECT_EQ(set->force, c.force);
      break;
    }
    case 'n': EXPECT_TRUE(std::holds_alternative<pm::SleepNow>(*cmd)); break;
    case 'g': EXPECT_TRUE(std::holds_alternative<pm::ShowSettings>(*cmd)); break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseArguments,
    ::testing::Values(
        ParseCase{{"hibernatemode", "0"}, 's', 0, false},
        ParseCase{{"hibernatemode", "1"}, 's', 1, false},
        ParseCase{{"hibernatemode", "3"}, 's', 3, false},
        ParseCase{{"hibernatemode", "25"}, 's', 25, false},
        ParseCase{{"force", "hibernatemode", "0"}, 's', 0, true},
        ParseCase{{"force", "hibernatemode", "25"}, 's', 25, true},
        ParseCase{{"sleepnow"}, 'n'},
        ParseCase{{"-g"}, 'g'},
        ParseCase{{}, 'e'},
        ParseCase{{"force"}, 'e'},
        ParseCase{{"force", "sleepnow"}, 'e'},
        ParseCase{{"force", "force", "hibernatemode", "1"}, 'e'},
        ParseCase{{"hibernatemode"}, 'e'},
        ParseCase{{"hibernatemode", "1", "extra"}, 'e'},
        ParseCase{{"hibernatemode", "force", "1"}, 'e'},
        ParseCase{{"Hibernatemode", "1"}, 'e'},
        ParseCase{{"-g", "hibernatemode"}, 'e'},
        ParseCase{{"sleepnow", "now"}, 'e'},
        ParseCase{{"-G"}, 'e'},
        ParseCase{{"hibernatemode", "2"}, 'e'},
        ParseCase{{"hibernatemode", "03"}, 'e'},
        ParseCase{{"hibernatemode", "-1"}, 'e'},
        ParseCase{{"hibernatemode", "+1"}, 'e'},
        ParseCase{{"hibernatemode", "1 "}, 'e'},
        ParseCase{{"hibernatemode", " 1"}, 'e'},
        ParseCase{{"hibernatemode", ""}, 'e'},
        ParseCase{{"hibernatemode", "25x"}, 'e'},
        ParseCase{{"hibernatemode", "0x19"}, 'e'},
        ParseCase{{"hibernatemode", "4294967297"}, 'e'}));

struct DropInCase {
  int mode;
  const char* verb;  // null: no drop-in for this mode
};

class DropIn : public ::testing::TestWithParam<DropInCase> {};

TEST_P(DropIn, MapsModeToSleepVerb) {
  const DropInCase& c = GetParam();
  std::string text = pm::dropInForMode(c.mode);
  if (!c.verb) {
    EXPECT_EQ(text, "");
    return;
  }
  EXPECT_EQ(text, std::string("[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep ") +
                      c.verb + "\n");
}

INSTANTIATE_TEST_SUITE_P(Table, DropIn,
                         ::testing::Values(DropInCase{0, "suspend"}, DropInCase{1, "hibernate"},
                                           DropInCase{3, "hybrid-sleep"},
                                           DropInCase{25, "hibernate"}, DropInCase{2, nullptr},
                                           DropInCase{-1, nullptr}, DropInCase{5, nullptr}));

const Value* at(const Value& v, std::initializer_list<const char*> keys) {
  const Value* cur = &v;
  for (const char* k : keys) {
    if (!cur) return nullptr;
    cur = cur->find(k);
  }
  return cur;
}

TEST(SavedSettings, SetsModeAndKeepsEverythingElse) {
  Dictionary battery{{"Hibernate Mode", Value(3)}, {"Sleep", Value(5)}};
  Dictionary ac{{"Hibernate Mode", Value(0)}, {"Display Sleep Timer", Value(10)}};
  Dictionary profile{{"AC Power", Value(ac)}, {"Battery Power", Value(battery)}};
  Value existing(Dictionary{{"Custom Profile", Value(profile)},
                            {"SystemPowerSettings", Value(Dictionary{{"Flag", Value(true)}})},
                            {"Version", Value("7")}});

  Value updated = pm::settingsWithHibernateMode(existing, 25);

  ASSERT_NE(at(updated, {"Custom Profile", "AC Power", "Hibernate Mode"}), nullptr);
  EXPECT_EQ(at(updated, {"Custom Profile", "AC Power", "Hibernate Mode"})->integer(), 25);
  EXPECT_EQ(*at(updated, {"Custom Profile", "AC Power", "Display Sleep Timer"}), Value(10));
  EXPECT_EQ(*at(updated, {"Custom Profile", "Battery Power"}), Value(battery));
  EXPECT_EQ(*at(updated, {"SystemPowerSettings"}), *existing.find("SystemPowerSettings"));
  EXPECT_EQ(*at(updated, {"Version"}), Value("7"));
}

TEST(SavedSettings, ReplacesNonDictionaryLevels) {
  struct Case {
    const char* name;
    std::optional<Value> existing;
  };
  const Case cases[] = {
      {"absent", std::nullopt},
      {"root is a string", Value("junk")},
      {"profile is an array", Value(Dictionary{{"Custom Profile", Value(somnara::Array{Value(1)})}})},
      {"AC Power is a number",
       Value(Dictionary{{"Custom Profile", Value(Dictionary{{"AC Power", Value(4)}})}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Value updated = pm::settingsWithHibernateMode(c.existing, 3);
    const Value* mode = at(updated, {"Custom Profile", "AC Power", "Hibernate Mode"});
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->integer(), 3);
    // Survives the XML round trip as an integer.
    auto back = somnara::plist::parse(somnara::plist::toXml(updated));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, updated);
  }
}

TEST(MachinePathsTest, RootFromEnvironment) {
  struct Case {
    const char* value;
    bool ok;
    bool real;
    const char* active;
  };
  const Case cases[] = {
      {nullptr, true, true, "/run/somnara/hibernatemode"},
      {"", true, true, "/run/somnara/hibernatemode"},
      {"/", true, true, "/run/somnara/hibernatemode"},
      {"///", true, true, "/run/somnara/hibernatemode"},
      {"/tmp/fake", true, false, "/tmp/fake/run/somnara/hibernatemode"},
      {"/tmp/fake//", true, false, "/tmp/fake/run/somnara/hibernatemode"},
      {"tmp/fake", false, false, nullptr},
      {"./x", false, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    std::string error;
    auto paths = pm::MachinePaths::fromEnvironment(c.value, &error);
    ASSERT_EQ(paths.has_value(), c.ok);
    if (!c.ok) {
      EXPECT_NE(error.find("absolute"), std::string::npos);
      continue;
    }
    EXPECT_EQ(paths->isRealRoot(), c.real);
    EXPECT_EQ(paths->activeHibernateMode(), c.active);
  }
}

}  // namespace
