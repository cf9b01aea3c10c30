// The settings store and its directory watch against real files rewritten
// by real processes the ways people and their tools do.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <algorithm>
#include <ctime>
#include <memory>
#include <optional>

#include "TestSupport.h"
#include "host/linux/InotifyDirectoryWatch.h"
#include "host/linux/PlistFileDefaults.h"
#include "plist/PlistCodec.h"

namespace somnara::linuxhost {
namespace {

constexpr const char* kShared = "de.orvane.Somnara";

std::optional<Value> fileContents(const std::string& path) {
  const std::string bytes = readFile(path);
  return bytes.empty() ? std::nullopt : plist::parse(bytes);
}

QStringList filesIn(const TempTree& dir, const QStringList& filter = {}) {
  return QDir(QString::fromStdString(dir.path())).entryList(filter, QDir::Files | QDir::Hidden);
}

TEST(PlistFileDefaults, WritesSoonAfterAChangeAtomicallyAndPrivatelyKeepingOtherWritersKeys) {
  TempTree dir;
  RecordingLogger logger;
  PlistFileDefaults defaults(kShared, dir.path(), logger), other(kShared, dir.path(), logger);
  const std::string file = defaults.pathForDomain(kShared);
  EXPECT_EQ(file, dir / "de.orvane.Somnara.plist");

  defaults.setValue("SleepMode", Value(3));
  defaults.setValue("Name", Value("lid"));
  EXPECT_EQ(defaults.value("SleepMode"), Value(3));
  ASSERT_TRUE(spinUntil([&] { return fileContents(file).has_value(); })) << "no write without synchronize()";
  EXPECT_EQ(fileContents(file), Value(Dictionary{{"Name", Value("lid")}, {"SleepMode", Value(3)}}));
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(filesIn(dir).size(), 1) << "a temporary file was left behind";

  defaults.removeValue("Name");
  other.setValue("B", Value(2));  // before other has re-read the file
  EXPECT_TRUE(defaults.synchronize() && other.synchronize());
  EXPECT_EQ(fileContents(file), Value(Dictionary{{"B", Value(2)}, {"SleepMode", Value(3)}}));
  EXPECT_TRUE(logger.lines.empty());
}

// A domain file that holds nothing or cannot be read still makes the domain exist.
TEST(PlistFileDefaults, OwnDomainExistsWhateverItsFileHolds) {
  for (const std::string& contents : {plist::toXml(Value(Dictionary{})), std::string("<plist><dict")}) {
    TempTree dir;
    RecordingLogger logger;
    writeFile(dir / "de.orvane.Somnara.plist", contents);
    EXPECT_TRUE(PlistFileDefaults(kShared, dir.path(), logger).ownDomainExists()) << contents;
  }
}

TEST(PlistFileDefaults, DamagedFileAtStartIsMovedAsideAfterAGraceAndDefaultsApply) {
  // Nesting deep enough to overflow a recursive reader's stack (3 MB).
  std::string deep = "<plist>";
  for (int i = 0; i < 200000; ++i) deep += "<array>";
  for (const std::string& contents :
       {std::string("<plist><dict><key>SleepMode"), plist::toXml(Value(Array{Value(1)})), deep}) {
    SCOPED_TRACE(contents.substr(0, 80));
    TempTree dir;
    const std::string file = dir / "de.orvane.Somnara.plist";
    writeFile(file, contents);
    // Files moved aside earlier in any second the grace may end in stay as they are.
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now; t <= now + 4; ++t)
      writeFile(file + ".corrupt-" + std::to_string(static_cast<long long>(t)), "earlier");
    RecordingLogger logger;
    PlistFileDefaults defaults(kShared, dir.path(), logger);
    defaults.registerDefaults({{"SleepMode", Value(0)}});
    EXPECT_EQ(defaults.value("SleepMode"), Value(0));
    EXPECT_EQ(filesIn(dir, {"de.orvane.Somnara.plist.corrupt-*"}).size(), 5) << "moved aside without a second look";

    ASSERT_TRUE(spinUntil([&] { return filesIn(dir, {"de.orvane.Somnara.plist.corrupt-*"}).size() == 6; }));
    const QStringList aside = filesIn(dir, {"de.orvane.Somnara.plist.corrupt-*"});
    int moved = 0;
    for (const QString& name : aside) moved += readFile(dir / name.toStdString()) == contents;
    EXPECT_EQ(moved, 1);
    ASSERT_EQ(logger.lines.size(), 1u);
    EXPECT_NE(logger.lines[0].find("corrupt-"), std::string::npos) << logger.lines[0];

    defaults.setValue("SleepMode", Value(1));  // and goes on with a fresh file
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileContents(file), Value(Dictionary{{"SleepMode", Value(1)}}));
  }
}

/// The names of the files moved aside in dir.
Strings movedAside(const TempTree& dir) {
  Strings out;
  for (const QString& name : filesIn(dir, {"*.corrupt-*"})) out.push_back(name.toStdString());
  return out;
}

constexpr const char* kDaemonDomain = "de.orvane.Somnara.Daemon";

/// A store as the daemon keeps one: its own domain, the shared one as a
/// suite, SleepMode 0 by default; every SleepMode its observer saw.
struct WatchingStore {
  WatchingStore(const TempTree& dir, RecordingLogger& logger)
      : store(std::make_unique<PlistFileDefaults>(kDaemonDomain, dir.path(), logger)) {
    store->registerDefaults({{"SleepMode", Value(0)}});
    store->addSuite(kShared);
    registration = store->observe("SleepMode", [this] { seen.push_back(sleepMode()); });
  }
  std::int64_t sleepMode() const { return store->value("SleepMode").value_or(Value("none")).integer().value_or(-1); }
  std::unique_ptr<PlistFileDefaults> store;
  std::vector<std::int64_t> seen;
  host::RegistrationPtr registration;
};

/// Starts a shell that rewrites file; the script gets the file as $1, then args.
void startWriter(QProcess& writer, const char* script, const std::string& file, const QStringList& args) {
  writer.setProcessChannelMode(QProcess::ForwardedChannels);
  writer.start("/bin/sh", QStringList{"-c", script, "writer", QString::fromStdString(file)} + args);
}

/// contents cut into pieces of at most n bytes.
QStringList pieces(const std::string& contents, std::size_t n) {
  QStringList out;
  for (std::size_t at = 0; at < contents.size(); at += n) out << QString::fromStdString(contents.substr(at, n));
  return out;
}

// Each row is a way people and their editors rewrite a settings file. A file
// being written is applied once its writer is done, with nothing in between and
// nothing moved aside; a file that stays damaged keeps the last good values
// through a grace, is then moved aside (logged once) and the defaults apply
// until a valid file comes.
TEST(PlistFileDefaults, HandWrittenSettingsAreAppliedOnceTheWriterIsDone) {
  const std::string before = plist::toXml(Value(Dictionary{{"SleepMode", Value(1)}}));
  const std::string after = plist::toXml(Value(Dictionary{{"Name", Value("hand")}, {"SleepMode", Value(3)}}));
  const std::string damaged = "<?xml version=\"1.0\"?><plist><dict><key>SleepMode</key>";
  const char* const rewrite = ": >\"$1\"; sleep 0.4; printf %s \"$2\" >\"$1\"";
  struct Case {
    const char* what;
    const char* domain;
    const char* script;  // gets the file, then args (default: the new contents)
    QStringList args;
    bool storeStartsMidWrite = false;  // made once the writer has emptied the file
    bool staysDamaged = false;
  };
  const Case cases[] = {
      {"one open, slow chunks with pauses of 100 to 300 ms", kShared,
       "f=$1; shift; exec >\"$f\"; p=1; for c; do printf %s \"$c\"; sleep 0.$p; p=$((p % 3 + 1)); done",
       pieces(after, after.size() / 6 + 1)},
      {"truncate on open, pause, write", kShared, "exec >\"$1\"; sleep 0.4; printf %s \"$2\"", {}},
      {"truncate and close, pause, write again", kShared, rewrite, {}},
      {"the own domain, truncate and close, pause, write again", kDaemonDomain, rewrite, {}},
      {"an editor writes a new file and renames it over", kShared,
       "printf %s \"$2\" >\"$1.swp\"; sleep 0.1; mv -f \"$1.swp\" \"$1\"", {}},
      {"the store starts while the file is empty", kShared, rewrite, {}, true},
      // Exits 9 where the file was moved aside before a second look.
      {"damaged for good, then a valid file renamed over it", kShared,
       "printf %s \"$2\" >\"$1\"; sleep 1; ls \"$1\".corrupt-* >/dev/null 2>&1 && exit 9; sleep 4;"
       " printf %s \"$3\" >\"$1.new\"; mv -f \"$1.new\" \"$1\"",
       {QString::fromStdString(damaged), QString::fromStdString(after)}, false, true},
  };
  // The cases run side by side, each with a directory, store and writer of its own.
  struct Run {
    TempTree dir;
    RecordingLogger logger;
    std::string file;
    QProcess writer;
    std::unique_ptr<WatchingStore> watching;
  };
  std::vector<std::unique_ptr<Run>> runs;
  for (const Case& c : cases) {
    auto& run = *runs.emplace_back(std::make_unique<Run>());
    run.file = run.dir / (std::string(c.domain) + ".plist");
    writeFile(run.file, before);
    if (!c.storeStartsMidWrite) run.watching = std::make_unique<WatchingStore>(run.dir, run.logger);
    startWriter(run.writer, c.script, run.file, c.args.isEmpty() ? QStringList{QString::fromStdString(after)} : c.args);
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    Run& run = *runs[i];
    if (run.watching) continue;
    ASSERT_TRUE(spinUntil([&] { return readFile(run.file).empty(); }, 2s)) << cases[i].what;
    run.watching = std::make_unique<WatchingStore>(run.dir, run.logger);
  }
  spinFor(1000ms);  // the damaged file is read by now, and found unreadable
  EXPECT_EQ(runs.back()->watching->sleepMode(), 1) << "the last good values are kept meanwhile";
  const auto allApplied = [&] {
    return std::all_of(runs.begin(), runs.end(), [](const auto& run) {
      return run->writer.state() == QProcess::NotRunning && run->watching->store->value("Name") == Value("hand");
    });
  };
  EXPECT_TRUE(spinUntil(allApplied, 10s));
  spinFor(2500ms);  // longer than an unreadable file is given before it is moved aside
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(cases[i].what);
    const Run& run = *runs[i];
    const bool damagedRow = cases[i].staysDamaged;
    EXPECT_EQ(run.writer.exitCode(), 0);
    EXPECT_EQ(run.watching->sleepMode(), 3);
    const std::vector<std::int64_t> seen = damagedRow ? std::vector<std::int64_t>{0, 3} : std::vector<std::int64_t>{3};
    EXPECT_EQ(run.watching->seen, seen) << "a value in between was applied";
    EXPECT_EQ(readFile(run.file), after);
    const Strings aside = movedAside(run.dir);
    ASSERT_EQ(aside.size(), damagedRow ? 1u : 0u);
    ASSERT_EQ(run.logger.lines.size(), aside.size());
    if (!damagedRow) continue;
    EXPECT_EQ(readFile(run.dir / aside[0]), damaged);
    EXPECT_NE(run.logger.lines[0].find("moved aside"), std::string::npos) << run.logger.lines[0];
  }
}

using Change = InotifyDirectoryWatch::Change;

/// Writes path in place in two pieces, serving the loop in between, then closes it.
void writeInPlace(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(::write(fd, "<plist>", 7), 7);
  spinFor(100ms);
  EXPECT_EQ(::write(fd, "</plist>", 8), 8);
  spinFor(100ms);
  ::close(fd);
}

TEST(InotifyDirectoryWatch, TellsWritesInPlaceFromFinishedChangesOfTheWatchedNamesOnly) {
  struct Case {
    const char* what;
    std::function<void(const TempTree&)> act;  // on "w.plist", a file (or a link to elsewhere/real)
    std::vector<Change> expected;              // in order, repeats folded
    bool throughLink = false;
  };
  const Case cases[] = {
      {"written in place, then closed", [](const TempTree& d) { writeInPlace(d / "w.plist"); },
       {Change::Writing, Change::Done}},
      {"written in place through a symbolic link", [](const TempTree& d) { writeInPlace(d / "elsewhere/real"); },
       {Change::Writing, Change::Done}, true},
      {"a new file renamed over it",
       [](const TempTree& d) {
         writeFile(d / "w.plist.swp", "x");
         spinFor(100ms);
         ::rename((d / "w.plist.swp").c_str(), (d / "w.plist").c_str());
       },
       {Change::Replaced}},
      {"renamed over, then its mode changed in the same instant",
       [](const TempTree& d) {
         writeFile(d / "w.plist.swp", "x");
         ::rename((d / "w.plist.swp").c_str(), (d / "w.plist").c_str());
         ::chmod((d / "w.plist").c_str(), 0600);
       },
       {Change::Replaced}},
      {"removed", [](const TempTree& d) { ::unlink((d / "w.plist").c_str()); }, {Change::Done}},
      {"other files of the directory",
       [](const TempTree& d) {
         writeFile(d / "w.plist.corrupt-1", "x");
         writeFile(d / "other.plist", "x");
         writeInPlace(d / "other.plist");
       },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempTree dir;
    writeFile(dir / "elsewhere/real", "<plist/>");
    if (c.throughLink)
      ASSERT_EQ(::symlink("elsewhere/real", (dir / "w.plist").c_str()), 0);
    else
      writeFile(dir / "w.plist", "<plist/>");
    std::vector<Change> seen;
    InotifyDirectoryWatch watch([&](Change change) {
      if (seen.empty() || seen.back() != change) seen.push_back(change);
    });
    ASSERT_TRUE(watch.watch(dir.path(), {"w.plist"}));
    c.act(dir);
    spinFor(200ms);
    EXPECT_EQ(seen, c.expected);
  }
  InotifyDirectoryWatch watch([](Change) {});
  EXPECT_FALSE(watch.watch(TempTree() / "missing", {"w.plist"}));
}

}  // namespace
}  // namespace somnara::linuxhost
