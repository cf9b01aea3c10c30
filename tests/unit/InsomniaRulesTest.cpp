#include <gtest/gtest.h>

#include "menubar/InsomniaRules.h"

namespace somnara {
namespace {

// The readings the simulated laptop never gives the rules: an unknown charge
// and a floor of 0 (the agent does not watch the battery then). The order of
// the rules and the title notes are tested on the simulated laptop.
TEST(InsomniaRules, UnknownChargeAndFloorZeroNeverStop) {
  using Verdict = InsomniaRules::Verdict;
  const struct {
    const char* name;
    std::int64_t floor;
    std::optional<std::int32_t> charge;
    const char* title;  // the note while Insomnia is on
  } cases[] = {
      {"unknown charge", 10, std::nullopt, " (stops on battery at 10 %)"},
      {"floor 0 is off", 0, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InsomniaRules::Settings settings;
    settings.batteryFloor = c.floor;
    const InsomniaRules::Conditions onBattery{true, c.charge, std::nullopt};
    EXPECT_EQ(InsomniaRules::verdict(settings, onBattery), Verdict::Run);
    EXPECT_EQ(InsomniaRules::titleNote(settings, onBattery, Verdict::Run), c.title);
  }
}

}  // namespace
}  // namespace somnara
