#include "host/linux/LinuxPlatform.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>

#include "host/linux/MachineRoot.h"

namespace somnara::linuxhost {

LinuxPlatform::LinuxPlatform(std::string release, std::string crashReportPath, std::string logFilePath)
    : release_(std::move(release)), crashReportPath_(std::move(crashReportPath)), logFilePath_(std::move(logFilePath)) {}

std::optional<std::string> LinuxPlatform::takeCrashReport() {
  if (crashReportPath_.empty()) return std::nullopt;
  auto text = MachineRoot::readFile(crashReportPath_, 64 << 10);
  if (!text) return std::nullopt;
  ::unlink(crashReportPath_.c_str());
  return text;
}

std::optional<std::string> LinuxPlatform::logFilePath() const {
  if (logFilePath_.empty()) return std::nullopt;
  return logFilePath_;
}

std::int32_t LinuxPlatform::osVersion() const { return encode(release_); }

std::int32_t LinuxPlatform::encode(std::string_view release) {
  constexpr std::int64_t kCap = 0xaffff;
  std::int64_t parts[3] = {0, 0, 0};
  const char* p = release.data();
  const char* end = release.data() + release.size();
  for (int i = 0; i < 3 && p < end; ++i) {
    std::int64_t n = 0;
    auto [next, ec] = std::from_chars(p, end, n);
    if (ec == std::errc::result_out_of_range) n = INT32_MAX;
    else if (ec != std::errc() || n < 0) break;
    parts[i] = n;
    p = next;
    if (p == end || *p != '.') break;
    ++p;
  }
  const std::int64_t major = std::min<std::int64_t>(parts[0], 0xffff);
  const std::int64_t encoded = (major << 16) | (std::min<std::int64_t>(parts[1], 255) << 8) |
                               std::min<std::int64_t>(parts[2], 255);
  return static_cast<std::int32_t>(std::min(encoded, kCap));
}

std::string LinuxPlatform::currentRelease() {
  struct utsname u {};
  if (::uname(&u) != 0) return {};
  return u.release;
}

}  // namespace somnara::linuxhost
