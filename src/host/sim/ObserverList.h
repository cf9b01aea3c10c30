#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "host/Registration.h"

namespace somnara::sim {

/// Observers of one kind, each kept alive by the Registration returned from
/// add(). A registration may outlive the list; destroying it then does nothing.
template <class Entry>
class ObserverList {
 public:
  using Id = std::uint64_t;

  host::RegistrationPtr add(Entry entry) {
    const Id id = state_->nextId++;
    state_->entries.emplace(id, std::move(entry));
    return std::make_unique<Ticket>(state_, id);
  }

  bool contains(Id id) const { return state_->entries.count(id) != 0; }
  bool empty() const { return state_->entries.empty(); }
  std::size_t size() const { return state_->entries.size(); }

  /// Copies of the entries registered now, oldest first. Callers check
  /// contains(id) before calling each one, since an observer may unregister
  /// another while being called.
  std::vector<std::pair<Id, Entry>> snapshot() const {
    return {state_->entries.begin(), state_->entries.end()};
  }

  /// Calls call(entry) for every entry for which pick(entry) holds, skipping
  /// those unregistered by an earlier call of the same pass.
  template <class Pick, class Call>
  void forEach(Pick pick, Call call) const {
    for (auto& [id, entry] : snapshot())
      if (contains(id) && pick(entry)) call(entry);
  }

 private:
  struct State {
    std::map<Id, Entry> entries;
    Id nextId = 1;
  };

  class Ticket : public host::Registration {
   public:
    Ticket(const std::shared_ptr<State>& state, Id id) : state_(state), id_(id) {}
    ~Ticket() override {
      if (auto s = state_.lock()) s->entries.erase(id_);
    }

   private:
    std::weak_ptr<State> state_;
    Id id_;
  };

  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace somnara::sim
