#pragma once

// Support for the benchmarks of the real daemon: a fake laptop under a
// temporary machine root, programs started in their own process namespace,
// and readings of their cost from /proc.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace somnara::bench {

using Clock = std::chrono::steady_clock;

/// Ends the benchmark with a message: the setup is broken (not a timing).
[[noreturn]] void fail(const std::string& message);

/// A laptop on battery (100 %, five hours left) under a temporary root, with
/// its own settings directory. Removed when it goes.
class FakeLaptop {
 public:
  explicit FakeLaptop(std::string fakeLaptopScript);
  ~FakeLaptop();
  FakeLaptop(const FakeLaptop&) = delete;
  FakeLaptop& operator=(const FakeLaptop&) = delete;

  const std::string& dir() const { return dir_; }
  const std::string& root() const { return root_; }
  const std::string& configHome() const { return config_; }
  std::string modeFile() const { return root_ + "/run/somnara/hibernatemode"; }
  std::string settingsFile() const { return config_ + "/somnara/de.orvane.Somnara.plist"; }

  /// The active hibernatemode, as written by the power tool; nullopt when unreadable.
  std::optional<int> activeMode() const;
  /// Puts a value in force as the power tool would (atomically).
  void setActiveMode(int mode) const;
  /// The power tool allows a burst of five changes, then one a second; the
  /// benches measure how fast the daemon applies a change, so each change
  /// they make starts with a full budget (setActiveMode and
  /// writeSleepModeIndex call this).
  void refillChangeBudget() const;
  /// Stores the sleep mode index the way the preferences application does:
  /// temporary file, fsync, rename.
  void writeSleepModeIndex(int index) const;
  /// Battery at percent, discharging, three minutes left per percent.
  void setBattery(int percent) const;

 private:
  std::string script_, dir_, root_, config_;
};

/// One file's identity and times, to tell whether it was written.
struct FileStamp {
  ino_t inode = 0;
  std::int64_t mtimeNs = 0;
  std::int64_t ctimeNs = 0;
  off_t size = 0;
  bool operator==(const FileStamp&) const = default;
};
using TreeStamp = std::map<std::string, FileStamp>;
/// Every file and directory under the given directories.
TreeStamp stampTree(const std::vector<std::string>& dirs);
/// Paths created, removed or changed between two stamps.
std::vector<std::string> changedPaths(const TreeStamp& before, const TreeStamp& after);

/// Counts processes started by watched processes, from the kernel's process
/// events (needs root). Unavailable events leave available() false.
class ForkWatch {
 public:
  ForkWatch();
  ~ForkWatch();
  ForkWatch(const ForkWatch&) = delete;
  ForkWatch& operator=(const ForkWatch&) = delete;

  bool available() const { return fd_ >= 0; }
  /// Processes started by pid from now on are counted (and their own children).
  void watch(pid_t pid);
  /// Processes started directly by a watched pid.
  long children() const { return children_.load(); }
  /// Processes started by a watched pid or any of its descendants.
  long descendants() const { return descendants_.load(); }

 private:
  void loop();
  int fd_ = -1;
  int stopFd_ = -1;
  std::thread thread_;
  std::atomic<long> children_{0}, descendants_{0};
  std::atomic<pid_t> root_{0};
};

/// A program started in its own process and mount namespace (it sees only
/// itself in /proc), with chosen environment additions; stdout and stderr
/// go to files, or stdout to a pipe.
class Launched {
 public:
  struct Options {
    std::vector<std::string> argv;
    std::vector<std::pair<std::string, std::string>> env;
    std::string logFile;     // stdout+stderr; empty: /dev/null
    bool stdoutPipe = false; // stdout readable through waitForLine()
  };
  explicit Launched(const Options& options);
  ~Launched();
  Launched(const Launched&) = delete;
  Launched& operator=(const Launched&) = delete;

  /// The program's pid as this process sees it.
  pid_t pid() const { return pid_; }
  /// Whether it runs in namespaces of its own (else beside everything else).
  bool isolated() const { return isolated_; }
  bool alive() const;
  /// Waits for a line on the program's stdout; false on timeout or end.
  bool waitForLine(const std::string& line, std::chrono::milliseconds timeout);
  /// SIGTERM, then SIGKILL after the grace period; the exit status (-1: killed or lost).
  int stop(std::chrono::milliseconds grace = std::chrono::seconds(5));

 private:
  pid_t outer_ = -1;  // our child; waits for the namespace's first process
  pid_t pid_ = -1;
  int stdout_ = -1;
  std::string pending_;
  bool stopped_ = false;
  bool isolated_ = false;
};

/// Readings of one process and all its threads.
struct ProcReading {
  bool ok = false;
  long rssKb = 0;
  double cpuSeconds = 0;        // utime+stime of the process, from /proc/<pid>/stat
  std::int64_t runNs = 0;       // time on a CPU, summed over threads (schedstat)
  std::map<pid_t, long> switches;  // per thread: voluntary+nonvoluntary context switches
  std::map<pid_t, long> slices;    // per thread: timeslices run (schedstat)
};
ProcReading readProc(pid_t pid);
/// Wakeups between two readings: switches of threads seen at the end, minus
/// what they had at the start (new threads count in full).
long wakeupsBetween(const std::map<pid_t, long>& before, const std::map<pid_t, long>& after);

/// Blocks until file's content reads as the wanted mode, using inotify on its
/// directory; the time it appeared, or nullopt after timeout.
std::optional<Clock::time_point> waitForMode(const FakeLaptop& laptop, int wanted, Clock::time_point deadline);

/// Environment value as a positive number, or fallback.
double envNumber(const char* name, double fallback);

struct Summary {
  double median = 0, p90 = 0, min = 0, max = 0;
  std::size_t n = 0;
};
Summary summarize(std::vector<double> samples);

/// Fails unless a session bus is there to connect to.
void requireSessionBus();

}  // namespace somnara::bench
