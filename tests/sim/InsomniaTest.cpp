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

// A timed Insomnia ends at the first keep-awake tick (every 29 s) after its end.
TEST_F(InsomniaTest, TimedInsomniaEndsAtTheFirstTickAfterItsEnd) {
  delegate().setInsomniaTimeInterval(60);
  delegate().setInsomnia(true);
  const auto start = machine.elapsed();
  for (const auto& [at, running] : {std::pair{1ms, true}, {28s, true}, {29s, true}, {58s, true}, {61s, true},
                                    {86s, true}, {87s, false}}) {
    machine.advance(start + at - machine.elapsed());
    EXPECT_EQ(delegate().hasInsomnia(), running) << at.count();
    EXPECT_EQ(delegate().insomniaString(),
              running ? "Stop Insomnia (less than a minute remaining)" : "Start Insomnia")
        << at.count();
  }
  EXPECT_EQ(delegate().insomniaEndDate(), std::nullopt);
  EXPECT_EQ(machine.desktop().activityReports().size(), 3u) << "ticks at 29, 58 and 87 s";
  EXPECT_EQ(agent.item.image(), kHibernateSleepImage);

  delegate().setInsomniaTimeInterval(1.0);
  delegate().setInsomnia(true);
  machine.advance(28s);
  EXPECT_TRUE(delegate().hasInsomnia()) << "one second: up to the first tick";
  machine.advance(1s);
  EXPECT_FALSE(delegate().hasInsomnia());
}

// Below one second no end; exactly one sets an end at a start, not while running.
TEST_F(InsomniaTest, LengthsAndTheirEnds) {
  const struct {
    double length;
    bool endAtStart, endWhileRunning;
    const char* lengthText;
  } cases[] = {{0, false, false, "Insomnia length (forever)"},
               {0.5, false, false, "Insomnia length (forever)"},
               {1.0, true, false, "Insomnia length (1.00 seconds)"},
               {1.5, true, true, "Insomnia length (1.50 seconds)"},
               {3600, true, true, "Insomnia length (60.00 minutes)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    delegate().setInsomnia(false);
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
}

TEST_F(InsomniaTest, PresetsStartOrMoveTheEndAndTheSliderNeverStartsOrStops) {
  NoticeCounter running(delegate(), MenuBarAppDelegate::kProperty_insomnia);
  NoticeCounter titles(delegate(), MenuBarAppDelegate::kProperty_insomniaString);
  NoticeCounter lengths(delegate(), MenuBarAppDelegate::kProperty_insomniaLengthString);

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

// A slider length the setting holds already (the store tells of changes only) takes effect too.
TEST_F(InsomniaTest, EverySliderLengthTakesEffectAlsoOneTheSettingHoldsAlready) {
  NoticeCounter lengths(delegate(), MenuBarAppDelegate::kProperty_insomniaLengthString);
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

// A lid lock refused or out of reach becomes a notice with its reason.
TEST_F(InsomniaTest, AFailedLidLockBecomesANoticeWithItsReason) {
  const struct {
    const char* name;
    std::optional<std::size_t> services;
    bool refuses;
    const char* reason;  // the service's own
    std::vector<std::string> notices;  // bodies
  } cases[] = {
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

// Activity is reported for a user at the machine; without the veto, as idle otherwise.
TEST(InsomniaTick, ReportsActivityOnlyForAUserAtTheMachineOrWithoutTheVeto) {
  const struct {
    bool displayAsleep, screenSaver, registered;
    std::optional<Activity> report;
  } cases[] = {{false, false, true, Activity::Overall}, {false, false, false, Activity::Overall},
               {true, false, true, std::nullopt},       {false, true, true, std::nullopt},
               {true, true, true, std::nullopt},        {true, false, false, Activity::Idle},
               {false, true, false, Activity::Idle}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.displayAsleep << c.screenSaver << c.registered);
    SimMachine machine;
    machine.desktop().setPowerManagementReachable(c.registered);
    Agent agent(machine);
    agent.start();
    machine.desktop().setMainDisplayAsleep(c.displayAsleep);
    machine.desktop().setScreenSaverActive(c.screenSaver);
    agent.delegate.setInsomnia(true);
    machine.advance(29s);
    const auto& reports = machine.desktop().activityReports();
    ASSERT_EQ(reports.size(), c.report ? 1u : 0u);
    if (c.report) {
      EXPECT_EQ(reports[0].activity, *c.report);
      EXPECT_EQ(reports[0].at, machine.elapsed());
    }
  }
}

// Presence comes from change notices, read once at the start; read at each tick only without notices.
TEST(InsomniaTick, EachTickMakesOneReportFollowingTheNoticesAndNothingIsWatchedWhileOff) {
  const struct {
    const char* name;
    bool displayObservable, screenSaverObservable;
    int readsAtTicks;  // over the six ticks below; the screen saver is not asked while the display sleeps
  } cases[] = {{"both watched", true, true, 0}, {"display read", false, true, 6},
               {"screen saver read", true, false, 4}, {"both read", false, false, 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
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
    std::size_t reports = 0;
    for (const auto& [displayAsleep, screenSaver] :
         {std::pair{false, false}, {false, true}, {true, true}, {true, false}, {false, false}, {false, false}}) {
      desktop.setMainDisplayAsleep(displayAsleep);
      desktop.setScreenSaverActive(screenSaver);
      machine.advance(29s);
      reports += !displayAsleep && !screenSaver;
      ASSERT_EQ(desktop.activityReports().size(), reports) << "one report per tick, only for a present user";
      if (!displayAsleep && !screenSaver) {
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
}

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

// The set sound file, else the bundle's; the volume clamped to 0..1, a string read by its leading number.
TEST(InsomniaSound, ComesFromTheSettingOrTheBundle) {
  const struct {
    std::optional<Value> file, volume;  // "insomniasoundfile", "soundvolume"
    bool bundleSound;                   // the bundle holds "Insomnia.wav"
    std::optional<std::string> loaded;
    float expectedVolume;
  } cases[] = {
      {std::nullopt, std::nullopt, true, "Insomnia", 0.2f}, {std::nullopt, Value(0.0), true, "Insomnia", 0.0f},
      {std::nullopt, Value(0.7), true, "Insomnia", 0.7f}, {std::nullopt, Value(4.0), true, "Insomnia", 1.0f},
      {std::nullopt, Value("0.7"), true, "Insomnia", 0.7f}, {std::nullopt, Value("loud"), true, "Insomnia", 0.0f},
      {std::nullopt, std::nullopt, false, std::nullopt, 0},
      {Value("/home/u/chime.wav"), std::nullopt, true, "/home/u/chime.wav", 0.2f},
      // A set file that cannot be read gives no sound, not the bundle's.
      {Value("/home/u/missing.wav"), std::nullopt, true, std::nullopt, 0},
      {Value(12), std::nullopt, true, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.file ? c.file->description() : "-") << " "
                                      << (c.volume ? c.volume->description() : "-") << " " << c.bundleSound);
    SimMachine machine;
    machine.desktop().addSoundFile("/home/u/chime.wav");
    Agent agent(machine);
    if (c.bundleSound) agent.program.workspace().addResource("Insomnia.wav");
    if (c.file) agent.program.defaults().setValue("insomniasoundfile", *c.file);
    if (c.volume) agent.program.defaults().setValue("soundvolume", *c.volume);
    agent.start();
    auto* sound = agent.delegate.insomniaSound();
    ASSERT_EQ(sound != nullptr, c.loaded.has_value());
    if (!sound) continue;
    EXPECT_FLOAT_EQ(sound->volume(), c.expectedVolume);
    sound->play();
    ASSERT_EQ(machine.desktop().plays().size(), 1u);
    EXPECT_EQ(machine.desktop().plays()[0].sound, *c.loaded);
  }
}

}  // namespace
}  // namespace somnara::sim::testing
