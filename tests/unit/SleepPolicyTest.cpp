// The sleep policy's table of expectations: battery level, adaptive state,
// fixed modes and the hibernatemode values per system generation.
#include <gtest/gtest.h>

#include "core/Constants.h"
#include "core/SleepPolicy.h"

namespace somnara {
namespace {

TEST(SleepPolicy, BatteryLevelAndAdaptiveState) {
  constexpr auto unknown = std::nullopt;
  const struct {
    std::optional<std::int32_t> charge, timeLeft;
    std::int64_t hibernateLevel;
    std::optional<std::int64_t> level;
    std::int64_t state;
  } cases[] = {
      {80, 300, 20, 80, kSleepStateSleep},                  // charge is the smaller
      {50, 15, 20, 15, kSleepStateSleepAndHibernate},       // time left is the smaller
      {30, unknown, 20, 30, kSleepStateSleep},              // time unknown: charge
      {unknown, 30, 20, 30, kSleepStateSleep},              // charge unknown: time
      {0, unknown, 20, 0, kSleepStateHibernate},            // the known one, even 0
      {100, 0, 20, 100, kSleepStateSleep},                  // a 0 is passed over
      {0, 100, 20, 100, kSleepStateSleep},
      {3, 200, 20, 3, kSleepStateHibernate},
      {4, 200, 20, 4, kSleepStateHibernate},                // critical level inclusive
      {5, 200, 20, 5, kSleepStateSleepAndHibernate},
      {20, 200, 20, 20, kSleepStateSleepAndHibernate},      // level == hibernatelevel
      {21, 200, 20, 21, kSleepStateSleep},
      {unknown, unknown, 20, unknown, kSleepStateHibernate},  // nothing readable
      {0, 0, 20, 0, kSleepStateHibernate},
      {50, 50, 60, 50, kSleepStateSleepAndHibernate},       // custom level
      {50, 50, 2, 50, kSleepStateSleep},
      {10, 10, -5, 10, kSleepStateSleep},                   // negative level setting
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "charge " << c.charge.value_or(-1) << ", time " << c.timeLeft.value_or(-1)
                                      << ", hibernate level " << c.hibernateLevel);
    const auto level = policy::batteryLevel(c.charge, c.timeLeft);
    EXPECT_EQ(level, c.level);
    EXPECT_EQ(policy::adaptiveSleepState(level, c.hibernateLevel), c.state);
  }
}

TEST(SleepPolicy, FixedModesAndFallbacks) {
  const std::pair<std::int64_t, std::optional<std::int64_t>> table[] = {
      {0, kSleepStateSystemDefault}, {1, std::nullopt},           {2, kSleepStateSleep},
      {3, kSleepStateHibernate},     {4, kSleepStateSleepAndHibernate}, {5, kSleepStateSystemDefault},
      {-1, kSleepStateSystemDefault}, {1LL << 40, kSleepStateSystemDefault}};
  for (const auto& [mode, state] : table) EXPECT_EQ(policy::fixedSleepStateForMode(mode), state) << mode;
}

TEST(SleepPolicy, HibernateModeValuesPerSystemGeneration) {
  const struct {
    std::int64_t state;
    std::optional<std::int64_t> older, newer;
  } table[] = {{kSleepStateSleep, 0, 0},           {kSleepStateSleepAndHibernate, 3, 3},
               {kSleepStateHibernate, 1, 25},      {kSleepStateSystemDefault, std::nullopt, std::nullopt},
               {1, std::nullopt, std::nullopt},    {7, std::nullopt, std::nullopt}};
  for (const auto& r : table) {
    EXPECT_EQ(policy::hibernateModeForSleepState(r.state, false), r.older) << r.state;
    EXPECT_EQ(policy::hibernateModeForSleepState(r.state, true), r.newer) << r.state;
  }
}

}  // namespace
}  // namespace somnara
