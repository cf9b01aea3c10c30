#include "Arguments.h"

namespace somnara::pmset {

int parseHibernateMode(const std::string& text) {
  if (text == "0") return 0;
  if (text == "1") return 1;
  if (text == "3") return 3;
  if (text == "25") return 25;
  return -1;
}

const char* usageText() {
  return "usage: pmset [force] hibernatemode <0|1|3|25>\n"
         "       pmset sleepnow\n"
         "       pmset -g\n";
}

std::variant<Command, UsageError> parseArguments(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError{"no command given"};

  const std::string& first = args[0];
  if (first == "-g") {
    if (args.size() != 1) return UsageError{"-g takes no further arguments"};
    return Command{ShowSettings{}};
  }
  if (first == "sleepnow") {
    if (args.size() != 1) return UsageError{"sleepnow takes no further arguments"};
    return Command{SleepNow{}};
  }

  std::size_t i = 0;
  SetHibernateMode set;
  if (args[i] == "force") {
    set.force = true;
    ++i;
  }
  if (i >= args.size() || args[i] != "hibernatemode")
    return UsageError{"unknown command '" + (i < args.size() ? args[i] : std::string("force")) + "'"};
  ++i;
  if (i >= args.size()) return UsageError{"hibernatemode needs a value"};
  set.mode = parseHibernateMode(args[i]);
  if (set.mode < 0) return UsageError{"invalid hibernatemode '" + args[i] + "' (expected 0, 1, 3 or 25)"};
  ++i;
  if (i != args.size()) return UsageError{"unexpected argument '" + args[i] + "'"};
  return Command{set};
}

}  // namespace somnara::pmset
