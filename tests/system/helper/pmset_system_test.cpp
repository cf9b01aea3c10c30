// pmset on a fake machine root, and the product helper end to end.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>

#include "TestProcess.h"
#include "plist/PlistCodec.h"

using namespace somnara::testing;
using somnara::Dictionary;
using somnara::Value;

namespace {

const char* const kActive = "run/somnara/hibernatemode";
const char* const kSaved = "etc/somnara/PowerManagement.plist";
const char* const kRuntimeDropIn = "run/systemd/system/systemd-suspend.service.d/somnara.conf";
const char* const kPersistentDropIn = "etc/systemd/system/systemd-suspend.service.d/somnara.conf";

class Pmset : public ::testing::Test {
 protected:
  Outcome pmset(std::vector<std::string> args, bool asNobody = false) {
    Launch l;
    l.program = PMSET_BIN;
    l.argv = {"pmset"};
    l.argv.insert(l.argv.end(), args.begin(), args.end());
    l.env = std::vector<std::string>{"SOMNARA_ROOT=" + rootPath(), "PATH=/usr/bin:/bin"};
    l.asNobody = asNobody;
    return run(l);
  }
  std::string at(const char* rel) const { return *root_ / rel; }
  const std::string& rootPath() const { return root_->path(); }
  // Starts over on an empty machine root.
  void freshRoot() { root_ = std::make_unique<TempDir>(); }
  std::optional<Value> saved() const {
    auto text = readFile(at(kSaved));
    if (!text) return std::nullopt;
    return somnara::plist::parse(*text);
  }
  static std::optional<std::int64_t> savedMode(const Value& v) {
    const Value* p = v.find("Custom Profile");
    p = p ? p->find("AC Power") : nullptr;
    p = p ? p->find("Hibernate Mode") : nullptr;
    if (!p) return std::nullopt;
    return p->integer();
  }
  std::unique_ptr<TempDir> root_ = std::make_unique<TempDir>();
};

std::string dropIn(const char* verb) {
  return std::string("[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep ") + verb + "\n";
}

TEST_F(Pmset, EachModeWithAndWithoutForce) {
  struct Case {
    const char* value;
    const char* verb;
  };
  const Case cases[] = {{"0", "suspend"}, {"1", "hibernate"}, {"3", "hybrid-sleep"}, {"25", "hibernate"}};
  for (bool force : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(force ? "force " : "") + c.value);
      freshRoot();
      std::vector<std::string> args{"hibernatemode", c.value};
      if (force) args.insert(args.begin(), "force");
      Outcome o = pmset(args);
      ASSERT_EQ(o.exitCode, 0) << o.err;
      EXPECT_EQ(readFile(at(kActive)), std::string(c.value) + "\n");
      EXPECT_EQ(readFile(at(kRuntimeDropIn)), dropIn(c.verb));
      if (force) {
        EXPECT_FALSE(exists(at(kSaved)));
        EXPECT_FALSE(exists(at(kPersistentDropIn)));
      } else {
        EXPECT_EQ(readFile(at(kPersistentDropIn)), dropIn(c.verb));
        auto plist = saved();
        ASSERT_TRUE(plist);
        EXPECT_EQ(savedMode(*plist), std::stoi(c.value));
      }
      struct stat st {};
      ASSERT_EQ(::stat(at("run/somnara").c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0755u);
      ASSERT_EQ(::stat(at(kActive).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 0777, 0644u);
      // No temporary files are left next to the written files.
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(at("run/somnara")),
                              std::filesystem::directory_iterator()),
                1);

      Outcome g = pmset({"-g"});
      EXPECT_EQ(g.exitCode, 0) << g.err;
      EXPECT_EQ(g.out, std::string("hibernatemode ") + c.value + "\n");
    }
  }
}

TEST_F(Pmset, SavedSettingsKeepOtherKeysAndForceLeavesThemAlone) {
  Dictionary ac{{"Hibernate Mode", Value(0)}, {"Display Sleep Timer", Value(10)}};
  Dictionary battery{{"Hibernate Mode", Value(3)}};
  Value before(Dictionary{{"Custom Profile", Value(Dictionary{{"AC Power", Value(ac)},
                                                                {"Battery Power", Value(battery)}})},
                          {"ActivePowerProfiles", Value(Dictionary{{"AC Power", Value(-1)}})}});
  writeFile(at(kSaved), somnara::plist::toXml(before));

  ASSERT_EQ(pmset({"force", "hibernatemode", "25"}).exitCode, 0);
  EXPECT_EQ(saved(), before);

  Outcome o = pmset({"hibernatemode", "25"});
  ASSERT_EQ(o.exitCode, 0) << o.err;
  auto after = saved();
  ASSERT_TRUE(after);
  EXPECT_EQ(savedMode(*after), 25);
  EXPECT_EQ(*after->find("ActivePowerProfiles"), *before.find("ActivePowerProfiles"));
  EXPECT_EQ(*after->find("Custom Profile")->find("Battery Power"), Value(battery));
  EXPECT_EQ(*after->find("Custom Profile")->find("AC Power")->find("Display Sleep Timer"), Value(10));
}

TEST_F(Pmset, CorruptSavedSettingsAreMovedAside) {
  const std::string corrupt[] = {"<?xml version=\"1.0\"?><plist><dict><key>x", "not a plist at all",
                                 somnara::plist::toXml(Value("a string, not a dictionary"))};
  for (const std::string& content : corrupt) {
    SCOPED_TRACE(content);
    std::filesystem::remove_all(at("etc"));
    writeFile(at(kSaved), content);
    std::time_t t0 = std::time(nullptr);
    Outcome o = pmset({"hibernatemode", "3"});
    std::time_t t1 = std::time(nullptr);
    ASSERT_EQ(o.exitCode, 0) << o.err;
    EXPECT_NE(o.err.find("moved aside"), std::string::npos);
    auto fresh = saved();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(savedMode(*fresh), 3);

    int asideCount = 0;
    for (auto& e : std::filesystem::directory_iterator(at("etc/somnara"))) {
      std::string name = e.path().filename().string();
      const std::string prefix = "PowerManagement.plist.corrupt-";
      if (name.rfind(prefix, 0) != 0) continue;
      ++asideCount;
      long long stamp = std::stoll(name.substr(prefix.size()));
      EXPECT_GE(stamp, t0);
      EXPECT_LE(stamp, t1);
      EXPECT_EQ(readFile(e.path().string()), content);
    }
    EXPECT_EQ(asideCount, 1);
  }
}

TEST_F(Pmset, BadArgumentsExit2AndWriteNothing) {
  const std::vector<std::string> cases[] = {
      {},
      {"hibernatemode"},
      {"hibernatemode", "2"},
      {"hibernatemode", "03"},
      {"hibernatemode", "-1"},
      {"hibernatemode", "25x"},
      {"hibernatemode", ""},
      {"hibernatemode", "4294967297"},
      {"force"},
      {"force", "force", "hibernatemode", "1"},
      {"hibernatemode", "1", "extra"},
      {"-g", "x"},
      {"sleepnow", "now"},
      {"bogus"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(::testing::PrintToString(args));
    Outcome o = pmset(args);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_NE(o.err.find("usage: pmset"), std::string::npos) << o.err;
    EXPECT_TRUE(std::filesystem::is_empty(rootPath()));
  }
}

TEST_F(Pmset, RelativeRootIsRefused) {
  Launch l;
  l.program = PMSET_BIN;
  l.argv = {"pmset", "hibernatemode", "0"};
  l.env = std::vector<std::string>{"SOMNARA_ROOT=relative/root"};
  l.workingDirectory = rootPath();
  Outcome o = run(l);
  EXPECT_EQ(o.exitCode, 2);
  EXPECT_NE(o.err.find("SOMNARA_ROOT"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(rootPath()));
}

TEST_F(Pmset, ShowSettingsNeedsAReadableValue) {
  Outcome missing = pmset({"-g"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find(kActive), std::string::npos) << missing.err;
  EXPECT_EQ(missing.out, "");

  for (const char* junk : {"", "three\n", "3x\n"}) {
    SCOPED_TRACE(junk);
    writeFile(at(kActive), junk);
    Outcome o = pmset({"-g"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_FALSE(o.err.empty());
    EXPECT_EQ(o.out, "");
  }
}

TEST_F(Pmset, SleepNowOnAFakeRootIsRecordedNotPerformed) {
  std::time_t t0 = std::time(nullptr);
  ASSERT_EQ(pmset({"sleepnow"}).exitCode, 0);
  ASSERT_EQ(pmset({"sleepnow"}).exitCode, 0);
  std::time_t t1 = std::time(nullptr);
  auto log = readFile(at("run/somnara/sleep-requests"));
  ASSERT_TRUE(log);
  std::istringstream in(*log);
  std::string word;
  long long stamp = 0;
  int lines = 0;
  while (in >> word >> stamp) {
    EXPECT_EQ(word, "sleepnow");
    EXPECT_GE(stamp, t0);
    EXPECT_LE(stamp, t1);
    ++lines;
  }
  EXPECT_EQ(lines, 2);
  EXPECT_EQ(std::count(log->begin(), log->end(), '\n'), 2);
}

TEST_F(Pmset, FailuresMapToPermissionOrOtherIoStatus) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    void (*prepare)(const std::string& root);
    bool asNobody;
    int exitCode;
  };
  const Case cases[] = {
      // root-owned 0755 directories: nobody may not write there
      {"saved settings not writable", {"hibernatemode", "1"},
       [](const std::string& r) { std::filesystem::create_directories(r + "/etc/somnara"); }, true, 1},
      {"runtime directory not writable", {"force", "hibernatemode", "1"},
       [](const std::string& r) { std::filesystem::create_directories(r + "/run"); }, true, 1},
      {"sleep request not writable", {"sleepnow"},
       [](const std::string& r) { std::filesystem::create_directories(r + "/run/somnara"); }, true, 1},
      // a file where a directory belongs: not a privilege problem
      {"directory is a file", {"force", "hibernatemode", "3"},
       [](const std::string& r) { writeFile(r + "/run/somnara", ""); }, false, 3},
      {"saved settings is a directory", {"hibernatemode", "3"},
       [](const std::string& r) {
         std::filesystem::create_directories(r + "/etc/somnara/PowerManagement.plist");
       },
       false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    freshRoot();
    c.prepare(rootPath());
    Outcome o = pmset(c.args, c.asNobody);
    EXPECT_EQ(o.exitCode, c.exitCode) << o.err;
    EXPECT_NE(o.err.find(rootPath()), std::string::npos) << "message names the path: " << o.err;
  }
}

TEST_F(Pmset, UnreadableSavedSettingsAreNotReplaced) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  // nobody may replace files in the directory but not read the file itself:
  // that is a privilege failure, not a corrupt file to throw away.
  const std::string content = somnara::plist::toXml(Value(Dictionary{{"Keep", Value(1)}}));
  writeFile(at(kSaved), content, 0600);
  ASSERT_EQ(::chown(at("etc/somnara").c_str(), kNobody, kNogroup), 0);
  Outcome o = pmset({"hibernatemode", "1"}, /*asNobody=*/true);
  EXPECT_EQ(o.exitCode, 1) << o.err;
  EXPECT_EQ(readFile(at(kSaved)), content);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(at("etc/somnara")),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(Pmset, ActiveValueIsNotChangedWhenAnEarlierWriteFails) {
  writeFile(at(kActive), "0\n");
  writeFile(at("run/systemd"), "");  // the runtime drop-in cannot be written
  Outcome o = pmset({"force", "hibernatemode", "25"});
  EXPECT_EQ(o.exitCode, 3) << o.err;
  EXPECT_EQ(readFile(at(kActive)), "0\n");
}

// ---- The product helper runs the product tool ---------------------------------

TEST(ProductHelper, RunsTheBuiltPowerToolOnAFakeRoot) {
  if (std::string(PMSET_BIN) != SOMNARA_PMSET_PATH) GTEST_SKIP() << "power tool not in the build tree";
  TempDir root;
  Launch l;
  l.program = HELPER_BIN;
  l.argv = {"pmsethelper", SOMNARA_PMSET_PATH, "hibernatemode", "3"};
  l.env = std::vector<std::string>{"SOMNARA_ROOT=" + root.path()};
  Outcome o = run(l);
  ASSERT_EQ(o.exitCode, 0) << o.err;
  EXPECT_EQ(readFile(root / kActive), "3\n");
  EXPECT_EQ(readFile(root / kPersistentDropIn), dropIn("hybrid-sleep"));

  // The tool's own refusal status comes back unchanged.
  std::filesystem::remove_all(root / "run/systemd");
  writeFile(root / "run/systemd", "");
  l.argv = {"pmsethelper", SOMNARA_PMSET_PATH, "force", "hibernatemode", "0"};
  o = run(l);
  EXPECT_EQ(o.exitCode, 3) << o.err;
}

TEST(ProductHelper, SetuidRefusalsLeaveTheMachineAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  TempDir dir;
  std::string helper = dir / "pmsethelper";
  copyFile(HELPER_BIN, helper, 04755);
  const std::string active = "/run/somnara/hibernatemode";
  auto before = readFile(active);
  struct stat st0 {};
  bool existed = ::stat(active.c_str(), &st0) == 0;

  const std::vector<std::string> cases[] = {
      {"pmsethelper", SOMNARA_PMSET_PATH, "hibernatemode", "2"},
      {"pmsethelper", SOMNARA_PMSET_PATH, "sleepnow", "0"},
      {"pmsethelper", "/bin/sh", "hibernatemode", "0"},
      {"pmsethelper", SOMNARA_PMSET_PATH, "-g", "hibernatemode", "0"},
  };
  for (const auto& argv : cases) {
    SCOPED_TRACE(::testing::PrintToString(argv));
    Launch l;
    l.program = helper;
    l.argv = argv;
    l.env = std::vector<std::string>{"SOMNARA_ROOT=" + dir.path()};
    l.asNobody = true;
    Outcome o = run(l);
    EXPECT_EQ(o.exitCode, 64) << o.err;
  }
  EXPECT_EQ(readFile(active), before);
  struct stat st1 {};
  EXPECT_EQ(::stat(active.c_str(), &st1) == 0, existed);
  if (existed) {
    EXPECT_EQ(st0.st_mtim.tv_sec, st1.st_mtim.tv_sec);
    EXPECT_EQ(st0.st_mtim.tv_nsec, st1.st_mtim.tv_nsec);
  }
  EXPECT_FALSE(exists(dir / "run"));
}

}  // namespace
