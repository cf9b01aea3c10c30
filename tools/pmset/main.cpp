// pmset: sets the hibernate mode of this machine, puts it to sleep, or shows
// the active mode.
//
// Exit status: 0 success; 1 a write was refused for lack of privileges
// (EACCES, EPERM, EROFS) or -g found no readable value; 2 usage error or bad
// SOMNARA_ROOT; 3 any other I/O failure. sleepnow on the real machine exits
// with the status of `systemctl suspend`.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <variant>
#include <vector>

#include "Arguments.h"
#include "fileio/FileIO.h"
#include "MachinePaths.h"
#include "SystemCommand.h"
#include "Writers.h"

namespace pm = somnara::pmset;
namespace fio = somnara::fileio;

namespace {

enum Exit { kOk = 0, kDenied = 1, kUsage = 2, kIoFailure = 3 };

int report(const fio::IoError& err) {
  std::fprintf(stderr, "pmset: %s\n", err.message().c_str());
  return err.isPermissionDenied() ? kDenied : kIoFailure;
}

void reloadSystemd() {
  pm::CommandResult r = pm::runSystemctl({"daemon-reload"});
  if (!r.started) {
    std::fprintf(stderr, "pmset: warning: %s\n", r.error.c_str());
  } else if (r.signal != 0 || r.exitStatus != 0) {
    std::fprintf(stderr, "pmset: warning: systemctl daemon-reload failed (%s %d)\n",
                 r.signal ? "signal" : "status", r.signal ? r.signal : r.exitStatus);
  }
}

// Writes content as the drop-in at path and removes the earlier version's
// drop-in, whose name would sort after it.
std::optional<fio::IoError> writeDropIn(const std::string& path, const std::string& legacy,
                                       const std::string& content) {
  if (auto err = fio::writeFileAtomically(path, content)) return err;
  return fio::removeFileIfPresent(legacy);
}

// Drop-ins are written (and systemd reloaded) only on a systemd-booted
// system: <root>/run/systemd/system is never created here, since other
// programs take it as the sign that systemd is running.
int setHibernateMode(const pm::MachinePaths& paths, const pm::SetHibernateMode& cmd) {
  const std::string dropIn = pm::dropInForMode(cmd.mode);
  const bool systemd = fio::isDirectory(paths.systemdRunDirectory());
  if (!cmd.force) {
    pm::SaveReport saved;
    if (auto err = pm::saveHibernateMode(paths.savedSettings(), cmd.mode, std::time(nullptr), &saved))
      return report(*err);
    if (!saved.movedAsideTo.empty())
      std::fprintf(stderr, "pmset: warning: unreadable %s moved aside to %s\n",
                   paths.savedSettings().c_str(), saved.movedAsideTo.c_str());
    if (systemd) {
      if (auto err = writeDropIn(paths.persistentDropIn(), paths.legacyPersistentDropIn(), dropIn))
        return report(*err);
    }
  }
  if (systemd) {
    if (auto err = writeDropIn(paths.runtimeDropIn(), paths.legacyRuntimeDropIn(), dropIn))
      return report(*err);
  }
  // The active value goes last: reading it back shows the whole change is in place.
  if (auto err = pm::writeActiveHibernateMode(paths.activeHibernateMode(), cmd.mode))
    return report(*err);
  if (systemd && paths.isRealRoot()) reloadSystemd();
  return kOk;
}

int sleepNow(const pm::MachinePaths& paths) {
  if (!paths.isRealRoot()) {
    std::string line = "sleepnow " + std::to_string(static_cast<long long>(std::time(nullptr)));
    if (auto err = fio::appendLine(paths.sleepRequests(), line)) return report(*err);
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

int showSettings(const pm::MachinePaths& paths) {
  std::string error;
  auto mode = pm::readActiveHibernateMode(paths.activeHibernateMode(), &error);
  if (!mode) {
    std::fprintf(stderr, "pmset: %s\n", error.c_str());
    return kDenied;
  }
  std::printf("hibernatemode %d\n", *mode);
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
  auto paths = pm::MachinePaths::fromEnvironment(std::getenv("SOMNARA_ROOT"), &rootError);
  if (!paths) {
    std::fprintf(stderr, "pmset: %s\n", rootError.c_str());
    return kUsage;
  }

  const pm::Command& command = std::get<pm::Command>(parsed);
  if (auto* set = std::get_if<pm::SetHibernateMode>(&command)) return setHibernateMode(*paths, *set);
  if (std::holds_alternative<pm::SleepNow>(command)) return sleepNow(*paths);
  return showSettings(*paths);
}
