#include "host/sim/SimWorkspace.h"

namespace somnara::sim {

SimWorkspace::SimWorkspace(std::string bundleIdentifier, std::string bundlePath)
    : bundleIdentifier_(std::move(bundleIdentifier)), bundlePath_(std::move(bundlePath)) {
  addResource("pmsethelper");
}

std::optional<std::string> SimWorkspace::pathForResource(const std::string& name) const {
  auto it = resources_.find(name);
  if (it == resources_.end()) return std::nullopt;
  return it->second;
}

std::optional<Dictionary> SimWorkspace::propertyListResource(const std::string& name) const {
  auto it = propertyLists_.find(name);
  if (it == propertyLists_.end() || !resources_.count(name) || !it->second) return std::nullopt;
  const Dictionary* dictionary = it->second->dictionary();
  if (!dictionary) return std::nullopt;
  return *dictionary;
}

void SimWorkspace::addPropertyListResource(const std::string& name, std::optional<Value> contents) {
  addResource(name);
  propertyLists_[name] = std::move(contents);
}

std::string SimWorkspace::resourcePath(const std::string& name) const {
  return bundlePath_ + "/Contents/Resources/" + name;
}

host::RegistrationPtr SimWorkspace::observe(Event event, std::function<void()> onEvent) {
  return observers_.add({event, std::move(onEvent)});
}

bool SimWorkspace::openFile(const std::string& path, const std::string& applicationPath) {
  if (applicationPath.empty()) return false;
  openRequests_.push_back({path, applicationPath});
  return true;
}

void SimWorkspace::fire(Event event) {
  observers_.forEach([event](const Observer& o) { return o.event == event; },
                     [](const Observer& o) { o.onEvent(); });
}

std::size_t SimWorkspace::observerCount(Event event) const {
  std::size_t n = 0;
  for (const auto& [id, o] : observers_.snapshot()) n += o.event == event;
  return n;
}

}  // namespace somnara::sim
