#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace somnara::host {

/// Facts about the operating system the program runs on.
class Platform {
 public:
  virtual ~Platform() = default;
  /// The system's version encoded so that later releases compare greater.
  /// Values above 0xaffff select the newer power-tool behaviour.
  virtual std::int32_t osVersion() const = 0;

  /// The record of an abnormal end of this program's previous run, removed
  /// as it is returned; nullopt when the previous run ended normally.
  virtual std::optional<std::string> takeCrashReport() = 0;

  /// Path of this program's log file; nullopt when it keeps none.
  virtual std::optional<std::string> logFilePath() const = 0;
};

}  // namespace somnara::host
