#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/LoginItems.h"

namespace somnara::sim {

/// The session's login items of a simulated user, in list order.
class SimLoginItems : public host::LoginItems {
 public:
  struct Entry {
    std::string id;
    std::string displayName;
    std::optional<std::string> bundlePath;  // nullopt: no longer resolves
    bool hidden = false;
  };

  std::optional<std::vector<Item>> snapshot() override;
  std::optional<std::string> insertLast(const std::string& displayName, const std::string& bundlePath,
                                        bool hidden) override;
  std::optional<std::string> remove(const Item& item) override;

  /// Puts an entry at the end, as another program or the user would.
  void add(Entry entry) { entries_.push_back(std::move(entry)); }
  const std::vector<Entry>& entries() const { return entries_; }
  /// The list cannot be read or changed at all.
  void setUnavailable(bool unavailable) { unavailable_ = unavailable; }
  /// Reads work, changes fail with this text ("" for none).
  void setWriteError(std::string error) { writeError_ = std::move(error); }

 private:
  std::vector<Entry> entries_;
  bool unavailable_ = false;
  std::string writeError_;
  int nextId_ = 1;
};

}  // namespace somnara::sim
