// The agent's start-up, icon, blink, menu hooks and preferences command.
#include "MenuBarAgentSupport.h"

namespace somnara::sim::testing {
namespace {

constexpr const char* kAwake = "-[MenuBarAppDelegate awakeFromNib]";

struct IconCase {
  std::optional<int> hibernateMode;  // nullopt: none in force
  bool insomnia;
  const char* normal;
  const char* flash;
  bool canSleep = true;
};

class IconTable : public ::testing::TestWithParam<IconCase> {};

TEST_P(IconTable, NormalAndFlashImageFollowTheStateAndInsomnia) {
  SimMachine machine;
  Agent agent(machine);
  if (!GetParam().canSleep) machine.state().setSleepCapabilities({});
  agent.start();
  setHibernateMode(machine, GetParam().hibernateMode);
  if (GetParam().insomnia) agent.delegate.setInsomnia(true);
  agent.delegate.updateMenuBarIconBlink(false);
  EXPECT_EQ(agent.item.image(), GetParam().normal);
  agent.delegate.updateMenuBarIconBlink(true);
  EXPECT_EQ(agent.item.image(), GetParam().flash);
}

INSTANTIATE_TEST_SUITE_P(
    States, IconTable,
    ::testing::Values(IconCase{0, false, kSleepImage, kHibernateImage},
                      IconCase{1, false, kHibernateImage, kHibernateSleepImage},
                      IconCase{25, false, kHibernateImage, kHibernateSleepImage},
                      IconCase{2, false, kHibernateSleepImage, kHibernateImage},
                      IconCase{3, false, kHibernateSleepImage, kHibernateImage},
                      IconCase{std::nullopt, false, kSleepImage, kHibernateImage},
                      IconCase{std::nullopt, false, kInsomniaImage, kHibernateImage, false},  // cannot sleep
                      IconCase{0, true, kInsomniaImage, kHibernateImage},
                      IconCase{1, true, kInsomniaImage, kHibernateImage},
                      IconCase{3, true, kInsomniaImage, kHibernateImage}));

struct BlinkCase {
  std::optional<Value> stored;        // in the agent's own domain; nullopt: nowhere
  std::optional<double> registered;   // in the bundle's "UserDefaults" resource
  std::optional<double> period;       // nullopt: no blinking
};

class BlinkTable : public ::testing::TestWithParam<BlinkCase> {};

TEST_P(BlinkTable, FlashesTheIconForATenthOfASecondEachPeriod) {
  SimMachine machine;
  Agent agent(machine);
  setHibernateMode(machine, 0);
  if (GetParam().stored) agent.program.defaults().setValue("blinkinterval", *GetParam().stored);
  if (GetParam().registered)
    agent.program.workspace().addPropertyListResource(
        "UserDefaults.plist", Value(Dictionary{{"blinkinterval", Value(*GetParam().registered)}}));
  agent.start();
  ASSERT_EQ(agent.delegate.blinkInterval().has_value(), GetParam().period.has_value());
  if (GetParam().period) {
    EXPECT_NEAR(*agent.delegate.blinkInterval(), *GetParam().period, 1e-6);
  }
  const auto from = machine.elapsed() + 1ms;
  machine.advance(131s);
  const auto shown = agent.item.imagesSince(from);
  if (!GetParam().period) {
    EXPECT_TRUE(shown.empty());
    return;
  }
  const double p = *GetParam().period;
  ASSERT_GE(shown.size(), 4u);
  // flash, back to normal 0.1 s later, the next flash one period after the first
  EXPECT_NEAR(shown[0].first, p, 1e-3);
  EXPECT_EQ(shown[0].second, kHibernateImage);
  EXPECT_NEAR(shown[1].first, p + 0.1, 1e-3);
  EXPECT_EQ(shown[1].second, kSleepImage);
  EXPECT_NEAR(shown[2].first, 2 * p, 1e-3);
  EXPECT_EQ(shown[2].second, kHibernateImage);
  EXPECT_EQ(shown.size(), 2 * static_cast<std::size_t>(131.0 / p + 1e-9));
}

INSTANTIATE_TEST_SUITE_P(Intervals, BlinkTable,
                         ::testing::Values(BlinkCase{Value(0.5), std::nullopt, std::nullopt},
                                           BlinkCase{Value(0.0), std::nullopt, std::nullopt},
                                           BlinkCase{Value(-3.0), std::nullopt, std::nullopt},
                                           BlinkCase{Value(0.6), std::nullopt, 0.6},
                                           BlinkCase{std::nullopt, std::nullopt, 58.0},
                                           BlinkCase{std::nullopt, 5.0, 5.0},
                                           BlinkCase{Value(20), 5.0, 20.0},
                                           // A string reads as its leading number; without one, as 0.
                                           BlinkCase{Value("0.6"), std::nullopt, 0.6},
                                           BlinkCase{Value(" 20 seconds"), 5.0, 20.0},
                                           BlinkCase{Value("0.5"), std::nullopt, std::nullopt},
                                           BlinkCase{Value("often"), 5.0, std::nullopt}));

TEST(MenuBarAgent, StartUpRunsItsStepsInOrder) {
  SimMachine machine;
  machine.desktop().setLid(false);
  Agent agent(machine);
  agent.program.defaults().setValue("insomniatime", Value(600.0));
  agent.start();
  EXPECT_EQ(agent.item.slidersAttached, 1);
  EXPECT_EQ(agent.item.shows, 1);
  EXPECT_EQ(agent.logCount(kAwake, "sliderTimerMenuItem:<slider item>"), 1);
  ASSERT_NE(agent.delegate.sharedSomnaraDaemon(), nullptr);
  EXPECT_EQ(agent.delegate.sharedSomnaraDaemon()->processtype(), kProcessTypeMenuBar);
  EXPECT_EQ(agent.item.image(), kHibernateSleepImage) << "a fresh machine holds hibernatemode 3";
  EXPECT_EQ(agent.delegate.clamshellstate(), 2) << "the first lid reading is recorded";
  EXPECT_FALSE(agent.delegate.hasClamshellChangedTimer());
  EXPECT_EQ(agent.delegate.insomniaTimeInterval(), 600.0);
  EXPECT_TRUE(agent.delegate.registeredForSystemPower());
  EXPECT_FALSE(agent.delegate.hasInsomnia()) << "Insomnia on launch is off by default";
  EXPECT_EQ(agent.item.toolTip, "Machine will sleep and hibernate on sleep");
}

TEST(MenuBarAgent, InsomniaOnLaunchStartsWithTheStoredLength) {
  SimMachine machine;
  Agent agent(machine);
  agent.program.defaults().setValue("insomniatime", Value(7200.0));
  agent.program.defaults().setValue("enableinsomniaonlaunch", Value(true));
  agent.start();
  EXPECT_EQ(agent.logCount("-[MenuBarAppDelegate applicationDidFinishLaunching:]", "Insomnia on launch is set"), 1);
  ASSERT_TRUE(agent.delegate.hasInsomnia());
  EXPECT_EQ(agent.delegate.insomniaEndDate(), agent.program.loop().now() + 7200.0);
  EXPECT_EQ(agent.item.image(), kInsomniaImage);
  EXPECT_EQ(agent.item.toolTip,
            "Machine will sleep and hibernate on sleep\nInsomnia on (stops in 2.00 hours)");
}

TEST(MenuBarAgent, CorruptOrMissingResourcesLeaveTheAgentRunning) {
  SimMachine machine;
  machine.desktop().setPowerManagementReachable(false);
  Agent agent(machine);
  agent.program.workspace().addPropertyListResource("UserDefaults.plist", std::nullopt);
  agent.start();
  EXPECT_EQ(agent.delegate.blinkInterval(), 58.0);
  EXPECT_EQ(agent.delegate.insomniaSound(), nullptr) << "the bundle holds no sound";
  EXPECT_FALSE(agent.delegate.registeredForSystemPower());
  EXPECT_EQ(agent.logCount(kAwake, "failed to IORegisterForSystemPower - using old way to stay awake"), 1);
  agent.delegate.setInsomnia(true);
  machine.advance(60s);
  EXPECT_TRUE(agent.delegate.hasInsomnia());
}

TEST(MenuBarAgent, MonochromeImagesFollowTheBlackAndWhiteSetting) {
  SimMachine machine;
  SimProgram& app = machine.addProgram(kApp);
  controllerOf(app);
  Agent agent(machine);
  agent.start();
  EXPECT_FALSE(agent.item.images.back().monochrome);
  app.defaults().setValue("blackandwhiteicon", Value(true));
  machine.runPending();
  EXPECT_TRUE(agent.item.images.back().monochrome) << "the settings message refreshes the icon in its new form";
}

TEST(MenuBarAgent, TheDaemonsAppliedStateChangesTheIconAtOnce) {
  SimMachine machine;
  SimProgram& daemon = machine.addProgram(kDaemon);
  SimProgram& app = machine.addProgram(kApp);
  controllerOf(daemon);
  controllerOf(app);
  machine.advance(5s);
  Agent agent(machine);
  agent.start();
  const std::size_t before = agent.item.images.size();
  app.defaults().setValue("somnaramodeindex", Value(2));
  machine.runPending();
  EXPECT_EQ(hibernateMode(machine), 0);
  EXPECT_EQ(agent.item.image(), kSleepImage);
  EXPECT_GT(agent.item.images.size(), before);
  EXPECT_EQ(agent.item.toolTip, "Machine will sleep on sleep");
  app.defaults().setValue("somnaramodeindex", Value(3));
  machine.runPending();
  EXPECT_EQ(agent.item.image(), kHibernateImage);
}

TEST(MenuBarAgent, OpeningTheMenuLooksForTheDriverAndRefreshesTheTitle) {
  SimMachine machine;
  Agent agent(machine);
  agent.start();
  NoticeCounter titles(agent.delegate, MenuBarAppDelegate::kProperty_insomniaString);
  agent.delegate.menuWillOpen();
  EXPECT_EQ(titles.take(), 1);
  EXPECT_FALSE(agent.delegate.hasInsomniaPlugin());
  machine.desktop().setDriverServices(1);
  agent.delegate.menuWillOpen();
  EXPECT_TRUE(agent.delegate.hasInsomniaPlugin());
  EXPECT_EQ(titles.take(), 2) << "one for the opening, one for the new connection";
  EXPECT_EQ(agent.delegate.insomniaString(), "Start Insomnia (using plugin)");
  agent.delegate.menuDidClose();
  EXPECT_EQ(agent.item.image(), kHibernateSleepImage);
}

// Each sleep-now command that fails tells the user why, under its own
// title; without a notification server the failure shows nothing.
TEST(MenuBarAgent, AFailedSleepNowBecomesANoticeUnderTheCommandsTitle) {
  for (const bool server : {true, false}) {
    SCOPED_TRACE(server ? "notification server" : "none");
    SimMachine machine;
    machine.tools().setScript("pmset", Script::exit(5));
    machine.desktop().setNotificationServer(server);
    Agent agent(machine);
    agent.delegate.sleepNowWithState(kSleepStateSleep);
    EXPECT_TRUE(machine.desktop().notices().empty()) << "nothing happens before the controller exists";
    agent.start();
    std::vector<std::string> notices;
    for (const std::int64_t state : {kSleepStateSleep, kSleepStateHibernate, kSleepStateSleepAndHibernate}) {
      agent.delegate.sleepNowWithState(state);
      machine.wake();  // ends the sleep-now window before the next command
    }
    for (const auto& notice : machine.desktop().notices()) notices.push_back(notice.summary + ": " + notice.body);
    const std::string body = "The power tool's sleep request failed with exit status 5";
    const std::vector<std::string> expected{"Sleep Now failed: " + body, "Hibernate Now failed: " + body,
                                            "Sleep and Hibernate Now failed: " + body};
    EXPECT_EQ(notices, server ? expected : std::vector<std::string>{});
  }
}

struct PreferencesCase {
  const char* bundlePath;
  const char* application;
};

class Preferences : public ::testing::TestWithParam<PreferencesCase> {};

TEST_P(Preferences, OpensTheApplicationFourLevelsUpWithTheAgentsBundle) {
  SimMachine machine;
  Agent agent(machine, {.bundlePath = GetParam().bundlePath});
  agent.start();
  agent.delegate.showPreferences();
  ASSERT_EQ(agent.program.workspace().openRequests().size(), 1u);
  EXPECT_EQ(agent.program.workspace().openRequests()[0].path, GetParam().bundlePath);
  EXPECT_EQ(agent.program.workspace().openRequests()[0].applicationPath, GetParam().application);
}

INSTANTIATE_TEST_SUITE_P(
    Places, Preferences,
    ::testing::Values(
        PreferencesCase{"/usr/lib/somnara/Somnara.app/Contents/Library/LoginItems/Somnara MenuBar.app",
                        "/usr/lib/somnara/Somnara.app"},
        PreferencesCase{"/opt/Somnara.app/Contents/Library/LoginItems/Somnara MenuBar.app/",
                        "/opt/Somnara.app"},
        PreferencesCase{"/a/b/../Somnara.app/Contents/Library/LoginItems/Somnara MenuBar.app",
                        "/a/Somnara.app"}));

}  // namespace
}  // namespace somnara::sim::testing
