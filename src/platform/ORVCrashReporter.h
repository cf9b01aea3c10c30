#pragma once

#include <optional>
#include <string>

#include "host/HostContext.h"

namespace somnara::platform {

/// Crash reporting of the programs.
class ORVCrashReporter {
 public:
  ORVCrashReporter() = delete;

  /// Reports, once, a crash recorded for the program's previous run: one
  /// log line with the record and body (when given). Returns promptly and
  /// never ends the program.
  static void testForCrashWithBodyString(host::HostContext& context, const std::string* body);

  /// Full path of the program's log file; nullopt when there is none.
  static std::optional<std::string> logFileName(const host::HostContext& context);
};

}  // namespace somnara::platform
