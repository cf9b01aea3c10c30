#include "powertool/SleepCapabilities.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <sstream>
#include <vector>

namespace somnara::powertool {
namespace {

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// A word of a sysfs choice list, plain or marked as the selected one "[w]".
bool offers(const std::optional<std::string>& text, const char* word) {
  if (!text) return false;
  const std::string plain = word, selected = "[" + plain + "]";
  for (const auto& w : words(*text))
    if (w == plain || w == selected) return true;
  return false;
}

bool lockedDown(const std::optional<std::string>& lockdown) {
  if (!lockdown) return false;
  for (const auto& w : words(*lockdown))
    if (w == "[integrity]" || w == "[confidentiality]") return true;
  return false;
}

std::optional<std::uint64_t> number(const std::string& text) {
  std::uint64_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

// The most free space of one swap area in KiB (an image goes to one area);
// nullopt when there is no swap area at all.
std::optional<std::uint64_t> largestFreeSwap(const std::string& swaps) {
  std::istringstream lines(swaps);
  std::string line;
  std::getline(lines, line);  // header: Filename Type Size Used Priority
  std::optional<std::uint64_t> best;
  while (std::getline(lines, line)) {
    const auto f = words(line);
    if (f.size() < 4) continue;
    const auto size = number(f[2]), used = number(f[3]);
    if (!size || !used) continue;
    const std::uint64_t free = *size > *used ? *size - *used : 0;
    best = std::max(best.value_or(0), free);
  }
  return best;
}

std::optional<std::uint64_t> meminfoField(const std::string& meminfo, const std::string& field) {
  std::istringstream lines(meminfo);
  std::string line;
  while (std::getline(lines, line)) {
    const auto f = words(line);
    if (f.size() >= 2 && f[0] == field + ":") return number(f[1]);
  }
  return std::nullopt;
}

SleepAbility hibernation(const KernelSleepFiles& files) {
  if (lockedDown(files.lockdown)) return {SleepBlocker::Lockdown};
  if (!offers(files.state, "disk")) return {SleepBlocker::NotOffered};
  if (files.disk && !offers(files.disk, "platform") && !offers(files.disk, "shutdown"))
    return {SleepBlocker::NotOffered};
  const auto free = files.swaps ? largestFreeSwap(*files.swaps) : std::nullopt;
  if (!free) return {SleepBlocker::NoSwap};
  const auto active = files.meminfo ? meminfoField(*files.meminfo, "Active(anon)") : std::nullopt;
  // The image must fit with 2 % of the area to spare.
  if (active && *active * 100 > *free * 98) return {SleepBlocker::SwapTooSmall};
  return SleepAbility::yes();
}

}  // namespace

SleepAbility abilityForHibernateMode(const SleepCapabilities& caps, long long mode) {
  if (mode == 3) return caps.hybridSleep;
  if (mode == 1 || mode == 25) return caps.hibernate;
  return caps.suspend;
}

const char* describe(SleepBlocker blocker) {
  switch (blocker) {
    case SleepBlocker::None: return "";
    case SleepBlocker::NotOffered: return "not offered by the kernel";
    case SleepBlocker::Lockdown: return "Secure Boot lockdown";
    case SleepBlocker::NoSwap: return "no swap space";
    case SleepBlocker::SwapTooSmall: return "swap space smaller than the memory in use";
    case SleepBlocker::RefusedBySystem: return "refused by the system";
  }
  return "";
}

std::string describe(const SleepAbility& ability) {
  if (ability.possible()) return "yes";
  return std::string("no (") + describe(ability.blocker) + ")";
}

std::string describe(const SleepCapabilities& caps) {
  return "suspend " + describe(caps.suspend) + ", hibernate " + describe(caps.hibernate) + ", hybrid sleep " +
         describe(caps.hybridSleep);
}

SleepCapabilities evaluateKernelSleepFiles(const KernelSleepFiles& files) {
  SleepCapabilities caps;
  caps.suspend = offers(files.state, "mem") || offers(files.state, "freeze") ? SleepAbility::yes()
                                                                             : SleepAbility{SleepBlocker::NotOffered};
  caps.hibernate = hibernation(files);
  if (!caps.hibernate.possible())
    caps.hybridSleep = caps.hibernate;
  else if (files.disk && !offers(files.disk, "suspend"))
    caps.hybridSleep = {SleepBlocker::NotOffered};
  else
    caps.hybridSleep = SleepAbility::yes();
  return caps;
}

}  // namespace somnara::powertool
