// Start-up duties: the newest instance wins, and a changed bundle ends the program.
#include "ORVPrivate/Appkit/ORVApplicationStartupHelper.h"
#include "SimControllerSupport.h"

namespace somnara::sim::testing {
namespace {

constexpr const char* kKillAll = "+[ORVApplicationStartupHelper killAllOtherInstancesOfMyself]";

TEST(StartupHelper, NewestInstanceEndsTheOthers) {
  const struct {
    const char* name;
    bool gone, ignoresTerminate, resistsForce;
    double minWait;  // seconds the new instance is held up
  } cases[] = {
      {"already gone: nothing to log", true, false, false, 0},
      {"quits when asked", false, false, false, 0},
      {"ignores requests: forced after 0.7 s", false, true, false, 0.7},
      {"resists force: killed and logged", false, true, true, 0.7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine machine;
    SimProgram& old = machine.addProgram(kDaemon);
    SimProgram& other = machine.addProgram(kAgent);
    old.setIgnoresTerminate(c.ignoresTerminate);
    old.setResistsForceTerminate(c.resistsForce);
    if (c.gone) old.end();
    SimProgram& fresh = machine.addProgram(kDaemon);
    const auto started = fresh.loop().now();

    ORVApplicationStartupHelper::killAllOtherInstancesOfMyself(fresh.context());
    machine.runPending();

    EXPECT_FALSE(old.isRunning());
    EXPECT_TRUE(fresh.isRunning());
    EXPECT_TRUE(other.isRunning()) << "another program's instance is left alone";
    EXPECT_EQ(countLog(fresh, kKillAll, "Found myself running already - will terminate other application: ", true),
              c.gone ? 0 : 1);
    EXPECT_EQ(countLog(fresh, kKillAll, "Background application can't be terminated:", true), c.resistsForce ? 1 : 0);
    EXPECT_EQ(fresh.logger().logLines().size(), (c.gone ? 0u : 1u) + c.resistsForce);
    const double blocked = fresh.loop().now() - started;
    EXPECT_GE(blocked, c.minWait);
    EXPECT_LT(blocked, c.minWait + 0.1);
  }
}

TEST(StartupHelper, BundleChangesOutsideItsResourcesEndTheProgram) {
  const std::string bundle = "/opt/Resources/Somnara.app", resources = bundle + "/Contents/Resources/",
                    helper = resources + "pmsethelper";
  const std::string agentResources = bundle + "/Contents/Library/LoginItems/Somnara MenuBar.app/Contents/Resources/";
  const std::pair<std::vector<std::string>, std::optional<int>> cases[] = {
      {{helper}, std::nullopt}, {{resources, helper}, std::nullopt},
      // Files inside Resources: the watch names the file, not its directory.
      {{resources + "Somnara-Menu-Icon-Sleep.png", resources + "UserDefaults.plist"}, std::nullopt},
      {{resources + "icons/hicolor/16x16/apps/somnara.png", resources + "Insomnia.wav"}, std::nullopt},
      {{agentResources + "Insomnia.wav", agentResources + "pmsethelper"}, std::nullopt},
      {{resources + "Insomnia.wav", bundle + "/Contents/MacOS/Somnara Daemon"}, 1},
      {{bundle + "/Contents/MacOS/Somnara"}, 1},               // outside Resources, though the bundle lies in one
      {{helper, bundle + "/Contents/MacOS/Somnara Daemon"}, 1},
      {{bundle + "/Contents/Info.plist"}, 1}, {{bundle + "/Contents/Resources.old"}, 1},
      {{bundle}, 1},  // the bundle itself moved or renamed
  };
  for (const auto& [paths, exit] : cases) {
    SCOPED_TRACE(paths.back());
    SimMachine machine;
    SimProgram& daemon = machine.addProgram(kDaemon, {.bundlePath = bundle});
    ORVApplicationStartupHelper::standardApplicationStartup(daemon.context());
    ASSERT_EQ(daemon.fileWatch().watchedRoots(), std::vector<std::string>{bundle});

    daemon.fileWatch().fire(paths);
    machine.runPending();

    EXPECT_EQ(daemon.exitStatus(), exit);
    EXPECT_EQ(daemon.isRunning(), !exit);
    const char* exiting = "fsevents_callback(): path changed - exiting to prevent installer from getting confused: ";
    EXPECT_EQ(countLog(daemon, "ORVPrivate/Appkit/ORVApplicationStartupHelper", exiting, true), exit ? 1 : 0);
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
