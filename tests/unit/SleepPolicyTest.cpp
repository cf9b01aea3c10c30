#include <gtest/gtest.h>

#include "core/Constants.h"
#include "core/SleepPolicy.h"

namespace somnara {
namespace {

constexpr auto unknown = std::nullopt;

struct BatteryCase {
  std::optional<std::int32_t> charge, timeLeft;
  std::int64_t hibernateLevel;
  std::optional<std::int64_t> level;
  std::int64_t state;
};

class BatteryRule : public testing::TestWithParam<BatteryCase> {};

TEST_P(BatteryRule, LevelAndState) {
  const auto& c = GetParam();
  const auto level = policy::batteryLevel(c.charge, c.timeLeft);
  EXPECT_EQ(level, c.level);
  EXPECT_EQ(policy::adaptiveSleepState(level, c.hibernateLevel), c.state);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BatteryRule,
    testing::Values(BatteryCase{80, 300, 20, 80, kSleepStateSleep},              // charge is the smaller
                    BatteryCase{50, 15, 20, 15, kSleepStateSleepAndHibernate},   // time left is the smaller
                    BatteryCase{30, unknown, 20, 30, kSleepStateSleep},          // time unknown: charge
                    BatteryCase{unknown, 30, 20, 30, kSleepStateSleep},          // charge unknown: time
                    BatteryCase{0, unknown, 20, 0, kSleepStateHibernate},        // the known one, even 0
                    BatteryCase{100, 0, 20, 100, kSleepStateSleep},              // time 0 is passed over
                    BatteryCase{0, 100, 20, 100, kSleepStateSleep},              // charge 0 is passed over
                    BatteryCase{3, 200, 20, 3, kSleepStateHibernate},
                    BatteryCase{4, 200, 20, 4, kSleepStateHibernate},            // critical level inclusive
                    BatteryCase{5, 200, 20, 5, kSleepStateSleepAndHibernate},
                    BatteryCase{20, 200, 20, 20, kSleepStateSleepAndHibernate},  // level == hibernatelevel
                    BatteryCase{21, 200, 20, 21, kSleepStateSleep},
                    BatteryCase{unknown, unknown, 20, unknown, kSleepStateHibernate},  // nothing readable
                    BatteryCase{0, 0, 20, 0, kSleepStateHibernate},
                    BatteryCase{50, 50, 60, 50, kSleepStateSleepAndHibernate},   // custom level
                    BatteryCase{50, 50, 2, 50, kSleepStateSleep},
                    BatteryCase{10, 10, -5, 10, kSleepStateSleep}));             // negative level setting

TEST(SleepModeMapping, FixedModesAndFallbacks) {
  const std::pair<std::int64_t, std::optional<std::int64_t>> table[] = {
      {0, kSleepStateSystemDefault}, {1, std::nullopt},           {2, kSleepStateSleep},
      {3, kSleepStateHibernate},     {4, kSleepStateSleepAndHibernate}, {5, kSleepStateSystemDefault},
      {-1, kSleepStateSystemDefault}, {1LL << 40, kSleepStateSystemDefault}};
  for (const auto& [mode, state] : table) EXPECT_EQ(policy::fixedSleepStateForMode(mode), state) << mode;
}

TEST(HibernateModeMapping, ValuesPerSystemGeneration) {
  struct Row {
    std::int64_t state;
    std::optional<std::int64_t> older, newer;
  };
  const Row table[] = {{kSleepStateSleep, 0, 0},
                       {kSleepStateSleepAndHibernate, 3, 3},
                       {kSleepStateHibernate, 1, 25},
                       {kSleepStateSystemDefault, std::nullopt, std::nullopt},
                       {1, std::nullopt, std::nullopt},
                       {7, std::nullopt, std::nullopt}};
  for (const auto& r : table) {
    EXPECT_EQ(policy::hibernateModeForSleepState(r.state, false), r.older) << r.state;
    EXPECT_EQ(policy::hibernateModeForSleepState(r.state, true), r.newer) << r.state;
  }
}

}  // namespace
}  // namespace somnara
