// libFuzzer target for the power tool's command line (run as root through
// the helper, or by an administrator). The input is split at NUL bytes into
// arguments; the result is checked against an independent statement of the
// accepted commands, and a refusal must name its reason.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "Arguments.h"

namespace pm = somnara::pmset;

namespace {

// -1: not `[force] hibernatemode <0|1|3|25>`; else the mode, with force set.
int expectedMode(const std::vector<std::string>& a, bool* force) {
  std::size_t i = 0;
  *force = !a.empty() && a[0] == "force";
  if (*force) ++i;
  if (a.size() != i + 2 || a[i] != "hibernatemode") return -1;
  const std::string& v = a[i + 1];
  return v == "0" ? 0 : v == "1" ? 1 : v == "3" ? 3 : v == "25" ? 25 : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (std::size_t i = 0; i < size && args.size() < 8; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0 && args.size() < 8) args.push_back(current);

  const auto parsed = pm::parseArguments(args);
  bool force = false;
  const int mode = expectedMode(args, &force);
  if (const auto* usage = std::get_if<pm::UsageError>(&parsed)) {
    if (usage->message.empty()) std::abort();
    if (mode >= 0) std::abort();
    return 0;
  }
  const auto& command = std::get<pm::Command>(parsed);
  if (const auto* set = std::get_if<pm::SetHibernateMode>(&command)) {
    if (set->mode != mode || set->force != force) std::abort();
  } else if (std::holds_alternative<pm::SleepNow>(command)) {
    if (args != std::vector<std::string>{"sleepnow"}) std::abort();
  } else if (args != std::vector<std::string>{"-g"}) {
    std::abort();
  }
  return 0;
}
