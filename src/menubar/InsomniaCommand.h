#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "host/InsomniaRemote.h"

namespace somnara {

/// `somnara insomnia [DURATION | off | status]`: asks the running agent to
/// start Insomnia (for DURATION, or without end when none is given), to
/// stop it, or to tell its state and the locks keeping the machine awake.
class InsomniaCommand {
 public:
  static constexpr int kDone = 0;
  static constexpr int kNoAgent = 1;
  static constexpr int kUsage = 2;
  static constexpr const char* kUsageText = "usage: somnara insomnia [DURATION | off | status]";

  /// Seconds in a duration of hours, minutes and seconds, each given at most
  /// once and in that order, each a whole number with its unit: "90s",
  /// "45m", "2h", "1h30m", "1h0m5s". nullopt for anything else, and for a
  /// duration of 0.
  static std::optional<double> parseDuration(std::string_view text);

  /// Runs the command with its arguments (those after "insomnia"): answers
  /// on out, errors as one line on err; returns the exit status (kDone,
  /// kNoAgent when no agent answers, kUsage for arguments it does not take).
  static int run(const std::vector<std::string>& arguments, host::InsomniaRemote& agent, std::ostream& out,
                 std::ostream& err);

  /// The status lines: "Insomnia: on, stops in …" / "on until stopped" /
  /// "off", then the locks keeping the machine awake.
  static std::string statusText(const host::InsomniaState& state);
};

}  // namespace somnara
