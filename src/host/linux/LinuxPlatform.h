#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/Platform.h"

namespace somnara::linuxhost {

/// The running kernel's release as the system version.
class LinuxPlatform final : public host::Platform {
 public:
  /// release: a kernel release such as "6.1.0-18-amd64"; defaults to uname's.
  /// crashReportPath: where a CrashRecorder of this program leaves its record
  /// ("" for none). logFilePath: where the program's logger keeps its log
  /// file ("" for none).
  explicit LinuxPlatform(std::string release = currentRelease(), std::string crashReportPath = {},
                         std::string logFilePath = {});

  /// (A<<16)|(B<<8)|min(C,255) for release "A.B.C…", never above 0xaffff, so
  /// the newer power-tool behaviour is never selected on Linux. Missing or
  /// unparsable parts count as 0.
  std::int32_t osVersion() const override;

  /// The crash record's text, deleted as it is read.
  std::optional<std::string> takeCrashReport() override;

  /// The log file's path, nullopt when there is none.
  std::optional<std::string> logFilePath() const override;

  static std::int32_t encode(std::string_view release);
  static std::string currentRelease();

 private:
  std::string release_;
  std::string crashReportPath_;
  std::string logFilePath_;
};

}  // namespace somnara::linuxhost
