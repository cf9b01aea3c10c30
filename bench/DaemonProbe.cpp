#include "DaemonProbe.h"

#include <fcntl.h>
#include <linux/cn_proc.h>
#include <linux/connector.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace somnara::bench {
namespace fs = std::filesystem;

void fail(const std::string& message) {
  std::fprintf(stderr, "BENCH SETUP FAILED: %s\n", message.c_str());
  std::fflush(stderr);
  std::exit(2);
}

namespace {

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAtomically(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".bench-tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fail("cannot write " + tmp + ": " + std::strerror(errno));
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) fail("cannot replace " + path + ": " + std::strerror(errno));
}

std::string shellQuoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

// --- FakeLaptop ---

FakeLaptop::FakeLaptop(std::string fakeLaptopScript) : script_(std::move(fakeLaptopScript)) {
  char tmpl[] = "/tmp/somnara-bench.XXXXXX";
  if (!::mkdtemp(tmpl)) fail(std::string("mkdtemp: ") + std::strerror(errno));
  dir_ = tmpl;
  root_ = dir_ + "/root";
  config_ = dir_ + "/config";
  // Saved (system default) hibernatemode 3; battery at 100 %, discharging.
  const std::string cmd = "bash " + shellQuoted(script_) + " init " + shellQuoted(root_) + " 3";
  if (std::system(cmd.c_str()) != 0) fail("cannot make the fake laptop: " + cmd);
  for (const char* sub : {"/config/somnara", "/home", "/state", "/cache", "/data"}) fs::create_directories(dir_ + sub);
}

FakeLaptop::~FakeLaptop() {
  std::error_code ec;
  if (!std::getenv("SOMNARA_BENCH_KEEP")) fs::remove_all(dir_, ec);
}

std::optional<int> FakeLaptop::activeMode() const {
  const std::string text = readText(modeFile());
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str()) return std::nullopt;
  return static_cast<int>(v);
}

void FakeLaptop::setBattery(int percent) const {
  const std::string cmd = "bash " + shellQuoted(script_) + " set " + shellQuoted(root_) + " " + std::to_string(percent);
  if (std::system(cmd.c_str()) != 0) fail("cannot set the fake battery: " + cmd);
}

void FakeLaptop::setActiveMode(int mode) const {
  refillChangeBudget();
  writeAtomically(modeFile(), std::to_string(mode) + "\n");
}

void FakeLaptop::refillChangeBudget() const { std::filesystem::remove(root_ + "/run/somnara/changes"); }

void FakeLaptop::writeSleepModeIndex(int index) const {
  refillChangeBudget();
  writeAtomically(settingsFile(),
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                  "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                  "<plist version=\"1.0\">\n<dict>\n\t<key>somnaramodeindex</key>\n\t<integer>" +
                      std::to_string(index) + "</integer>\n</dict>\n</plist>\n");
}

// --- file stamps ---

TreeStamp stampTree(const std::vector<std::string>& dirs) {
  TreeStamp stamps;
  for (const auto& dir : dirs) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      struct stat st {};
      if (::lstat(it->path().c_str(), &st) != 0) continue;
      stamps[it->path().string()] = {st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
                                     st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec, st.st_size};
    }
  }
  return stamps;
}

std::vector<std::string> changedPaths(const TreeStamp& before, const TreeStamp& after) {
  std::vector<std::string> changed;
  for (const auto& [path, stamp] : after) {
    auto it = before.find(path);
    if (it == before.end() || !(it->second == stamp)) changed.push_back(path);
  }
  for (const auto& [path, stamp] : before)
    if (!after.count(path)) changed.push_back(path + " (removed)");
  return changed;
}

// --- ForkWatch ---

ForkWatch::ForkWatch() {
  const int fd = ::socket(PF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_CONNECTOR);
  if (fd < 0) return;
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = CN_IDX_PROC;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return;
  }
  alignas(nlmsghdr) char buffer[NLMSG_SPACE(sizeof(cn_msg) + sizeof(int))] = {};
  auto* header = reinterpret_cast<nlmsghdr*>(buffer);
  header->nlmsg_len = NLMSG_LENGTH(sizeof(cn_msg) + sizeof(int));
  header->nlmsg_type = NLMSG_DONE;
  header->nlmsg_pid = static_cast<__u32>(::getpid());
  auto* message = static_cast<cn_msg*>(NLMSG_DATA(header));
  message->id.idx = CN_IDX_PROC;
  message->id.val = CN_VAL_PROC;
  message->len = sizeof(int);
  const int op = PROC_CN_MCAST_LISTEN;
  std::memcpy(message->data, &op, sizeof op);
  if (::send(fd, header, header->nlmsg_len, 0) < 0) {
    ::close(fd);
    return;
  }
  fd_ = fd;
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { loop(); });
}

ForkWatch::~ForkWatch() {
  if (fd_ < 0) return;
  const std::uint64_t one = 1;
  (void)!::write(stopFd_, &one, sizeof one);
  thread_.join();
  ::close(fd_);
  ::close(stopFd_);
}

void ForkWatch::watch(pid_t pid) { root_.store(pid); }

void ForkWatch::loop() {
  std::set<pid_t> family;  // processes started by the watched one, and theirs
  pid_t root = 0;
  alignas(nlmsghdr) char buffer[8192];
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    const ssize_t received = ::recv(fd_, buffer, sizeof buffer, 0);
    if (received < 0) {
      if (errno == ENOBUFS) std::fprintf(stderr, "note: process events were lost (busy machine)\n");
      continue;
    }
    if (root_.load() != root) {
      root = root_.load();
      family.clear();
    }
    int n = static_cast<int>(received);
    for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, n);
         h = NLMSG_NEXT(h, n)) {
      auto* message = static_cast<cn_msg*>(NLMSG_DATA(h));
      auto* event = reinterpret_cast<proc_event*>(message->data);
      if (event->what != proc_event::PROC_EVENT_FORK) continue;
      const auto& f = event->event_data.fork;
      if (f.child_pid != f.child_tgid) continue;  // a thread, not a process
      if (root != 0 && f.parent_tgid == root) {
        ++children_;
        ++descendants_;
        family.insert(f.child_tgid);
      } else if (family.count(f.parent_tgid)) {
        ++descendants_;
        family.insert(f.child_tgid);
      }
    }
  }
}

// --- Launched ---

namespace {

std::optional<pid_t> parentOf(pid_t pid) {
  const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  char state = 0;
  int ppid = 0;
  if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2) return std::nullopt;
  return ppid;
}

std::optional<pid_t> findChildOf(pid_t parent) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    const pid_t pid = std::atoi(name.c_str());
    if (parentOf(pid) == parent) return pid;
  }
  return std::nullopt;
}

[[noreturn]] void execProgram(char* const* argv, char* const* envp, int out, int err) {
  if (out >= 0) ::dup2(out, STDOUT_FILENO);
  if (err >= 0) ::dup2(err, STDERR_FILENO);
  ::execve(argv[0], argv, envp);
  ::_exit(127);
}

}  // namespace

Launched::Launched(const Options& options) {
  // Everything the children need is prepared here: after fork only
  // async-signal-safe calls are made.
  std::vector<std::string> argStrings = options.argv;
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const bool replaced = std::any_of(options.env.begin(), options.env.end(),
                                      [&](const auto& kv) { return entry.rfind(kv.first + "=", 0) == 0; });
    if (!replaced) envStrings.push_back(entry);
  }
  for (const auto& [k, v] : options.env) envStrings.push_back(k + "=" + v);
  std::vector<char*> argv, envp;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);

  const std::string log = options.logFile.empty() ? std::string("/dev/null") : options.logFile;
  const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (logFd < 0) fail("cannot open " + log);
  int outPipe[2] = {-1, -1};
  if (options.stdoutPipe && ::pipe2(outPipe, O_CLOEXEC) != 0) fail("pipe");
  int info[2];
  if (::pipe2(info, O_CLOEXEC) != 0) fail("pipe");
  const pid_t parent = ::getpid();

  outer_ = ::fork();
  if (outer_ < 0) fail("fork");
  if (outer_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    const int isolated = ::unshare(CLONE_NEWPID | CLONE_NEWNS) == 0 ? 1 : 0;
    const pid_t first = ::fork();
    if (first < 0) ::_exit(1);
    if (first == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int out = options.stdoutPipe ? outPipe[1] : logFd;
      if (!isolated) execProgram(argv.data(), envp.data(), out, logFd);
      // The namespace's first process: give it its own /proc, start the
      // program and reap until the program ends.
      if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        ::_exit(126);
      const pid_t program = ::fork();
      if (program < 0) ::_exit(1);
      if (program == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        execProgram(argv.data(), envp.data(), out, logFd);
      }
      for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(-1, &status, 0);
        if (done < 0 && errno != EINTR) ::_exit(1);
        if (done == program) ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
      }
    }
    const int report[2] = {static_cast<int>(first), isolated};
    (void)!::write(info[1], report, sizeof report);
    int status = 0;
    while (::waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  ::close(info[1]);
  ::close(logFd);
  if (outPipe[1] >= 0) ::close(outPipe[1]);
  stdout_ = outPipe[0];
  int report[2] = {0, 0};
  if (::read(info[0], report, sizeof report) != sizeof report) fail("cannot start " + options.argv[0]);
  ::close(info[0]);
  isolated_ = report[1] != 0;
  if (!isolated_) {
    pid_ = report[0];
    return;
  }
  // The program is the namespace's first process's only child.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < deadline) {
    if (auto child = findChildOf(report[0])) {
      pid_ = *child;
      return;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  fail("cannot find the started program " + options.argv[0]);
}

Launched::~Launched() {
  if (!stopped_) stop(std::chrono::seconds(2));
  if (stdout_ >= 0) ::close(stdout_);
}

bool Launched::alive() const {
  if (stopped_) return false;
  const std::string stat = readText("/proc/" + std::to_string(pid_) + "/stat");
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z' && stat[close + 2] != 'X';
}

bool Launched::waitForLine(const std::string& line, std::chrono::milliseconds timeout) {
  if (stdout_ < 0) return false;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    std::size_t eol;
    while ((eol = pending_.find('\n')) != std::string::npos) {
      const std::string got = pending_.substr(0, eol);
      pending_.erase(0, eol + 1);
      if (got == line) return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{stdout_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[512];
    const ssize_t n = ::read(stdout_, buf, sizeof buf);
    if (n <= 0) return false;
    pending_.append(buf, static_cast<std::size_t>(n));
  }
}

int Launched::stop(std::chrono::milliseconds grace) {
  if (stopped_) return -1;
  stopped_ = true;
  if (pid_ > 0) ::kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + grace;
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(outer_, &status, WNOHANG);
    if (r == outer_) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (r < 0) return -1;
    if (Clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::fprintf(stderr, "note: %d did not end within %lld ms of SIGTERM; killing it\n", static_cast<int>(pid_),
               static_cast<long long>(grace.count()));
  if (pid_ > 0) ::kill(pid_, SIGKILL);
  ::kill(outer_, SIGKILL);
  ::waitpid(outer_, &status, 0);
  return -1;
}

// --- /proc readings ---

ProcReading readProc(pid_t pid) {
  ProcReading r;
  const std::string base = "/proc/" + std::to_string(pid);
  std::istringstream status(readText(base + "/status"));
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) r.rssKb = std::atol(line.c_str() + 6);
  const std::string stat = readText(base + "/stat");
  const auto close = stat.rfind(')');
  if (close == std::string::npos) return r;
  // Fields after the name: 3 state, 4 ppid, ... 14 utime, 15 stime.
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  r.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  std::error_code ec;
  for (const auto& task : fs::directory_iterator(base + "/task", ec)) {
    const pid_t tid = std::atoi(task.path().filename().c_str());
    std::istringstream ts(readText(task.path().string() + "/status"));
    long switches = 0;
    for (std::string line; std::getline(ts, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) switches += std::atol(line.c_str() + 24);
      if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) switches += std::atol(line.c_str() + 27);
    }
    long long runNs = 0, waitNs = 0, slices = 0;
    std::istringstream(readText(task.path().string() + "/schedstat")) >> runNs >> waitNs >> slices;
    r.switches[tid] = switches;
    r.slices[tid] = static_cast<long>(slices);
    r.runNs += runNs;
  }
  r.ok = r.rssKb > 0;
  return r;
}

long wakeupsBetween(const std::map<pid_t, long>& before, const std::map<pid_t, long>& after) {
  long total = 0;
  for (const auto& [tid, n] : after) {
    auto it = before.find(tid);
    total += n - (it == before.end() ? 0 : it->second);
  }
  return total;
}

std::optional<Clock::time_point> waitForMode(const FakeLaptop& laptop, int wanted, Clock::time_point deadline) {
  const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0) fail("inotify");
  const std::string dir = laptop.root() + "/run/somnara";
  ::inotify_add_watch(fd, dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY);
  std::optional<Clock::time_point> seen;
  for (;;) {
    if (laptop.activeMode() == wanted) {
      seen = Clock::now();
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    // Events wake us at once; the cap only bounds a missed one.
    if (::poll(&p, 1, static_cast<int>(std::min<long long>(left, 50))) > 0) {
      char buf[4096];
      while (::read(fd, buf, sizeof buf) > 0) {
      }
    }
  }
  ::close(fd);
  return seen;
}

double envNumber(const char* name, double fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  const double d = std::strtod(v, &end);
  return end != v && d > 0 ? d : fallback;
}

Summary summarize(std::vector<double> samples) {
  Summary s;
  s.n = samples.size();
  if (samples.empty()) return s;
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) {
    const double pos = q * static_cast<double>(samples.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(pos));
    const auto hi = std::min(lo + 1, samples.size() - 1);
    return samples[lo] + (samples[hi] - samples[lo]) * (pos - static_cast<double>(lo));
  };
  s.median = at(0.5);
  s.p90 = at(0.9);
  s.min = samples.front();
  s.max = samples.back();
  return s;
}

void requireSessionBus() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!address || !*address) fail("no session bus (run under dbus-run-session)");
}

}  // namespace somnara::bench
