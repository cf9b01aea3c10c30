// The program's log file and the logger that feeds it, syslog and stderr.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <QFileInfo>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <sstream>

#include "TestSupport.h"
#include "host/linux/LogFile.h"
#include "host/linux/SyslogLogger.h"

namespace somnara::linuxhost {
namespace {

const std::regex kStampedLine(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*)$)");

Strings linesOf(const std::string& text) {
  Strings lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(LogFile, StampsInLocalTimeToTheMillisecond) {
  using namespace std::chrono;
  // 2026-12-07 20:14:03 UTC
  const sys_seconds base = sys_days{2026y / December / 7} + 20h + 14min + 3s;
  struct {
    const char* zone;
    system_clock::duration after;
    const char* stamp;
  } const cases[] = {
      {"UTC0", 512ms, "2026-12-07 20:14:03.512"},
      {"UTC0", 5ms, "2026-12-07 20:14:03.005"},
      {"UTC0", 999999us, "2026-12-07 20:14:03.999"},  // truncated, never rounded into the next second
      {"CET-1", 0ms, "2026-12-07 21:14:03.000"},
      {"XYZ+10", 512ms, "2026-12-07 10:14:03.512"},
      {"UTC0", -(base.time_since_epoch() + 250ms), "1969-12-31 23:59:59.750"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stamp);
    const ScopedEnvironment tz{{"TZ", c.zone}};
    ::tzset();
    EXPECT_EQ(LogFile::timeStamp(base + c.after), c.stamp);
  }
  ::tzset();  // the time zone the environment had before
}

TEST(LogFile, AppendsStampedLinesAndKeepsOneRotation) {
  TempTree tree;
  LogFile log(tree / "state/somnara/p.log", 100);
  const std::time_t before = std::time(nullptr);
  for (int i = 0; i < 12; ++i) log.append("line " + std::to_string(i) + std::string(10, '.'));
  const std::string current = readFile(tree / "state/somnara/p.log");
  const std::string older = readFile(tree / "state/somnara/p.log.1");
  EXPECT_LE(current.size(), 100u);
  EXPECT_LE(older.size(), 100u);
  const Strings lines = linesOf(current);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().substr(24), "line 11..........");
  for (const std::string& line : lines) {
    EXPECT_TRUE(std::regex_match(line, kStampedLine)) << line;
    std::tm written{};
    ASSERT_NE(::strptime(line.c_str(), "%Y-%m-%d %H:%M:%S", &written), nullptr);
    written.tm_isdst = -1;
    const std::time_t at = std::mktime(&written);
    EXPECT_LE(before, at) << line;
    EXPECT_LE(at, std::time(nullptr)) << line;
  }
  EXPECT_EQ(older.find("line 0."), std::string::npos) << "only one older file is kept";
  EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(tree / "state/somnara/p.log.2")));
}

// What one logger sent where, caught in a child process whose /dev/log is a
// socket of its own (a private mount namespace with a fresh /dev).
struct Caught {
  pid_t pid = 0;
  Strings journal;  // the datagrams that reached /dev/log
  std::string stderrText;
  Strings logFile;  // the log file's lines without their time stamps
};

// Exit code of a child that could not set up its private /dev/log.
constexpr int kNoNamespace = 77;

std::optional<Caught> catchLogger(const TempTree& tree, const std::string& program,
                                  const std::function<void(SyslogLogger&)>& body) {
  const std::string journalPath = tree / "journal", stderrPath = tree / "stderr", logPath = tree / "p.log";
  const pid_t child = ::fork();
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/dev", "tmpfs", 0, nullptr) != 0)
      ::_exit(kNoNamespace);
    const int sink = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/dev/log");
    if (::bind(sink, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) ::_exit(kNoNamespace);
    const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(err, STDERR_FILENO);
    {
      SyslogLogger logger(program);
      logger.setLogFile(std::make_unique<LogFile>(logPath));
      body(logger);
    }
    std::string journal;
    char datagram[4096];
    for (ssize_t n; (n = ::recv(sink, datagram, sizeof datagram, MSG_DONTWAIT)) > 0;)
      journal.append(datagram, static_cast<std::size_t>(n)).append("\n");
    writeFile(journalPath, journal);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNoNamespace) return std::nullopt;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  Caught caught{child, linesOf(readFile(journalPath)), readFile(stderrPath), {}};
  for (const std::string& line : linesOf(readFile(logPath))) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, kStampedLine)) << line;
    caught.logFile.push_back(m.size() > 1 ? m[1].str() : line);
  }
  return caught;
}

// "<priority>Mmm dd hh:mm:ss ident[pid]: message" as glibc sends it, less the time.
std::string journalLine(int priority, const std::string& ident, pid_t pid, const std::string& message) {
  return "<" + std::to_string(LOG_USER | priority) + ">" + ident + "[" + std::to_string(pid) + "]: " + message;
}

Strings withoutTimes(const Strings& datagrams) {
  static const std::regex time(R"(^(<\d+>)[A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d )");
  Strings out;
  for (const std::string& d : datagrams) out.push_back(std::regex_replace(d, time, "$1"));
  return out;
}

TEST(SyslogLogger, LogLinesEverywhereDiagnosticsToJournalAndFileOnceAMinute) {
  TempTree tree;
  const auto caught = catchLogger(tree, "Somnara Menu\tBar", [](SyslogLogger& logger) {
    logger.diagnostic("reading failed");
    logger.log("\t(0x0.0042) -[X y] applied");
    logger.diagnostic("reading failed");  // a repeat within the minute
    logger.diagnostic("another reading failed");
  });
  if (!caught) GTEST_SKIP() << "no private mount namespace here (needs root) to catch syslog in";
  const std::string ident = "Somnara-Menu-Bar";
  EXPECT_EQ(withoutTimes(caught->journal),
            (Strings{journalLine(LOG_INFO, ident, caught->pid, "reading failed"),
                     journalLine(LOG_NOTICE, ident, caught->pid, "\t(0x0.0042) -[X y] applied"),
                     journalLine(LOG_INFO, ident, caught->pid, "another reading failed")}));
  EXPECT_EQ(caught->stderrText, "\t(0x0.0042) -[X y] applied\n") << "no diagnostics on the terminal";
  EXPECT_EQ(caught->logFile,
            (Strings{"reading failed", "\t(0x0.0042) -[X y] applied", "another reading failed"}));
}

}  // namespace
}  // namespace somnara::linuxhost
