#include "host/linux/MachineRoot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fileio/FileIO.h"

namespace somnara::linuxhost {

MachineRoot::MachineRoot(std::string root) : root_(std::move(root)) {
  while (!root_.empty() && root_.back() == '/') root_.pop_back();
}

bool MachineRoot::exists(std::string_view machinePath) const {
  struct stat st {};
  return ::lstat(path(machinePath).c_str(), &st) == 0;
}

bool MachineRoot::isDirectory(std::string_view machinePath) const {
  struct stat st {};
  return ::stat(path(machinePath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
  auto result = fileio::readFile(realPath, maxBytes);
  if (!result.content && error) *error = result.error.message();
  return std::move(result.content);
}

std::optional<std::string> MachineRoot::readValue(const std::string& realPath) {
  auto text = readFile(realPath, 4096);
  if (!text) return std::nullopt;
  const auto first = text->find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  const auto last = text->find_last_not_of(" \t\r\n");
  return text->substr(first, last - first + 1);
}

}  // namespace somnara::linuxhost
