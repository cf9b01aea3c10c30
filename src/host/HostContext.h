#pragma once

#include <memory>
#include <typeindex>
#include <utility>
#include <vector>

#include "host/Authorization.h"
#include "host/Defaults.h"
#include "host/FileWatch.h"
#include "host/Logger.h"
#include "host/NotificationCenter.h"
#include "host/Platform.h"
#include "host/PowerManager.h"
#include "host/PowerSources.h"
#include "host/Processes.h"
#include "host/RunLoop.h"
#include "host/Workspace.h"

namespace somnara::host {

/// One program's view of the machine: one set of ports, plus the program's
/// process-wide singletons. A real process has one context; a test may run
/// several programs side by side, each with its own context.
class HostContext {
 public:
  struct Ports {
    RunLoop& loop;
    PowerSources& powerSources;
    PowerManager& powerManager;
    Defaults& defaults;
    NotificationCenter& notifications;
    Processes& processes;
    Workspace& workspace;
    Authorization& authorization;
    Logger& logger;
    FileWatch& fileWatch;
    Platform& platform;
  };

  explicit HostContext(Ports ports) : ports_(ports) {}
  HostContext(const HostContext&) = delete;
  HostContext& operator=(const HostContext&) = delete;
  /// Destroys the singletons, newest first, while the ports still exist.
  ~HostContext() {
    while (!singletons_.empty()) singletons_.pop_back();
  }

  RunLoop& loop() const { return ports_.loop; }
  PowerSources& powerSources() const { return ports_.powerSources; }
  PowerManager& powerManager() const { return ports_.powerManager; }
  Defaults& defaults() const { return ports_.defaults; }
  NotificationCenter& notifications() const { return ports_.notifications; }
  Processes& processes() const { return ports_.processes; }
  Workspace& workspace() const { return ports_.workspace; }
  Authorization& authorization() const { return ports_.authorization; }
  Logger& logger() const { return ports_.logger; }
  FileWatch& fileWatch() const { return ports_.fileWatch; }
  Platform& platform() const { return ports_.platform; }

  /// The program's singleton of type T, or null before it was adopted.
  template <class T>
  T* singleton() const {
    for (const auto& s : singletons_)
      if (s.first == std::type_index(typeid(T))) return static_cast<T*>(s.second.get());
    return nullptr;
  }

  /// Makes object the program's singleton of type T; it lives as long as the context.
  template <class T>
  T* adoptSingleton(T* object) {
    singletons_.emplace_back(std::type_index(typeid(T)), Holder(object, [](void* p) { delete static_cast<T*>(p); }));
    return object;
  }

 private:
  using Holder = std::unique_ptr<void, void (*)(void*)>;
  Ports ports_;
  std::vector<std::pair<std::type_index, Holder>> singletons_;
};

}  // namespace somnara::host
