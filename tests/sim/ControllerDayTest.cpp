// A whole day of the daemon in adaptive mode: discharging, charging, sleep
// and wake, session switches, and termination at the end.
#include <gtest/gtest.h>

#include <chrono>

#include "SimControllerSupport.h"

namespace somnara::sim::testing {
namespace {

constexpr std::int64_t kSystemDefault = 3;  // the saved mode of a fresh machine
constexpr int kHour = 3600;

/// What the adaptive mode should write for a battery reading (hibernate
/// level 20, older system, so hibernate is written as 1).
std::int64_t adaptiveMode(int charge, int minutes) {
  const int level = charge < minutes ? (charge > 0 ? charge : minutes) : (minutes > 0 ? minutes : charge);
  if (level <= 4) return 1;
  return level > 20 ? 0 : 3;
}

struct Battery {
  bool onCharger;
  int charge;
  int minutes;
};

/// The day's battery at second s: on the charger until 1 h, discharging to
/// empty by 9 h (the estimate missing right after unplugging and a heavy
/// load from 6 h to 7 h), flat until 9:30, then charging back to full by 12:30.
Battery batteryAt(int s) {
  if (s < kHour) return {true, 100, -1};
  if (s < 9 * kHour + kHour / 2) {
    const int charge = std::max(0, 100 - (s - kHour) / 288);
    if (s < kHour + 120) return {false, charge, -1};
    const bool heavyLoad = s >= 6 * kHour && s < 7 * kHour;
    return {false, charge, heavyLoad ? charge / 2 : charge * 3 / 2 - 2};
  }
  return {true, std::min(100, (s - 9 * kHour - kHour / 2) / 108), -1};
}

TEST(ControllerDay, AdaptiveModeFollowsTheBatteryForADayAndHandsBackTheSystemDefault) {
  SimMachine machine;
  machine.defaults().write(kApp, "somnaramodeindex", Value(1));
  SimProgram& daemon = machine.addProgram(kDaemon);
  SomnaraDaemon& controller = controllerOf(daemon);
  ASSERT_TRUE(controller.registeredForPowerChanges());

  // Every distinct value the machine should pass through; each costs one helper run.
  int expectedRuns = 0;
  std::int64_t target = kSystemDefault;
  auto aimAt = [&](std::int64_t value) {
    if (value != target) ++expectedRuns;
    target = value;
  };

  std::int64_t wanted = adaptiveMode(100, -1);
  aimAt(wanted);
  int lastChange = 0;  // second of the last change of what the machine should hold
  int resets = 0;
  int late = 0, firstLate = -1;
  Battery last = batteryAt(0);

  for (int s = 1; s <= 24 * kHour; ++s) {
    const Battery b = batteryAt(s);
    if (b.onCharger != last.onCharger || b.charge != last.charge || b.minutes != last.minutes) {
      machine.state().setOnExternalPower(b.onCharger);
      machine.state().setBattery(b.charge, b.minutes);
      last = b;
    }

    if (s == 3 * kHour || s == 20 * kHour) machine.sleep();
    if (s == 3 * kHour + 1800 || s == 23 * kHour) machine.wake();
    if (s == 5 * kHour || s == 11 * kHour) {
      machine.resignSession();
      ++resets;
      EXPECT_EQ(hibernateMode(machine), kSystemDefault) << "right after the session resigned at " << s;
      aimAt(kSystemDefault);
      lastChange = s;
    }
    if (s == 5 * kHour + 600 || s == 11 * kHour + 300) machine.activateSession();

    machine.advance(1s);

    const std::int64_t now = adaptiveMode(b.charge, b.minutes);
    if (now != wanted) {
      wanted = now;
      lastChange = s;
    }
    aimAt(wanted);
    if (s - lastChange >= 3 && hibernateMode(machine) != wanted) {
      if (firstLate < 0) firstLate = s;
      ++late;
    }
  }
  EXPECT_EQ(late, 0) << "the policy value did not hold, first at second " << firstLate;

  daemon.terminate();
  EXPECT_EQ(hibernateMode(machine), kSystemDefault);
  aimAt(kSystemDefault);
  machine.advance(10s);
  EXPECT_EQ(hibernateMode(machine), kSystemDefault) << "no policy after termination";

  // The day passes through sleep, sleep and hibernate and hibernate, both ways.
  EXPECT_GE(expectedRuns, 8);
  EXPECT_EQ(machine.tools().runCount(kHelper, kDaemon), expectedRuns);
  EXPECT_EQ(machine.state().hibernateModeWrites(), expectedRuns);
  const auto sent = postedTypes(machine, kDaemon);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), kMessageStateApplied), expectedRuns);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), kMessageResetToDefault), resets + 1);
  EXPECT_EQ(std::count(sent.begin(), sent.end(), kMessageWoke), 4);  // two wakes, two session activations
  EXPECT_TRUE(daemon.logger().logLines().empty());

}

}  // namespace
}  // namespace somnara::sim::testing
