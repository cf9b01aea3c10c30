#include "menubar/InsomniaCommand.h"

#include <charconv>

#include "menubar/InhibitorList.h"
#include "menubar/ORVTimeFormatter.h"

namespace somnara {
namespace {

constexpr std::size_t kMostDigits = 9;

struct Unit {
  char letter;
  double seconds;
};
constexpr Unit kUnits[] = {{'h', 3600}, {'m', 60}, {'s', 1}};

std::string lengthText(double seconds) {
  return seconds < 1.0 ? std::string("until stopped") : "for " + ORVTimeFormatter().stringForSeconds(seconds);
}

}  // namespace

std::optional<double> InsomniaCommand::parseDuration(std::string_view text) {
  double total = 0;
  bool any = false;
  std::size_t nextUnit = 0;  // units come in the order h, m, s, each once
  while (!text.empty()) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits == 0 || digits > kMostDigits || digits == text.size()) return std::nullopt;
    unsigned long value = 0;
    std::from_chars(text.data(), text.data() + digits, value);
    const char letter = text[digits];
    while (nextUnit < std::size(kUnits) && kUnits[nextUnit].letter != letter) ++nextUnit;
    if (nextUnit == std::size(kUnits)) return std::nullopt;
    total += static_cast<double>(value) * kUnits[nextUnit++].seconds;
    any = true;
    text.remove_prefix(digits + 1);
  }
  if (!any || total <= 0) return std::nullopt;
  return total;
}

std::string InsomniaCommand::statusText(const host::InsomniaState& state) {
  std::string text = "Insomnia: ";
  if (!state.on)
    text += "off";
  else if (!state.secondsLeft)
    text += "on until stopped";
  else if (*state.secondsLeft < 60.0)
    text += "on, less than a minute remaining";
  else
    text += "on, stops in " + ORVTimeFormatter().stringForSeconds(*state.secondsLeft);
  text += "\nKeeping the machine awake:\n";
  for (const auto& line : InhibitorList::linesFor(state.inhibitors)) text += "  " + line + "\n";
  return text;
}

int InsomniaCommand::run(const std::vector<std::string>& arguments, host::InsomniaRemote& agent, std::ostream& out,
                         std::ostream& err) {
  if (arguments.size() > 1) {
    err << kUsageText << "\n";
    return kUsage;
  }
  const std::string word = arguments.empty() ? std::string() : arguments.front();
  std::optional<double> seconds = 0.0;
  if (word != "off" && word != "status" && !word.empty()) {
    seconds = parseDuration(word);
    if (!seconds) {
      err << "somnara insomnia: '" << word << "' is no duration (examples: 90s, 45m, 2h, 1h30m)\n"
          << kUsageText << "\n";
      return kUsage;
    }
  }
  const auto noAgent = [&agent, &err] {
    err << "somnara insomnia: the Somnara tray agent is not running (" << agent.failureReason() << ")\n";
    return kNoAgent;
  };
  if (word == "status") {
    const auto state = agent.state();
    if (!state) return noAgent();
    out << statusText(*state);
    return kDone;
  }
  if (word == "off") {
    if (!agent.stop()) return noAgent();
    out << "Insomnia off\n";
    return kDone;
  }
  if (!agent.start(*seconds)) return noAgent();
  out << "Insomnia on " << lengthText(*seconds) << "\n";
  return kDone;
}

}  // namespace somnara
