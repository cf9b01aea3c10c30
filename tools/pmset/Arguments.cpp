#include "Arguments.h"

#include "powertool/HibernateModeArguments.h"

namespace somnara::pmset {

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

  std::vector<const char*> words;
  for (const auto& a : args) words.push_back(a.c_str());
  hibernatemode_command parsed{};
  std::size_t at = 0;
  switch (hibernatemode_parse(words.size(), words.data(), &parsed, &at)) {
    case HIBERNATEMODE_OK: return Command{SetHibernateMode{parsed.mode, parsed.force != 0}};
    case HIBERNATEMODE_UNKNOWN_WORD:
      return UsageError{"unknown command '" + (at < args.size() ? args[at] : args.back()) + "'"};
    case HIBERNATEMODE_MISSING_VALUE: return UsageError{"hibernatemode needs a value"};
    case HIBERNATEMODE_BAD_VALUE:
      return UsageError{"invalid hibernatemode '" + args[at] + "' (expected 0, 1, 3 or 25)"};
    case HIBERNATEMODE_EXTRA_WORD: break;
  }
  return UsageError{"unexpected argument '" + args[at] + "'"};
}

}  // namespace somnara::pmset
