// The agent's start-up, icon, blink, menu hooks and preferences command.
#include "MenuBarAgentSupport.h"

namespace somnara::sim::testing {
namespace {

constexpr const char* kAwake = "-[MenuBarAppDelegate awakeFromNib]";

TEST(MenuBarIcon, NormalAndFlashImageFollowTheStateAndInsomnia) {
  const struct {
    std::optional<int> hibernateMode;  // nullopt: none in force
    bool insomnia;
    const char *normal, *flash;
    bool canSleep = true;
  } cases[] = {{0, false, kSleepImage, kHibernateImage}, {1, false, kHibernateImage, kHibernateSleepImage},
               {25, false, kHibernateImage, kHibernateSleepImage}, {2, false, kHibernateSleepImage, kHibernateImage},
               {3, false, kHibernateSleepImage, kHibernateImage}, {std::nullopt, false, kSleepImage, kHibernateImage},
               {std::nullopt, false, kInsomniaImage, kHibernateImage, false},  // cannot sleep
               {0, true, kInsomniaImage, kHibernateImage}, {1, true, kInsomniaImage, kHibernateImage},
               {3, true, kInsomniaImage, kHibernateImage}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.hibernateMode.value_or(-1) << " " << c.insomnia << c.canSleep);
    SimMachine machine;
    Agent agent(machine);
    if (!c.canSleep) machine.state().setSleepCapabilities({});
    agent.start();
    setHibernateMode(machine, c.hibernateMode);
    if (c.insomnia) agent.delegate.setInsomnia(true);
    agent.delegate.updateMenuBarIconBlink(false);
    EXPECT_EQ(agent.item.image(), c.normal);
    agent.delegate.updateMenuBarIconBlink(true);
    EXPECT_EQ(agent.item.image(), c.flash);
  }
}

// The icon flashes for a tenth of a second each period: the agent's own
// setting, else the bundle's, else 58 s; below 0.6 s, no blinking.
TEST(MenuBarIcon, BlinksAtTheSetPeriod) {
  const struct {
    std::optional<Value> stored;       // in the agent's own domain
    std::optional<double> registered;  // in the bundle's "UserDefaults" resource
    std::optional<double> period;      // nullopt: no blinking
  } cases[] = {{Value(0.5), std::nullopt, std::nullopt}, {Value(0.0), std::nullopt, std::nullopt},
               {Value(-3.0), std::nullopt, std::nullopt}, {Value(0.6), std::nullopt, 0.6},
               {std::nullopt, std::nullopt, 58.0}, {std::nullopt, 5.0, 5.0}, {Value(20), 5.0, 20.0},
               // A string reads as its leading number; without one, as 0.
               {Value("0.6"), std::nullopt, 0.6}, {Value(" 20 seconds"), 5.0, 20.0},
               {Value("0.5"), std::nullopt, std::nullopt}, {Value("often"), 5.0, std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.stored ? c.stored->description() : "-") << " "
                                      << c.registered.value_or(-1));
    SimMachine machine;
    Agent agent(machine);
    setHibernateMode(machine, 0);
    if (c.stored) agent.program.defaults().setValue("blinkinterval", *c.stored);
    if (c.registered)
      agent.program.workspace().addPropertyListResource("UserDefaults.plist",
                                                        Value(Dictionary{{"blinkinterval", Value(*c.registered)}}));
    agent.start();
    ASSERT_EQ(agent.delegate.blinkInterval().has_value(), c.period.has_value());
    const auto from = machine.elapsed() + 1ms;
    machine.advance(131s);
    const auto shown = agent.item.imagesSince(from);
    if (!c.period) {
      EXPECT_TRUE(shown.empty());
      continue;
    }
    const double p = *c.period;
    EXPECT_NEAR(*agent.delegate.blinkInterval(), p, 1e-6);
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
}

TEST(MenuBarAgent, StartUpMakesAMenuBarControllerAndStartsInsomniaOnLaunchWithTheStoredLength) {
  SimMachine machine;
  Agent agent(machine);
  agent.program.defaults().setValue("insomniatime", Value(7200.0));
  agent.program.defaults().setValue("enableinsomniaonlaunch", Value(true));
  agent.start();
  ASSERT_NE(agent.delegate.sharedSomnaraDaemon(), nullptr);
  EXPECT_EQ(agent.delegate.sharedSomnaraDaemon()->processtype(), kProcessTypeMenuBar);
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

// The preferences command opens the application four levels up, with the agent's bundle.
TEST(MenuBarAgent, PreferencesOpenTheApplicationAroundTheAgent) {
  const std::pair<const char*, const char*> cases[] = {
      {"/usr/lib/somnara/Somnara.app/Contents/Library/LoginItems/Somnara MenuBar.app", "/usr/lib/somnara/Somnara.app"},
      {"/opt/Somnara.app/Contents/Library/LoginItems/Somnara MenuBar.app/", "/opt/Somnara.app"},
      {"/a/b/../Somnara.app/Contents/Library/LoginItems/Somnara MenuBar.app", "/a/Somnara.app"}};
  for (const auto& [bundlePath, application] : cases) {
    SimMachine machine;
    Agent agent(machine, {.bundlePath = bundlePath});
    agent.start();
    agent.delegate.showPreferences();
    const auto& requests = agent.program.workspace().openRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, bundlePath);
    EXPECT_EQ(requests[0].applicationPath, application);
  }
}

}  // namespace
}  // namespace somnara::sim::testing
