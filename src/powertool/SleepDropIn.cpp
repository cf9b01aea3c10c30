#include "powertool/SleepDropIn.h"

namespace somnara::powertool {
namespace {

constexpr const char* kSystemdSleep = "/lib/systemd/systemd-sleep";
constexpr int kModes[] = {0, 1, 3, 25};

std::string plainDropIn(const char* verb) {
  return std::string("[Service]\nExecStart=\nExecStart=") + kSystemdSleep + " " + verb + "\n";
}

}  // namespace

const char* sleepVerbForMode(int mode) {
  switch (mode) {
    case 0: return "suspend";
    case 3: return "hybrid-sleep";
    case 1:
    case 25: return "hibernate";
    default: return nullptr;
  }
}

std::string dropInForMode(int mode) {
  const char* verb = sleepVerbForMode(mode);
  if (!verb) return {};
  if (mode == 0) return plainDropIn(verb);
  return std::string("[Service]\nExecStart=\nExecStart=/bin/sh -c '") + kSystemdSleep + " " + verb +
         " || exec " + kSystemdSleep + " suspend'\n";
}

const char* sleepVerbOfDropIn(const std::string& content) {
  for (int mode : kModes)
    if (content == dropInForMode(mode)) return sleepVerbForMode(mode);
  return nullptr;
}

std::optional<std::string> dropInDisagreement(int activeMode, const std::optional<std::string>& runtimeDropIn,
                                              bool legacyRuntimeDropInExists) {
  if (legacyRuntimeDropInExists) return std::string("an earlier version's drop-in decides what suspend requests do");
  if (!runtimeDropIn) return std::string("no drop-in: suspend requests do what systemd does by default");
  if (*runtimeDropIn == dropInForMode(activeMode)) return std::nullopt;
  const char* verb = sleepVerbOfDropIn(*runtimeDropIn);
  if (!verb) return std::string("the drop-in holds something else");
  return std::string("the drop-in makes suspend requests do ") + verb;
}

std::optional<int> modeOfStaleDropIn(const std::string& content) {
  for (int mode : {1, 3, 25})
    if (content == plainDropIn(sleepVerbForMode(mode))) return mode;
  return std::nullopt;
}

}  // namespace somnara::powertool
