// The Linux host backend against a fake machine root and real processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <optional>
#include <tuple>

#include "TestSupport.h"
#include "host/linux/InotifyFileWatch.h"
#include "host/linux/LinuxPowerManager.h"
#include "host/linux/PkexecAuthorization.h"
#include "host/linux/QtProcesses.h"
#include "host/linux/QtRunLoop.h"
#include "host/linux/SysfsPowerSources.h"
#include "host/linux/UeventMonitor.h"
#include "plist/PlistCodec.h"
#include "powertool/SavedPowerSettings.h"
#include "powertool/SleepDropIn.h"

namespace somnara::host {

// Readable failures for the readings compared below.
void PrintTo(const BatteryReading& b, std::ostream* os) {
  *os << b.percent << " %, " << (b.minutesToEmpty ? std::to_string(*b.minutesToEmpty) : "unknown") << " min";
}
void PrintTo(const PowerReading& r, std::ostream* os) {
  *os << "{battery ";
  if (r.battery)
    PrintTo(*r.battery, os);
  else
    *os << "none";
  *os << ", " << r.unreadableBatteries << " unreadable, external " << r.onExternalPower << "}";
}
void PrintTo(const HibernateModeReading& r, std::ostream* os) {
  static const char* const kAbsences[] = {"not recorded", "not an integer", "out of step"};
  if (r.mode)
    *os << "mode " << *r.mode;
  else
    *os << "no mode: " << kAbsences[static_cast<int>(r.absence)];
}

}  // namespace somnara::host

namespace somnara::linuxhost {
namespace {

/// Writes power supply files from "NAME:file=value file=value;NAME:...".
void makeSupplies(const TempTree& root, const std::string& layout) {
  root.mkdir("sys/class/power_supply");
  for (const QString& supply : QString::fromStdString(layout).split(';', Qt::SkipEmptyParts)) {
    const QStringList nameAndFiles = supply.split(':');
    for (const QString& file : nameAndFiles[1].split(' ', Qt::SkipEmptyParts))
      writeFile(root / ("sys/class/power_supply/" + nameAndFiles[0] + "/" + file.section('=', 0, 0)).toStdString(),
                file.section('=', 1).toStdString() + "\n");
  }
}

host::BatteryReading battery(int percent, std::optional<int> minutes) { return {percent, minutes}; }

TEST(SysfsPowerSources, Readings) {
  constexpr auto unknown = std::nullopt;
  struct {
    const char* what;
    std::optional<std::string> supplies;  // nullopt: no power_supply directory
    std::optional<host::BatteryReading> expected;
    int unreadable;
    bool external;
  } const cases[] = {
#define BAT0 "BAT0:type=Battery status=Discharging "
#define BAT1 ";BAT1:type=Battery "
      {"clamped to 100; seconds to empty", BAT0 "capacity=130 time_to_empty_now=3660", battery(100, 61), 0, 0},
      {"clamped to 0; charging",
       "BAT0:type=Battery capacity=-5 status=Charging time_to_empty_now=600;AC:type=Mains online=1",
       battery(0, unknown), 0, 1},
      {"energy over power", BAT0 "capacity=50 energy_now=30000000 power_now=15000000", battery(50, 120), 0, 0},
      {"charge over negative current", BAT0 "capacity=20 charge_now=2000000 current_now=-4000000",
       battery(20, 30), 0, 0},
      {"zero time and zero power fall through to charge",
       BAT0 "capacity=40 time_to_empty_now=0 energy_now=1000 power_now=0 charge_now=1000000 current_now=1000000",
       battery(40, 60), 0, 0},
      {"rates beyond any real battery are unknown",
       BAT0 "capacity=40 time_to_empty_now=9223372036854775807 energy_now=9223372036854775807 power_now=1",
       battery(40, unknown), 0, 0},
      {"most negative rate", BAT0 "capacity=40 charge_now=9223372036854775807 current_now=-9223372036854775808",
       battery(40, 60), 0, 0},
      {"discharging without a rate", BAT0 "capacity=70", battery(70, unknown), 0, 0},
      {"full is not discharging",
       "BAT0:type=Battery capacity=100 status=Full energy_now=1 power_now=1;AC:type=Mains online=0",
       battery(100, unknown), 0, 0},
      {"unreadable capacity is left out", "BAT1:type=Battery capacity=88 status=Unknown;" BAT0 "capacity=n/a",
       battery(88, unknown), 1, 0},
      // Two batteries: one draining, the other idle, as laptops with an
      // internal and an external battery drain them one after the other.
      {"two: charge weighted by energy, time from all energy over the draw",
       BAT0 "capacity=80 energy_full=50000000 energy_now=40000000 power_now=10000000 time_to_empty_now=14400" BAT1
            "status=Unknown capacity=20 energy_full=20000000 energy_now=4000000 power_now=0",
       battery(62, 264), 0, 0},
      {"two: the same in charge units",
       BAT0 "capacity=30 charge_full=3000000 charge_now=900000 current_now=-600000" BAT1
            "status=Discharging capacity=90 charge_full=1000000 charge_now=900000 current_now=-300000",
       battery(45, 120), 0, 0},
      {"two: energy of one, charge of the other: equal weights, time unknown",
       BAT0 "capacity=90 energy_full=50000000 energy_now=45000000 power_now=10000000" BAT1
            "status=Unknown capacity=41 charge_full=2000000 charge_now=820000",
       battery(65, unknown), 0, 0},
      {"two, charging: no time", "BAT0:type=Battery status=Charging capacity=10 energy_full=1000 energy_now=100"
                                 " power_now=50" BAT1 "status=Full capacity=100 energy_full=3000 energy_now=3000",
       battery(77, unknown), 0, 1},
      {"device batteries are not sources", "ADP1:type=Mains online=1;mouse:type=Battery scope=Device capacity=5",
       unknown, 0, 1},
      {"no supplies", "", unknown, 0, 1},
      {"no power_supply directory", std::nullopt, unknown, 0, 1},
  };
#undef BAT0
#undef BAT1
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempTree root;
    if (c.supplies) makeSupplies(root, *c.supplies);
    SysfsPowerSources sources{MachineRoot(root.path())};
    EXPECT_EQ(sources.read(), (host::PowerReading{c.expected, c.unreadable, c.external}));
  }
}

TEST(SysfsPowerSources, FileNoticesReportRealChangesUntilReleased) {
  TempTree root;
  makeSupplies(root, "BAT0:type=Battery capacity=80 status=Discharging");
  const std::string capacity = root / "sys/class/power_supply/BAT0/capacity";
  int calls = 0;
  {
    SysfsPowerSources sources{MachineRoot(root.path()), std::chrono::hours(1)};  // only the file notice can report
    auto registration = sources.observeChanges([&] { ++calls; });
    writeFile(capacity, "80\n");  // same reading
    spinFor(300ms);
    EXPECT_EQ(calls, 0);
    writeFile(capacity, "79\n");
    EXPECT_TRUE(spinUntil([&] { return calls == 1; }));
    EXPECT_EQ(sources.read().battery->percent, 79);
    registration.reset();
    writeFile(capacity, "78\n");
    spinFor(300ms);
    EXPECT_EQ(calls, 1);
  }
  // No poll: attribute files and supplies that appear are seen by their directory.
  SysfsPowerSources sources{MachineRoot(root.path()), std::chrono::hours(1)};
  auto registration = sources.observeChanges([&] { ++calls; });
  makeSupplies(root, "BAT0:energy_now=6000 power_now=3000");
  EXPECT_TRUE(spinUntil([&] { return calls == 2; }, 2s));
  EXPECT_EQ(sources.read().battery->minutesToEmpty, 120);
  makeSupplies(root, "BAT1:type=Battery capacity=50");
  EXPECT_TRUE(spinUntil([&] { return calls == 3; }, 2s));
  EXPECT_EQ(sources.read().battery->percent, (78 + 50) / 2) << "both batteries";
}

TEST(UeventMonitor, ReportsTheKernelsEventsOfItsSubsystemOnly) {
  // Any device's uevent file makes the kernel announce it; lo is everywhere.
  const char* trigger = "/sys/class/net/lo/uevent";
  if (::access(trigger, W_OK) != 0) GTEST_SKIP() << "needs root with a writable /sys to raise a uevent";
  int net = 0, power = 0;
  auto netMonitor = UeventMonitor::start("net", [&] { ++net; });
  auto powerMonitor = UeventMonitor::start("power_supply", [&] { ++power; });
  if (!netMonitor || !powerMonitor) GTEST_SKIP() << "no uevent netlink socket here";
  writeFile(trigger, "change");
  EXPECT_TRUE(spinUntil([&] { return net >= 1; }, 2s));
  spinFor(100ms);
  EXPECT_EQ(power, 0);
  netMonitor.reset();  // the socket goes with it
  writeFile(trigger, "change");
  spinFor(100ms);
  EXPECT_EQ(power, 0);
}

TEST(LinuxPowerManager, MachineFiles) {
  using host::HibernateModeReading;
  using Absence = HibernateModeReading::Absence;
  for (const auto& [state, mode, sleepEnabled, reading] :
       {std::tuple{"freeze mem disk\n", "  25 \n", true, HibernateModeReading::of(25)},
        {"freeze memory diskette\n", "deep\n", false, HibernateModeReading::none(Absence::NotAnInteger)},
        {"mem\n", "4294967296\n", true, HibernateModeReading::none(Absence::NotAnInteger)}}) {
    SCOPED_TRACE(state);
    TempTree root;
    writeFile(root / "sys/power/state", state);
    writeFile(root / "run/somnara/hibernatemode", mode);
    LinuxPowerManager pm{MachineRoot(root.path()), nullptr};
    EXPECT_EQ(pm.sleepEnabled(), sleepEnabled);
    EXPECT_EQ(pm.hibernateMode(), reading);
  }
  // On a systemd machine the mode is in force only while the suspend drop-in does
  // it; which drop-ins disagree is the power tool's -g table.
  const std::string dropInDir = "run/systemd/system/systemd-suspend.service.d/";
  const std::string hibernate = powertool::dropInForMode(25);
  const auto outOfStep = HibernateModeReading::none(Absence::OutOfStep);
  const struct {
    const char* what;
    std::optional<std::string> runtime, legacy;
    HibernateModeReading reading;
  } dropIns[] = {
      {"in step", hibernate, std::nullopt, HibernateModeReading::of(25)},
      {"an earlier version's after it", hibernate, "", outOfStep},
  };
  for (const auto& c : dropIns) {
    SCOPED_TRACE(c.what);
    TempTree root;
    writeFile(root / "sys/power/state", "mem disk\n");
    writeFile(root / "run/somnara/hibernatemode", "25\n");
    root.mkdir(dropInDir);
    if (c.runtime) writeFile(root / (dropInDir + "60-somnara-runtime.conf"), *c.runtime);
    if (c.legacy) writeFile(root / (dropInDir + "somnara.conf"), *c.legacy);
    LinuxPowerManager pm{MachineRoot(root.path()), nullptr};
    EXPECT_EQ(pm.hibernateMode(), c.reading);
  }

  TempTree root;
  LinuxPowerManager pm{MachineRoot(root.path()), nullptr};
  EXPECT_FALSE(pm.sleepEnabled());
  EXPECT_EQ(pm.hibernateMode(), host::HibernateModeReading::none(host::HibernateModeReading::Absence::NotRecorded));
  auto saved = pm.savedSettings();
  EXPECT_FALSE(saved.list.has_value());
  EXPECT_NE(saved.error.find("etc/somnara/PowerManagement.plist"), std::string::npos) << saved.error;
  writeFile(root / "etc/somnara/PowerManagement.plist", std::string("bplist00\0\x01", 10));
  saved = pm.savedSettings();
  EXPECT_FALSE(saved.list.has_value());
  EXPECT_FALSE(saved.error.empty());
  writeFile(root / "etc/somnara/PowerManagement.plist", plist::toXml(powertool::withHibernateMode(std::nullopt, 25)));
  EXPECT_EQ(pm.savedSettings().hibernateMode, 25);
}

// Beyond the port contract: arguments pass unsplit, a tool killed by a signal has
// no status, and cancelled timers leave nothing behind.
TEST(QtProcesses, RunPassesArgumentsWholeAndHasNoStatusForAKilledTool) {
  QtRunLoop loop;
  QtProcesses processes;
  loop.cancel(loop.schedule(10ms, true, [] {}));
  EXPECT_EQ(processes.run("/bin/sh", {"-c", "test \"$1\" = 'a b'", "sh", "a b"}), 0) << "one argument each";
  EXPECT_EQ(processes.run("/bin/sh", {"-c", "kill -KILL $$"}), std::nullopt) << "killed by a signal";
  EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST(QtProcesses, FindsRunningApplicationsByBundleIdentifierAndEndsThem) {
  TempTree dir;
  std::vector<int> pids;
  QProcess processA, processB;
  for (auto [name, process] : {std::pair{"A", &processA}, {"B", &processB}}) {
    const std::string bundle = dir / (std::string(name) + ".app"), exe = bundle + "/Contents/MacOS/" + name;
    writeFile(bundle + "/Contents/Info.plist",
              plist::toXml(Value(Dictionary{{"CFBundleIdentifier", Value(std::string("de.orvane.Test.") + name)}})));
    dir.mkdir(std::string(name) + ".app/Contents/MacOS");
    QFile::copy("/bin/sleep", QString::fromStdString(exe));
    ::chmod(exe.c_str(), 0755);
    process->start(QString::fromStdString(exe), {"30"});
    ASSERT_TRUE(process->waitForStarted());
    pids.push_back(static_cast<int>(process->processId()));
  }

  QtProcesses processes;
  EXPECT_TRUE(
      spinUntil([&] { return processes.runningApplications("de.orvane.Test.A") == std::vector<int>{pids[0]}; }));
  EXPECT_EQ(processes.runningApplications("de.orvane.Test.B"), std::vector<int>{pids[1]});
  EXPECT_TRUE(processes.runningApplications("de.orvane.Test").empty());
  EXPECT_TRUE(processes.runningApplications("").empty());

  EXPECT_TRUE(processes.isAlive(pids[0]) && !processes.isAlive(0));
  EXPECT_TRUE(processes.forceTerminate(pids[0]));
  ASSERT_TRUE(processA.waitForFinished(2000));
  EXPECT_EQ(processA.exitStatus(), QProcess::CrashExit);
  EXPECT_FALSE(processes.isAlive(pids[0]));
  EXPECT_FALSE(processes.forceTerminate(pids[0]));
  EXPECT_TRUE(processes.runningApplications("de.orvane.Test.A").empty());

  EXPECT_TRUE(processes.terminate(pids[1]));
  ASSERT_TRUE(processB.waitForFinished(2000));
  EXPECT_EQ(processB.exitStatus(), QProcess::CrashExit);
}

// Runs tools for real with a chosen effective uid; nothing else is asked of it.
struct UidProcesses final : host::Processes {
  explicit UidProcesses(unsigned uid) : uid(uid) {}
  std::optional<int> run(const std::string& path, const Strings& args) override { return real.run(path, args); }
  unsigned effectiveUid() const override { return uid; }
  int currentPid() const override { return 0; }
  std::vector<int> runningApplications(const std::string&) const override { return {}; }
  std::optional<std::string> bundlePathOfApplication(int) const override { return std::nullopt; }
  bool isAlive(int) const override { return false; }
  bool terminate(int) override { return false; }
  bool forceTerminate(int) override { return false; }
  void kill(int) override {}
  void exitImmediately(int) override {}
  unsigned uid;
  QtProcesses real;
};

TEST(PkexecAuthorization, RepairToolStatusesMapToFailedSteps) {
  using Step = host::Authorization::Step;
  TempTree dir;
  // The repair tool exits with the status written in the file it is given;
  // pkexec records its arguments, then runs them.
  const std::string repair = dir / "repair", pkexec = dir / "pkexec", target = dir / "pmsethelper";
  writeFile(repair, "#!/bin/sh\nexit $(cat \"$1\")\n");
  writeFile(pkexec, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + (dir / "pkexec.args") + "\"\n\"$@\"\n");
  ASSERT_EQ(::chmod(repair.c_str(), 0755) | ::chmod(pkexec.c_str(), 0755), 0);

  const std::vector<std::pair<int, std::optional<std::pair<Step, int>>>> cases = {
      {0, std::nullopt}, {3, std::pair{Step::Chown, 3}}, {4, std::pair{Step::Chmod, 4}},
      {127, std::pair{Step::Chown, 127}}};
  for (unsigned uid : {0u, 1000u}) {
    UidProcesses processes(uid);
    PkexecAuthorization authorization(processes, repair, pkexec);
    for (const auto& [status, expected] : cases) {
      SCOPED_TRACE("uid " + std::to_string(uid) + " status " + std::to_string(status));
      writeFile(target, std::to_string(status));
      ::unlink((dir / "pkexec.args").c_str());
      const auto failure = authorization.repairHelperPrivileges(target);
      EXPECT_EQ(failure ? std::optional(std::pair(failure->step, failure->code)) : std::nullopt, expected);
      // Only an unprivileged caller goes through pkexec, with tool and path as arguments.
      EXPECT_EQ(readFile(dir / "pkexec.args"), uid == 0 ? "" : repair + "\n" + target + "\n");
    }
  }
  UidProcesses root(0);
  const auto missing = PkexecAuthorization(root, dir / "absent", pkexec).repairHelperPrivileges(target);
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(std::pair(missing->step, missing->code), std::pair(Step::Chown, -1));
}

TEST(InotifyFileWatch, ReportsChangesDeepInTheTreeAndTheRootMoving) {
  TempTree dir;
  const std::string root = dir / "tree";
  dir.mkdir("tree/a/b");
  InotifyFileWatch fileWatch;
  std::vector<Strings> batches;
  auto registration = fileWatch.watch(root, [&](const Strings& paths) { batches.push_back(paths); });
  ASSERT_NE(registration, nullptr);
  auto seen = [&](const std::string& path) {
    return std::any_of(batches.begin(), batches.end(),
                       [&](const Strings& b) { return std::find(b.begin(), b.end(), path) != b.end(); });
  };

  writeFile(root + "/a/b/file", "x");
  EXPECT_TRUE(spinUntil([&] { return seen(root + "/a/b/file"); }));
  dir.mkdir("tree/a/new");  // made after the watch started: watched too
  EXPECT_TRUE(spinUntil([&] { return seen(root + "/a/new"); }));
  writeFile(root + "/a/new/inner", "y");
  EXPECT_TRUE(spinUntil([&] { return seen(root + "/a/new/inner"); }));
  batches.clear();
  ASSERT_EQ(::rename(root.c_str(), (dir / "renamed").c_str()), 0);
  EXPECT_TRUE(spinUntil([&] { return seen(root); }));
  EXPECT_EQ(fileWatch.watch(dir / "missing", [](const Strings&) {}), nullptr);
}

}  // namespace
}  // namespace somnara::linuxhost

// A termination signal ends the program in an orderly way where its run loop
// is free, and by the signal's own action within the deadline where not.
TEST(TerminationSignals, EveryProgramEndsSoonAfterSIGTERM) {
  struct {
    const char* mode;
    QProcess::ExitStatus how;
    int code;
  } const cases[] = {{"run", QProcess::NormalExit, 0}, {"block", QProcess::CrashExit, SIGTERM}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    QProcess peer;
    peer.start(QStringLiteral(SOMNARA_TERMINATION_PEER), {QString::fromLatin1(c.mode)});
    ASSERT_TRUE(peer.waitForReadyRead(10000));
    ASSERT_EQ(peer.readAll().trimmed(), "ready");
    QElapsedTimer took;
    took.start();
    peer.terminate();
    ASSERT_TRUE(peer.waitForFinished(3000));
    EXPECT_LT(took.elapsed(), 2000);
    EXPECT_EQ(peer.exitStatus(), c.how);
    EXPECT_EQ(peer.exitCode(), c.code);
  }
}
