#pragma once

#include <optional>
#include <string>
#include <utility>

#include "host/Platform.h"
#include "host/sim/SimMachineState.h"

namespace somnara::sim {

/// The machine's operating-system version, as every program sees it, and
/// one program's crash record and log file.
class SimPlatform : public host::Platform {
 public:
  explicit SimPlatform(const SimMachineState& state) : state_(state) {}
  std::int32_t osVersion() const override { return state_.osVersion(); }

  std::optional<std::string> takeCrashReport() override { return std::exchange(crashReport_, std::nullopt); }
  std::optional<std::string> logFilePath() const override { return logFilePath_; }

  /// Records that the previous run of the program ended abnormally.
  void setCrashReport(std::optional<std::string> report) { crashReport_ = std::move(report); }
  void setLogFilePath(std::optional<std::string> path) { logFilePath_ = std::move(path); }

 private:
  const SimMachineState& state_;
  std::optional<std::string> crashReport_;
  std::optional<std::string> logFilePath_;
};

}  // namespace somnara::sim
