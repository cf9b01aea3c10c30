#include "host/linux/MachineRoot.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace somnara::linuxhost {

MachineRoot::MachineRoot(std::string root) : root_(std::move(root)) {
  while (!root_.empty() && root_.back() == '/') root_.pop_back();
}

MachineRoot MachineRoot::fromEnvironment() {
  // secure_getenv answers null in a set-user-id or set-group-id program.
  const char* value = ::secure_getenv("SOMNARA_ROOT");
  return MachineRoot(value && *value ? value : "/");
}

std::string MachineRoot::path(std::string_view machinePath) const {
  std::string result = root_;
  if (machinePath.empty() || machinePath.front() != '/') result += '/';
  result += machinePath;
  return result;
}

std::optional<std::string> MachineRoot::read(std::string_view machinePath, std::size_t maxBytes) const {
  return readFile(path(machinePath), maxBytes);
}

std::optional<std::string> MachineRoot::readFile(const std::string& realPath, std::size_t maxBytes,
                                                 std::string* error) {
  const int fd = ::open(realPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = realPath + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error) *error = realPath + ": " + std::strerror(errno);
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() >= maxBytes) {
      bytes.resize(maxBytes);
      break;
    }
  }
  ::close(fd);
  return bytes;
}

}  // namespace somnara::linuxhost
