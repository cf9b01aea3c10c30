#include <gtest/gtest.h>

#include "menubar/InsomniaRules.h"

namespace somnara {
namespace {

// The lock rule goes before the pause on battery, the pause before the floor.
TEST(InsomniaRules, VerdictAndTitleNote) {
  using Verdict = InsomniaRules::Verdict;
  auto rules = [](std::int64_t floor, bool onlyOnExternalPower = false, bool stopWhenLocked = false) {
    InsomniaRules::Settings s;
    s.batteryFloor = floor, s.onlyOnExternalPower = onlyOnExternalPower, s.stopWhenLocked = stopWhenLocked;
    return s;
  };
  const InsomniaRules::Settings floor10 = rules(10), pause = rules(10, true), lock = rules(10, true, true);
  constexpr auto unknown = std::nullopt;
  const struct {
    const char* name;
    InsomniaRules::Settings settings;
    InsomniaRules::Conditions conditions;  // on battery, charge, locked
    Verdict verdict;
    const char* title;  // the note while Insomnia is on
  } cases[] = {
      {"above the floor", floor10, {true, 11, unknown}, Verdict::Run, " (stops on battery at 10 %)"},
      {"at the floor", floor10, {true, 10, unknown}, Verdict::StopAtBatteryFloor, ""},
      {"empty battery", floor10, {true, 0, unknown}, Verdict::StopAtBatteryFloor, ""},
      {"unknown charge", floor10, {true, unknown, unknown}, Verdict::Run, " (stops on battery at 10 %)"},
      {"floor 0 is off", rules(0), {true, 0, unknown}, Verdict::Run, ""},
      {"on mains below the floor", floor10, {false, 3, unknown}, Verdict::Run, ""},
      {"floor of 100", rules(100), {true, 100, unknown}, Verdict::StopAtBatteryFloor, ""},
      {"paused on battery", pause, {true, 50, unknown}, Verdict::Pause, " (paused on battery)"},
      {"pause wins over the floor", pause, {true, 2, unknown}, Verdict::Pause, " (paused on battery)"},
      {"resumed on mains", pause, {false, 50, unknown}, Verdict::Run, ""},
      {"locked", lock, {false, 50, true}, Verdict::StopWhenLocked, ""},
      {"lock wins over the pause", lock, {true, 50, true}, Verdict::StopWhenLocked, ""},
      {"unlocked", lock, {false, 50, false}, Verdict::Run, ""},
      {"lock unknown", lock, {false, 50, unknown}, Verdict::Run, ""},
      {"locked without the rule", floor10, {false, 50, true}, Verdict::Run, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(InsomniaRules::verdict(c.settings, c.conditions), c.verdict);
    EXPECT_EQ(InsomniaRules::titleNote(c.settings, c.conditions, c.verdict), c.title);
  }
}

}  // namespace
}  // namespace somnara
