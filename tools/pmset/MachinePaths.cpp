#include "MachinePaths.h"

namespace somnara::pmset {

std::optional<MachinePaths> MachinePaths::fromEnvironment(const char* rootValue, std::string* error) {
  std::string root = rootValue ? rootValue : "";
  if (root.empty()) root = "/";
  if (root.front() != '/') {
    if (error) {
      // Appended piece by piece: GCC 12 misreports operator+ chains at -O2 (-Wrestrict).
      error->assign("SOMNARA_ROOT must be an absolute path, got '");
      error->append(root).append("'");
    }
    return std::nullopt;
  }
  return MachinePaths(std::move(root));
}

MachinePaths::MachinePaths(std::string root) : root_(std::move(root)) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::optional<fileio::FileTree> MachinePaths::open(fileio::IoError* error) const {
  return fileio::FileTree::open(root_, isRealRoot() ? fileio::FileTree::Links::Follow : fileio::FileTree::Links::Refuse,
                                error);
}

}  // namespace somnara::pmset
