// Start-up duties: the newest instance wins, and a changed bundle ends the program.
#include <gtest/gtest.h>

#include "ORVPrivate/Appkit/ORVApplicationStartupHelper.h"
#include "SimControllerSupport.h"

namespace somnara::sim::testing {
namespace {

constexpr const char* kKillAll = "+[ORVApplicationStartupHelper killAllOtherInstancesOfMyself]";

TEST(StartupHelper, NewestInstanceEndsTheOthers) {
  struct Case {
    const char* name;
    bool ignoresTerminate, resistsForce;
    bool forcedOrKilled;  // the old one had to be forced (or killed)
    int cantTerminateLines;
  };
  const Case cases[] = {
      {"quits when asked", false, false, false, 0},
      {"ignores requests: forced after 0.7 s", true, false, true, 0},
      {"resists force: killed and logged", true, true, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine machine;
    SimProgram& old = machine.addProgram(kDaemon);
    SimProgram& other = machine.addProgram(kAgent);
    old.setIgnoresTerminate(c.ignoresTerminate);
    old.setResistsForceTerminate(c.resistsForce);
    SimProgram& fresh = machine.addProgram(kDaemon);
    const auto started = fresh.loop().now();

    ORVApplicationStartupHelper::killAllOtherInstancesOfMyself(fresh.context());
    machine.runPending();

    EXPECT_FALSE(old.isRunning());
    EXPECT_TRUE(fresh.isRunning());
    EXPECT_TRUE(other.isRunning()) << "another program's instance is left alone";
    EXPECT_EQ(countLog(fresh, kKillAll, "Found myself running already - will terminate other application: ", true), 1);
    EXPECT_EQ(countLog(fresh, kKillAll, "Background application can't be terminated:", true), c.cantTerminateLines);
    const double blocked = fresh.loop().now() - started;
    if (c.forcedOrKilled) {
      EXPECT_GE(blocked, 0.7);
      EXPECT_LT(blocked, 0.8);
    } else {
      EXPECT_LT(blocked, 0.1) << "an instance that quits at once costs no waiting";
    }
  }
}

TEST(StartupHelper, InstanceAlreadyGoneIsNotLogged) {
  SimMachine machine;
  SimProgram& old = machine.addProgram(kDaemon);
  old.end();
  SimProgram& fresh = machine.addProgram(kDaemon);
  ORVApplicationStartupHelper::killAllOtherInstancesOfMyself(fresh.context());
  EXPECT_TRUE(fresh.logger().logLines().empty());
}

TEST(StartupHelper, BundleChangesOtherThanTheHelperEndTheProgram) {
  struct Case {
    std::vector<std::string> paths;
    std::optional<int> exit;
  };
  const std::string bundle = "/opt/Somnara.app";
  const Case cases[] = {
      {{bundle + "/Contents/Resources/pmsethelper"}, std::nullopt},
      {{bundle + "/Contents/Resources/", bundle + "/Contents/Resources/pmsethelper"}, std::nullopt},
      {{bundle + "/Contents/Resources/pmsethelper", bundle + "/Contents/MacOS/Somnara Daemon"}, 1},
      {{bundle + "/Contents/Info.plist"}, 1},
      {{bundle}, 1},  // the bundle itself moved or renamed
  };
  for (const auto& c : cases) {
    SimMachine machine;
    SimProgram& daemon = machine.addProgram(kDaemon, {.bundlePath = bundle});
    ORVApplicationStartupHelper::standardApplicationStartup(daemon.context());
    ASSERT_EQ(daemon.fileWatch().watchedRoots(), std::vector<std::string>{bundle});

    daemon.fileWatch().fire(c.paths);
    machine.runPending();

    EXPECT_EQ(daemon.exitStatus(), c.exit) << c.paths.back();
    EXPECT_EQ(daemon.isRunning(), !c.exit);
    const int exitLines = c.exit ? 1 : 0;
    int found = 0;
    for (const auto& line : daemon.logger().logLines())
      found += line.find("ORVPrivate/Appkit/ORVApplicationStartupHelper fsevents_callback(): path changed - exiting "
                         "to prevent installer from getting confused: ") != std::string::npos;
    EXPECT_EQ(found, exitLines);
  }
}

TEST(StartupHelper, UnavailableWatchIsLoggedAndStartupGoesOn) {
  SimMachine machine;
  SimProgram& daemon = machine.addProgram(kDaemon);
  daemon.fileWatch().setAvailable(false);
  ORVApplicationStartupHelper::standardApplicationStartup(daemon.context());
  EXPECT_EQ(countLog(daemon, "+[ORVApplicationStartupHelper startCheckingForBundlePathBeeingChanged]",
                     "Got NO stream to watch"),
            1);
  EXPECT_TRUE(daemon.isRunning());
}

}  // namespace
}  // namespace somnara::sim::testing
