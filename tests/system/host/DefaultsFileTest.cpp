// Settings files: persistence, damaged files, other writers, observers.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDir>
#include <QElapsedTimer>

#include "TestSupport.h"
#include "host/linux/PlistFileDefaults.h"
#include "plist/PlistCodec.h"

namespace somnara::linuxhost {
namespace {

using test::RecordingLogger;
using test::spinUntil;
using test::TempTree;

constexpr const char* kShared = "de.orvane.Somnara";
constexpr const char* kDaemon = "de.orvane.Somnara.Daemon";

std::optional<Value> fileContents(const std::string& path) {
  const std::string bytes = test::readFile(path);
  if (bytes.empty()) return std::nullopt;
  return plist::parse(bytes);
}

TEST(PlistFileDefaults, WritesSoonAfterAChangeAtomicallyAndPrivately) {
  TempTree dir;
  RecordingLogger logger;
  PlistFileDefaults defaults(kShared, dir.path(), logger);
  const std::string file = defaults.pathForDomain(kShared);
  EXPECT_EQ(file, dir / "de.orvane.Somnara.plist");

  defaults.setValue("SleepMode", Value(3));
  defaults.setValue("Name", Value("lid"));
  EXPECT_EQ(defaults.value("SleepMode"), Value(3));  // memory first
  // Without synchronize(): the queued write lands on the run loop.
  ASSERT_TRUE(spinUntil([&] { return fileContents(file).has_value(); }));
  EXPECT_EQ(fileContents(file), Value(Dictionary{{"Name", Value("lid")}, {"SleepMode", Value(3)}}));

  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Nothing but the settings file is left behind.
  EXPECT_EQ(QDir(QString::fromStdString(dir.path())).entryList(QDir::Files | QDir::Hidden).size(), 1);

  defaults.removeValue("Name");
  EXPECT_TRUE(defaults.synchronize());
  EXPECT_EQ(fileContents(file), Value(Dictionary{{"SleepMode", Value(3)}}));
  EXPECT_TRUE(logger.lines.empty());
}

TEST(PlistFileDefaults, DamagedFileIsMovedAsideAndDefaultsApply) {
  struct Case {
    const char* what;
    std::string contents;
  };
  const std::vector<Case> cases = {
      {"not a property list", "<plist><dict><key>SleepMode"},
      {"a property list that is not a dictionary", plist::toXml(Value(Array{Value(1)}))},
      {"empty file", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempTree dir;
    const std::string file = dir / "de.orvane.Somnara.plist";
    test::writeFile(file, c.contents);
    RecordingLogger logger;
    PlistFileDefaults defaults(kShared, dir.path(), logger);
    defaults.registerDefaults({{"SleepMode", Value(0)}});
    EXPECT_EQ(defaults.value("SleepMode"), Value(0));

    const QStringList aside =
        QDir(QString::fromStdString(dir.path())).entryList({"de.orvane.Somnara.plist.corrupt-*"}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(test::readFile(dir / aside[0].toStdString()), c.contents);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(file)));
    ASSERT_EQ(logger.lines.size(), 1u);
    EXPECT_NE(logger.lines[0].find("corrupt-"), std::string::npos) << logger.lines[0];

    // The store keeps working on a fresh file.
    defaults.setValue("SleepMode", Value(1));
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileContents(file), Value(Dictionary{{"SleepMode", Value(1)}}));
  }
}

TEST(PlistFileDefaults, SearchOrderOwnThenSuitesThenRegistered) {
  TempTree dir;
  RecordingLogger logger;
  test::writeFile(dir / "a.plist", plist::toXml(Value(Dictionary{{"k", Value("suite a")}, {"onlyA", Value(1)}})));
  test::writeFile(dir / "b.plist", plist::toXml(Value(Dictionary{{"k", Value("suite b")}, {"onlyB", Value(2)}})));
  PlistFileDefaults defaults("own", dir.path(), logger);
  defaults.registerDefaults({{"k", Value("registered")}, {"onlyR", Value(3)}});
  EXPECT_EQ(defaults.value("k"), Value("registered"));
  defaults.addSuite("b");
  defaults.addSuite("a");
  defaults.addSuite("b");  // no effect: already searched, order kept
  EXPECT_EQ(defaults.value("k"), Value("suite b"));
  EXPECT_EQ(defaults.value("onlyA"), Value(1));
  EXPECT_EQ(defaults.value("onlyR"), Value(3));
  defaults.setValue("k", Value("own"));
  EXPECT_EQ(defaults.value("k"), Value("own"));
  defaults.removeValue("k");
  EXPECT_EQ(defaults.value("k"), Value("suite b"));
  EXPECT_FALSE(defaults.value("missing").has_value());
}

TEST(PlistFileDefaults, AnotherWriterReachesSuiteObserversWithinOneSecond) {
  TempTree dir;
  RecordingLogger logger;
  PlistFileDefaults preferences(kShared, dir.path(), logger);
  PlistFileDefaults daemon(kDaemon, dir.path(), logger);
  daemon.addSuite(kShared);
  int calls = 0;
  auto registration = daemon.observe("SleepMode", [&] { ++calls; });
  test::spinFor(std::chrono::milliseconds(50));

  for (int mode : {3, 1, 25}) {
    SCOPED_TRACE(mode);
    const int before = calls;
    QElapsedTimer t;
    t.start();
    preferences.setValue("SleepMode", Value(mode));
    ASSERT_TRUE(preferences.synchronize());
    ASSERT_TRUE(spinUntil([&] { return calls == before + 1; }, std::chrono::seconds(2)));
    EXPECT_LT(t.elapsed(), 1000);
    EXPECT_EQ(daemon.value("SleepMode"), Value(mode));
  }
}

TEST(PlistFileDefaults, WritersOfOneDomainKeepEachOthersKeys) {
  TempTree dir;
  RecordingLogger logger;
  PlistFileDefaults first(kShared, dir.path(), logger);
  PlistFileDefaults second(kShared, dir.path(), logger);
  first.setValue("A", Value(1));
  ASSERT_TRUE(first.synchronize());
  // second has not necessarily re-read the file yet when it writes.
  second.setValue("B", Value(2));
  ASSERT_TRUE(second.synchronize());
  EXPECT_EQ(fileContents(dir / "de.orvane.Somnara.plist"), Value(Dictionary{{"A", Value(1)}, {"B", Value(2)}}));
  EXPECT_TRUE(spinUntil([&] { return first.value("B") == Value(2); }));
}

TEST(PlistFileDefaults, ObserversRunLaterAndOnlyOnRealChanges) {
  TempTree dir;
  RecordingLogger logger;
  PlistFileDefaults defaults(kShared, dir.path(), logger);
  defaults.setValue("Mode", Value(1));
  int calls = 0, otherCalls = 0;
  auto registration = defaults.observe("Mode", [&] { ++calls; });
  auto other = defaults.observe("Other", [&] { ++otherCalls; });

  struct Step {
    const char* what;
    std::function<void()> change;
    int expectedCalls;
  };
  const std::vector<Step> steps = {
      {"same value again", [&] { defaults.setValue("Mode", Value(1)); }, 0},
      {"new value", [&] { defaults.setValue("Mode", Value(2)); }, 1},
      {"registered default hidden by own value", [&] { defaults.registerDefaults({{"Mode", Value(9)}}); }, 1},
      {"removal uncovers the registered default", [&] { defaults.removeValue("Mode"); }, 2},
      {"changed and changed back before the loop ran",
       [&] {
         defaults.setValue("Mode", Value(5));
         defaults.setValue("Mode", Value(9));
       },
       2},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    const int before = calls;
    s.change();
    EXPECT_EQ(calls, before) << "observer ran inside the caller";
    test::spinFor(std::chrono::milliseconds(100));
    EXPECT_EQ(calls, s.expectedCalls);
  }
  EXPECT_EQ(otherCalls, 0);

  registration.reset();
  defaults.setValue("Mode", Value(7));
  test::spinFor(std::chrono::milliseconds(100));
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace somnara::linuxhost
