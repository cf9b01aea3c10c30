#include "host/sim/SimApplications.h"

#include <algorithm>

#include "host/sim/SimMachine.h"

namespace somnara::sim {

bool SimApplications::fileExists(const std::string& path) const {
  return std::any_of(nodes_.begin(), nodes_.end(), [&](const auto& n) { return n.first == path; });
}

std::vector<std::string> SimApplications::contentsOfDirectory(const std::string& path) const {
  std::vector<std::string> names;
  const std::string prefix = path + "/";
  for (const auto& [p, node] : nodes_)
    if (p.size() > prefix.size() && p.compare(0, prefix.size(), prefix) == 0 &&
        p.find('/', prefix.size()) == std::string::npos)
      names.push_back(p.substr(prefix.size()));
  return names;
}

std::optional<host::Applications::BundleInfo> SimApplications::bundleAt(const std::string& path) const {
  for (const auto& [p, node] : nodes_)
    if (p == path) return node.bundle;
  return std::nullopt;
}

host::Applications::LaunchResult SimApplications::launchApplication(const std::string& bundlePath) {
  ++launches_;
  if (failures_ > 0) {
    --failures_;
    return {std::nullopt, "simulated launch failure"};
  }
  const auto info = bundleAt(bundlePath);
  if (!info) return {std::nullopt, "no application at " + bundlePath};
  return {machine_.addProgram(info->identifier, {bundlePath}).pid(), {}};
}

void SimApplications::installBundle(const std::string& path, BundleInfo info) {
  uninstall(path);
  nodes_.push_back({path, Node{std::move(info)}});
}

void SimApplications::installFile(const std::string& path) {
  uninstall(path);
  nodes_.push_back({path, Node{}});
}

void SimApplications::uninstall(const std::string& path) {
  std::erase_if(nodes_, [&](const auto& n) { return n.first == path; });
}

}  // namespace somnara::sim
