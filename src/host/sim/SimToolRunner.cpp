#include "host/sim/SimToolRunner.h"

#include "powertool/HibernateModeArguments.h"
#include "powertool/PowerToolStatus.h"

namespace somnara::sim {
namespace {

/// `[force] hibernatemode N` as the real tools read it.
std::optional<hibernatemode_command> parseHibernateMode(const std::vector<std::string>& args) {
  std::vector<const char*> words;
  for (const auto& a : args) words.push_back(a.c_str());
  hibernatemode_command command{};
  if (hibernatemode_parse(words.size(), words.data(), &command, nullptr) != HIBERNATEMODE_OK) return std::nullopt;
  return command;
}

}  // namespace

std::string SimToolRunner::toolName(const std::string& path) {
  auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<int> SimToolRunner::run(const Caller& caller, const std::string& path,
                                      const std::vector<std::string>& args) {
  auto found = scripts_.find(toolName(path));
  const Script script = found == scripts_.end() ? Script::emulate() : found->second;
  const std::size_t index = runs_.size();
  runs_.push_back({caller, path, args, scheduler_.now(), std::nullopt});
  if (script.kind == Script::Kind::CannotStart) return std::nullopt;

  if (script.duration > Duration{0}) scheduler_.advance(script.duration);

  const Run snapshot = runs_[index];  // runs_ may grow while the tool runs
  std::optional<int> status;
  switch (script.kind) {
    case Script::Kind::Emulate: status = emulate(snapshot); break;
    case Script::Kind::Exit: status = script.exitCode; break;
    case Script::Kind::Custom: status = script.decide(snapshot); break;
    case Script::Kind::CannotStart: break;
  }
  runs_[index].status = status;
  return status;
}

std::optional<int> SimToolRunner::emulate(const Run& run) {
  const std::string name = toolName(run.path);
  if (name == "pmsethelper") return helper(run);
  if (name == "pmset") return powerTool(run.args, run.caller.effectiveUid == 0);
  return std::nullopt;
}

std::optional<int> SimToolRunner::helper(const Run& run) {
  if (run.args.empty()) return HELPER_REFUSED_ARGUMENTS;
  const std::string& tool = run.args[0];
  if (powerToolPath_.empty() ? toolName(tool) != "pmset" : tool != powerToolPath_) return HELPER_REFUSED_ARGUMENTS;
  const std::vector<std::string> toolArgs(run.args.begin() + 1, run.args.end());
  if (!parseHibernateMode(toolArgs)) return HELPER_REFUSED_ARGUMENTS;
  if (!state_.isPrivileged(run.path) && run.caller.effectiveUid != 0) return POWER_TOOL_DENIED;
  return powerTool(toolArgs, true);
}

std::optional<int> SimToolRunner::powerTool(const std::vector<std::string>& args, bool asRoot) {
  if (args.size() == 1 && args[0] == "sleepnow") {
    state_.requestSleep();
    return 0;
  }
  auto parsed = parseHibernateMode(args);
  if (!parsed) return POWER_TOOL_USAGE;
  if (!asRoot) return POWER_TOOL_DENIED;
  if (parsed->mode != 0 && !powertool::abilityForHibernateMode(state_.sleepCapabilities(), parsed->mode).possible())
    return POWER_TOOL_UNSUPPORTED;
  state_.writeHibernateMode(parsed->mode);
  if (!parsed->force) state_.saveHibernateMode(parsed->mode);
  return 0;
}

int SimToolRunner::runCount(const std::string& tool, const std::string& program) const {
  int n = 0;
  for (const auto& r : runs_)
    if (toolName(r.path) == tool && (program.empty() || r.caller.program == program)) ++n;
  return n;
}

}  // namespace somnara::sim
