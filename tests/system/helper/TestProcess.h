#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace somnara::testing {

/// How to start a child process for a test.
struct Launch {
  std::string program;
  /// Full argument vector including argv[0]; empty means argc 0.
  std::vector<std::string> argv;
  /// Environment entries "KEY=VALUE"; nullopt inherits the test's environment.
  std::optional<std::vector<std::string>> env;
  /// Run as nobody:nogroup with no supplementary groups.
  bool asNobody = false;
  /// Supplementary groups kept when running as nobody.
  std::vector<gid_t> supplementaryGroups;
  std::optional<mode_t> umask;
  /// Descriptors left open in the child (numbers >= 3), without close-on-exec.
  std::vector<int> extraFds;
  /// Descriptors 0, 1 and 2 closed in the child (output is then not captured).
  bool closeStandardFds = false;
  /// Signals set to SIG_IGN and signals blocked in the child.
  std::vector<int> ignoredSignals;
  std::vector<int> blockedSignals;
  std::string workingDirectory;
};

struct Outcome {
  int exitCode = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

Outcome run(const Launch& launch);

/// A fresh directory (mode 0755, traversable by nobody) removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::optional<std::string> readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content, mode_t mode = 0644);
void copyFile(const std::string& from, const std::string& to, mode_t mode);
bool exists(const std::string& path);

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

}  // namespace somnara::testing
