// pmsethelper (set-user-id, run by nobody, against a recording stand-in tool),
// pmsethelper-repair and pmset on scratch files and machine roots.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <dirent.h>
#include <linux/capability.h>
#include <linux/close_range.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "plist/PlistCodec.h"

namespace {

using somnara::Dictionary;
using somnara::Value;
namespace fs = std::filesystem;
constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

struct Launch {
  std::string program{};
  std::vector<std::string> argv{};                // including argv[0]; empty means argc 0
  std::optional<std::vector<std::string>> env{};  // nullopt inherits the test's environment
  bool asNobody = false;                          // nobody:nogroup with supplementaryGroups
  std::vector<gid_t> supplementaryGroups{};
  std::optional<mode_t> umask{};
  std::vector<int> extraFds{};                    // left open (without close-on-exec)
  bool closeStandardFds = false;
  std::vector<int> ignoredSignals{}, blockedSignals{};
  std::string cwd{};
  std::vector<std::pair<int, rlim_t>> limits{};  // soft and hard, set before the ids change
  bool withoutSysResource = false;  // CAP_SYS_RESOURCE dropped from the bounding set, as in containers
  bool ownProcessGroup = false;     // a job of its own, as a shell starts one
};

struct Outcome {
  int exitCode = -1;  // exit status, or 128 + signal
  std::string out, err;
};

struct Started {
  pid_t pid;
  int out, err;
};

Started start(const Launch& l) {
  std::vector<char*> argv, envp;
  for (const auto& a : l.argv) argv.push_back(const_cast<char*>(a.c_str()));
  if (l.env)
    for (const auto& e : *l.env) envp.push_back(const_cast<char*>(e.c_str()));
  else
    for (char** e = environ; *e; ++e) envp.push_back(*e);
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  int out = ::memfd_create("out", MFD_CLOEXEC), err = ::memfd_create("err", MFD_CLOEXEC);
  pid_t pid = ::fork();
  if (pid < 0 || out < 0 || err < 0) throw std::runtime_error("cannot start child");
  if (pid == 0) {
    int devnull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    for (int fd = 0; fd <= 2 && l.closeStandardFds; ++fd) ::close(fd);
    bool ok = l.closeStandardFds ||
              (::dup2(devnull, 0) == 0 && ::dup2(out, 1) == 1 && ::dup2(err, 2) == 2);
    // Only the descriptors asked for reach the program, whatever ran the test.
    ok = ok && ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0;
    for (int fd : l.extraFds) ok = ok && ::fcntl(fd, F_SETFD, 0) == 0;
    for (int sig : l.ignoredSignals) ::signal(sig, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    for (int sig : l.blockedSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    if (l.umask) ::umask(*l.umask);
    ok = ok && (!l.ownProcessGroup || ::setpgid(0, 0) == 0);
    ok = ok && (l.cwd.empty() || ::chdir(l.cwd.c_str()) == 0);
    ok = ok && (!l.withoutSysResource || ::prctl(PR_CAPBSET_DROP, CAP_SYS_RESOURCE, 0, 0, 0) == 0);
    if (l.asNobody)
      ok = ok && ::setgroups(l.supplementaryGroups.size(), l.supplementaryGroups.data()) == 0 &&
           ::setresgid(kNogroup, kNogroup, kNogroup) == 0 &&
           ::setresuid(kNobody, kNobody, kNobody) == 0;
    for (const auto& [resource, value] : l.limits) {
      const struct rlimit limit = {value, value};
      ok = ok && ::setrlimit(resource, &limit) == 0;
    }
    if (ok) ::execve(l.program.c_str(), argv.data(), envp.data());
    _exit(250);
  }
  if (l.ownProcessGroup) ::setpgid(pid, pid);  // fails harmlessly once the child has done it
  return {pid, out, err};
}

Outcome finish(const Started& s) {
  int status = 0;
  while (::waitpid(s.pid, &status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), "", ""};
  char buf[4096];
  for (auto [fd, text] : {std::pair{s.out, &o.out}, std::pair{s.err, &o.err}}) {
    for (ssize_t n; (n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(text->size()))) > 0;)
      text->append(buf, static_cast<size_t>(n));
    ::close(fd);
  }
  return o;
}

Outcome run(const Launch& l) { return finish(start(l)); }

// A fresh directory in parent (0755, so nobody can traverse it), removed with its contents.
struct TempDir {
  explicit TempDir(const std::string& parent = fs::temp_directory_path().string())
      : path(parent + "/somnara-test-XXXXXX") {
    if (!::mkdtemp(path.data()) || ::chmod(path.c_str(), 0755) != 0) throw std::runtime_error(path);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() { std::error_code ec; fs::remove_all(path, ec); }
  std::string path;
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  if (::chmod(path.c_str(), mode) != 0) throw std::runtime_error("cannot write " + path);
}

// A copy of a build-tree program that nobody can run: the checkout may lie
// where nobody cannot enter (root's home, 0700). One copy per program.
std::string reachable(const std::string& program) {
  static TempDir copies;
  static std::map<std::string, std::string> made;
  auto [it, fresh] = made.try_emplace(program, copies / (std::to_string(made.size()) + "-" +
                                                         fs::path(program).filename().string()));
  if (fresh) fs::copy_file(program, it->second, fs::copy_options::overwrite_existing);
  return it->second;
}

// Copies from to to, owned by root with mode.
void install(const std::string& from, const std::string& to, mode_t mode) {
  fs::remove_all(to);
  fs::copy_file(from, to);
  if (::chown(to.c_str(), 0, 0) != 0 || ::chmod(to.c_str(), mode) != 0)
    throw std::runtime_error("cannot set owner/mode of " + to);
}

size_t entries(const std::string& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// The fixed tool lies in kToolDir below kTestRoot, both made by root with mode 0755.
const std::string kTool = FIXED_TOOL, kTestRoot = TEST_ROOT;
const std::string kToolDir = fs::path(kTool).parent_path();
using Record = std::map<std::string, std::vector<std::string>>;  // key -> values in order

Record record() {  // empty when the tool did not run
  Record r;
  std::istringstream in(readFile(RECORDER_LOG).value_or(""));
  for (std::string line; std::getline(in, line);) {
    auto space = line.find(' ');
    r[line.substr(0, space)].push_back(space == std::string::npos ? "" : line.substr(space + 1));
  }
  return r;
}

class SetuidHelper : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    installFixedTool();
    install(TESTTOOL_HELPER, helper_, 04755);
  }
  void TearDown() override { fs::remove_all(kTestRoot); }

  // A fresh tool directory holding the recorder as the fixed tool; no record.
  static void installFixedTool() {
    fs::remove_all(kToolDir);
    fs::remove_all(kToolDir + ".real");
    for (const std::string& dir : {kTestRoot, kToolDir}) {
      fs::create_directories(dir);
      if (::chown(dir.c_str(), 0, 0) != 0 || ::chmod(dir.c_str(), 0755) != 0)
        throw std::runtime_error("cannot set owner/mode of " + dir);
    }
    install(RECORDER_BIN, kTool, 0755);
    fs::remove(RECORDER_LOG);
  }

  // argv is {"pmsethelper", args...}.
  Launch asNobody(std::vector<std::string> args) const {
    args.insert(args.begin(), "pmsethelper");
    return {.program = helper_, .argv = args, .env = {{"PATH=/usr/bin:/bin"}}, .asNobody = true};
  }

  TempDir dir_;
  std::string helper_ = dir_ / "pmsethelper";
};

TEST_F(SetuidHelper, RefusedVectorsRunNothing) {
  const std::string huge(32 * 4096 - 1, '1');  // the largest argument execve allows
  std::string dotted = kTool;
  dotted.insert(dotted.rfind('/'), "/.");
  const std::string h = "pmsethelper", mode = "hibernatemode";
  const std::vector<std::vector<std::string>> argvs = {
      {} /* argc 0 */, {huge, kTool, mode, "3"}, {h, "/bin/sh", mode, "3"}, {h, dotted, mode, "3"},
      {h, kTool.substr(1), mode, "3"}, {h, kTool, mode, "3", "extra"}, {h, kTool, "sleepnow", "3"},
      {h, kTool, "--help", mode, "3"}, {h, kTool, mode, "2"}, {h, kTool, mode, "4294967297"},
      {h, kTool, mode, huge}, {h, huge, mode, "1"}};
  for (const auto& argv : argvs) {
    SCOPED_TRACE(::testing::PrintToString(argv).substr(0, 200));
    Launch l = asNobody({});
    l.argv = argv;
    Outcome o = run(l);
    EXPECT_EQ(o.exitCode, 64) << o.err;
    EXPECT_NE(o.err.find("refused"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(RECORDER_LOG)) << "the tool ran";
  }
}

TEST_F(SetuidHelper, AllowedVectorsRunTheToolWithExactArgumentsAndStatus) {
  const std::string mode = "hibernatemode";
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{kTool, mode, "0"}, 0}, {{kTool, mode, "25"}, 25}, {{kTool, "force", mode, "3"}, 3},
      {{kTool, "force", mode, "25"}, 128 + SIGUSR1}};  // the tool gets default dispositions
  for (const auto& [args, exitCode] : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    fs::remove(RECORDER_LOG);
    Launch l = asNobody(args);
    l.ignoredSignals = {SIGUSR1};
    Outcome o = run(l);
    EXPECT_EQ(o.exitCode, exitCode) << o.err;
    EXPECT_EQ(record()["argv"], args) << o.err;
  }
}

TEST_F(SetuidHelper, HostileCallerStateDoesNotReachTheTool) {
  int extra = ::open("/dev/null", O_RDONLY);
  ASSERT_EQ(::dup2(extra, 9), 9);
  Launch l = asNobody({kTool, "hibernatemode", "3"});
  l.env = {{"SOMNARA_ROOT=/tmp/evil-root", "LD_PRELOAD=/tmp/evil.so", "LD_LIBRARY_PATH=/tmp",
            "PATH=/tmp/evil:/usr/bin", "IFS=/", "GCONV_PATH=/tmp"}};
  l.umask = 0;
  l.supplementaryGroups = {100, kNogroup};
  l.extraFds = {extra, 9};
  l.ignoredSignals = {SIGTERM, SIGHUP, SIGCHLD};
  l.blockedSignals = {SIGINT, SIGUSR2};
  l.cwd = dir_.path;
  l.ownProcessGroup = true;  // its own job on the caller's terminal, were there one
  Outcome o = run(l);
  ::close(extra);
  ::close(9);

  EXPECT_EQ(o.exitCode, 3) << o.err;
  const Record expected = {
      {"argv", {kTool, "hibernatemode", "3"}}, {"env", {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}},
      {"uids", {"0 0 0"}}, {"gids", {"0 0 0"}}, {"groups", {"0"}}, {"umask", {"0022"}},
      {"fds", {"0 1 2"}}, {"SigBlk", {"0000000000000000"}}, {"SigIgn", {"0000000000000000"}},
      {"cwd", {"/"}}, {"session", {"own"}}, {"stdin", {"/dev/null"}}};
  Record recorded = record();
  recorded.erase("limit");  // the test below
  EXPECT_EQ(recorded, expected);
}

// A caller lowers limits so that the tool fails half way (a file-size limit
// kills it with SIGXFSZ, a tiny stack with SIGSEGV). The helper raises them;
// where it cannot (no CAP_SYS_RESOURCE, as in containers) it runs nothing.
TEST_F(SetuidHelper, LoweredLimitsAreRaisedForTheToolOrItDoesNotRun) {
  const struct {
    const char* name;
    std::vector<std::pair<int, rlim_t>> limits;
    bool withoutSysResource;
    int exitCode;
    std::vector<std::string> recorded;  // limit lines that must be there; empty: the tool must not run
  } cases[] = {
      {"file size", {{RLIMIT_FSIZE, 4096}}, false, 3, {"fsize unlimited"}},
      {"stack", {{RLIMIT_STACK, 16 << 10}}, false, 3, {"stack 8388608"}},
      {"descriptors", {{RLIMIT_NOFILE, 4}}, false, 3, {"nofile 256"}},
      {"cpu", {{RLIMIT_CPU, 1}}, false, 3, {"cpu unlimited"}},
      {"nothing lowered, no CAP_SYS_RESOURCE", {}, true, 3, {"fsize unlimited"}},
      {"file size, no CAP_SYS_RESOURCE", {{RLIMIT_FSIZE, 4096}}, true, 71, {}},
      {"stack, no CAP_SYS_RESOURCE", {{RLIMIT_STACK, 16 << 10}}, true, 71, {}},
      {"descriptors, no CAP_SYS_RESOURCE", {{RLIMIT_NOFILE, 4}}, true, 71, {}},
  };
  // Where the test itself lacks CAP_SYS_RESOURCE, only refusals can be seen.
  const bool canRaise = ::prctl(PR_CAPBSET_READ, CAP_SYS_RESOURCE, 0, 0, 0) == 1;
  if (!canRaise) std::printf("note: no CAP_SYS_RESOURCE here; raised limits are not checked\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!canRaise && !c.withoutSysResource && !c.limits.empty()) continue;
    fs::remove(RECORDER_LOG);
    Launch l = asNobody({kTool, "hibernatemode", "3"});
    l.limits = c.limits;
    l.withoutSysResource = c.withoutSysResource;
    Outcome o = run(l);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    if (c.recorded.empty()) {
      EXPECT_FALSE(fs::exists(RECORDER_LOG)) << "the tool ran";
      EXPECT_NE(o.err.find("limits"), std::string::npos) << o.err;
      continue;
    }
    const std::vector<std::string> limits = record()["limit"];
    for (const auto& line : c.recorded)
      EXPECT_NE(std::find(limits.begin(), limits.end(), line), limits.end()) << line;
  }
}

TEST_F(SetuidHelper, UntrustworthyToolIsNotRun) {
  const std::string real = kTool + ".real", realDir = kToolDir + ".real";
  const struct {
    const char* name;
    std::function<void()> prepare;
    int exitCode;
  } cases[] = {
      {"group-writable", [&] { ::chmod(kTool.c_str(), 0775); }, 65},
      {"other-writable", [&] { ::chmod(kTool.c_str(), 0757); }, 65},
      {"owned by nobody", [&] { ASSERT_EQ(::chown(kTool.c_str(), kNobody, kNogroup), 0); }, 65},
      {"symlink", [&] { fs::rename(kTool, real); fs::create_symlink(real, kTool); }, 65},
      {"directory", [&] { fs::remove(kTool); fs::create_directory(kTool); }, 65},
      {"missing", [&] { fs::remove(kTool); }, 127},
      {"not executable", [&] { ::chmod(kTool.c_str(), 0644); }, 126},
      {"directory group-writable", [&] { ::chmod(kToolDir.c_str(), 0775); }, 65},
      {"directory owned by nobody",
       [&] { ASSERT_EQ(::chown(kToolDir.c_str(), kNobody, kNogroup), 0); }, 65},
      {"directory higher up world-writable and sticky", [&] { ::chmod(kTestRoot.c_str(), 01777); }, 65},
      {"directory is a symlink",
       [&] { fs::rename(kToolDir, realDir); fs::create_directory_symlink(realDir, kToolDir); }, 65},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    installFixedTool();
    c.prepare();
    Outcome o = run(asNobody({kTool, "hibernatemode", "3"}));
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    EXPECT_FALSE(o.err.empty());
    EXPECT_FALSE(fs::exists(RECORDER_LOG)) << "the tool ran";
  }
}

// The build output is not set-user-id: run by root it has no extra privileges.
TEST_F(SetuidHelper, WithoutPrivilegesKeepsEnvironmentButNotDescriptors) {
  ASSERT_EQ(::dup2(STDERR_FILENO, 11), 11);
  const std::vector<std::string> env = {"SOMNARA_ROOT=/tmp/fake-root", "PATH=/usr/bin:/bin"};
  Launch l{.program = TESTTOOL_HELPER, .argv = {"pmsethelper", kTool, "hibernatemode", "0"},
           .env = env, .umask = 027, .extraFds = {11}};
  Outcome o = run(l);
  ::close(11);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  Record rec = record();
  EXPECT_EQ(rec["env"], env);
  EXPECT_EQ(rec["umask"], std::vector<std::string>{"0027"});
  EXPECT_EQ(rec["fds"], std::vector<std::string>{"0 1 2"});

  // Closed standard descriptors are reopened (no secure-execution start-up does it).
  fs::remove(RECORDER_LOG);
  l.extraFds.clear();
  l.closeStandardFds = true;
  EXPECT_EQ(run(l).exitCode, 0);
  EXPECT_EQ(record()["fds"], std::vector<std::string>{"0 1 2"});
}

const char* const kActive = "run/somnara/hibernatemode";
const char* const kSaved = "etc/somnara/PowerManagement.plist";
const char* const kSystemdRun = "run/systemd/system";  // a directory on systemd-booted systems
const char* const kRuntimeDropIn = "run/systemd/system/systemd-suspend.service.d/60-somnara-runtime.conf";
const char* const kPersistentDropIn = "etc/systemd/system/systemd-suspend.service.d/50-somnara.conf";
const char* const kReloads = "run/somnara/systemd-reloads";
const char* const kChanges = "run/somnara/changes";  // the change lock and budget

std::string dropIn(const char* verb) {
  const std::string sleep = "/lib/systemd/systemd-sleep ";
  if (std::string(verb) == "suspend") return "[Service]\nExecStart=\nExecStart=" + sleep + verb + "\n";
  return "[Service]\nExecStart=\nExecStart=/bin/sh -c '" + sleep + verb + " || exec " + sleep + "suspend'\n";
}

const char* verbFor(int mode) { return mode == 0 ? "suspend" : mode == 3 ? "hybrid-sleep" : "hibernate"; }

// The saved settings below root; nullopt when missing or unreadable.
std::optional<Value> savedSettings(const std::string& root) {
  auto text = readFile(root + "/" + kSaved);
  return text ? somnara::plist::parse(*text) : std::nullopt;
}

// Saved settings holding only the mains hibernate mode.
Value onlyMode(int mode) {
  Dictionary ac{{"Hibernate Mode", Value(mode)}};
  return Value(Dictionary{{"Custom Profile", Value(Dictionary{{"AC Power", Value(ac)}})}});
}

// Every regular file below root, relative to it.
std::set<std::string> filesBelow(const std::string& root) {
  std::set<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (!e.is_directory()) files.insert(fs::relative(e.path(), root));
  return files;
}

// The set-user-id helper running the real power tool, built with the machine
// root MACHINE_ROOT (the helper clears SOMNARA_ROOT), systemd "running" there.
class HelperRunsPmset : public SetuidHelper {
 protected:
  void SetUp() override {
    SetuidHelper::SetUp();
    if (IsSkipped()) return;
    install(PMSET_FIXEDROOT_BIN, kTool, 0755);
    fs::create_directories(kMachine + "/" + kSystemdRun);
  }

  // The whole change to mode is in place and nothing else is there.
  void expectWholeChange(int mode) const {
    EXPECT_EQ(filesBelow(kMachine), (std::set<std::string>{kActive, kSaved, kRuntimeDropIn, kPersistentDropIn,
                                                           kReloads, kChanges}));
    EXPECT_EQ(readFile(kMachine + "/" + kActive), std::to_string(mode) + "\n");
    EXPECT_EQ(savedSettings(kMachine), onlyMode(mode));
    EXPECT_EQ(readFile(kMachine + "/" + kRuntimeDropIn), dropIn(verbFor(mode)));
    EXPECT_EQ(readFile(kMachine + "/" + kPersistentDropIn), dropIn(verbFor(mode)));
  }

  // Waits until no process runs the tool or the helper (a helper's child
  // about to start the tool, or a tool its caller no longer waits for).
  void waitUntilTheToolIsGone() const {
    for (int i = 0; i < 2000; ++i) {
      bool running = false;
      for (const auto& e : fs::directory_iterator("/proc")) {
        std::error_code ec;
        const std::string exe = fs::read_symlink(e.path() / "exe", ec).string();
        running = running || (!ec && (exe.rfind(kTool, 0) == 0 || exe.rfind(helper_, 0) == 0));
      }
      if (!running) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    FAIL() << "the power tool still runs";
  }

  const std::string kMachine = MACHINE_ROOT;
};

// ^C, ^\, ^Z and a hang-up reach the caller's foreground job at any moment;
// a change once started is made whole, and no temporary file is left.
TEST_F(HelperRunsPmset, TerminalSignalsDoNotCutAChangeInHalf) {
  ASSERT_EQ(run(asNobody({kTool, "hibernatemode", "3"})).exitCode, 0);
  expectWholeChange(3);
  std::mt19937 random(9);
  const int signals[] = {SIGINT, SIGQUIT, SIGTSTP, SIGHUP};
  int mode = 3;
  for (int i = 0; i < 120 && !HasFailure(); ++i) {
    const int wanted = i % 2 ? 25 : 0;
    const int sig = signals[i % 4];
    SCOPED_TRACE(::testing::Message() << "run " << i << ", signal " << sig);
    Launch l = asNobody({kTool, "hibernatemode", std::to_string(wanted)});
    l.ownProcessGroup = true;
    Started job = start(l);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
    ::kill(-job.pid, sig);
    if (sig == SIGTSTP) {  // a stopped job the user then kills
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      ::kill(-job.pid, SIGKILL);
    }
    finish(job);
    waitUntilTheToolIsGone();
    const std::string active = readFile(kMachine + "/" + kActive).value_or("");
    if (active == std::to_string(wanted) + "\n") mode = wanted;
    expectWholeChange(mode);
  }
}

// The repair tool only takes files below root-owned directories no one else can
// write; /run is one, the temporary directory and the build tree need not be.
class Repair : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    ::umask(022);
    dir_ = std::make_unique<TempDir>("/run");
    fs::create_directories(at(res("rel")));
  }
  Outcome repair(std::vector<std::string> args, bool asNobody = false) {
    args.insert(args.begin(), "pmsethelper-repair");
    return run({.program = asNobody ? reachable(REPAIR_BIN) : REPAIR_BIN, .argv = args, .asNobody = asNobody,
                .cwd = at(res("rel"))});
  }
  // A copy of the helper this build produced, with owner and mode.
  std::string helper(const std::string& bundle, mode_t mode, uid_t uid = 0, gid_t gid = 0) {
    std::string path = at(res(bundle) + "pmsethelper");
    fs::create_directories(fs::path(path).parent_path());
    fs::copy_file(HELPER_BIN, path, fs::copy_options::overwrite_existing);
    EXPECT_EQ(::chown(path.c_str(), uid, gid), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  }
  std::string at(const std::string& name) const { return *dir_ / name; }
  // The resources directory of bundle, relative to dir_, with a trailing slash.
  static std::string res(const std::string& bundle) { return bundle + ".app/Contents/Resources/"; }
  // A file owned by nobody:nogroup with the given mode.
  std::string file(const std::string& name, mode_t mode) {
    std::string path = at(name);
    writeFile(path, "#!/bin/false\n", mode);
    EXPECT_EQ(::chown(path.c_str(), kNobody, kNogroup), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  }
  static void expectOwnerAndMode(const std::string& path, uid_t uid, mode_t mode) {
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
    EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
    EXPECT_EQ(st.st_uid, uid) << path;
    EXPECT_EQ(st.st_gid, uid == 0 ? 0 : kNogroup) << path;
    EXPECT_EQ(st.st_mode & 07777, mode) << path;
  }
  std::unique_ptr<TempDir> dir_;
};

// Set-id bits the file already had survive only if chown (which clears them)
// runs before chmod. Not run by root, nothing changes.
TEST_F(Repair, GivesTheBuiltHelperRootOwnershipAndSetIdBits) {
  const std::tuple<mode_t, gid_t, mode_t, bool, int> cases[] = {
      {0755, 0, 06755, false, 0}, {06755, 0, 06755, false, 0}, {0700, 0, 06700, false, 0},
      {0755, kNogroup, 06755, false, 0}, {0755, 0, 0755, true, 2}};
  for (const auto& [before, group, after, asNobody, exitCode] : cases) {
    SCOPED_TRACE(::testing::Message() << std::oct << before << " group " << std::dec << group
                                      << (asNobody ? " as nobody" : ""));
    std::string path = helper("ok", before, 0, group);
    Outcome o = repair({path}, asNobody);
    EXPECT_EQ(o.exitCode, exitCode) << o.err;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, asNobody ? group : 0u);
    EXPECT_EQ(st.st_mode & 07777, after);
  }
}

// A file another user can write, or could write at the moment of the
// repair, would become a set-user-id root program of theirs; so would any
// content but the helper this build produced.
TEST_F(Repair, RefusesAFileSomeoneElseCanWriteOrThatIsNotTheBuiltHelper) {
  const struct {
    const char* name;
    mode_t mode;
    uid_t uid;
    gid_t gid;
    std::function<std::function<void()>(const std::string& path)> hold;  // returns the release
    const char* why;
  } cases[] = {
      {"writable by all", 0777, 0, 0, {}, "writable by group or others"},
      {"writable by its group", 0775, 0, kNogroup, {}, "writable by group or others"},
      {"owned by a user", 0755, kNobody, kNogroup, {}, "not owned by root"},
      {"open for writing",
       0755, 0, 0,
       [](const std::string& path) {
         int fd = ::open(path.c_str(), O_WRONLY);
         EXPECT_GE(fd, 0);
         return std::function<void()>([fd] { ::close(fd); });
       },
       "open for writing"},
      {"mapped writable and shared while it was writable by all",
       0777, 0, 0,
       [](const std::string& path) {
         int fd = ::open(path.c_str(), O_RDWR);
         void* map = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
         EXPECT_NE(map, MAP_FAILED);
         ::close(fd);
         EXPECT_EQ(::chmod(path.c_str(), 0755), 0);  // looks safe now
         return std::function<void()>([map] { ::munmap(map, 4096); });
       },
       "mapped writable"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = helper("w", c.mode, c.uid, c.gid);
    std::function<void()> release = c.hold ? c.hold(path) : [] {};
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    Outcome o = repair({path});
    release();
    EXPECT_EQ(o.exitCode, 2) << o.err;
    EXPECT_NE(o.err.find(c.why), std::string::npos) << o.err;
    struct stat after {};
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
  }

  std::string other = at(res("other") + "pmsethelper");
  writeFile(other, readFile(HELPER_BIN).value() + "x", 0755);
  Outcome o = repair({other});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_NE(o.err.find("not the pmsethelper this build installed"), std::string::npos) << o.err;
  expectOwnerAndMode(other, 0, 0755);
}

TEST_F(Repair, RefusesAnythingButASingleLinkedRegularFileNamedPmsethelperInATrustedPlace) {
  const std::string h = "pmsethelper";
  const std::string target = file(res("target") + h, 0755), link = at(res("link") + h);
  fs::create_directories(at(res("link")));
  fs::create_symlink(target, link);
  const std::string hard = file(res("hard") + h, 0755);
  fs::create_hard_link(hard, at(res("hard") + "other"));
  const std::string suffixed = file(res("a") + "pmsethelper2", 0755);
  const std::string backup = file(res("b") + "pmsethelper~", 0755);
  const std::string relative = file(res("rel") + h, 0755), fifo = at(res("f") + h);
  fs::create_directories(at(res("d") + h));
  fs::create_directories(at(res("f")));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  // Directories on the way that someone besides root can change, a symlinked
  // directory (leading to target), a directory not named Resources.
  const std::string worldWritable = file(res("ww") + h, 0755);
  const std::string groupWritable = file(res("gw") + h, 0755);
  const std::string userOwned = file(res("uo") + h, 0755);
  ASSERT_EQ(::chmod(at(res("ww")).c_str(), 01777) | ::chmod(at("gw.app/Contents").c_str(), 0775) |
                ::chown(at("uo.app").c_str(), kNobody, kNogroup),
            0);
  fs::create_directories(at("sl.app"));
  fs::create_directory_symlink(at("target.app/Contents"), at("sl.app/Contents"));
  const std::string notResources = file("nr.app/Contents/MacOS/pmsethelper", 0755);

  const std::vector<std::string> cases[] = {
      {}, {target, target}, {link}, {hard}, {suffixed}, {backup}, {target + "/"}, {fifo},
      {at(res("d") + h)}, {at(res("missing") + h)}, {"pmsethelper"}, {"./pmsethelper"},
      {worldWritable}, {groupWritable}, {userOwned}, {at(res("sl") + h)}, {notResources},
      {at(res("target") + "../Resources/" + h)}};
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    Outcome o = repair(args);
    EXPECT_EQ(o.exitCode, 2) << o.err;
    EXPECT_FALSE(o.err.empty());
    for (const std::string& path : {target, hard, suffixed, backup, relative, worldWritable,
                                    groupWritable, userOwned, notResources})
      expectOwnerAndMode(path, kNobody, 0755);
  }
}


class Pmset : public ::testing::Test {
 protected:
  Outcome pmset(std::vector<std::string> args, bool asNobody = false) {
    args.insert(args.begin(), "pmset");
    return run({.program = asNobody ? reachable(PMSET_BIN) : PMSET_BIN, .argv = args,
                .env = {{"SOMNARA_ROOT=" + root_->path}}, .asNobody = asNobody});
  }
  std::string at(const std::string& rel) const { return *root_ / rel; }
  std::optional<Value> saved() const { return savedSettings(root_->path); }
  // Every path below the root with its content ("/" for directories).
  std::map<std::string, std::string> tree() const {
    std::map<std::string, std::string> t;
    for (const auto& e : fs::recursive_directory_iterator(root_->path))
      t[e.path()] = e.is_directory() ? "/" : readFile(e.path()).value_or("?");
    return t;
  }
  std::unique_ptr<TempDir> root_ = std::make_unique<TempDir>();
};

// Without systemd running (no run/systemd/system) there are no drop-ins and
// that directory, which marks a systemd-booted system, is not created.
TEST_F(Pmset, EachModeWithAndWithoutForceAndSystemd) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"0", "suspend", true}, {"1", "hibernate", true}, {"3", "hybrid-sleep", true},
      {"25", "hibernate", true}, {"3", "hybrid-sleep", false}};
  for (bool force : {false, true}) {
    for (const auto& [value, verb, systemd] : cases) {
      SCOPED_TRACE(std::string(force ? "force " : "") + value + (systemd ? "" : " without systemd"));
      root_ = std::make_unique<TempDir>();
      if (systemd) fs::create_directories(at(kSystemdRun));
      std::vector<std::string> args{"hibernatemode", value};
      if (force) args.insert(args.begin(), "force");
      Outcome o = pmset(args);
      ASSERT_EQ(o.exitCode, 0) << o.err;
      EXPECT_EQ(readFile(at(kActive)), std::string(value) + "\n");
      EXPECT_EQ(readFile(at(kRuntimeDropIn)).value_or("-"), systemd ? dropIn(verb) : "-");
      EXPECT_EQ(readFile(at(kPersistentDropIn)).value_or("-"), force || !systemd ? "-" : dropIn(verb));
      EXPECT_EQ(fs::exists(at("run/systemd")), systemd);
      EXPECT_EQ(fs::exists(at("etc/systemd")), systemd && !force);
      EXPECT_EQ(saved(), force ? std::nullopt : std::optional(onlyMode(std::stoi(value))));
      struct stat dir {}, file {};
      ASSERT_EQ(::stat(at("run/somnara").c_str(), &dir) | ::stat(at(kActive).c_str(), &file), 0);
      EXPECT_EQ(dir.st_mode & 0777, 0755u);
      EXPECT_EQ(file.st_mode & 0777, 0644u);
      EXPECT_EQ(entries(at("run/somnara")), systemd ? 3u : 2u) << "temporary file left behind";
      EXPECT_EQ(readFile(at(kReloads)).value_or("").size() > 0, systemd);
    }
  }
}

// Other keys stay and force leaves the file alone; a level that is not a
// dictionary is replaced; an unreadable file is moved aside, never lost.
TEST_F(Pmset, SavedSettingsKeepOtherKeysAndUnreadableOnesAreMovedAside) {
  auto settings = [](int mode) {
    Dictionary ac{{"Hibernate Mode", Value(mode)}, {"Display Sleep Timer", Value(10)}};
    Dictionary profile{{"AC Power", Value(ac)}, {"Battery Power", Value(Dictionary{{"Sleep", Value(3)}})}};
    return Value(Dictionary{{"Custom Profile", Value(profile)}, {"Version", Value("7")}});
  };
  const Value acNotDictionary(Dictionary{{"Custom Profile", Value(Dictionary{{"AC Power", Value(4)}})}});
  const struct {
    std::string before;
    std::vector<std::string> args;
    Value after;
    bool movedAside;
  } cases[] = {
      {somnara::plist::toXml(settings(0)), {"force", "hibernatemode", "25"}, settings(0), false},
      {somnara::plist::toXml(settings(0)), {"hibernatemode", "25"}, settings(25), false},
      {somnara::plist::toXml(acNotDictionary), {"hibernatemode", "3"}, onlyMode(3), false},
      {"<?xml version=\"1.0\"?><plist><dict><key>x", {"hibernatemode", "3"}, onlyMode(3), true},
      {somnara::plist::toXml(Value("not a dictionary")), {"hibernatemode", "3"}, onlyMode(3), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " on " + c.before.substr(0, 60));
    root_ = std::make_unique<TempDir>();
    writeFile(at(kSaved), c.before);
    const std::time_t t0 = std::time(nullptr);
    Outcome o = pmset(c.args);
    ASSERT_EQ(o.exitCode, 0) << o.err;
    EXPECT_EQ(saved(), c.after);
    EXPECT_EQ(o.err.find("moved aside") != std::string::npos, c.movedAside) << o.err;
    std::map<std::string, std::string> asides;  // name -> content
    for (const auto& e : fs::directory_iterator(at("etc/somnara")))
      if (e.path().filename() != "PowerManagement.plist") asides[e.path().filename()] = readFile(e.path()).value_or("");
    ASSERT_EQ(asides.size(), c.movedAside ? 1u : 0u);
    if (!c.movedAside) continue;
    const auto& [name, content] = *asides.begin();
    EXPECT_EQ(content, c.before);
    ASSERT_EQ(name.rfind("PowerManagement.plist.corrupt-", 0), 0u) << name;
    const long long stamp = std::stoll(name.substr(name.find('-') + 1));
    EXPECT_TRUE(stamp >= t0 && stamp <= std::time(nullptr)) << name;
  }
}

// systemd reads the drop-ins of /etc and /run together in file-name order (for
// equal names only the one in /etc) and the last ExecStart= counts.
TEST_F(Pmset, ForcedValueOverridesTheSavedOneUntilTheNextSave) {
  const std::string dir = "/systemd/system/systemd-suspend.service.d/";
  writeFile(at("etc" + dir + "somnara.conf"), dropIn("suspend"));  // an earlier version's names
  writeFile(at("run" + dir + "somnara.conf"), dropIn("suspend"));
  const std::pair<std::vector<std::string>, const char*> steps[] = {
      {{"hibernatemode", "0"}, "suspend"}, {{"force", "hibernatemode", "25"}, "hibernate"},
      {{"hibernatemode", "3"}, "hybrid-sleep"}, {{"force", "hibernatemode", "0"}, "suspend"}};
  for (const auto& [args, verb] : steps) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ASSERT_EQ(pmset(args).exitCode, 0);
    std::map<std::string, std::string> byName;  // file name -> content
    for (const char* top : {"run", "etc"})
      for (const auto& e : fs::directory_iterator(at(top + dir)))
        byName[e.path().filename()] = readFile(e.path()).value_or("");
    ASSERT_FALSE(byName.empty());
    EXPECT_EQ(byName.rbegin()->first, fs::path(kRuntimeDropIn).filename()) << "applied last";
    EXPECT_EQ(byName.rbegin()->second, dropIn(verb));
  }
}

// A change already in place writes nothing and reloads nothing: any user can
// run the helper many times a second.
TEST_F(Pmset, AChangeAlreadyInPlaceWritesAndReloadsNothing) {
  fs::create_directories(at(kSystemdRun));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"hibernatemode", "25"},
                                               std::vector<std::string>{"force", "hibernatemode", "25"}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    ASSERT_EQ(pmset({"hibernatemode", "25"}).exitCode, 0);
    auto stamps = [&] {
      std::map<std::string, std::pair<ino_t, long>> s;  // inode and change time of every file
      for (const std::string& f : filesBelow(root_->path)) {
        struct stat st {};
        ::stat(at(f).c_str(), &st);
        s[f] = {st.st_ino, st.st_ctim.tv_nsec + st.st_ctim.tv_sec * 1000000000L};
      }
      return s;
    };
    const auto before = stamps();
    const std::string reloads = readFile(at(kReloads)).value_or("");
    for (int i = 0; i < 3; ++i) ASSERT_EQ(pmset(args).exitCode, 0);
    EXPECT_EQ(stamps(), before);
    EXPECT_EQ(readFile(at(kReloads)), reloads) << "systemd reloaded";
  }
  // Each piece missing or different makes the run write again.
  for (const char* piece : {kActive, kSaved, kRuntimeDropIn, kPersistentDropIn}) {
    SCOPED_TRACE(piece);
    writeFile(at(piece), "1\n");
    ASSERT_EQ(pmset({"hibernatemode", "25"}).exitCode, 0);
    EXPECT_EQ(readFile(at(kActive)), "25\n");
    EXPECT_EQ(saved(), onlyMode(25));
    EXPECT_EQ(readFile(at(kRuntimeDropIn)), dropIn("hibernate"));
    EXPECT_EQ(readFile(at(kPersistentDropIn)), dropIn("hibernate"));
  }
}

// Root running the tool on a directory someone else owns: no symbolic link
// below it leads a write or a read elsewhere.
TEST_F(Pmset, BelowAFakeRootNoSymbolicLinkIsFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  TempDir elsewhere;
  writeFile(elsewhere / "hibernatemode", "7\n");
  writeFile(elsewhere / "PowerManagement.plist", somnara::plist::toXml(onlyMode(1)));
  const auto untouched = filesBelow(elsewhere.path);
  const struct {
    const char* name;
    std::function<void()> prepare;
    std::vector<std::string> args;
  } cases[] = {
      {"run is a link", [&] { fs::create_directory_symlink(elsewhere.path, at("run")); }, {"force", "hibernatemode", "3"}},
      {"etc/somnara is a link",
       [&] { fs::create_directories(at("etc")); fs::create_directory_symlink(elsewhere.path, at("etc/somnara")); },
       {"hibernatemode", "3"}},
      {"active value is a link",
       [&] { fs::create_directories(at("run/somnara")); fs::create_symlink(elsewhere / "hibernatemode", at(kActive)); },
       {"-g"}},
      {"sleep requests is a link",
       [&] {
         fs::create_directories(at("run/somnara"));
         fs::create_symlink(elsewhere / "hibernatemode", at("run/somnara/sleep-requests"));
       },
       {"sleepnow"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    root_ = std::make_unique<TempDir>();
    ASSERT_EQ(::chown(root_->path.c_str(), kNobody, kNogroup), 0);
    c.prepare();
    Outcome o = pmset(c.args);
    EXPECT_NE(o.exitCode, 0) << o.out << o.err;
    EXPECT_EQ(o.out, "") << "read through the link";
    EXPECT_EQ(filesBelow(elsewhere.path), untouched);
    EXPECT_EQ(readFile(elsewhere / "hibernatemode"), "7\n");
  }
}

// Made set-user-id, the tool ignores the caller's SOMNARA_ROOT.
TEST_F(Pmset, SetUserIdRunIgnoresTheCallersRoot) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  writeFile(at(kActive), "7\n");
  TempDir bin;
  install(PMSET_BIN, bin / "pmset", 04755);
  Outcome o = run({.program = bin / "pmset", .argv = {"pmset", "-g"}, .env = {{"SOMNARA_ROOT=" + root_->path}},
                   .asNobody = true});
  EXPECT_EQ(o.out.find("hibernatemode 7"), std::string::npos) << o.out;
}

TEST_F(Pmset, BadArgumentsExit2AndWriteNothing) {
  // The mode grammar has its own table in the unit tests.
  const std::vector<std::string> cases[] = {
      {}, {"hibernatemode"}, {"force"}, {"bogus"}, {"-G"}, {"-g", "x"}, {"sleepnow", "now"}, {"force", "sleepnow"},
      {"hibernatemode", "1", "extra"}, {"hibernatemode", "2"}, {"force", "force", "hibernatemode", "1"}};
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    Outcome o = pmset(args);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_NE(o.err.find("usage: pmset"), std::string::npos) << o.err;
  }
  Outcome o = run({.program = PMSET_BIN, .argv = {"pmset", "hibernatemode", "0"},
                   .env = {{"SOMNARA_ROOT=relative/root"}}, .cwd = root_->path});
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_NE(o.err.find("SOMNARA_ROOT"), std::string::npos);
  EXPECT_TRUE(fs::is_empty(root_->path));
}

TEST_F(Pmset, SleepNowOnAFakeRootIsRecordedNotPerformed) {
  std::time_t t0 = std::time(nullptr);
  ASSERT_EQ(pmset({"sleepnow"}).exitCode | pmset({"sleepnow"}).exitCode, 0);
  std::istringstream log(readFile(at("run/somnara/sleep-requests")).value_or(""));
  int lines = 0;
  for (std::string word, stamp; log >> word >> stamp; ++lines)
    EXPECT_TRUE(word == "sleepnow" && std::stoll(stamp) >= t0 && std::stoll(stamp) <= time(0));
  EXPECT_EQ(lines, 2);
}

// Lacking privileges exits 1, any other I/O failure 3; either way nothing
// changes but the record of the attempt in the change budget.
TEST_F(Pmset, FailuresMapToPermissionOrOtherIoStatusAndChangeNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::function<void(const std::string& root)> prepare;
    bool asNobody;
    int exitCode;
  } cases[] = {
      {"saved settings not writable", {"hibernatemode", "1"},
       [](auto& r) { fs::create_directories(r + "/etc/somnara"); }, true, 1},
      {"runtime directory not writable", {"force", "hibernatemode", "1"},
       [](auto& r) { fs::create_directories(r + "/" + kSystemdRun); }, true, 1},
      {"sleep request not writable", {"sleepnow"}, [](auto&) {}, true, 1},
      {"saved settings unreadable", {"hibernatemode", "1"},
       [](auto& r) {
         writeFile(r + "/" + kSaved, "<plist><dict/></plist>", 0600);
         ASSERT_EQ(::chown((r + "/etc/somnara").c_str(), kNobody, kNogroup), 0);
       },
       true, 1},
      {"runtime drop-in below a file", {"force", "hibernatemode", "25"},
       [](auto& r) { writeFile(r + "/" + kSystemdRun + "/systemd-suspend.service.d", ""); }, false, 3},
      {"saved settings is a directory", {"hibernatemode", "3"},
       [](auto& r) { fs::create_directories(r + "/" + kSaved); }, false, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    root_ = std::make_unique<TempDir>();
    writeFile(at(kActive), "0\n");
    c.prepare(root_->path);
    auto before = tree();
    Outcome o = pmset(c.args, c.asNobody);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    EXPECT_NE(o.err.find(root_->path), std::string::npos) << "message names the path: " << o.err;
    auto after = tree();
    after.erase(at(kChanges));
    EXPECT_EQ(after, before);
  }
}

std::int64_t bootMilliseconds() {
  timespec t{};
  ::clock_gettime(CLOCK_BOOTTIME, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Each change costs root writes and a systemd reload: a loop of alternating
// changes gets a burst of five, then one a second. A change already in place
// and -g cost nothing and are never refused.
TEST_F(Pmset, AlternatingChangesGetABurstOfFiveThenOneASecond) {
  fs::create_directories(at(kSystemdRun));
  std::vector<int> statuses;
  for (int i = 0; i < 8; ++i) {
    Outcome o = pmset({"force", "hibernatemode", i % 2 ? "3" : "0"});
    statuses.push_back(o.exitCode);
    if (o.exitCode == 5) {
      EXPECT_NE(o.err.find("too many changes"), std::string::npos) << o.err;
    }
  }
  // The seventh asks for the mode in force after the refused sixth.
  EXPECT_EQ(statuses, (std::vector<int>{0, 0, 0, 0, 0, 5, 0, 5}));
  const std::string reloads = readFile(at(kReloads)).value_or("");
  EXPECT_EQ(std::count(reloads.begin(), reloads.end(), '\n'), 5);
  EXPECT_EQ(readFile(at(kActive)), "0\n");
  EXPECT_EQ(pmset({"force", "hibernatemode", "0"}).exitCode, 0);
  EXPECT_EQ(pmset({"-g"}).out, "hibernatemode 0\ndrop-in: in step\n");

  // The last change a second ago: one more fits.
  writeFile(at(kChanges), "0 " + std::to_string(bootMilliseconds() - 1000) + "\n");
  EXPECT_EQ(pmset({"force", "hibernatemode", "3"}).exitCode, 0);
  EXPECT_EQ(pmset({"force", "hibernatemode", "0"}).exitCode, 5);
  EXPECT_EQ(readFile(at(kActive)), "3\n");
}

// One run changes the settings at a time. A run waits up to 2 s for the one
// holding the lock, then gives up with status 5, having changed nothing.
TEST_F(Pmset, OneRunChangesTheSettingsAtATime) {
  fs::create_directories(at(kSystemdRun));
  fs::create_directories(at("run/somnara"));
  const int held = ::open(at(kChanges).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const auto began = std::chrono::steady_clock::now();
  Outcome o = pmset({"hibernatemode", "25"});
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(1900));
  EXPECT_EQ(o.exitCode, 5);
  EXPECT_NE(o.err.find("another change"), std::string::npos) << o.err;
  EXPECT_FALSE(fs::exists(at(kActive)));
  EXPECT_FALSE(fs::exists(at(kRuntimeDropIn)));

  std::thread release([held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::flock(held, LOCK_UN);
  });
  o = pmset({"hibernatemode", "25"});
  release.join();
  ::close(held);
  EXPECT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(readFile(at(kActive)), "25\n");
}

// Runs racing each other: each makes its whole change or says it could not,
// and the drop-in always does the active mode.
TEST_F(Pmset, RacingRunsLeaveTheDropInAndTheActiveValueInStep) {
  fs::create_directories(at(kSystemdRun));
  for (int round = 0; round < 40; ++round) {
    fs::remove(at(kChanges));  // a full budget for each round
    std::vector<Started> runs;
    for (const char* mode : {"0", "25", "3", "1"})
      runs.push_back(start({.program = PMSET_BIN,
                            .argv = {"pmset", "force", "hibernatemode", mode},
                            .env = {{"SOMNARA_ROOT=" + root_->path}}}));
    for (const Started& r : runs) {
      Outcome o = finish(r);
      EXPECT_TRUE(o.exitCode == 0 || o.exitCode == 5) << o.exitCode << " " << o.err;
    }
    Outcome g = pmset({"-g"});
    ASSERT_NE(g.out.find("drop-in: in step"), std::string::npos) << "round " << round << ": " << g.out;
  }
}

}  // namespace

// The kernel files of a machine, each written only when given.
struct KernelFiles {
  const char* state;
  const char* disk;
  const char* lockdown;
  const char* swaps;
};

const char* const kSwapHeader = "Filename\tType\tSize\tUsed\tPriority\n";
const char* const kEightGiBSwap = "Filename\tType\tSize\tUsed\tPriority\n/dev/vda2 partition 8388608 0 -2\n";
const char* const kSmallSwap = "Filename\tType\tSize\tUsed\tPriority\n/swapfile file 1048576 524288 -2\n";

// A mode that needs a kind of sleep the kernel files rule out is refused
// with status 4, the reason, and nothing written; plain suspend never is.
// Without sys/power/state the tool cannot tell and refuses nothing.
TEST_F(Pmset, RefusesHibernationWhereTheMachineCannotDoIt) {
  struct Case {
    const char* name;
    KernelFiles files;
    int mode;
    int status;
    const char* reason;  // in the message; empty: none
  };
  const Case cases[] = {
      {"capable", {"freeze mem disk", "[platform] shutdown suspend", "[none] integrity", kEightGiBSwap}, 25, 0, ""},
      {"no disk state", {"freeze mem", nullptr, nullptr, kEightGiBSwap}, 25, 4, "not offered by the kernel"},
      {"no disk state, hybrid", {"freeze mem", nullptr, nullptr, kEightGiBSwap}, 3, 4, "can't hibernate"},
      {"swap too small", {"freeze mem disk", nullptr, nullptr, kSmallSwap}, 25, 4, "smaller than the memory"},
      {"lockdown", {"freeze mem", nullptr, "none [integrity] confidentiality", kEightGiBSwap}, 25, 4,
       "Secure Boot lockdown"},
      {"disk mode without suspend", {"mem disk", "[platform] shutdown", nullptr, kEightGiBSwap}, 3, 4,
       "can't do hybrid sleep"},
      {"suspend is never refused", {"freeze", nullptr, nullptr, kSwapHeader}, 0, 0, ""},
      {"no sysfs: cannot tell", {nullptr, nullptr, nullptr, kSwapHeader}, 25, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    root_ = std::make_unique<TempDir>();
    fs::create_directories(at(kSystemdRun));
    const std::pair<const char*, const char*> files[] = {{"sys/power/state", c.files.state},
                                                         {"sys/power/disk", c.files.disk},
                                                         {"sys/kernel/security/lockdown", c.files.lockdown},
                                                         {"proc/swaps", c.files.swaps},
                                                         {"proc/meminfo", "Active(anon):  2097152 kB\n"}};
    for (const auto& [path, content] : files)
      if (content) writeFile(at(path), content);
    const auto before = tree();
    Outcome o = pmset({"force", "hibernatemode", std::to_string(c.mode)});
    EXPECT_EQ(o.exitCode, c.status) << o.err;
    if (c.status == 0) continue;
    EXPECT_NE(o.err.find(c.reason), std::string::npos) << o.err;
    EXPECT_EQ(tree(), before) << "a refused change writes nothing";
  }
}

// -g: the active mode (status 1 and the path when it cannot be read), whether
// systemd's drop-in does it, and what the machine can do where sysfs tells.
TEST_F(Pmset, ShowSettings) {
  const std::string runDir = std::string(kSystemdRun) + "/systemd-suspend.service.d/";
  const std::string legacy = runDir + "somnara.conf";
  const struct {
    std::vector<std::pair<std::string, std::string>> files;  // below the root
    int status;
    std::string out;  // on failure: in the message
  } cases[] = {
      {{}, 1, kActive},
      {{{kActive, ""}}, 1, kActive},
      {{{kActive, "three\n"}}, 1, kActive},
      {{{kActive, "3x\n"}}, 1, kActive},
      {{{kActive, "0\n"}}, 0, "hibernatemode 0\n"},
      {{{kActive, "0\n"}, {"sys/power/state", "freeze mem disk\n"}, {"proc/swaps", kSwapHeader}}, 0,
       "hibernatemode 0\nsuspend: yes\nhibernate: no (no swap space)\nhybrid-sleep: no (no swap space)\n"},
      {{{kActive, "25\n"}, {kRuntimeDropIn, dropIn("hibernate")}}, 0, "hibernatemode 25\ndrop-in: in step\n"},
      {{{kActive, "25\n"}, {kRuntimeDropIn, dropIn("suspend")}}, 0,
       "hibernatemode 25\ndrop-in: out of step: the drop-in makes suspend requests do suspend\n"},
      {{{kActive, "25\n"}, {kRuntimeDropIn, "[Service]\n"}}, 0,
       "hibernatemode 25\ndrop-in: out of step: the drop-in holds something else\n"},
      {{{kActive, "25\n"}, {std::string(kSystemdRun) + "/other.service", ""}}, 0,
       "hibernatemode 25\ndrop-in: out of step: no drop-in: suspend requests do what systemd does by default\n"},
      {{{kActive, "25\n"}, {kRuntimeDropIn, dropIn("hibernate")}, {legacy, dropIn("suspend")}}, 0,
       "hibernatemode 25\ndrop-in: out of step: an earlier version's drop-in decides what suspend requests do\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out + " " + (c.files.empty() ? "" : c.files.back().second));
    root_ = std::make_unique<TempDir>();
    for (const auto& [path, content] : c.files) writeFile(at(path), content);
    Outcome g = pmset({"-g"});
    EXPECT_EQ(g.exitCode, c.status) << g.err;
    if (c.status == 0) {
      EXPECT_EQ(g.out, c.out);
    } else {
      EXPECT_NE(g.err.find(c.out), std::string::npos) << g.err;
      EXPECT_EQ(g.out, "");
    }
  }
}

// A persistent drop-in an earlier version wrote for hibernation has no
// fallback to suspend; the next change, forced or not, replaces it.
TEST_F(Pmset, AStaleHibernateDropInIsReplacedByOneThatFallsBackToSuspend) {
  for (const char* verb : {"hibernate", "hybrid-sleep"}) {
    SCOPED_TRACE(verb);
    root_ = std::make_unique<TempDir>();
    fs::create_directories(at(kSystemdRun));
    writeFile(at(kPersistentDropIn), std::string("[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep ") +
                                         verb + "\n");
    ASSERT_EQ(pmset({"force", "hibernatemode", "0"}).exitCode, 0);
    EXPECT_EQ(readFile(at(kPersistentDropIn)), dropIn(verb));
    EXPECT_EQ(readFile(at(kRuntimeDropIn)), dropIn("suspend"));
    const std::string reloads = readFile(at(kReloads)).value_or("");
    EXPECT_EQ(std::count(reloads.begin(), reloads.end(), '\n'), 1) << "one reload for the whole change";
    ASSERT_EQ(pmset({"force", "hibernatemode", "0"}).exitCode, 0);
    EXPECT_EQ(readFile(at(kReloads)), reloads) << "nothing left to change";
  }
}
