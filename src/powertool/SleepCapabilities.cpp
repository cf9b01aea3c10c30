#include "powertool/SleepCapabilities.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string_view>
#include <vector>

namespace somnara::powertool {
namespace {

// The words of text between blanks, tabs and line ends. (No string
// streams: their first use builds the C++ locale, which costs every program
// that reads these files more resident memory than the parsing itself.)
std::vector<std::string_view> words(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\n\v\f\r";
  std::vector<std::string_view> out;
  for (std::size_t start = text.find_first_not_of(kBlanks); start != std::string_view::npos;) {
    const std::size_t end = std::min(text.find_first_of(kBlanks, start), text.size());
    out.push_back(text.substr(start, end - start));
    start = text.find_first_not_of(kBlanks, end);
  }
  return out;
}

// The lines of text, without their line ends.
std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> out;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    out.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return out;
}

// A word of a sysfs choice list, plain or marked as the selected one "[w]".
bool offers(const std::optional<std::string>& text, const char* word) {
  if (!text) return false;
  const std::string_view plain = word;
  const std::string selected = "[" + std::string(plain) + "]";
  for (const auto w : words(*text))
    if (w == plain || w == selected) return true;
  return false;
}

bool lockedDown(const std::optional<std::string>& lockdown) {
  if (!lockdown) return false;
  for (const auto w : words(*lockdown))
    if (w == "[integrity]" || w == "[confidentiality]") return true;
  return false;
}

std::optional<std::uint64_t> number(std::string_view text) {
  std::uint64_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

// The most free space of one swap area in KiB (an image goes to one area);
// nullopt when there is no swap area at all.
std::optional<std::uint64_t> largestFreeSwap(const std::string& swaps) {
  const auto all = lines(swaps);
  std::optional<std::uint64_t> best;
  // The first line is the header: Filename Type Size Used Priority.
  for (std::size_t i = 1; i < all.size(); ++i) {
    const auto f = words(all[i]);
    if (f.size() < 4) continue;
    const auto size = number(f[2]), used = number(f[3]);
    if (!size || !used) continue;
    const std::uint64_t free = *size > *used ? *size - *used : 0;
    best = std::max(best.value_or(0), free);
  }
  return best;
}

std::optional<std::uint64_t> meminfoField(const std::string& meminfo, const std::string& field) {
  for (const auto line : lines(meminfo)) {
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

bool offersMemOrDiskSleep(std::string_view states) {
  for (const auto w : words(states))
    if (w == "mem" || w == "disk") return true;
  return false;
}

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
