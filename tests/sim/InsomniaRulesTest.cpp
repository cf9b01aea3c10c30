// Insomnia's rules on the simulated laptop: the battery floor (also with the
// lid closed), pausing on battery, starting on external power, the lock.
#include <algorithm>

#include "MenuBarAgentSupport.h"

namespace somnara::sim::testing {
namespace {

constexpr const char* kRules = "-[MenuBarAppDelegate followInsomniaRules]";

struct InsomniaRuleTest : ::testing::Test, Laptop {};

// On battery at or below the floor Insomnia stops with a notice and the chime, not to start again.
TEST(InsomniaFloor, StopsOnBatteryAtOrBelowTheFloorWithANoticeAndTheChime) {
  const struct {
    const char* name;
    std::optional<std::int64_t> floor;  // nullopt: the setting is missing
    bool onBattery;
    std::vector<int> charges;  // one a minute
    int stopsAt;               // index into charges; -1: runs on
    const char* titleAbove;    // the title before the stop
  } cases[] = {
      {"default floor on battery", std::nullopt, true, {30, 11, 10, 9}, 2,
       "Stop Insomnia (stops on battery at 10 %) (using plugin)"},
      {"on mains never stops", std::nullopt, false, {30, 5, 1}, -1, "Stop Insomnia (using plugin)"},
      {"floor 0 is off", 0, true, {30, 5, 0}, -1, "Stop Insomnia (using plugin)"},
      {"a level that jumps over the floor", 25, true, {40, 26, 12}, 2,
       "Stop Insomnia (stops on battery at 25 %) (using plugin)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Laptop t;
    if (c.floor) t.setting(kS_SomnaraUserDefaultsInsomniaBatteryFloor, Value(*c.floor));
    t.machine.state().setOnExternalPower(!c.onBattery);
    t.agent.start();
    t.delegate().setInsomnia(true);
    EXPECT_EQ(t.delegate().insomniaString(), c.titleAbove);
    for (std::size_t i = 0; i < c.charges.size(); ++i) {
      t.machine.advance(1min);
      t.charge(c.charges[i]);
      EXPECT_EQ(t.delegate().hasInsomnia(), c.stopsAt < 0 || static_cast<int>(i) < c.stopsAt) << c.charges[i] << " %";
    }
    if (c.stopsAt < 0) {
      EXPECT_TRUE(t.noticeBodies().empty());
      continue;
    }
    EXPECT_EQ(t.noticeBodies(), std::vector<std::string>{"Insomnia stopped: The battery is at " +
                                                         std::to_string(c.charges[c.stopsAt]) +
                                                         " %, at or below the floor of " +
                                                         std::to_string(c.floor.value_or(10)) + " %."});
    EXPECT_EQ(t.machine.desktop().plays().size(), 1u) << "the Insomnia chime";
    EXPECT_TRUE(t.machine.desktop().requestIdleSleep()) << "the veto is gone";
    EXPECT_EQ(t.agent.item.image(), kHibernateSleepImage);
    t.power(true);
    t.charge(80);
    t.machine.advance(10min);
    EXPECT_FALSE(t.delegate().hasInsomnia()) << "not started again by charging or external power";
    EXPECT_EQ(t.machine.desktop().notices().size(), 1u);
  }
}

// A closed laptop in a bag: at the floor the lid lock goes and the lid switch puts the machine to sleep.
TEST_F(InsomniaRuleTest, WithTheLidClosedTheFloorReleasesTheLidLockAndTheMachineSleeps) {
  machine.state().setOnExternalPower(false);
  agent.start();
  delegate().setInsomnia(true);
  machine.desktop().setLid(true);
  machine.runPending();
  ASSERT_TRUE(machine.desktop().lidClosedHoldTaken());
  for (int percent = 59; percent > 10; --percent) {
    machine.advance(3min);
    charge(percent);
  }
  EXPECT_TRUE(delegate().hasInsomnia());
  EXPECT_TRUE(machine.desktop().lidSwitchSleeps().empty()) << "held awake down to 11 %";
  machine.advance(3min);
  charge(10);
  EXPECT_FALSE(delegate().hasInsomnia());
  EXPECT_FALSE(machine.desktop().lidClosedHoldTaken());
  EXPECT_EQ(machine.desktop().lidSwitchSleeps(), std::vector<std::chrono::milliseconds>{machine.elapsed()});
  EXPECT_EQ(machine.desktop().plays().size(), 2u) << "the lid closing, then the floor";
  EXPECT_EQ(agent.logCount(kRules, "Insomnia stopped: The battery is at 10 %, at or below the floor of 10 %."), 1);
}

TEST_F(InsomniaRuleTest, AFloorSetWhileRunningTakesEffectAtOnce) {
  machine.state().setOnExternalPower(false);
  charge(15);
  agent.start();
  delegate().setInsomnia(true);
  ASSERT_TRUE(delegate().hasInsomnia());
  setting(kS_SomnaraUserDefaultsInsomniaBatteryFloor, Value(20));
  EXPECT_FALSE(delegate().hasInsomnia());
  // Started again below the floor, it stops at once and says why.
  delegate().setInsomnia(true);
  EXPECT_FALSE(delegate().hasInsomnia());
  EXPECT_EQ(machine.desktop().notices().size(), 2u);
}

TEST_F(InsomniaRuleTest, OnlyOnExternalPowerPausesOnBatteryAndResumesOnMains) {
  setting(kS_SomnaraUserDefaultsInsomniaOnlyOnExternalPower, Value(true));
  agent.start();
  auto& desktop = machine.desktop();
  delegate().setInsomniaTimeInterval(3600);
  delegate().setInsomnia(true);
  struct Step {
    const char* what;
    bool external;
    bool paused;
  };
  const Step steps[] = {{"unplugged", false, true}, {"plugged in", true, false}, {"unplugged again", false, true}};
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    machine.advance(1min);
    power(step.external);
    EXPECT_TRUE(delegate().hasInsomnia()) << "a pause is no stop";
    EXPECT_EQ(delegate().insomniaPaused(), step.paused);
    EXPECT_EQ(desktop.requestIdleSleep(), step.paused) << "the veto follows";
    EXPECT_EQ(desktop.lidClosedHoldTaken(), !step.paused) << "the lid lock follows";
    EXPECT_EQ(desktop.presenceWatchers(), step.paused ? 0u : 2u) << "and the watch on the user's presence";
    EXPECT_EQ(agent.item.image(), step.paused ? kHibernateSleepImage : kInsomniaImage);
    EXPECT_EQ(delegate().insomniaString().find(" (paused on battery)") != std::string::npos, step.paused);
  }
  const auto reports = desktop.activityReports().size();
  machine.advance(10min);
  EXPECT_EQ(desktop.activityReports().size(), reports) << "paused: no activity reports";
  // A paused Insomnia still ends on time, and the user can stop it.
  machine.advance(50min);
  EXPECT_FALSE(delegate().hasInsomnia());
  power(true);
  EXPECT_FALSE(delegate().hasInsomnia()) << "external power resumes, never starts";
  EXPECT_FALSE(desktop.lidClosedHoldTaken());
}

TEST_F(InsomniaRuleTest, StartingOnBatteryWithThePauseRuleHoldsNothing) {
  setting(kS_SomnaraUserDefaultsInsomniaOnlyOnExternalPower, Value(true));
  machine.state().setOnExternalPower(false);
  charge(5);
  agent.start();
  delegate().setInsomnia(true);
  EXPECT_TRUE(delegate().insomniaPaused());
  auto starts = [this] {
    const auto& calls = machine.desktop().driverCalls();
    return std::count(calls.begin(), calls.end(), host::InsomniaDriver::kStart);
  };
  EXPECT_EQ(starts(), 0) << "no lid lock taken";
  EXPECT_TRUE(machine.desktop().requestIdleSleep()) << "no veto held";
  EXPECT_EQ(delegate().insomniaString(), "Stop Insomnia (paused on battery) (using plugin)");
  EXPECT_TRUE(machine.desktop().notices().empty()) << "the floor does not apply to a paused Insomnia";
  power(true);
  EXPECT_EQ(starts(), 1);
  EXPECT_TRUE(machine.desktop().lidClosedHoldTaken());
}

TEST_F(InsomniaRuleTest, ExternalPowerComingStartsInsomniaWhichTheUserCanStop) {
  setting(kS_SomnaraUserDefaultsInsomniaStartOnExternalPower, Value(true));
  machine.state().setOnExternalPower(true);
  agent.start();
  EXPECT_FALSE(delegate().hasInsomnia()) << "being on external power at start is no coming";
  struct Step {
    bool external;
    bool userStops;  // after the change
    bool on;         // after the change (and the stop)
  };
  const Step steps[] = {{false, false, false}, {true, false, true},  {true, true, false},
                        {false, false, false}, {true, false, true}, {false, false, true}};
  int i = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(i++);
    machine.advance(1min);
    power(step.external);
    if (step.userStops) delegate().toggleInsomnia();
    EXPECT_EQ(delegate().hasInsomnia(), step.on);
  }
  EXPECT_EQ(agent.logCount(kRules, "Insomnia started: external power came"), 2);
}

TEST_F(InsomniaRuleTest, ALockedSessionStopsInsomniaOnlyWithTheRule) {
  agent.start();
  auto& desktop = machine.desktop();
  delegate().setInsomnia(true);
  desktop.setSessionLocked(true);
  machine.runPending();
  EXPECT_TRUE(delegate().hasInsomnia()) << "without the rule";
  desktop.setSessionLocked(false);

  setting(kS_SomnaraUserDefaultsInsomniaStopWhenLocked, Value(true));
  EXPECT_EQ(desktop.sessionLockObservers(), 1u);
  desktop.setSessionLocked(true);
  machine.runPending();
  EXPECT_FALSE(delegate().hasInsomnia());
  EXPECT_EQ(desktop.sessionLockObservers(), 0u) << "not watched while off";
  EXPECT_EQ(agent.logCount(kRules, "Insomnia stopped: the session is locked"), 1);

  // Started while locked (external power coming under the lock screen), it stops at once.
  delegate().setInsomnia(true);
  EXPECT_FALSE(delegate().hasInsomnia());
  desktop.setSessionLocked(std::nullopt);
  delegate().setInsomnia(true);
  EXPECT_TRUE(delegate().hasInsomnia()) << "a lock that cannot be told stops nothing";
}

// No new wakeups while Insomnia is off: nothing watched unless the start rule needs the power sources.
TEST_F(InsomniaRuleTest, NothingIsWatchedWhileOffExceptForTheStartRule) {
  setting(kS_SomnaraUserDefaultsInsomniaStopWhenLocked, Value(true));
  agent.start();
  const auto& rules = delegate().insomniaRules();
  const auto baseline = agent.program.powerSources().observerCount();
  EXPECT_FALSE(rules.watchingPowerSources());
  EXPECT_FALSE(rules.watchingSessionLock());
  delegate().setInsomnia(true);
  EXPECT_TRUE(rules.watchingPowerSources()) << "the default floor";
  EXPECT_TRUE(rules.watchingSessionLock());
  EXPECT_EQ(agent.program.powerSources().observerCount(), baseline + 1);
  delegate().setInsomnia(false);
  EXPECT_EQ(agent.program.powerSources().observerCount(), baseline);
  EXPECT_EQ(machine.desktop().sessionLockObservers(), 0u);
  setting(kS_SomnaraUserDefaultsInsomniaStartOnExternalPower, Value(true));
  EXPECT_TRUE(rules.watchingPowerSources());
  EXPECT_FALSE(rules.watchingSessionLock());
}

}  // namespace
}  // namespace somnara::sim::testing
