// Run loop, processes, bundles, privilege repair, file watch, platform, signals.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <csignal>

#include "TestSupport.h"
#include "host/linux/BundleLocator.h"
#include "host/linux/CrashRecorder.h"
#include "host/linux/InotifyFileWatch.h"
#include "host/linux/LinuxPlatform.h"
#include "host/linux/PkexecAuthorization.h"
#include "host/linux/QtProcesses.h"
#include "host/linux/QtRunLoop.h"
#include "host/linux/TerminationSignals.h"
#include "plist/PlistCodec.h"

namespace somnara::linuxhost {
namespace {

using namespace std::chrono_literals;
using test::spinUntil;
using test::TempTree;

void writeScript(const std::string& path, const std::string& body) {
  test::writeFile(path, "#!/bin/sh\n" + body + "\n");
  ::chmod(path.c_str(), 0755);
}

// A bundle at <dir>/<name>.app whose executable is a copy of sleep(1).
std::string makeBundle(const std::string& dir, const std::string& name, const std::string& identifier) {
  const std::string bundle = dir + "/" + name + ".app";
  QDir().mkpath(QString::fromStdString(bundle + "/Contents/MacOS"));
  QDir().mkpath(QString::fromStdString(bundle + "/Contents/Resources"));
  test::writeFile(bundle + "/Contents/Info.plist",
                  plist::toXml(Value(Dictionary{{"CFBundleIdentifier", Value(identifier)}})));
  const std::string exe = bundle + "/Contents/MacOS/" + name;
  QFile::copy("/bin/sleep", QString::fromStdString(exe));
  ::chmod(exe.c_str(), 0755);
  return bundle;
}

TEST(QtRunLoop, TimersFireCancelAndRepeat) {
  QtRunLoop loop;
  EXPECT_NEAR(loop.now(), static_cast<double>(::time(nullptr)), 2.0);

  std::vector<std::string> order;
  const auto late = loop.schedule(60ms, false, [&] { order.push_back("late"); });
  const auto early = loop.schedule(10ms, false, [&] { order.push_back("early"); });
  const auto cancelled = loop.schedule(20ms, false, [&] { order.push_back("cancelled"); });
  EXPECT_NE(late, 0u);
  EXPECT_NE(early, late);
  EXPECT_NE(cancelled, early);
  loop.cancel(cancelled);
  loop.cancel(987654);  // unknown ids are ignored

  int ticks = 0;
  host::RunLoop::TimerId repeating = 0;
  repeating = loop.schedule(5ms, true, [&] {
    if (++ticks == 3) loop.cancel(repeating);  // cancelling itself from inside
  });
  EXPECT_TRUE(spinUntil([&] { return order.size() == 2 && ticks == 3; }));
  test::spinFor(80ms);
  EXPECT_EQ(order, (std::vector<std::string>{"early", "late"}));
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(loop.pendingTimers(), 0u);
  EXPECT_GT(loop.schedule(1ms, false, [] {}), repeating);  // never reused
}

TEST(QtRunLoop, SleepBlockingServesNothing) {
  QtRunLoop loop;
  bool fired = false;
  loop.schedule(1ms, false, [&] { fired = true; });
  const auto start = std::chrono::steady_clock::now();
  loop.sleepBlocking(50ms);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_FALSE(fired);
  EXPECT_TRUE(spinUntil([&] { return fired; }));
}

TEST(QtProcesses, RunServesTheLoopAndReportsExitStatus) {
  QtRunLoop loop;
  QtProcesses processes;
  int ticks = 0;
  const auto timer = loop.schedule(20ms, true, [&] { ++ticks; });
  EXPECT_EQ(processes.run("/bin/sh", {"-c", "sleep 0.3; exit 7"}), 7);
  EXPECT_GE(ticks, 5) << "timers were not served while the tool ran";
  loop.cancel(timer);

  struct Case {
    const char* what;
    std::string path;
    std::vector<std::string> args;
    std::optional<int> expected;
  };
  const std::vector<Case> cases = {
      {"success", "/bin/true", {}, 0},
      {"arguments are passed one by one", "/bin/sh", {"-c", "test \"$1\" = 'a b'", "sh", "a b"}, 0},
      {"missing executable", "/nonexistent/tool", {}, std::nullopt},
      {"killed by a signal", "/bin/sh", {"-c", "kill -KILL $$"}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(processes.run(c.path, c.args), c.expected);
  }
}

TEST(QtProcesses, FindsRunningApplicationsByBundleIdentifier) {
  TempTree dir;
  const std::string bundle = makeBundle(dir.path(), "Fake", "de.orvane.Test.Fake");
  // The same program outside a bundle belongs to no bundle.
  QFile::copy("/bin/sleep", QString::fromStdString(dir / "loose"));
  QProcess inBundle, loose;
  inBundle.start(QString::fromStdString(bundle + "/Contents/MacOS/Fake"), {"30"});
  loose.start(QString::fromStdString(dir / "loose"), {"30"});
  ASSERT_TRUE(inBundle.waitForStarted());
  ASSERT_TRUE(loose.waitForStarted());
  const int pid = static_cast<int>(inBundle.processId());

  QtProcesses processes;
  EXPECT_TRUE(spinUntil([&] { return processes.runningApplications("de.orvane.Test.Fake") == std::vector<int>{pid}; }));
  EXPECT_TRUE(processes.runningApplications("de.orvane.Test.Other").empty());
  EXPECT_TRUE(processes.runningApplications("").empty());

  EXPECT_TRUE(processes.isAlive(pid));
  EXPECT_FALSE(processes.isAlive(0));
  EXPECT_FALSE(processes.isAlive(-1));
  EXPECT_TRUE(processes.forceTerminate(pid));
  ASSERT_TRUE(inBundle.waitForFinished(2000));
  EXPECT_EQ(inBundle.exitStatus(), QProcess::CrashExit);
  EXPECT_FALSE(processes.isAlive(pid));
  EXPECT_FALSE(processes.forceTerminate(pid));
  EXPECT_TRUE(processes.runningApplications("de.orvane.Test.Fake").empty());

  EXPECT_TRUE(processes.terminate(static_cast<int>(loose.processId())));
  ASSERT_TRUE(loose.waitForFinished(2000));
  EXPECT_EQ(loose.exitStatus(), QProcess::CrashExit);
}

TEST(QtProcesses, ExitImmediatelySkipsExitHandlers) {
  TempTree dir;
  static std::string marker;
  marker = dir / "exit-handler-ran";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::atexit([] { test::writeFile(marker, "ran"); });
    QtProcesses().exitImmediately(5);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5);
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(marker)));
}

TEST(BundleLocator, BundleOfAnExecutable) {
  struct Case {
    std::string executable;
    std::optional<std::string> bundle;
  };
  const std::vector<Case> cases = {
      {"/opt/Somnara.app/Contents/MacOS/Somnara", "/opt/Somnara.app"},
      {"/opt/Somnara.app/Contents/Library/LoginItems/Somnara Daemon.app/Contents/MacOS/Somnara Daemon",
       "/opt/Somnara.app/Contents/Library/LoginItems/Somnara Daemon.app"},
      {"/usr/bin/somnara", std::nullopt},
      {"/opt/Somnara/Contents/MacOS/Somnara", std::nullopt},
      {"/opt/.app/Contents/MacOS/x", std::nullopt},
      {"/opt/Somnara.app/Contents/MacOS/", std::nullopt},
      {"/opt/Somnara.app/Contents/MacOS/sub/x", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(BundleLocator::bundlePathForExecutable(c.executable), c.bundle) << c.executable;

  TempTree dir;
  EXPECT_EQ(BundleLocator::identifierOfBundle(makeBundle(dir.path(), "Good", "de.orvane.Good")), "de.orvane.Good");
  const std::string bad = makeBundle(dir.path(), "Bad", "x");
  test::writeFile(bad + "/Contents/Info.plist", plist::toXml(Value(Dictionary{{"CFBundleIdentifier", Value(3)}})));
  EXPECT_EQ(BundleLocator::identifierOfBundle(bad), "");
  EXPECT_EQ(BundleLocator::identifierOfBundle(dir / "Missing.app"), "");
}

// Answers a fixed effective uid; runs tools for real.
class UidProcesses final : public host::Processes {
 public:
  explicit UidProcesses(unsigned uid) : uid_(uid) {}
  std::optional<int> run(const std::string& path, const std::vector<std::string>& args) override {
    return real_.run(path, args);
  }
  int currentPid() const override { return real_.currentPid(); }
  unsigned effectiveUid() const override { return uid_; }
  std::vector<int> runningApplications(const std::string& id) const override { return real_.runningApplications(id); }
  bool isAlive(int pid) const override { return real_.isAlive(pid); }
  bool terminate(int pid) override { return real_.terminate(pid); }
  bool forceTerminate(int pid) override { return real_.forceTerminate(pid); }
  void kill(int pid) override { real_.kill(pid); }
  void exitImmediately(int status) override { real_.exitImmediately(status); }

 private:
  unsigned uid_;
  QtProcesses real_;
};

TEST(PkexecAuthorization, RepairToolStatusesMapToFailedSteps) {
  using Step = host::Authorization::Step;
  TempTree dir;
  // The fake repair tool exits with the status written in the file it is given.
  const std::string repair = dir / "repair";
  writeScript(repair, "exit $(cat \"$1\")");
  // The fake pkexec records its arguments, then runs them.
  const std::string pkexec = dir / "pkexec";
  writeScript(pkexec, "printf '%s\\n' \"$@\" > \"" + (dir / "pkexec.args") + "\"\n\"$@\"");

  struct Case {
    int status;
    std::optional<std::pair<Step, int>> expected;
  };
  const std::vector<Case> cases = {
      {0, std::nullopt},           {2, std::pair{Step::Chown, 2}},     {3, std::pair{Step::Chown, 3}},
      {4, std::pair{Step::Chmod, 4}}, {126, std::pair{Step::Chown, 126}}, {127, std::pair{Step::Chown, 127}},
  };
  for (unsigned uid : {0u, 1000u}) {
    UidProcesses processes(uid);
    PkexecAuthorization authorization(processes, repair, pkexec);
    for (const Case& c : cases) {
      SCOPED_TRACE("uid " + std::to_string(uid) + " status " + std::to_string(c.status));
      const std::string target = dir / "pmsethelper";
      test::writeFile(target, std::to_string(c.status));
      ::unlink((dir / "pkexec.args").c_str());
      const auto failure = authorization.repairHelperPrivileges(target);
      ASSERT_EQ(failure.has_value(), c.expected.has_value());
      if (failure) {
        EXPECT_EQ(failure->step, c.expected->first);
        EXPECT_EQ(failure->code, c.expected->second);
      }
      // Only an unprivileged caller goes through pkexec, with tool and path as arguments.
      EXPECT_EQ(test::readFile(dir / "pkexec.args"), uid == 0 ? "" : repair + "\n" + target + "\n");
    }
  }
  UidProcesses root(0);
  const auto missing = PkexecAuthorization(root, dir / "absent", pkexec).repairHelperPrivileges(dir / "x");
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(missing->step, Step::Chown);
  EXPECT_EQ(missing->code, -1);
}

TEST(InotifyFileWatch, ReportsChangesDeepInTheTreeAndTheRootMoving) {
  TempTree dir;
  const std::string root = dir / "tree";
  QDir().mkpath(QString::fromStdString(root + "/a/b"));
  InotifyFileWatch fileWatch;
  std::vector<std::vector<std::string>> batches;
  auto registration = fileWatch.watch(root, [&](const std::vector<std::string>& paths) { batches.push_back(paths); });
  ASSERT_NE(registration, nullptr);
  auto seen = [&](const std::string& path) {
    for (const auto& b : batches)
      if (std::find(b.begin(), b.end(), path) != b.end()) return true;
    return false;
  };

  test::writeFile(root + "/a/b/file", "x");
  EXPECT_TRUE(spinUntil([&] { return seen(root + "/a/b/file"); }));

  // A directory made after the watch started is watched too.
  QDir().mkpath(QString::fromStdString(root + "/a/new"));
  EXPECT_TRUE(spinUntil([&] { return seen(root + "/a/new"); }));
  test::spinFor(50ms);
  test::writeFile(root + "/a/new/inner", "y");
  EXPECT_TRUE(spinUntil([&] { return seen(root + "/a/new/inner"); }));

  batches.clear();
  ASSERT_EQ(::rename(root.c_str(), (dir / "renamed").c_str()), 0);
  EXPECT_TRUE(spinUntil([&] { return seen(root); }));

  EXPECT_EQ(fileWatch.watch(dir / "missing", [](const std::vector<std::string>&) {}), nullptr);
}

TEST(LinuxPlatform, KernelReleaseEncoding) {
  struct Case {
    const char* release;
    std::int32_t expected;
  };
  const std::vector<Case> cases = {
      {"6.1.0-18-amd64", 0x060100},  {"5.15.300-generic", 0x050fff}, {"10.2", 0x0a0200},
      {"10.15.7", 0x0a0f07},         {"10.300.1", 0x0aff01},         {"11.0.0", 0xaffff},
      {"99.99.99", 0xaffff},         {"6", 0x060000},                {"garbage", 0},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(LinuxPlatform(c.release).osVersion(), c.expected) << c.release;
  EXPECT_LE(LinuxPlatform().osVersion(), 0xaffff);
  EXPECT_GT(LinuxPlatform().osVersion(), 0);
}

TEST(CrashRecorder, AFatalSignalLeavesOneRecordForTheNextRun) {
  TempTree dir;
  const std::string report = dir / "state/somnara/de.orvane.Test.crash";
  LinuxPlatform platform("6.1.0", report);
  EXPECT_FALSE(platform.takeCrashReport().has_value());

  for (int signal : {SIGSEGV, SIGABRT}) {
    SCOPED_TRACE(signal);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CrashRecorder recorder(report, "de.orvane.Test");
      ::raise(signal);
      ::_exit(0);  // not reached when the record was taken
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the signal must still end the program";
    EXPECT_EQ(WTERMSIG(status), signal);
    const auto text = platform.takeCrashReport();
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, "de.orvane.Test (pid " + std::to_string(child) + ") ended by signal " + std::to_string(signal) + "\n");
    EXPECT_FALSE(platform.takeCrashReport().has_value()) << "a record is handed out once";
  }
  EXPECT_FALSE(platform.logFilePath().has_value());
}

TEST(TerminationSignals, SignalsArriveOnTheLoopAndDispositionsComeBack) {
  std::vector<int> received;
  {
    TerminationSignals handlers([&](int s) { received.push_back(s); });
    ASSERT_TRUE(handlers.installed());
    ::raise(SIGTERM);
    ::raise(SIGINT);
    EXPECT_TRUE(received.empty()) << "handled inside the signal handler";
    EXPECT_TRUE(spinUntil([&] { return received.size() == 2; }));
  }
  EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
  struct sigaction current {};
  ::sigaction(SIGTERM, nullptr, &current);
  EXPECT_EQ(current.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace somnara::linuxhost
