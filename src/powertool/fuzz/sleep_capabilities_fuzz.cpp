// libFuzzer target for the kernel sleep files: the input is split at NUL
// bytes into sys/power/state, sys/power/disk, the lockdown file, proc/swaps
// and proc/meminfo (a missing part is a missing file). Any text evaluates
// without a crash, and the answers hold together: hybrid sleep never works
// where hibernation does not, and a kind that works has no reason against it.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "powertool/SleepCapabilities.h"

using namespace somnara::powertool;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::optional<std::string>> parts(5);
  std::size_t part = 0;
  std::string current;
  for (std::size_t i = 0; i < size && part < parts.size(); ++i) {
    if (data[i] == 0) {
      parts[part++] = current, current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (part < parts.size()) parts[part] = current;
  const SleepCapabilities caps = evaluateKernelSleepFiles({parts[0], parts[1], parts[2], parts[3], parts[4]});
  if (caps.hybridSleep.possible() && !caps.hibernate.possible()) std::abort();
  for (const SleepAbility& a : {caps.suspend, caps.hibernate, caps.hybridSleep})
    if (a.possible() != describe(a).starts_with("yes")) std::abort();
  return 0;
}
