// The daemon on machines that cannot do every kind of sleep: the mode it
// applies, how it retries what cannot succeed, and what it says.
#include "SimControllerSupport.h"

namespace somnara::sim::testing {
namespace {

using powertool::SleepAbility;
using powertool::SleepBlocker;
using powertool::SleepCapabilities;

const SleepCapabilities kHibernateOnly{{SleepBlocker::NotOffered}, SleepAbility::yes(), SleepAbility::yes()};

constexpr const char* kCapabilities = "-[SomnaraDaemon sleepCapabilities]";

// Capability × mode × battery → the hibernatemode in force: suspend (0) stands in for what cannot work.
TEST(SleepCapability, TheDaemonAppliesTheClosestModeTheMachineCanDo) {
  const struct {
    const char* name;
    SleepCapabilities caps;
    std::int64_t mode;
    int percent;  // battery charge, with 60 minutes left per 20 %
    std::int64_t applied;
  } cases[] = {
      {"every kind, hibernate", kEvery, 3, 80, 1}, {"every kind, sleep and hibernate", kEvery, 4, 80, 3},
      {"every kind, adaptive at 15 %", kEvery, 1, 15, 3}, {"every kind, adaptive at 3 %", kEvery, 1, 3, 1},
      {"every kind, system default saved 25", kEvery, 0, 80, 25}, {"no swap, sleep", kNoSwap, 2, 80, 0},
      {"no swap, hibernate", kNoSwap, 3, 80, 0}, {"no swap, sleep and hibernate", kNoSwap, 4, 80, 0},
      {"no swap, adaptive at 80 %", kNoSwap, 1, 80, 0}, {"no swap, adaptive at 15 %", kNoSwap, 1, 15, 0},
      {"no swap, adaptive at 3 %", kNoSwap, 1, 3, 0}, {"no swap, system default saved 25", kNoSwap, 0, 80, 0},
      {"no hybrid, sleep and hibernate", kNoHybrid, 4, 80, 0}, {"no hybrid, hibernate", kNoHybrid, 3, 80, 1},
      {"no hybrid, adaptive at 3 %", kNoHybrid, 1, 3, 1}, {"hibernate only, hibernate", kHibernateOnly, 3, 80, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    m.state().setSleepCapabilities(c.caps);
    m.state().setBattery(c.percent, c.percent * 3);
    m.state().saveHibernateMode(25);
    m.defaults().write(kApp, "somnaramodeindex", Value(c.mode));
    SimProgram& daemon = startDaemon(m);
    m.advance(10s);
    EXPECT_EQ(hibernateMode(m), c.applied);
    EXPECT_EQ(countLog(daemon, kPmset, "Can't set next sleep state", true), 0) << "the power tool never refused";
  }
}

// Swap going and coming is followed at the next tick (at once on a wake) and logged once.
TEST(SleepCapability, AChangeIsFollowedAndLoggedOnce) {
  SimMachine m;
  m.defaults().write(kApp, "somnaramodeindex", Value(3));
  SimProgram& daemon = startDaemon(m);
  m.advance(1s);
  ASSERT_EQ(hibernateMode(m), 1);
  EXPECT_EQ(countLog(daemon, kCapabilities, "", true), 0) << "a machine that can do everything is not remarked on";

  m.state().setSleepCapabilities(kNoSwap);
  m.advance(1min);
  EXPECT_EQ(hibernateMode(m), 0);
  EXPECT_EQ(countLog(daemon, kCapabilities,
                     "Sleep support: suspend yes, hibernate no (no swap space), hybrid sleep no (no swap space)"),
            1);

  m.state().setSleepCapabilities(kEvery);
  m.sleep();
  const int reads = m.state().sleepCapabilityReads();
  m.wake();
  m.runPending();
  EXPECT_GT(m.state().sleepCapabilityReads(), reads);
  EXPECT_EQ(hibernateMode(m), 1) << "applied on the wake itself";
  EXPECT_EQ(countLog(daemon, kCapabilities, "Sleep support: suspend yes, hibernate yes, hybrid sleep yes"), 1);
}

// A machine that cannot sleep: said once, no tool run, however long the daemon runs.
TEST(SleepCapability, AMachineWithoutSleepIsSaidOnceAndLeftAlone) {
  SimMachine m;
  m.state().setSleepCapabilities(kNone);
  m.defaults().write(kApp, "somnaramodeindex", Value(4));
  SimProgram& daemon = startDaemon(m);
  m.advance(24h);
  EXPECT_EQ(m.tools().runCount(kHelper), 0);
  ASSERT_EQ(daemon.logger().logLines().size(), 1u);
  EXPECT_TRUE(isLogLine(daemon.logger().logLines()[0], kCapabilities, "This machine can't sleep: not offered by the kernel"));
  EXPECT_LT(m.state().sleepCapabilityReads(), 24 * 60 / 5 + 50) << "looked at no more than about every 5 minutes";
}

// A failing application is retried after 3 s, 6 s, … up to 5 min, each streak logged once; a new
// state is tried at once.
TEST(SleepCapability, AFailingApplicationBacksOffAndLogsEachCauseOnce) {
  SimMachine m;
  m.tools().setScript(kHelper, SimToolRunner::Script::exit(2));
  m.defaults().write(kApp, "somnaramodeindex", Value(2));
  SimProgram& daemon = startDaemon(m);
  m.advance(1h);
  const int runs = m.tools().runCount(kHelper);
  // Pauses 3, 6, …, 192, then 300 s: 8 tries in the first 381 s, then 12 an hour.
  EXPECT_GE(runs, 15);
  EXPECT_LE(runs, 25);
  EXPECT_EQ(countLog(daemon, kPmset, "Can't set next sleep state: 2"), 1);

  m.tools().clearScript(kHelper);
  m.advance(5min);
  EXPECT_EQ(hibernateMode(m), 0);

  m.tools().setScript(kHelper, SimToolRunner::Script::exit(2));
  m.state().setHibernateMode(host::HibernateModeReading::of(3));
  m.advance(10s);
  EXPECT_EQ(countLog(daemon, kPmset, "Can't set next sleep state: 2"), 2) << "a new streak logs again";

  m.advance(10min);
  m.tools().clearScript(kHelper);
  m.defaults().write(kApp, "somnaramodeindex", Value(3));
  m.advance(2s);
  EXPECT_EQ(hibernateMode(m), 1) << "another state is tried at once, whatever the pause";
}

// A busy power tool (exit 5) or a mode out of step with systemd's drop-in is applied again.
TEST(SleepCapability, ABusyToolOrAModeOutOfStepIsAppliedAgain) {
  {
    SimMachine m;
    m.tools().setScript(kHelper, SimToolRunner::Script::exit(5));
    m.defaults().write(kApp, "somnaramodeindex", Value(2));
    SimProgram& daemon = startDaemon(m);
    m.advance(10s);
    EXPECT_EQ(hibernateMode(m), 3) << "the machine's own mode";
    m.tools().clearScript(kHelper);
    m.advance(15s);  // within the pause after three failures
    EXPECT_EQ(hibernateMode(m), 0);
    EXPECT_EQ(countLog(daemon, kPmset, "Can't set next sleep state: 5"), 1);
  }
  {
    SimMachine m;
    m.defaults().write(kApp, "somnaramodeindex", Value(2));
    startDaemon(m);
    m.advance(2s);
    ASSERT_EQ(hibernateMode(m), 0);
    const int runs = m.tools().runCount(kHelper);
    m.state().setHibernateMode(host::HibernateModeReading::none(host::HibernateModeReading::Absence::OutOfStep));
    m.advance(5min);
    EXPECT_EQ(hibernateMode(m), 0);
    EXPECT_EQ(m.tools().runCount(kHelper), runs + 1);
  }
}

}  // namespace
}  // namespace somnara::sim::testing
