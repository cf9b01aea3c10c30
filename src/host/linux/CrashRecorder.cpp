#include "host/linux/CrashRecorder.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "host/linux/XdgDirectory.h"

namespace somnara::linuxhost {
namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kMaxText = 1024;

// Filled before the handlers are installed; only read inside them.
char gPath[kMaxText];
char gPrefix[kMaxText];  // "<program> (pid <n>) ended by signal "
struct sigaction gOld[sizeof kFatalSignals / sizeof kFatalSignals[0]];
volatile sig_atomic_t gInstalled = 0;

void append(char* buffer, std::size_t& used, const char* text) {
  while (*text && used + 1 < kMaxText) buffer[used++] = *text++;
  buffer[used] = '\0';
}

void appendNumber(char* buffer, std::size_t& used, long n) {
  char digits[24];
  int i = 0;
  if (n < 0) n = -n;
  do {
    digits[i++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n > 0 && i < 23);
  char text[24];
  for (int j = 0; j < i; ++j) text[j] = digits[i - 1 - j];
  text[i] = '\0';
  append(buffer, used, text);
}

extern "C" void onFatalSignal(int signal) {
  // Only async-signal-safe calls from here on.
  char line[kMaxText];
  std::size_t used = 0;
  line[0] = '\0';
  append(line, used, gPrefix);
  appendNumber(line, used, signal);
  append(line, used, "\n");
  const int fd = ::open(gPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) {
    [[maybe_unused]] const ssize_t n = ::write(fd, line, used);
    ::close(fd);
  }
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(signal, &dfl, nullptr);
  ::raise(signal);
}

}  // namespace

CrashRecorder::CrashRecorder(const std::string& reportPath, const std::string& programName) {
  if (gInstalled || reportPath.empty() || reportPath.size() >= kMaxText) return;
  const auto slash = reportPath.rfind('/');
  if (slash != std::string::npos && slash > 0) QDir().mkpath(QString::fromStdString(reportPath.substr(0, slash)));
  std::memcpy(gPath, reportPath.c_str(), reportPath.size() + 1);
  std::size_t used = 0;
  gPrefix[0] = '\0';
  append(gPrefix, used, programName.c_str());
  append(gPrefix, used, " (pid ");
  appendNumber(gPrefix, used, static_cast<long>(::getpid()));
  append(gPrefix, used, ") ended by signal ");
  struct sigaction sa {};
  sa.sa_handler = onFatalSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND | SA_NODEFER;
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) ::sigaction(kFatalSignals[i], &sa, &gOld[i]);
  gInstalled = 1;
  installed_ = true;
}

CrashRecorder::~CrashRecorder() {
  if (!installed_) return;
  for (std::size_t i = 0; i < std::size(kFatalSignals); ++i) ::sigaction(kFatalSignals[i], &gOld[i], nullptr);
  gInstalled = 0;
}

std::string CrashRecorder::defaultReportPath(const std::string& programName) {
  return xdgDirectory("XDG_STATE_HOME", "/.local/state") + "/somnara/" + programName + ".crash";
}

}  // namespace somnara::linuxhost
