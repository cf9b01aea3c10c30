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
InsomniaRules::Conditions battery(std::optional<std::int32_t> charge, std::optional<bool> locked = std::nullopt) {
  return {true, charge, locked};
}
InsomniaRules::Conditions mains(std::optional<std::int32_t> charge, std::optional<bool> locked = std::nullopt) {
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
        VerdictCase{"UnknownCharge", floorAt(10), battery(std::nullopt), Verdict::Run, " (stops on battery at 10 %)"},
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

}  // namespace
}  // namespace somnara
