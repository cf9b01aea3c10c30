// Shared helpers for the controller tests on the simulated machine.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "core/SleepPolicy.h"
#include "core/SomnaraDaemon.h"
#include "host/PreferencesPorts.h"
#include "host/sim/SimApplications.h"
#include "host/sim/SimDesktop.h"
#include "host/sim/SimLoginItems.h"
#include "host/sim/SimMachine.h"
#include "host/sim/SimStatusArea.h"

namespace somnara::sim::testing {

using namespace std::chrono_literals;
using Script = SimToolRunner::Script;
using Types = std::vector<std::int64_t>;

inline constexpr const char* kApp = "de.orvane.Somnara";
inline constexpr const char* kDaemon = "de.orvane.Somnara.Daemon";
inline constexpr const char* kAgent = "de.orvane.Somnara.MenuBar";
inline constexpr const char* kHelper = "pmsethelper";
inline constexpr const char* kPmset = "-[SomnaraDaemon pmset:]";
inline constexpr std::int32_t kOlderSystem = 0x60100;
inline constexpr std::int32_t kNewerSystem = 0xb0000;

inline SomnaraDaemon& controllerOf(SimProgram& program) {
  return SomnaraDaemon::sharedSomnaraDaemon(program.context());
}

/// Machines that can do every kind of sleep, all but the ones that need swap, all but hybrid sleep, none.
inline const powertool::SleepCapabilities kEvery = powertool::SleepCapabilities::all();
inline const powertool::SleepCapabilities kNoSwap{powertool::SleepAbility::yes(), {powertool::SleepBlocker::NoSwap},
                                                  {powertool::SleepBlocker::NoSwap}};
inline const powertool::SleepCapabilities kNoHybrid{powertool::SleepAbility::yes(), powertool::SleepAbility::yes(),
                                                    {powertool::SleepBlocker::NotOffered}};
inline const powertool::SleepCapabilities kNone{};

/// The daemon program with its controller running, as its delegate starts it.
inline SimProgram& startDaemon(SimMachine& machine) {
  SimProgram& daemon = machine.addProgram(kDaemon);
  controllerOf(daemon);
  return daemon;
}

/// The machine's hibernatemode as it stands, without counting a read.
inline std::optional<int> hibernateMode(SimMachine& machine) { return machine.state().peekHibernateMode().mode; }

/// Whether line reads "\t(0x<address>.<4+ digits>) <method> <message>" (message a prefix if prefixOnly).
inline bool isLogLine(const std::string& line, std::string_view method, std::string_view message,
                      bool prefixOnly = false) {
  static const std::regex head(R"(^\t\(0x[0-9a-f]+\.[0-9]{4}\) )");
  std::smatch m;
  if (!std::regex_search(line, m, head)) return false;
  const std::string rest = line.substr(static_cast<std::size_t>(m.length(0)));
  const std::string want = std::string(method) + " " + std::string(message);
  return prefixOnly ? rest.starts_with(want) : rest == want;
}

inline int countLog(SimProgram& program, std::string_view method, std::string_view message, bool prefixOnly = false) {
  return static_cast<int>(std::ranges::count_if(
      program.logger().logLines(), [&](const auto& l) { return isLogLine(l, method, message, prefixOnly); }));
}

inline int countDiagnostic(SimProgram& program, const std::string& line) {
  return static_cast<int>(std::ranges::count(program.logger().diagnosticLines(), line));
}

/// Message types that crossed the bus from sender, starting at posted()[from].
inline Types postedTypes(SimMachine& machine, const std::string& sender, std::size_t from = 0) {
  Types types;
  const auto& posted = machine.notifications().posted();
  for (std::size_t i = from; i < posted.size(); ++i) {
    if (posted[i].sender != sender || !posted[i].notification.userInfo) continue;
    if (const Value* type = posted[i].notification.userInfo->find("MessageType")) types.push_back(*type->integer());
  }
  return types;
}

inline int countType(SimMachine& machine, const std::string& sender, std::int64_t type) {
  return static_cast<int>(std::ranges::count(postedTypes(machine, sender), type));
}

/// Counts the did-change notices of one property of any observable.
struct NoticeCounter {
  int count = 0;
  NoticeCounter(KeyValueObservable& object, const std::string& key) {
    object.addObserver(key, [this](const std::string&, KeyValueObservable::Phase phase) {
      count += phase == KeyValueObservable::Phase::DidChange;
    });
  }
  NoticeCounter(const NoticeCounter&) = delete;
  int take() { return std::exchange(count, 0); }
};

/// The installed application and its two background programs.
inline constexpr const char* kBundle = "/Applications/Somnara.app";
inline const std::string kLoginItemsDir = std::string(kBundle) + "/Contents/Library/LoginItems";
inline const std::string kAgentPath = kLoginItemsDir + "/Somnara MenuBar.app";
inline const std::string kDaemonPath = kLoginItemsDir + "/Somnara Daemon.app";

inline host::Applications::BundleInfo bundle(std::string identifier, std::string name, std::string shortVersion = {},
                                             std::string build = {}, std::string notice = {}) {
  return {std::move(identifier), std::move(name), std::move(shortVersion), std::move(build), std::move(notice)};
}

/// The preferences program of an installed application whose agent and
/// daemon bundles are in place, with the desktop it sees.
struct Installation {
  SimMachine machine;
  SimProgram& prefs = machine.addProgram(kApp, {kBundle});
  SimApplications apps{machine};
  SimLoginItems items;
  SimDesktop desktop;
  SimStatusArea statusArea;

  Installation() {
    apps.installBundle(kAgentPath, bundle(kAgent, "Somnara MenuBar"));
    apps.installBundle(kDaemonPath, bundle(kDaemon, "Somnara Daemon"));
  }
  host::PreferencesPorts ports(host::Updater* updater = nullptr) {
    return {apps, items, desktop, prefs.agentPorts().sounds, statusArea, prefs.agentPorts().inhibitors, updater};
  }
  std::vector<int> running(const std::string& id) { return prefs.processes().runningApplications(id); }
};

/// The hibernatemode the settings ask for on the older system, by the policy
/// whose own table of expectations is in the unit tests.
inline std::int64_t wantedMode(std::int64_t modeIndex, std::int64_t hibernateLevel, int charge,
                               std::optional<int> minutes, std::int64_t systemDefault = 3) {
  const std::int64_t state = policy::fixedSleepStateForMode(modeIndex).value_or(
      policy::adaptiveSleepState(policy::batteryLevel(charge, minutes), hibernateLevel));
  return policy::hibernateModeForSleepState(state, false).value_or(systemDefault);
}

}  // namespace somnara::sim::testing
