#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/Workspace.h"
#include "host/sim/ObserverList.h"

namespace somnara::sim {

/// One program's bundle and workspace events. Events reach the observers
/// at once, when fired.
class SimWorkspace : public host::Workspace {
 public:
  /// The bundle's resources start with "pmsethelper" in Contents/Resources.
  SimWorkspace(std::string bundleIdentifier, std::string bundlePath);

  std::string mainBundleIdentifier() const override { return bundleIdentifier_; }
  std::string mainBundlePath() const override { return bundlePath_; }
  std::optional<std::string> pathForResource(const std::string& name) const override;
  /// The contents given to addPropertyListResource(); nullopt for a resource
  /// added as unreadable or not a dictionary.
  std::optional<Dictionary> propertyListResource(const std::string& name) const override;
  host::RegistrationPtr observe(Event event, std::function<void()> onEvent) override;
  /// Counts the alerts instead of sounding them.
  void beep() override { ++beeps_; }
  int beepCount() const { return beeps_; }
  /// Records the request; false when the application path is empty.
  bool openFile(const std::string& path, const std::string& applicationPath) override;
  struct OpenRequest {
    std::string path;
    std::string applicationPath;
  };
  const std::vector<OpenRequest>& openRequests() const { return openRequests_; }

  /// The path a resource of this name has in the bundle.
  std::string resourcePath(const std::string& name) const;
  void addResource(const std::string& name) { resources_[name] = resourcePath(name); }
  void removeResource(const std::string& name) { resources_.erase(name); }
  /// Adds a property-list resource holding contents (nullopt: unreadable).
  void addPropertyListResource(const std::string& name, std::optional<Value> contents);

  /// Calls the observers of event now, oldest first.
  void fire(Event event);
  std::size_t observerCount(Event event) const;

 private:
  struct Observer {
    Event event;
    std::function<void()> onEvent;
  };

  std::string bundleIdentifier_;
  std::string bundlePath_;
  std::map<std::string, std::string> resources_;
  std::map<std::string, std::optional<Value>> propertyLists_;
  ObserverList<Observer> observers_;
  int beeps_ = 0;
  std::vector<OpenRequest> openRequests_;
};

}  // namespace somnara::sim
