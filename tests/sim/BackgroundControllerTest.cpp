// The background-program controller on the simulated machine: finding the
// program, launching and stopping it, and its login items.
#include "ORVPrivate/Appkit/ORVBackgroundApplicationController.h"
#include "SimControllerSupport.h"

namespace somnara::sim::testing {
namespace {

constexpr const char* kSetLaunch = "-[ORVBackgroundApplicationController setLaunch:]";
constexpr const char* kSetLoginitem = "-[ORVBackgroundApplicationController setLoginitem:]";
constexpr const char* kTerminate = "-[ORVBackgroundApplicationController terminate]";
constexpr const char* kInit = "-[ORVBackgroundApplicationController initWithName:]";

struct BackgroundControllerTest : ::testing::Test, Installation {
  std::unique_ptr<ORVBackgroundApplicationController> make(const std::string& name) {
    return ORVBackgroundApplicationController::initWithName(prefs.context(), apps, items, name);
  }
  std::size_t itemsFor(const std::string& path) {
    return static_cast<std::size_t>(
        std::ranges::count_if(items.entries(), [&](const auto& e) { return e.bundlePath == path; }));
  }
};

TEST_F(BackgroundControllerTest, FindsTheProgramByIdentifierBundleNameOrFileName) {
  apps.installFile(std::string(kLoginItemsDir) + "/notes.txt");
  apps.installBundle(std::string(kLoginItemsDir) + "/Renamed.app", bundle("org.example.Other", "Helper Name"));
  apps.installFile(std::string(kBundle) + "/Contents/MacOS/aux-tool");
  apps.installBundle(std::string(kBundle) + "/Contents/PlugIns/Plug.app", bundle("org.example.Plug", "Plug"));
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {kAgent, kAgentPath},
      {"Somnara Daemon", kDaemonPath},                               // file name
      {"Helper Name", std::string(kLoginItemsDir) + "/Renamed.app"},  // bundle name only
      {"aux-tool", std::string(kBundle) + "/Contents/MacOS/aux-tool"},
      {"Plug", std::string(kBundle) + "/Contents/PlugIns/Plug.app"},
      {"de.orvane.Missing", std::nullopt},
      {"../../../etc", std::nullopt},
  };
  for (const auto& [name, path] : cases) {
    SCOPED_TRACE(name);
    auto controller = make(name);
    ASSERT_EQ(controller != nullptr, path.has_value());
    if (!controller) {
      EXPECT_EQ(countLog(prefs, kInit, "Could not find backgroundApplication path for name:" + name), 1);
      continue;
    }
    EXPECT_EQ(controller->backgroundApplicationURL(), *path);
    EXPECT_TRUE(controller->launchandterminateonloginitemstate());
    EXPECT_FALSE(controller->isLaunched()) << "creation starts nothing";
  }
  EXPECT_EQ(make("Helper Name")->loginItemName(), "Helper Name");
}

TEST_F(BackgroundControllerTest, LaunchHandsBackTheOwnInstanceAndEndsTheOthers) {
  SimProgram& otherCopy = machine.addProgram(kAgent, {"/opt/Old Somnara.app/Contents/Library/LoginItems/x.app"});
  auto agent = make(kAgent);
  EXPECT_FALSE(agent->isLaunched()) << "an instance from another copy does not count";

  agent->setLaunch(true);
  machine.runPending();
  EXPECT_FALSE(otherCopy.isRunning());
  ASSERT_EQ(running(kAgent).size(), 1u);
  const int pid = agent->backgroundApplicationProcessIdentifier();
  EXPECT_EQ(pid, running(kAgent)[0]);
  EXPECT_EQ(*prefs.processes().bundlePathOfApplication(pid), kAgentPath);

  agent->setLaunch(true);  // already running: handed back, nothing new started
  machine.runPending();
  EXPECT_EQ(running(kAgent), std::vector<int>{pid});
  EXPECT_EQ(apps.launchCount(), 1);
}

TEST_F(BackgroundControllerTest, LaunchRetriesTenTimesHalfASecondApart) {
  const std::pair<int, bool> cases[] = {{9, true}, {10, false}};
  for (const auto& [failures, starts] : cases) {
    SCOPED_TRACE(failures);
    auto agent = make(kAgent);
    agent->setLaunchandterminateonloginitemstate(false);
    agent->terminate();
    apps.failLaunches(failures);
    const double started = prefs.loop().now();
    agent->setLaunch(true);
    EXPECT_EQ(agent->isLaunched(), starts);
    EXPECT_DOUBLE_EQ(prefs.loop().now() - started, 0.5 * std::min(failures, 10));
    EXPECT_EQ(countLog(prefs, kSetLaunch,
                       "Could not launch application " + kAgentPath + " due to simulated launch failure"),
              starts ? 0 : 1);
    EXPECT_EQ(agent->lastFailure().empty(), starts);
  }
}

TEST_F(BackgroundControllerTest, TerminateEscalatesAndStopsEveryCopy) {
  const struct {
    const char* name;
    bool ignores, resists;
    double minWait;
    int logged;
  } cases[] = {
      {"quits when asked", false, false, 0, 0},
      {"ignores the request: forced after 0.7 s", true, false, 0.7, 0},
      {"resists force: signal 9 and a log line", true, true, 0.7, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimProgram& own = machine.addProgram(kDaemon, {kDaemonPath});
    SimProgram& copy = machine.addProgram(kDaemon, {"/elsewhere/Somnara Daemon.app"});
    own.setIgnoresTerminate(c.ignores);
    own.setResistsForceTerminate(c.resists);
    auto daemon = make(kDaemon);
    daemon->setLaunchandterminateonloginitemstate(false);
    const auto before = prefs.logger().logLines().size();
    const double started = prefs.loop().now();
    daemon->terminate();
    machine.runPending();
    EXPECT_FALSE(own.isRunning());
    EXPECT_FALSE(copy.isRunning()) << "another copy's instance is stopped too";
    EXPECT_GE(prefs.loop().now() - started, c.minWait);
    EXPECT_LT(prefs.loop().now() - started, c.minWait + 0.2);
    EXPECT_EQ(prefs.logger().logLines().size() - before, static_cast<std::size_t>(c.logged));
    EXPECT_EQ(countLog(prefs, kTerminate, "Background application can't be terminated:", true), c.logged);
  }
  auto daemon = make(kDaemon);
  const auto before = prefs.logger().logLines().size();
  daemon->terminate();  // nothing runs: nothing happens, nothing is logged
  EXPECT_EQ(prefs.logger().logLines().size(), before);
}

TEST_F(BackgroundControllerTest, LoginItemAddedOnceRemovedWithDuplicatesOthersStay) {
  items.add({"other", "Other", "/Applications/Other.app", false});
  items.add({"stale", "Stale", std::nullopt, false});
  auto agent = make(kAgent);

  agent->setLoginitem(true);
  agent->setLoginitem(true);
  EXPECT_EQ(itemsFor(kAgentPath), 1u) << "no second item on a repeated add";
  EXPECT_TRUE(items.entries().back().hidden);
  EXPECT_EQ(items.entries().back().displayName, "Somnara MenuBar");
  EXPECT_TRUE(agent->isLaunched()) << "adding the item starts the program";

  items.add({"dup", "Somnara MenuBar", kAgentPath, false});
  agent->setLoginitem(false);
  EXPECT_EQ(itemsFor(kAgentPath), 0u) << "removal takes duplicates too";
  EXPECT_EQ(items.entries().size(), 2u) << "other programs' and unresolved items stay";
  machine.runPending();
  EXPECT_FALSE(agent->isLaunched()) << "removing the item stops the program";
}

// Reading the login item starts the program only with the flag set; a bound
// window re-reading the item must not hear of changes that are none.
TEST_F(BackgroundControllerTest, ReadingTheLoginItemStartsTheProgramOnlyWithTheFlagSet) {
  items.add({"agent", "Somnara MenuBar", kAgentPath, true});
  for (bool follow : {false, true}) {
    SCOPED_TRACE(follow);
    auto agent = make(kAgent);
    agent->setLaunchandterminateonloginitemstate(follow);
    NoticeCounter launches(*agent, "launch");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(agent->isLoginitem());
    EXPECT_EQ(agent->isLaunched(), follow);
    EXPECT_EQ(launches.count, follow ? 1 : 0);
    agent->terminate();
    agent->terminate();
    EXPECT_EQ(launches.count, follow ? 2 : 0);
  }
}

TEST_F(BackgroundControllerTest, UnavailableOrUnwritableListIsReportedAndChangesNothing) {
  auto agent = make(kAgent);
  agent->setLaunchandterminateonloginitemstate(false);
  items.setUnavailable(true);
  EXPECT_FALSE(agent->isLoginitem());
  agent->setLoginitem(true);
  EXPECT_EQ(countLog(prefs, kSetLoginitem, "Weird LoginItem state - could not find a list"), 1);
  EXPECT_EQ(agent->lastFailure(), "Weird LoginItem state - could not find a list");

  items.setUnavailable(false);
  items.setWriteError("Permission denied");
  agent->setLoginitem(true);
  EXPECT_TRUE(items.entries().empty());
  EXPECT_EQ(agent->lastFailure(), "Could not add login item: Permission denied");
}

}  // namespace
}  // namespace somnara::sim::testing
