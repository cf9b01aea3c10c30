// Insomnia: start and stop, length, end, titles, keep-awake tick, idle-sleep
// veto and the lid-closed service.
#include "MenuBarAgentSupport.h"

namespace somnara::sim::testing {
namespace {

using Activity = host::SystemPower::Activity;
constexpr const char* kCheck = "-[MenuBarAppDelegate checkForInsomniaPlugin]";

class InsomniaTest : public ::testing::Test {
 protected:
  void SetUp() override { agent.start(); }
  double now() { return agent.program.loop().now(); }
  MenuBarAppDelegate& delegate() { return agent.delegate; }

  SimMachine machine;
  Agent agent{machine};
};

TEST_F(InsomniaTest, TimedInsomniaEndsAtTheFirstTickAfterItsEnd) {
  delegate().setInsomniaTimeInterval(60);
  delegate().setInsomnia(true);
  const auto start = machine.elapsed();
  // The remaining time is below a minute from the start until the stopping tick.
  const std::vector<std::pair<std::chrono::milliseconds, bool>> script{
      {1ms, true}, {28s, true}, {29s, true}, {58s, true}, {61s, true}, {86s, true}, {87s, false}};
  for (const auto& [at, running] : script) {
    machine.advance(start + at - machine.elapsed());
    EXPECT_EQ(delegate().hasInsomnia(), running) << at.count();
    EXPECT_EQ(delegate().insomniaString(),
              running ? "Stop Insomnia (less than a minute remaining)" : "Start Insomnia")
        << at.count();
  }
  EXPECT_EQ(delegate().insomniaEndDate(), std::nullopt);
  EXPECT_EQ(machine.desktop().activityReports().size(), 3u) << "ticks at 29, 58 and 87 s";
  EXPECT_EQ(agent.item.image(), kHibernateSleepImage);
}

struct LengthCase {
  double length;
  bool endAtStart;       // starting with this length sets an end
  bool endWhileRunning;  // setting it while running sets an end
  const char* lengthText;
};

class LengthTable : public InsomniaTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(LengthTable, LengthsBelowOneHaveNoEndAndExactlyOneDiffersBetweenStartAndRunning) {
  const auto& c = GetParam();
  delegate().setInsomniaTimeInterval(c.length);
  EXPECT_EQ(delegate().insomniaLengthString(), c.lengthText);
  EXPECT_EQ(agent.program.defaults().value("insomniatime"), Value(c.length));
  delegate().setInsomnia(true);
  EXPECT_EQ(delegate().insomniaEndDate(), c.endAtStart ? std::optional<double>(now() + c.length) : std::nullopt);

  delegate().setInsomniaTimeInterval(3600);
  machine.advance(10s);
  delegate().setInsomniaTimeInterval(c.length);
  EXPECT_EQ(delegate().insomniaEndDate(),
            c.endWhileRunning ? std::optional<double>(now() + c.length) : std::nullopt);
  EXPECT_TRUE(delegate().hasInsomnia()) << "a new length never stops Insomnia";
}

INSTANTIATE_TEST_SUITE_P(Lengths, LengthTable,
                         ::testing::Values(LengthCase{0, false, false, "Insomnia length (forever)"},
                                           LengthCase{0.5, false, false, "Insomnia length (forever)"},
                                           LengthCase{1.0, true, false, "Insomnia length (1.00 seconds)"},
                                           LengthCase{1.5, true, true, "Insomnia length (1.50 seconds)"},
                                           LengthCase{3600, true, true, "Insomnia length (60.00 minutes)"}));

TEST_F(InsomniaTest, ALengthOfOneSecondStopsAtTheFirstTick) {
  delegate().setInsomniaTimeInterval(1.0);
  delegate().setInsomnia(true);
  machine.advance(28s);
  EXPECT_TRUE(delegate().hasInsomnia());
  machine.advance(1s);
  EXPECT_FALSE(delegate().hasInsomnia());
}

TEST_F(InsomniaTest, ZeroRunsUntilStopped) {
  delegate().setInsomniaTimeInterval(0);
  delegate().setInsomnia(true);
  machine.advance(std::chrono::hours(30));
  EXPECT_TRUE(delegate().hasInsomnia());
  EXPECT_EQ(delegate().insomniaString(), "Stop Insomnia");
  delegate().toggleInsomnia();
  EXPECT_FALSE(delegate().hasInsomnia());
}

TEST_F(InsomniaTest, PresetsStartOrMoveTheEndAndTheSliderNeverStartsOrStops) {
  DelegateNotices running(delegate(), MenuBarAppDelegate::kProperty_insomnia);
  DelegateNotices titles(delegate(), MenuBarAppDelegate::kProperty_insomniaString);
  DelegateNotices lengths(delegate(), MenuBarAppDelegate::kProperty_insomniaLengthString);

  agent.program.defaults().setValue("insomniaslidervalue", Value(1800.0));
  machine.runPending();
  EXPECT_EQ(delegate().insomniaTimeInterval(), 1800.0);
  EXPECT_FALSE(delegate().hasInsomnia()) << "the slider does not start Insomnia";
  EXPECT_EQ(lengths.take(), 1);

  delegate().takeInsomniaLengthFromSender(7200);
  ASSERT_TRUE(delegate().hasInsomnia()) << "a preset starts Insomnia";
  EXPECT_EQ(delegate().insomniaEndDate(), now() + 7200);
  EXPECT_EQ(running.take(), 1);
  machine.advance(1s);
  EXPECT_EQ(delegate().insomniaString(), "Stop Insomnia (stops in 119.98 minutes)");

  machine.advance(100s);
  delegate().takeInsomniaLengthFromSender(900);
  EXPECT_EQ(delegate().insomniaEndDate(), now() + 900) << "a preset moves the end from now";
  EXPECT_EQ(running.take(), 0) << "and does not restart";
  EXPECT_GE(titles.take(), 1);

  agent.program.defaults().setValue("insomniaslidervalue", Value(0.0));
  machine.runPending();
  EXPECT_TRUE(delegate().hasInsomnia()) << "the slider does not stop Insomnia";
  EXPECT_EQ(delegate().insomniaEndDate(), std::nullopt);
  EXPECT_EQ(agent.program.defaults().value("insomniatime"), Value(0.0));

  delegate().takeInsomniaLengthFromSender(0);
  EXPECT_TRUE(delegate().hasInsomnia());
  EXPECT_EQ(running.take(), 0);
}

// The store tells of changed values only: a slider length the setting holds
// already must take effect all the same.
TEST_F(InsomniaTest, EverySliderLengthTakesEffectAlsoOneTheSettingHoldsAlready) {
  DelegateNotices lengths(delegate(), MenuBarAppDelegate::kProperty_insomniaLengthString);
  struct Step {
    bool slider;  // false: a preset
    double seconds;
    const char* title;
  };
  const Step steps[] = {
      {true, 1800, "Insomnia length (30.00 minutes)"}, {false, 14400, "Insomnia length (4.00 hours)"},
      {true, 1800, "Insomnia length (30.00 minutes)"}, {false, 0, "Insomnia length (forever)"},
      {true, 1800, "Insomnia length (30.00 minutes)"}, {true, 1800, "Insomnia length (30.00 minutes)"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.slider ? "slider " : "preset ") + std::to_string(step.seconds));
    if (step.slider)
      delegate().takeInsomniaSliderValue(step.seconds);
    else
      delegate().takeInsomniaLengthFromSender(static_cast<std::int64_t>(step.seconds));
    machine.runPending();
    EXPECT_EQ(delegate().insomniaLengthString(), step.title);
    EXPECT_EQ(agent.program.defaults().value("insomniatime"), Value(step.seconds));
    EXPECT_EQ(lengths.take(), 1) << "one notice for the menu and the sliders";
  }
  EXPECT_EQ(agent.program.defaults().value("insomniaslidervalue"), Value(1800.0));
}

// A lock the service refuses (or a service out of reach) is told to the
// user with its reason; a machine without the service has nothing to tell.
TEST_F(InsomniaTest, AFailedLidLockBecomesANoticeWithItsReason) {
  struct Case {
    const char* name;
    std::optional<std::size_t> services;
    bool refuses;
    const char* reason;  // the service's own
    std::vector<std::string> notices;  // bodies
  };
  const Case cases[] = {
      {"granted", 1, false, "", {}},
      {"refused with a reason", 1, true, "Permission denied", {"The lid switch lock failed: Permission denied"}},
      {"refused without one", 1, true, "", {"The lid switch lock failed: the service refused it"}},
      {"out of reach", std::nullopt, false, "", {"The lid switch lock failed: the service can't be reached"}},
      {"no such service", 0, false, "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine m;
    Agent a{m};
    m.desktop().setDriverServices(c.services);
    m.desktop().setDriverRefusesOpen(0, c.refuses);
    m.desktop().setDriverFailureReason(c.reason);
    a.start();
    a.delegate.setInsomnia(true);
    EXPECT_TRUE(a.delegate.hasInsomnia()) << "Insomnia runs on without the lock";
    std::vector<std::string> bodies;
    for (const auto& notice : m.desktop().notices()) {
      EXPECT_EQ(notice.summary, "Insomnia can't keep a closed laptop awake");
      bodies.push_back(notice.body);
    }
    EXPECT_EQ(bodies, c.notices);
  }
}

TEST_F(InsomniaTest, IdleSleepIsVetoedWhileOnAndAUserSleepAlwaysGoes) {
  auto& desktop = machine.desktop();
  EXPECT_TRUE(desktop.requestIdleSleep()) << "off: idle sleep is allowed";
  delegate().setInsomnia(true);
  EXPECT_FALSE(desktop.requestIdleSleep()) << "on: idle sleep is vetoed";
  machine.advance(5min);
  EXPECT_FALSE(desktop.requestIdleSleep());
  desktop.requestUserSleep();
  EXPECT_EQ(desktop.sleeps().size(), 2u) << "a sleep the user asks for goes ahead at once";
  delegate().setInsomnia(false);
  EXPECT_TRUE(desktop.requestIdleSleep());
}

TEST_F(InsomniaTest, QuittingTheAgentReleasesTheVetoAndTheLidHold) {
  machine.desktop().setDriverServices(1);
  delegate().setInsomnia(true);
  EXPECT_EQ(machine.desktop().idleSleepVetoes(), 1);
  EXPECT_TRUE(machine.desktop().lidClosedHoldTaken());
  {
    Agent second(machine);
    second.start();
    second.delegate.setInsomnia(true);
    EXPECT_EQ(machine.desktop().idleSleepVetoes(), 2);
  }
  EXPECT_EQ(machine.desktop().idleSleepVetoes(), 1) << "an ended agent holds nothing";
  EXPECT_TRUE(machine.desktop().lidClosedHoldTaken());
}

struct TickCase {
  bool displayAsleep;
  bool screenSaver;
  bool registered;
  std::optional<Activity> report;
};

class TickTable : public ::testing::TestWithParam<TickCase> {};

TEST_P(TickTable, ReportsActivityOnlyForAUserAtTheMachineOrWithoutTheVeto) {
  SimMachine machine;
  machine.desktop().setPowerManagementReachable(GetParam().registered);
  Agent agent(machine);
  agent.start();
  machine.desktop().setMainDisplayAsleep(GetParam().displayAsleep);
  machine.desktop().setScreenSaverActive(GetParam().screenSaver);
  agent.delegate.setInsomnia(true);
  machine.advance(29s);
  const auto& reports = machine.desktop().activityReports();
  if (!GetParam().report) {
    EXPECT_TRUE(reports.empty());
    return;
  }
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].activity, *GetParam().report);
  EXPECT_EQ(reports[0].at, machine.elapsed());
}

INSTANTIATE_TEST_SUITE_P(Presence, TickTable,
                         ::testing::Values(TickCase{false, false, true, Activity::Overall},
                                           TickCase{false, false, false, Activity::Overall},
                                           TickCase{true, false, true, std::nullopt},
                                           TickCase{false, true, true, std::nullopt},
                                           TickCase{true, true, true, std::nullopt},
                                           TickCase{true, false, false, Activity::Idle},
                                           TickCase{false, true, false, Activity::Idle}));

// The tick's one call is the activity report: the display's and the screen
// saver's states come from their change notices, read once at the start,
// and are read at each tick only where the desktop sends no notices.
struct PresenceCase {
  const char* name;
  bool displayObservable;
  bool screenSaverObservable;
  int readsAtTicks;  // over the six ticks below: what sends no notices is read
};

void PrintTo(const PresenceCase& c, std::ostream* os) { *os << c.name; }

class PresenceTable : public ::testing::TestWithParam<PresenceCase> {};

TEST_P(PresenceTable, EachTickMakesOneReportFollowingTheNoticesAndNothingIsWatchedWhileOff) {
  const auto& c = GetParam();
  SimMachine machine;
  auto& desktop = machine.desktop();
  desktop.setMainDisplayObservable(c.displayObservable);
  desktop.setScreenSaverObservable(c.screenSaverObservable);
  Agent agent(machine);
  agent.start();
  const std::size_t watched = (c.displayObservable ? 1 : 0) + (c.screenSaverObservable ? 1 : 0);

  desktop.setScreenSaverActive(true);
  desktop.setScreenSaverActive(false);
  machine.advance(5min);
  EXPECT_EQ(desktop.presenceWatchers(), 0u) << "off: nothing watched";
  EXPECT_EQ(desktop.presenceReads(), 0) << "off: nothing read";

  agent.delegate.setInsomnia(true);
  EXPECT_EQ(desktop.presenceWatchers(), watched);
  const int startReads = desktop.presenceReads();
  EXPECT_EQ(startReads, static_cast<int>(watched)) << "each watched state is read once, at the start";

  struct Step {
    bool displayAsleep;
    bool screenSaver;
    bool reported;
  };
  const Step steps[] = {{false, false, true}, {false, true, false}, {true, true, false},
                        {true, false, false}, {false, false, true}, {false, false, true}};
  std::size_t reports = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(::testing::Message() << "display asleep " << step.displayAsleep << ", screen saver "
                                      << step.screenSaver);
    desktop.setMainDisplayAsleep(step.displayAsleep);
    desktop.setScreenSaverActive(step.screenSaver);
    machine.advance(29s);
    reports += step.reported ? 1 : 0;
    ASSERT_EQ(desktop.activityReports().size(), reports) << "one report per tick, only for a present user";
    if (step.reported) {
      EXPECT_EQ(desktop.activityReports().back().activity, Activity::Overall);
    }
  }
  EXPECT_EQ(desktop.presenceReads() - startReads, c.readsAtTicks);

  agent.delegate.setInsomnia(false);
  EXPECT_EQ(desktop.presenceWatchers(), 0u) << "stopped: nothing watched";
  const int readsAtStop = desktop.presenceReads();
  desktop.setMainDisplayAsleep(true);
  machine.advance(5min);
  EXPECT_EQ(desktop.presenceReads(), readsAtStop);
  EXPECT_EQ(desktop.activityReports().size(), reports);
}

INSTANTIATE_TEST_SUITE_P(Notices, PresenceTable,
                         // The screen saver is not asked while the display sleeps (two of the ticks).
                         ::testing::Values(PresenceCase{"both watched", true, true, 0},
                                           PresenceCase{"display read", false, true, 6},
                                           PresenceCase{"screen saver read", true, false, 4},
                                           PresenceCase{"both read", false, false, 10}));

TEST_F(InsomniaTest, TheWatchEndsWithATimedInsomniaAndARestartReadsAfresh) {
  auto& desktop = machine.desktop();
  delegate().setInsomniaTimeInterval(60);
  delegate().setInsomnia(true);
  desktop.setScreenSaverActive(true);
  machine.runPending();
  delegate().setInsomnia(true);
  EXPECT_EQ(desktop.presenceWatchers(), 2u) << "a restart keeps one watch each";
  EXPECT_EQ(desktop.presenceReads(), 4);
  machine.advance(87s);
  EXPECT_FALSE(delegate().hasInsomnia());
  EXPECT_EQ(desktop.presenceWatchers(), 0u);
  EXPECT_TRUE(desktop.activityReports().empty()) << "the screen saver was in front at every tick";
}

TEST_F(InsomniaTest, TheDriverIsCalledOnEveryStartAndStopAndShownInTheTitle) {
  auto& desktop = machine.desktop();
  delegate().setInsomnia(false);
  EXPECT_TRUE(desktop.driverCalls().empty()) << "no driver installed: nothing to call";
  EXPECT_EQ(agent.logCount(kCheck, "Found Insomnnia plugin driver"), 1) << "the look succeeds with none found";

  desktop.setDriverServices(2);
  desktop.setDriverRefusesOpen(0, true);
  delegate().setInsomnia(false);
  EXPECT_EQ(agent.logCount(kCheck, "Weird result connecting to plugin"), 1);
  EXPECT_EQ(agent.logCount(kCheck, "Connected to insomnia plugin"), 1);
  EXPECT_EQ(desktop.driverCalls(), std::vector<std::uint32_t>{3}) << "stopping while off still sends mode 3";
  EXPECT_EQ(desktop.openDriverConnections(), 1);

  delegate().setInsomnia(true);
  EXPECT_TRUE(desktop.lidClosedHoldTaken());
  EXPECT_EQ(delegate().insomniaString(), "Stop Insomnia (using plugin)");
  delegate().setInsomnia(true);
  EXPECT_EQ(desktop.driverCalls(), (std::vector<std::uint32_t>{3, 2, 2})) << "a restart sends mode 2 again";
  delegate().toggleInsomnia();
  EXPECT_FALSE(desktop.lidClosedHoldTaken());
  EXPECT_EQ(agent.logCount(kCheck, "Found Insomnnia plugin driver"), 2) << "no look once connected";
  EXPECT_EQ(desktop.openDriverConnections(), 1);
}

TEST_F(InsomniaTest, AFailedLookLeavesNoConnectionAndLogsNothing) {
  machine.desktop().setDriverServices(std::nullopt);
  EXPECT_FALSE(delegate().callInsomniaPluginWithMode(2));
  EXPECT_EQ(agent.logCount(kCheck, "Found Insomnnia plugin driver"), 0);
  EXPECT_FALSE(delegate().hasInsomniaPlugin());
}

struct SoundCase {
  std::optional<Value> file;    // "insomniasoundfile"
  std::optional<Value> volume;  // "soundvolume"
  bool bundleSound;             // the bundle holds "Insomnia.wav"
  std::optional<std::string> loaded;
  float expectedVolume;
};

class SoundTable : public ::testing::TestWithParam<SoundCase> {};

TEST_P(SoundTable, TheSoundComesFromTheSettingOrTheBundle) {
  SimMachine machine;
  machine.desktop().addSoundFile("/home/u/chime.wav");
  Agent agent(machine);
  if (GetParam().bundleSound) agent.program.workspace().addResource("Insomnia.wav");
  if (GetParam().file) agent.program.defaults().setValue("insomniasoundfile", *GetParam().file);
  if (GetParam().volume) agent.program.defaults().setValue("soundvolume", *GetParam().volume);
  agent.start();
  auto* sound = agent.delegate.insomniaSound();
  ASSERT_EQ(sound != nullptr, GetParam().loaded.has_value());
  if (!sound) return;
  EXPECT_FLOAT_EQ(sound->volume(), GetParam().expectedVolume);
  sound->play();
  ASSERT_EQ(machine.desktop().plays().size(), 1u);
  EXPECT_EQ(machine.desktop().plays()[0].sound, *GetParam().loaded);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, SoundTable,
    ::testing::Values(SoundCase{std::nullopt, std::nullopt, true, "Insomnia", 0.2f},
                      SoundCase{std::nullopt, Value(0.0), true, "Insomnia", 0.0f},
                      SoundCase{std::nullopt, Value(0.7), true, "Insomnia", 0.7f},
                      SoundCase{std::nullopt, Value(4.0), true, "Insomnia", 1.0f},
                      // A string reads as its leading number; without one, as 0 (silence).
                      SoundCase{std::nullopt, Value("0.7"), true, "Insomnia", 0.7f},
                      SoundCase{std::nullopt, Value("loud"), true, "Insomnia", 0.0f},
                      SoundCase{std::nullopt, std::nullopt, false, std::nullopt, 0},
                      SoundCase{Value("/home/u/chime.wav"), std::nullopt, true, "/home/u/chime.wav", 0.2f},
                      // A set file that cannot be read gives no sound; the bundle's is not used then.
                      SoundCase{Value("/home/u/missing.wav"), std::nullopt, true, std::nullopt, 0},
                      SoundCase{Value(12), std::nullopt, true, std::nullopt, 0}));

}  // namespace
}  // namespace somnara::sim::testing
