// pmsethelper (set-user-id, run by nobody, against a recording stand-in tool),
// pmsethelper-repair and pmset on scratch files and machine roots.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
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
};

struct Outcome {
  int exitCode = -1;  // exit status, or 128 + signal
  std::string out, err;
};

Outcome run(const Launch& l) {
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
    for (int fd : l.extraFds) ok = ok && ::fcntl(fd, F_SETFD, 0) == 0;
    for (int sig : l.ignoredSignals) ::signal(sig, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    for (int sig : l.blockedSignals) sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    if (l.umask) ::umask(*l.umask);
    ok = ok && (l.cwd.empty() || ::chdir(l.cwd.c_str()) == 0);
    if (l.asNobody)
      ok = ok && ::setgroups(l.supplementaryGroups.size(), l.supplementaryGroups.data()) == 0 &&
           ::setresgid(kNogroup, kNogroup, kNogroup) == 0 &&
           ::setresuid(kNobody, kNobody, kNobody) == 0;
    if (ok) ::execve(l.program.c_str(), argv.data(), envp.data());
    _exit(250);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), "", ""};
  char buf[4096];
  for (auto [fd, text] : {std::pair{out, &o.out}, std::pair{err, &o.err}}) {
    for (ssize_t n; (n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(text->size()))) > 0;)
      text->append(buf, static_cast<size_t>(n));
    ::close(fd);
  }
  return o;
}

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
  Outcome o = run(l);
  ::close(extra);
  ::close(9);

  EXPECT_EQ(o.exitCode, 3) << o.err;
  const Record expected = {
      {"argv", {kTool, "hibernatemode", "3"}}, {"env", {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}},
      {"uids", {"0 0 0"}}, {"gids", {"0 0 0"}}, {"groups", {"0"}}, {"umask", {"0022"}},
      {"fds", {"0 1 2"}}, {"SigBlk", {"0000000000000000"}}, {"SigIgn", {"0000000000000000"}}};
  EXPECT_EQ(record(), expected);
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
    return run({.program = REPAIR_BIN, .argv = args, .asNobody = asNobody, .cwd = at(res("rel"))});
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

// Set-id bits the file already had survive only if chown (which clears them) runs
// before chmod. Without root the chown fails with its own status and nothing changes.
TEST_F(Repair, GivesRootOwnershipAndSetIdBitsWithoutGroupOrOtherWrite) {
  const std::tuple<mode_t, mode_t, bool, int> cases[] = {
      {0755, 06755, false, 0}, {0777, 06755, false, 0}, {06775, 06755, false, 0}, {0700, 06700, false, 0},
      {0755, 0755, true, 3}};
  for (const auto& [before, after, asNobody, exitCode] : cases) {
    SCOPED_TRACE(::testing::Message() << std::oct << before << (asNobody ? " as nobody" : ""));
    std::string path = file(res("ok") + "pmsethelper", before);
    Outcome o = repair({path}, asNobody);
    EXPECT_EQ(o.exitCode, exitCode) << o.err;
    expectOwnerAndMode(path, asNobody ? kNobody : 0, after);
  }
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

const char* const kActive = "run/somnara/hibernatemode";
const char* const kSaved = "etc/somnara/PowerManagement.plist";
const char* const kSystemdRun = "run/systemd/system";  // a directory on systemd-booted systems
const char* const kRuntimeDropIn = "run/systemd/system/systemd-suspend.service.d/60-somnara-runtime.conf";
const char* const kPersistentDropIn = "etc/systemd/system/systemd-suspend.service.d/50-somnara.conf";

std::string dropIn(const char* verb) {
  return std::string("[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep ") + verb + "\n";
}

class Pmset : public ::testing::Test {
 protected:
  Outcome pmset(std::vector<std::string> args, bool asNobody = false) {
    args.insert(args.begin(), "pmset");
    return run({.program = PMSET_BIN, .argv = args, .env = {{"SOMNARA_ROOT=" + root_->path}},
                .asNobody = asNobody});
  }
  std::string at(const std::string& rel) const { return *root_ / rel; }
  std::optional<Value> saved() const {
    auto text = readFile(at(kSaved));
    return text ? somnara::plist::parse(*text) : std::nullopt;
  }
  static Value onlyMode(int mode) {
    Dictionary ac{{"Hibernate Mode", Value(mode)}};
    return Value(Dictionary{{"Custom Profile", Value(Dictionary{{"AC Power", Value(ac)}})}});
  }
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
      EXPECT_EQ(entries(at("run/somnara")), 1u) << "temporary file left behind";

      Outcome g = pmset({"-g"});
      EXPECT_EQ(g.exitCode, 0) << g.err;
      EXPECT_EQ(g.out, "hibernatemode " + std::string(value) + "\n");
    }
  }
}

TEST_F(Pmset, SavedSettingsKeepOtherKeysAndForceLeavesThemAlone) {
  auto settings = [](int mode) {
    Dictionary ac{{"Hibernate Mode", Value(mode)}, {"Display Sleep Timer", Value(10)}};
    Dictionary profile{{"AC Power", Value(ac)},
                       {"Battery Power", Value(Dictionary{{"Sleep", Value(3)}})}};
    return Value(Dictionary{{"Custom Profile", Value(profile)}, {"Version", Value("7")}});
  };
  writeFile(at(kSaved), somnara::plist::toXml(settings(0)));
  ASSERT_EQ(pmset({"force", "hibernatemode", "25"}).exitCode, 0);
  EXPECT_EQ(saved(), settings(0));
  ASSERT_EQ(pmset({"hibernatemode", "25"}).exitCode, 0);
  EXPECT_EQ(saved(), settings(25));

  // A level that is not a dictionary is replaced; the file is not moved aside.
  Value acNotDictionary(Dictionary{{"Custom Profile", Value(Dictionary{{"AC Power", Value(4)}})}});
  writeFile(at(kSaved), somnara::plist::toXml(acNotDictionary));
  ASSERT_EQ(pmset({"hibernatemode", "3"}).exitCode, 0);
  EXPECT_EQ(saved(), onlyMode(3));
  EXPECT_EQ(entries(at("etc/somnara")), 1u);
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

TEST_F(Pmset, CorruptSavedSettingsAreMovedAside) {
  for (const std::string& content : {std::string("<?xml version=\"1.0\"?><plist><dict><key>x"),
                                    somnara::plist::toXml(Value("not a dictionary"))}) {
    SCOPED_TRACE(content);
    fs::remove_all(at("etc"));
    writeFile(at(kSaved), content);
    std::time_t t0 = std::time(nullptr);
    Outcome o = pmset({"hibernatemode", "3"});
    ASSERT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.err.find("moved aside"), std::string::npos);
    EXPECT_EQ(saved(), onlyMode(3));
    int asides = 0;
    for (std::time_t t = t0; t <= std::time(nullptr); ++t)
      asides += readFile(at(kSaved) + ".corrupt-" + std::to_string(t)) == content;
    EXPECT_EQ(asides, 1);
    EXPECT_EQ(entries(at("etc/somnara")), 2u);
  }
}

TEST_F(Pmset, BadArgumentsExit2AndWriteNothing) {
  const std::vector<std::string> cases[] = {
      {},  {"hibernatemode"}, {"force"}, {"bogus"}, {"-G"}, {"-g", "x"}, {"sleepnow", "now"},
      {"force", "sleepnow"}, {"force", "force", "hibernatemode", "1"}, {"Hibernatemode", "1"},
      {"hibernatemode", "1", "extra"}, {"hibernatemode", "force", "1"}, {"hibernatemode", "2"},
      {"hibernatemode", "03"}, {"hibernatemode", "+1"}, {"hibernatemode", " 1"},
      {"hibernatemode", "1 "}, {"hibernatemode", ""}, {"hibernatemode", "0x19"},
      {"hibernatemode", "4294967297"}};
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

TEST_F(Pmset, ShowSettingsNeedsAReadableValue) {
  for (const char* junk : {static_cast<const char*>(nullptr), "", "three\n", "3x\n"}) {
    SCOPED_TRACE(junk ? junk : "(missing)");
    if (junk) writeFile(at(kActive), junk);
    Outcome o = pmset({"-g"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_NE(o.err.find(kActive), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
  }
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

// Lacking privileges exits 1, any other I/O failure 3; either way nothing changes.
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
    EXPECT_EQ(tree(), before);
  }
}

TEST(ProductHelper, RunsTheBuiltPowerToolOnAFakeRoot) {
  if (std::string(PMSET_BIN) != SOMNARA_PMSET_PATH) GTEST_SKIP() << "tool installed elsewhere";
  TempDir root;
  fs::create_directories(root / kSystemdRun);
  Outcome o = run({.program = HELPER_BIN,
                   .argv = {"pmsethelper", SOMNARA_PMSET_PATH, "hibernatemode", "3"},
                   .env = {{"SOMNARA_ROOT=" + root.path}}});
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(readFile(root / kActive), "3\n");
  EXPECT_EQ(readFile(root / kPersistentDropIn), dropIn("hybrid-sleep"));
}

}  // namespace
