#include "menubar/InhibitorList.h"

#include <algorithm>

namespace somnara {
namespace {

bool names(const std::string& list, const char* item) {
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(':', start), list.size());
    if (list.compare(start, end - start, item) == 0) return true;
    start = end + 1;
  }
  return false;
}

bool keepsAwake(const host::Inhibitor& inhibitor) {
  // "block" and systemd's "block-weak" hold sleep back; "delay" only postpones it.
  if (inhibitor.mode.rfind("block", 0) != 0) return false;
  if (inhibitor.source != host::Inhibitor::Source::Logind) return true;
  return names(inhibitor.what, "sleep") || names(inhibitor.what, "idle");
}

}  // namespace

void InhibitorList::beginLooking() {
  if (lookers_++ == 0) changes_ = port_.observeChanges([this] { refresh(); });
  refresh();
}

void InhibitorList::endLooking() {
  if (lookers_ == 0) return;
  if (--lookers_ == 0) changes_.reset();
}

void InhibitorList::refresh() {
  auto now = keepingAwake(port_.list());
  if (now == inhibitors_) return;
  willChangeValueForKey(kProperty_inhibitors);
  inhibitors_ = std::move(now);
  didChangeValueForKey(kProperty_inhibitors);
}

std::vector<host::Inhibitor> InhibitorList::keepingAwake(std::vector<host::Inhibitor> all) {
  std::erase_if(all, [](const host::Inhibitor& inhibitor) { return !keepsAwake(inhibitor); });
  std::stable_partition(all.begin(), all.end(), [](const host::Inhibitor& inhibitor) { return !inhibitor.isOwn; });
  return all;
}

std::string InhibitorList::describe(const host::Inhibitor& inhibitor) {
  std::string line = inhibitor.who.empty() ? std::string("(unnamed program)") : inhibitor.who;
  if (!inhibitor.why.empty()) line += ": " + inhibitor.why;
  line += " (" + inhibitor.what + ", " + inhibitor.mode;
  if (inhibitor.pid) line += ", pid " + std::to_string(*inhibitor.pid);
  switch (inhibitor.source) {
    case host::Inhibitor::Source::Logind:
      break;
    case host::Inhibitor::Source::GnomeSession:
      line += ", GNOME session";
      break;
    case host::Inhibitor::Source::PowerManagement:
      line += ", power manager";
      break;
  }
  line += ")";
  if (inhibitor.isOwn) line += kOwnMark;
  return line;
}

std::vector<std::string> InhibitorList::linesFor(const std::vector<host::Inhibitor>& inhibitors) {
  if (inhibitors.empty()) return {kNothingText};
  std::vector<std::string> lines;
  for (const auto& inhibitor : inhibitors) lines.push_back(describe(inhibitor));
  return lines;
}

}  // namespace somnara
