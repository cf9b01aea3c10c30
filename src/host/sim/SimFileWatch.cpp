#include "host/sim/SimFileWatch.h"

namespace somnara::sim {
namespace {

bool inTree(const std::string& root, const std::string& path) {
  if (path == root) return true;
  if (root.empty() || path.size() <= root.size() || path.compare(0, root.size(), root) != 0) return false;
  return root.back() == '/' || path[root.size()] == '/';
}

}  // namespace

host::RegistrationPtr SimFileWatch::watch(const std::string& root,
                                          std::function<void(const std::vector<std::string>&)> onChange) {
  if (!available_) return nullptr;
  return watches_.add({root, std::move(onChange)});
}

std::vector<std::string> SimFileWatch::watchedRoots() const {
  std::vector<std::string> roots;
  for (const auto& [id, w] : watches_.snapshot()) roots.push_back(w.root);
  return roots;
}

void SimFileWatch::fire(const std::vector<std::string>& paths) {
  for (const auto& [id, w] : watches_.snapshot()) {
    std::vector<std::string> mine;
    for (const auto& p : paths)
      if (inTree(w.root, p)) mine.push_back(p);
    if (mine.empty()) continue;
    loop_.post([this, id, mine] {
      for (const auto& [current, watch] : watches_.snapshot())
        if (current == id) watch.onChange(mine);
    });
  }
}

}  // namespace somnara::sim
