// Shared helpers for the controller tests on the simulated machine.
#pragma once

#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "core/SomnaraDaemon.h"
#include "host/sim/SimMachine.h"

namespace somnara::sim::testing {

using namespace std::chrono_literals;
using Phase = KeyValueObservable::Phase;
using Script = SimToolRunner::Script;

inline constexpr const char* kApp = "de.orvane.Somnara";
inline constexpr const char* kDaemon = "de.orvane.Somnara.Daemon";
inline constexpr const char* kAgent = "de.orvane.Somnara.MenuBar";
inline constexpr const char* kHelper = "pmsethelper";
inline constexpr const char* kPmset = "-[SomnaraDaemon pmset:]";
inline constexpr const char* kValueForState = "-[SomnaraDaemon pmsetvalueForSleepState:]";
inline constexpr std::int32_t kOlderSystem = 0x60100;
inline constexpr std::int32_t kNewerSystem = 0xb0000;

inline SomnaraDaemon& controllerOf(SimProgram& program) {
  return SomnaraDaemon::sharedSomnaraDaemon(program.context());
}

/// The machine's hibernatemode as it stands, without counting a read.
inline std::optional<std::int64_t> hibernateMode(const SimMachine& machine) {
  const auto v = const_cast<SimMachine&>(machine).state().peekRootDomainProperty("Hibernate Mode");
  return v ? v->integer() : std::nullopt;
}

/// Whether line reads "\t(0x<address>.<4-digit line>) <method> <message>"; with
/// prefixOnly, message need only start the text after the method.
inline bool isLogLine(const std::string& line, std::string_view method, std::string_view message,
                      bool prefixOnly = false) {
  static const std::regex head(R"(^\t\(0x[0-9a-f]+\.[0-9]{4}\) )");
  std::smatch m;
  if (!std::regex_search(line, m, head)) return false;
  const std::string rest = line.substr(static_cast<std::size_t>(m.length(0)));
  const std::string want = std::string(method) + " " + std::string(message);
  return prefixOnly ? rest.starts_with(want) : rest == want;
}

inline int countLog(SimProgram& program, std::string_view method, std::string_view message,
                    bool prefixOnly = false) {
  int n = 0;
  for (const auto& line : program.logger().logLines()) n += isLogLine(line, method, message, prefixOnly);
  return n;
}

inline int countDiagnostic(SimProgram& program, const std::string& line) {
  int n = 0;
  for (const auto& l : program.logger().diagnosticLines()) n += l == line;
  return n;
}

/// Message types that crossed the bus from sender, starting at posted()[from].
inline std::vector<std::int64_t> postedTypes(const SimMachine& machine, const std::string& sender,
                                             std::size_t from = 0) {
  std::vector<std::int64_t> types;
  const auto& posted = const_cast<SimMachine&>(machine).notifications().posted();
  for (std::size_t i = from; i < posted.size(); ++i) {
    if (posted[i].sender != sender || !posted[i].notification.userInfo) continue;
    if (const Value* type = posted[i].notification.userInfo->find("MessageType")) types.push_back(*type->integer());
  }
  return types;
}

/// Counts the did-change notices of one property.
struct NoticeCounter {
  int count = 0;
  NoticeCounter(SomnaraDaemon& controller, const std::string& key) {
    controller.addObserver(key, [this](const std::string&, Phase phase) {
      if (phase == Phase::DidChange) ++count;
    });
  }
  NoticeCounter(const NoticeCounter&) = delete;
  int take() { return std::exchange(count, 0); }
};

}  // namespace somnara::sim::testing
