#include "host/sim/SimLoginItems.h"

#include <algorithm>

namespace somnara::sim {

std::optional<std::vector<host::LoginItems::Item>> SimLoginItems::snapshot() {
  if (unavailable_) return std::nullopt;
  std::vector<Item> items;
  for (const auto& e : entries_) items.push_back({e.id, e.bundlePath});
  return items;
}

std::optional<std::string> SimLoginItems::insertLast(const std::string& displayName, const std::string& bundlePath,
                                                     bool hidden) {
  if (unavailable_) return "login items unavailable";
  if (!writeError_.empty()) return writeError_;
  entries_.push_back({"sim-item-" + std::to_string(nextId_++), displayName, bundlePath, hidden});
  return std::nullopt;
}

std::optional<std::string> SimLoginItems::remove(const Item& item) {
  if (unavailable_) return "login items unavailable";
  if (!writeError_.empty()) return writeError_;
  auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == item.id; });
  if (it == entries_.end()) return "no such login item: " + item.id;
  entries_.erase(it);
  return std::nullopt;
}

}  // namespace somnara::sim
