#include <gtest/gtest.h>

#include "menubar/InsomniaRules.h"

namespace somnara {
namespace {

using Verdict = InsomniaRules::Verdict;

struct VerdictCase {
  const char* name;
  InsomniaRules::Settings settings;
  InsomniaRules::Conditions conditions;
  Verdict verdict;
  const char* title;  // the note while Insomnia is on
};

InsomniaRules::Settings floorAt(std::int64_t percent) {
  InsomniaRules::Settings s;
  s.batteryFloor = percent;
  return s;
}
InsomniaRules::Settings onlyOnExternalPower() {
  InsomniaRules::Settings s;
  s.onlyOnExternalPower = true;
  return s;
}
InsomniaRules::Settings stopWhenLocked() {
  InsomniaRules::Settings s;
  s.stopWhenLocked = true;
  s.onlyOnExternalPower = true;
  return s;
}
InsomniaRules::Conditions battery(std::int32_t charge, std::optional<bool> locked = std::nullopt) {
  return {true, charge, locked};
}
InsomniaRules::Conditions mains(std::int32_t charge, std::optional<bool> locked = std::nullopt) {
  return {false, charge, locked};
}

void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }

class VerdictTable : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(VerdictTable, LockThenPauseThenFloor) {
  const auto& c = GetParam();
  EXPECT_EQ(InsomniaRules::verdict(c.settings, c.conditions), c.verdict);
  EXPECT_EQ(InsomniaRules::titleNote(c.settings, c.conditions, c.verdict), c.title);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, VerdictTable,
    ::testing::Values(
        VerdictCase{"AboveTheFloor", floorAt(10), battery(11), Verdict::Run, " (stops on battery at 10 %)"},
        VerdictCase{"AtTheFloor", floorAt(10), battery(10), Verdict::StopAtBatteryFloor, ""},
        VerdictCase{"EmptyBattery", floorAt(10), battery(0), Verdict::StopAtBatteryFloor, ""},
        VerdictCase{"UnknownCharge", floorAt(10), battery(-1), Verdict::Run, " (stops on battery at 10 %)"},
        VerdictCase{"FloorZeroIsOff", floorAt(0), battery(0), Verdict::Run, ""},
        VerdictCase{"OnMainsBelowTheFloor", floorAt(10), mains(3), Verdict::Run, ""},
        VerdictCase{"FloorOfAHundred", floorAt(100), battery(100), Verdict::StopAtBatteryFloor, ""},
        VerdictCase{"PausedOnBattery", onlyOnExternalPower(), battery(50), Verdict::Pause, " (paused on battery)"},
        VerdictCase{"PauseWinsOverTheFloor", onlyOnExternalPower(), battery(2), Verdict::Pause,
                    " (paused on battery)"},
        VerdictCase{"ResumedOnMains", onlyOnExternalPower(), mains(50), Verdict::Run, ""},
        VerdictCase{"Locked", stopWhenLocked(), mains(50, true), Verdict::StopWhenLocked, ""},
        VerdictCase{"LockWinsOverThePause", stopWhenLocked(), battery(50, true), Verdict::StopWhenLocked, ""},
        VerdictCase{"Unlocked", stopWhenLocked(), mains(50, false), Verdict::Run, ""},
        VerdictCase{"LockUnknown", stopWhenLocked(), mains(50), Verdict::Run, ""},
        VerdictCase{"LockedWithoutTheRule", floorAt(10), mains(50, true), Verdict::Run, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(InsomniaRules, OnlyExternalPowerComingStartsAndOnlyWithTheRule) {
  InsomniaRules::Settings on;
  on.startOnExternalPower = true;
  const InsomniaRules::Settings off;
  struct Case {
    InsomniaRules::Conditions before, now;
    bool starts;
  };
  const Case cases[] = {
      {battery(50), mains(50), true},
      {battery(5), mains(5), true},  // the floor does not hold back a start on mains
      {mains(50), mains(51), false},
      {mains(50), battery(50), false},
      {battery(50), battery(49), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(InsomniaRules::starts(on, c.before, c.now), c.starts) << c.before.onBattery << c.now.onBattery;
    EXPECT_FALSE(InsomniaRules::starts(off, c.before, c.now));
  }
}

// Nothing is watched while Insomnia is off, except the power sources for
// the start rule; the lock only while Insomnia is on with its rule.
TEST(InsomniaRules, WatchesOnlyWhatARuleNeedsNow) {
  struct Case {
    const char* name;
    InsomniaRules::Settings settings;
    bool power[2];  // Insomnia off, on
    bool lock[2];
  };
  InsomniaRules::Settings start = floorAt(0);
  start.startOnExternalPower = true;
  InsomniaRules::Settings lock = floorAt(0);
  lock.stopWhenLocked = true;
  const Case cases[] = {
      {"defaults", InsomniaRules::Settings{}, {false, true}, {false, false}},
      {"no rule", floorAt(0), {false, false}, {false, false}},
      {"pause", onlyOnExternalPower(), {false, true}, {false, false}},
      {"start", start, {true, true}, {false, false}},
      {"lock", lock, {false, false}, {false, true}},
  };
  for (const auto& c : cases)
    for (bool on : {false, true}) {
      EXPECT_EQ(InsomniaRules::watchesPowerSources(c.settings, on), c.power[on]) << c.name << " on=" << on;
      EXPECT_EQ(InsomniaRules::watchesSessionLock(c.settings, on), c.lock[on]) << c.name << " on=" << on;
    }
}

}  // namespace
}  // namespace somnara
