// What the real daemon costs while it idles: a fake laptop on battery in the
// adaptive mode, with the value the policy wants already in force.
//
// Figures, each also as a ratio to bench_minimal_qt (a QtCore + QtDBus
// program with one idle 3 s timer) measured over the same window:
//   resident memory (VmRSS), CPU time per idle hour (utime+stime, and time
//   on a CPU from schedstat), wakeups per minute (context switches of all
//   threads), and per policy tick: processes started and files written,
//   both of which should be 0 while the value holds.
//
// Environment:
//   SOMNARA_BENCH_IDLE_SECONDS  length of the idle window (default 10)
//   SOMNARA_BENCH_STRICT=1      exit 1 when the daemon starts a process or
//                               writes a file while idle (default: WARNING)
//   SOMNARA_BENCH_KEEP=1        keep the temporary machine root and logs
// Exit status 2: broken setup or the daemon died.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "DaemonProbe.h"

using namespace somnara::bench;
using namespace std::chrono_literals;

namespace {

constexpr double kTickSeconds = 3.0;

std::string ratio(double value, double baseline) {
  if (baseline <= 0) return "n/a (baseline 0)";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f", value / baseline);
  return buf;
}

}  // namespace

int main() {
  requireSessionBus();
  const double idleSeconds = envNumber("SOMNARA_BENCH_IDLE_SECONDS", 10);
  const bool strict = std::getenv("SOMNARA_BENCH_STRICT") && std::string(std::getenv("SOMNARA_BENCH_STRICT")) == "1";
  if (::geteuid() != 0) std::printf("note: not root; the helper may be unable to apply values\n");

  ForkWatch forks;
  FakeLaptop laptop(SOMNARA_BENCH_FAKE_LAPTOP);
  // Adaptive mode, battery at 100 % with five hours left: the policy wants
  // plain sleep, hibernatemode 0, and it is already in force.
  constexpr int kWanted = 0;
  laptop.writeSleepModeIndex(1);
  laptop.setActiveMode(kWanted);
  std::filesystem::create_directories(laptop.dir() + "/logs");

  const std::vector<std::pair<std::string, std::string>> env = {
      {"SOMNARA_ROOT", laptop.root()},          {"XDG_CONFIG_HOME", laptop.configHome()},
      {"HOME", laptop.dir() + "/home"},         {"XDG_STATE_HOME", laptop.dir() + "/state"},
      {"XDG_CACHE_HOME", laptop.dir() + "/cache"}, {"XDG_DATA_HOME", laptop.dir() + "/data"}};

  Launched daemon({{SOMNARA_BENCH_DAEMON}, env, laptop.dir() + "/logs/daemon.log", false});
  forks.watch(daemon.pid());
  Launched minimal({{SOMNARA_BENCH_MINIMAL_QT}, env, laptop.dir() + "/logs/minimal.log", true});
  if (!minimal.waitForLine("ready", 10s)) fail("bench_minimal_qt did not start");

  // Let both finish starting (the daemon's first check and its delayed
  // retry) before the window opens.
  std::this_thread::sleep_for(3500ms);
  if (!daemon.alive()) fail("the daemon ended during start-up; see " + laptop.dir() + "/logs/daemon.log");
  if (laptop.activeMode() != kWanted)
    std::printf("WARNING: the daemon changed hibernatemode at start-up to %d although %d was in force\n",
                laptop.activeMode().value_or(-1), kWanted);

  const std::vector<std::string> watched = {laptop.root(), laptop.configHome(), laptop.dir() + "/home",
                                            laptop.dir() + "/state", laptop.dir() + "/cache",
                                            laptop.dir() + "/data"};
  const TreeStamp filesBefore = stampTree(watched);
  const long childrenBefore = forks.children(), descendantsBefore = forks.descendants();
  const ProcReading d0 = readProc(daemon.pid()), m0 = readProc(minimal.pid());
  const auto t0 = Clock::now();
  if (!d0.ok || !m0.ok) fail("cannot read /proc of the programs");

  const auto end = t0 + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(idleSeconds));
  while (Clock::now() < end) {
    std::this_thread::sleep_for(std::min<Clock::duration>(1s, end - Clock::now()));
    if (!daemon.alive()) fail("the daemon ended while idle; see " + laptop.dir() + "/logs/daemon.log");
  }

  const ProcReading d1 = readProc(daemon.pid()), m1 = readProc(minimal.pid());
  const double window = std::chrono::duration<double>(Clock::now() - t0).count();
  // The fork events of the window's last moment may still be on their way.
  std::this_thread::sleep_for(50ms);
  const long started = forks.children() - childrenBefore;
  const long startedAll = forks.descendants() - descendantsBefore;
  const TreeStamp filesAfter = stampTree(watched);
  const auto written = changedPaths(filesBefore, filesAfter);
  const auto modeAfter = laptop.activeMode();
  if (!d1.ok || !m1.ok) fail("cannot read /proc of the programs at the end of the window");

  const double ticks = window / kTickSeconds;
  const double perHour = 3600.0 / window, perMinute = 60.0 / window;
  const double dCpu = (d1.cpuSeconds - d0.cpuSeconds) * perHour, mCpu = (m1.cpuSeconds - m0.cpuSeconds) * perHour;
  const double dRun = static_cast<double>(d1.runNs - d0.runNs) * 1e-9 * perHour;
  const double mRun = static_cast<double>(m1.runNs - m0.runNs) * 1e-9 * perHour;
  const double dWake = static_cast<double>(wakeupsBetween(d0.switches, d1.switches)) * perMinute;
  const double mWake = static_cast<double>(wakeupsBetween(m0.switches, m1.switches)) * perMinute;
  const double dSlices = static_cast<double>(wakeupsBetween(d0.slices, d1.slices)) * perMinute;
  const double mSlices = static_cast<double>(wakeupsBetween(m0.slices, m1.slices)) * perMinute;

  std::printf("bench_daemon_idle: window %.1f s (%.1f policy ticks), %ld cores, daemon %s\n", window, ticks,
              ::sysconf(_SC_NPROCESSORS_ONLN), daemon.isolated() ? "in its own namespaces" : "NOT isolated");
  std::printf("  %-34s %12s %12s %8s\n", "", "daemon", "minimal Qt", "ratio");
  std::printf("  %-34s %12ld %12ld %8s\n", "resident memory (kB)", d1.rssKb, m1.rssKb,
              ratio(d1.rssKb, m1.rssKb).c_str());
  std::printf("  %-34s %12.3f %12.3f %8s\n", "CPU s per idle hour (utime+stime)", dCpu, mCpu,
              ratio(dCpu, mCpu).c_str());
  std::printf("  %-34s %12.3f %12.3f %8s\n", "CPU s per idle hour (schedstat)", dRun, mRun,
              ratio(dRun, mRun).c_str());
  std::printf("  %-34s %12.1f %12.1f %8s\n", "wakeups per minute (ctx switches)", dWake, mWake,
              ratio(dWake, mWake).c_str());
  std::printf("  %-34s %12.1f %12.1f %8s\n", "timeslices per minute (schedstat)", dSlices, mSlices,
              ratio(dSlices, mSlices).c_str());
  std::printf("  %-34s %12.1f %12zu\n", "threads", static_cast<double>(d1.switches.size()), m1.switches.size());
  if (forks.available())
    std::printf("  processes started per tick        %12.3f   (%ld in the window, %ld with their children)\n",
                started / ticks, started, startedAll);
  else
    std::printf("  processes started per tick                 n/a   (no process events: not root?)\n");
  std::printf("  files written per tick            %12.3f   (%zu paths changed in the window)\n",
              static_cast<double>(written.size()) / ticks, written.size());
  std::printf("  hibernatemode after the window    %12d   (wanted %d)\n", modeAfter.value_or(-1), kWanted);

  const bool quiet = started == 0 && written.empty() && modeAfter == kWanted;
  if (!quiet) {
    std::printf("WARNING: ******** the idle daemon did work while the value held ********\n");
    for (const auto& p : written) std::printf("WARNING:   written: %s\n", p.c_str());
    if (started) std::printf("WARNING:   %ld process(es) started\n", started);
  }

  // Detector check: the battery drops to 10 %, so the policy wants
  // hibernatemode 3; the daemon has to start its helper and the mode file has
  // to change. Were neither seen, the zeros above would prove nothing.
  constexpr int kLowBatteryValue = 3;
  const long childrenAtCheck = forks.children();
  const auto c0 = Clock::now();
  laptop.setBattery(10);
  const auto applied = waitForMode(laptop, kLowBatteryValue, c0 + 15s);
  if (!applied) fail("the daemon did not follow the battery to hibernatemode 3 within 15 s");
  std::this_thread::sleep_for(100ms);
  const long checkStarted = forks.children() - childrenAtCheck;
  const auto checkWritten = changedPaths(filesAfter, stampTree(watched));
  std::printf("  detector check (battery -> 10 %%): applied in %.0f ms, %ld process(es) started, %zu path(s) changed\n",
              std::chrono::duration<double, std::milli>(*applied - c0).count(), checkStarted, checkWritten.size());
  if (forks.available() && checkStarted == 0) fail("the daemon's helper run was not seen as a started process");
  if (checkWritten.empty()) fail("the applied value was not seen as a written file");

  daemon.stop();
  minimal.stop();
  return !quiet && strict ? 1 : 0;
}
