// The menu bar agent on the simulated machine, with a status item that
// records what the agent shows.
#pragma once

#include "SimControllerSupport.h"
#include "menubar/MenuBarAppDelegate.h"

namespace somnara::sim::testing {

inline constexpr const char* kSleepImage = "Somnara-Menu-Icon-Sleep";
inline constexpr const char* kHibernateImage = "Somnara-Menu-Icon-Hibernate";
inline constexpr const char* kHibernateSleepImage = "Somnara-Menu-Icon-HibernateSleep";
inline constexpr const char* kInsomniaImage = "Somnara-Menu-Icon-Insomnia";

class RecordingStatusItem : public StatusItem {
 public:
  struct Shown {
    std::string image;
    bool monochrome;
    std::chrono::milliseconds at;
  };
  explicit RecordingStatusItem(SimMachine& machine) : machine_(machine) {}

  std::string attachInsomniaSlider() override {
    ++slidersAttached;
    return "<slider item>";
  }
  void show() override { ++shows; }
  void setImage(const std::string& name, bool monochrome) override {
    images.push_back({name, monochrome, machine_.elapsed()});
  }
  void setToolTip(const std::string& text) override { toolTip = text; }

  const std::string& image() const { return images.back().image; }
  /// The images set after time from (inclusive), with their times.
  std::vector<std::pair<double, std::string>> imagesSince(std::chrono::milliseconds from) const {
    std::vector<std::pair<double, std::string>> out;
    for (const auto& s : images)
      if (s.at >= from) out.emplace_back(std::chrono::duration<double>(s.at).count(), s.image);
    return out;
  }

  int slidersAttached = 0;
  int shows = 0;
  std::vector<Shown> images;
  std::string toolTip;

 private:
  SimMachine& machine_;
};

/// An agent program with its delegate; start() runs its start-up.
struct Agent {
  explicit Agent(SimMachine& machine, const SimProgram::Options& options = {})
      : machine(machine), program(machine.addProgram(kAgent, options)), item(machine),
        delegate(program.context(), program.agentPorts(), item) {}

  void start() {
    delegate.awakeFromNib();
    machine.runPending();
    delegate.applicationDidFinishLaunching();
    machine.runPending();
  }
  int logCount(std::string_view method, std::string_view message) { return countLog(program, method, message); }

  SimMachine& machine;
  SimProgram& program;
  RecordingStatusItem item;
  MenuBarAppDelegate delegate;
};

/// A laptop on battery at 60 % with its lid open, the lid-closed service and an agent.
struct Laptop {
  Laptop() {
    machine.state().setBattery(60, 180);
    machine.desktop().setLid(false);
    machine.desktop().setDriverServices(1);
    agent.program.workspace().addResource("Insomnia.wav");
  }
  /// A rule set in the preferences window: the shared domain.
  void setting(const char* key, Value value) {
    machine.defaults().write(kS_SomnaraApplicationBundleIdentifier, key, std::move(value));
    machine.runPending();
  }
  void power(bool external) {
    machine.state().setOnExternalPower(external);
    machine.runPending();
  }
  void lid(std::optional<bool> closed) {
    machine.desktop().setLid(closed);
    machine.runPending();
  }
  void charge(int percent) {
    machine.state().setBattery(percent, percent * 3);
    machine.runPending();
  }
  MenuBarAppDelegate& delegate() { return agent.delegate; }
  std::vector<std::string> noticeBodies() {
    std::vector<std::string> bodies;
    for (const auto& n : machine.desktop().notices()) bodies.push_back(n.summary + ": " + n.body);
    return bodies;
  }

  SimMachine machine;
  Agent agent{machine};
};

inline void setHibernateMode(SimMachine& machine, std::optional<int> mode) {
  using host::HibernateModeReading;
  machine.state().setHibernateMode(mode ? HibernateModeReading::of(*mode)
                                        : HibernateModeReading::none(HibernateModeReading::Absence::NotRecorded));
}

}  // namespace somnara::sim::testing
