// pmset: sets the hibernate mode of this machine, puts it to sleep, or shows
// the active mode.
//
// The machine root is SOMNARA_ROOT (as secure_getenv reads it: never for a
// set-user-id or set-group-id run), "/" when unset. Below any other root no
// symbolic link is followed. A change of the hibernate mode runs with every
// signal that can be blocked blocked, so it is never cut in half; a change
// that is already in place writes nothing and reloads nothing.
//
// A mode that needs hibernation (1, 25) or hybrid sleep (3) is refused where
// the kernel files show the machine cannot do it: pointing suspend requests
// at it would make every sleep fail. Where sys/power/state cannot be read
// the tool cannot tell, and refuses nothing; -g then shows only the mode. A persistent drop-in an earlier version
// wrote for hibernation, without the fallback to suspend, is rewritten by
// every change.
//
// One run changes the settings at a time (ChangeLock, never held while
// systemctl runs), and the machine allows a burst of 5 changes, then one a
// second, whoever asks (ChangeBudget); a change already in place costs
// nothing. The active value is written last, and only while the runtime
// drop-in still holds this run's mode: a run overtaken by another while
// systemd reloaded leaves the other's change whole. -g says when the
// drop-in and the active value disagree.
//
// Exit status (powertool/PowerToolStatus.h): 0 success; 1 a write was
// refused for lack of privileges (EACCES, EPERM, EROFS) or -g found no
// readable value; 2 usage error or bad SOMNARA_ROOT; 3 any other I/O
// failure, including a failed systemd reload; 4 the machine cannot do the
// kind of sleep the mode needs; 5 not now (locked, too many changes, or
// overtaken). sleepnow on the real machine exits with the status of
// `systemctl suspend`.

#include <signal.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <variant>
#include <vector>

#include "Arguments.h"
#include "ChangeLock.h"
#include "MachinePaths.h"
#include "SystemCommand.h"
#include "Writers.h"
#include "fileio/FileTree.h"
#include "powertool/PowerToolStatus.h"
#include "powertool/SleepCapabilities.h"

// The machine root while SOMNARA_ROOT is unset. Tests build a variant with a
// scratch root to run through the set-user-id helper, which clears the
// environment.
#ifndef PMSET_MACHINE_ROOT
#define PMSET_MACHINE_ROOT "/"
#endif

namespace pm = somnara::pmset;
namespace powertool = somnara::powertool;
namespace fio = somnara::fileio;
using Paths = pm::MachinePaths;

namespace {

enum Exit {
  kOk = POWER_TOOL_OK,
  kDenied = POWER_TOOL_DENIED,
  kUsage = POWER_TOOL_USAGE,
  kIoFailure = POWER_TOOL_IO_FAILURE,
  kUnsupported = POWER_TOOL_UNSUPPORTED,
  kBusy = POWER_TOOL_BUSY,
};

int report(const fio::IoError& err) {
  std::fprintf(stderr, "pmset: %s\n", err.message().c_str());
  return err.isPermissionDenied() ? kDenied : kIoFailure;
}

// Milliseconds since boot: the clock of the change budget, which lives in
// run/ and so never outlasts a boot.
std::int64_t bootMilliseconds() {
  timespec t{};
  ::clock_gettime(CLOCK_BOOTTIME, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The change lock, or the exit status when it cannot be had.
std::optional<pm::ChangeLock> takeChangeLock(const fio::FileTree& tree, int mode, int* status) {
  fio::IoError error;
  auto lock = pm::ChangeLock::take(tree, Paths::kChangeLock, &error);
  if (lock) return lock;
  if (error.error == EWOULDBLOCK) {
    std::fprintf(stderr, "pmset: hibernatemode %d not set: another change has held the settings for 2 s; try again\n",
                 mode);
    *status = kBusy;
  } else {
    *status = report(error);
  }
  return std::nullopt;
}

// Blocks every signal that can be blocked until destroyed; one that arrives
// meanwhile is delivered then.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// systemd reads the changed drop-ins. On a non-real root the request is
// recorded instead.
std::optional<fio::IoError> reloadSystemd(const Paths& paths, const fio::FileTree& tree) {
  if (!paths.isRealRoot())
    return tree.appendLine(Paths::kSystemdReloads,
                           "daemon-reload " + std::to_string(static_cast<long long>(std::time(nullptr))));
  pm::CommandResult r = pm::runSystemctl({"daemon-reload"});
  if (r.started && r.signal == 0 && r.exitStatus == 0) return std::nullopt;
  if (!r.started) std::fprintf(stderr, "pmset: %s\n", r.error.c_str());
  else
    std::fprintf(stderr, "pmset: systemctl daemon-reload failed (%s %d)\n", r.signal ? "signal" : "status",
                 r.signal ? r.signal : r.exitStatus);
  return fio::IoError{EIO, "systemd-suspend.service", "reload"};
}

// Writes content as the drop-in and removes the earlier version's drop-in,
// whose name would sort after it.
std::optional<fio::IoError> writeDropIn(const fio::FileTree& tree, const char* dropIn, const char* legacy,
                                       const std::string& content) {
  if (auto err = tree.writeAtomically(dropIn, content)) return err;
  return tree.remove(legacy);
}

// What the kernel files allow; nullopt where sys/power/state cannot be read
// (no sysfs: the tool cannot tell).
std::optional<powertool::SleepCapabilities> readSleepCapabilities(const fio::FileTree& tree) {
  auto file = [&tree](const char* relative) { return tree.read(relative, 1 << 20).content; };
  auto state = file(powertool::kSysPowerState);
  if (!state) return std::nullopt;
  return powertool::evaluateKernelSleepFiles({std::move(state), file(powertool::kSysPowerDisk),
                                              file(powertool::kKernelLockdown), file(powertool::kProcSwaps),
                                              file(powertool::kProcMeminfo)});
}

// Refuses a mode that needs hibernation or hybrid sleep where the kernel
// files show the machine cannot do it; the exit status, or nullopt to go on.
std::optional<int> refuseUnsupported(const fio::FileTree& tree, int mode) {
  if (mode == 0) return std::nullopt;
  const auto caps = readSleepCapabilities(tree);
  if (!caps) return std::nullopt;
  const auto ability = powertool::abilityForHibernateMode(*caps, mode);
  if (ability.possible()) return std::nullopt;
  const bool hybridOnly = mode == 3 && caps->hibernate.possible();
  std::fprintf(stderr, "pmset: hibernatemode %d refused: this machine can't %s: %s\n", mode,
               hybridOnly ? "do hybrid sleep" : "hibernate", powertool::describe(ability.blocker));
  return kUnsupported;
}

// The persistent drop-in as an earlier version wrote it for hibernation;
// nullopt when it is current or absent.
std::optional<int> stalePersistentDropIn(const fio::FileTree& tree) {
  auto read = tree.read(Paths::kPersistentDropIn, 4096);
  return read.content ? powertool::modeOfStaleDropIn(*read.content) : std::nullopt;
}

bool dropInHolds(const fio::FileTree& tree, const char* dropIn, const char* legacy, const std::string& content) {
  auto legacyRead = tree.read(legacy, 4096);
  return tree.read(dropIn, 4096).content == content && !legacyRead.content && legacyRead.error.error == ENOENT;
}

// Every file the command writes already holds what it would write.
bool alreadyInPlace(const fio::FileTree& tree, const pm::SetHibernateMode& cmd, bool systemd) {
  const std::string dropIn = powertool::dropInForMode(cmd.mode);
  if (pm::readActiveHibernateMode(tree, Paths::kActiveHibernateMode, nullptr) != cmd.mode) return false;
  if (systemd && !dropInHolds(tree, Paths::kRuntimeDropIn, Paths::kLegacyRuntimeDropIn, dropIn)) return false;
  if (systemd && stalePersistentDropIn(tree)) return false;
  if (cmd.force) return true;
  if (systemd && !dropInHolds(tree, Paths::kPersistentDropIn, Paths::kLegacyPersistentDropIn, dropIn)) return false;
  return pm::savedHibernateModeIs(tree, Paths::kSavedSettings, cmd.mode);
}

// Drop-ins are written (and systemd reloaded) only on a systemd-booted
// system: <root>/run/systemd/system is never created here, since other
// programs take it as the sign that systemd is running.
int setHibernateMode(const Paths& paths, const fio::FileTree& tree, const pm::SetHibernateMode& cmd) {
  if (auto refused = refuseUnsupported(tree, cmd.mode)) return *refused;
  const bool systemd = tree.isDirectory(Paths::kSystemdRunDirectory);
  if (alreadyInPlace(tree, cmd, systemd)) return kOk;

  int status = kOk;
  auto lock = takeChangeLock(tree, cmd.mode, &status);
  if (!lock) return status;
  SignalsHeld held;
  if (alreadyInPlace(tree, cmd, systemd)) return kOk;  // made by the run that held the lock
  const std::int64_t now = bootMilliseconds();
  pm::ChangeBudget budget = lock->budget(now);
  const bool allowed = budget.take(now);
  if (!lock->store(budget)) {
    std::fprintf(stderr, "pmset: cannot record the change in %s\n", tree.pathOf(Paths::kChangeLock).c_str());
    return kIoFailure;
  }
  if (!allowed) {
    std::fprintf(stderr,
                 "pmset: hibernatemode %d not set: too many changes (at most 5 at once, then one a second); "
                 "try again in a second\n",
                 cmd.mode);
    return kBusy;
  }

  const std::string dropIn = powertool::dropInForMode(cmd.mode);
  if (!cmd.force) {
    pm::SaveReport saved;
    if (auto err = pm::saveHibernateMode(tree, Paths::kSavedSettings, cmd.mode, std::time(nullptr), &saved))
      return report(*err);
    if (!saved.movedAsideTo.empty())
      std::fprintf(stderr, "pmset: warning: unreadable %s moved aside to %s\n",
                   tree.pathOf(Paths::kSavedSettings).c_str(), tree.pathOf(saved.movedAsideTo).c_str());
    if (systemd) {
      if (auto err = writeDropIn(tree, Paths::kPersistentDropIn, Paths::kLegacyPersistentDropIn, dropIn))
        return report(*err);
    }
  }
  if (systemd && cmd.force) {
    if (auto stale = stalePersistentDropIn(tree)) {
      if (auto err = tree.writeAtomically(Paths::kPersistentDropIn, powertool::dropInForMode(*stale)))
        return report(*err);
    }
  }
  if (systemd) {
    if (auto err = writeDropIn(tree, Paths::kRuntimeDropIn, Paths::kLegacyRuntimeDropIn, dropIn))
      return report(*err);
    lock.reset();  // systemctl may take long, or be stopped
    if (auto err = reloadSystemd(paths, tree)) return report(*err);
    lock = takeChangeLock(tree, cmd.mode, &status);
    if (!lock) return status;
    if (!dropInHolds(tree, Paths::kRuntimeDropIn, Paths::kLegacyRuntimeDropIn, dropIn)) {
      std::fprintf(stderr, "pmset: hibernatemode %d not set: another change was made meanwhile\n", cmd.mode);
      return kBusy;
    }
  }
  // The active value goes last: reading it back shows the whole change is in
  // place, and a change that failed half way is made again by the next run.
  if (auto err = pm::writeActiveHibernateMode(tree, Paths::kActiveHibernateMode, cmd.mode)) return report(*err);
  return kOk;
}

int sleepNow(const Paths& paths, const fio::FileTree& tree) {
  if (!paths.isRealRoot()) {
    std::string line = "sleepnow " + std::to_string(static_cast<long long>(std::time(nullptr)));
    if (auto err = tree.appendLine(Paths::kSleepRequests, line)) return report(*err);
    return kOk;
  }
  pm::CommandResult r = pm::runSystemctl({"suspend"});
  if (!r.started) {
    std::fprintf(stderr, "pmset: %s\n", r.error.c_str());
    return kIoFailure;
  }
  if (r.signal != 0) {
    std::fprintf(stderr, "pmset: systemctl suspend killed by signal %d\n", r.signal);
    return kIoFailure;
  }
  if (r.exitStatus != 0) std::fprintf(stderr, "pmset: systemctl suspend failed (status %d)\n", r.exitStatus);
  return r.exitStatus;
}

// The active mode, whether systemd's drop-in agrees (systemd machines
// only), then what the machine can do:
//   hibernatemode 25
//   drop-in: out of step: the drop-in makes suspend requests do suspend
//   suspend: yes
//   hibernate: no (no swap space)
//   hybrid-sleep: no (no swap space)
// (the last three only where sys/power/state can be read).
int showSettings(const fio::FileTree& tree) {
  std::string error;
  auto mode = pm::readActiveHibernateMode(tree, Paths::kActiveHibernateMode, &error);
  if (!mode) {
    std::fprintf(stderr, "pmset: %s\n", error.c_str());
    return kDenied;
  }
  std::printf("hibernatemode %d\n", *mode);
  if (tree.isDirectory(Paths::kSystemdRunDirectory)) {
    const auto legacy = tree.read(Paths::kLegacyRuntimeDropIn, 4096);
    const auto disagreement = powertool::dropInDisagreement(*mode, tree.read(Paths::kRuntimeDropIn, 4096).content,
                                                            legacy.content || legacy.error.error != ENOENT);
    std::printf("drop-in: %s\n", disagreement ? ("out of step: " + *disagreement).c_str() : "in step");
  }
  if (const auto caps = readSleepCapabilities(tree))
    std::printf("suspend: %s\nhibernate: %s\nhybrid-sleep: %s\n", powertool::describe(caps->suspend).c_str(),
                powertool::describe(caps->hibernate).c_str(), powertool::describe(caps->hybridSleep).c_str());
  return std::fflush(stdout) == 0 ? kOk : kIoFailure;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  auto parsed = pm::parseArguments(args);
  if (auto* usage = std::get_if<pm::UsageError>(&parsed)) {
    std::fprintf(stderr, "pmset: %s\n%s", usage->message.c_str(), pm::usageText());
    return kUsage;
  }

  std::string rootError;
  const char* rootValue = ::secure_getenv("SOMNARA_ROOT");
  auto paths = Paths::fromEnvironment(rootValue && *rootValue ? rootValue : PMSET_MACHINE_ROOT, &rootError);
  if (!paths) {
    std::fprintf(stderr, "pmset: %s\n", rootError.c_str());
    return kUsage;
  }
  fio::IoError openError;
  auto tree = paths->open(&openError);
  if (!tree) return report(openError);

  const pm::Command& command = std::get<pm::Command>(parsed);
  if (auto* set = std::get_if<pm::SetHibernateMode>(&command)) return setHibernateMode(*paths, *tree, *set);
  if (std::holds_alternative<pm::SleepNow>(command)) return sleepNow(*paths, *tree);
  return showSettings(*tree);
}
