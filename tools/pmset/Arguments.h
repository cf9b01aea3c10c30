#pragma once

#include <string>
#include <variant>
#include <vector>

namespace somnara::pmset {

/// `pmset [force] hibernatemode N`. Without force the value is also saved
/// across reboots; with force only the running system changes.
struct SetHibernateMode {
  int mode = 0;  // one of 0, 1, 3, 25
  bool force = false;
};

/// `pmset sleepnow`: put the machine to sleep now.
struct SleepNow {};

/// `pmset -g`: print the active hibernate mode.
struct ShowSettings {};

using Command = std::variant<SetHibernateMode, SleepNow, ShowSettings>;

/// A command line that does not name a command; message is one line for stderr.
struct UsageError {
  std::string message;
};

/// Reads the arguments after the program name; `[force] hibernatemode N`
/// follows the grammar the helper checks (powertool/HibernateModeArguments.h).
std::variant<Command, UsageError> parseArguments(const std::vector<std::string>& args);

/// One-paragraph usage text, ending with a newline.
const char* usageText();

}  // namespace somnara::pmset
