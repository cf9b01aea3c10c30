#include "Writers.h"

#include <cerrno>
#include <charconv>

#include "powertool/SavedPowerSettings.h"

namespace somnara::pmset {

using fileio::FileTree;
using fileio::IoError;
using fileio::ReadResult;
using powertool::SavedPowerSettings;

namespace {

constexpr std::size_t kMaxSettingsBytes = 16 << 20;

}  // namespace

std::optional<IoError> saveHibernateMode(const FileTree& tree, const std::string& relative, int mode,
                                         std::time_t now, SaveReport* report) {
  std::optional<Value> existing;
  ReadResult read = tree.read(relative, kMaxSettingsBytes);
  if (read.content) {
    existing = SavedPowerSettings::decode(*read.content).list;
    if (!existing || !existing->dictionary()) {
      std::string aside;
      if (auto err = tree.moveAside(relative, now, &aside)) return err;
      if (report) report->movedAsideTo = aside;
      existing.reset();
    }
  } else if (read.error.error != ENOENT) {
    return read.error;
  }
  return tree.writeAtomically(relative, powertool::encode(powertool::withHibernateMode(existing, mode)));
}

bool savedHibernateModeIs(const FileTree& tree, const std::string& relative, int mode) {
  ReadResult read = tree.read(relative, kMaxSettingsBytes);
  if (!read.content) return false;
  const SavedPowerSettings saved = SavedPowerSettings::decode(*read.content);
  return saved.list && saved.list->dictionary() && saved.hibernateMode == mode;
}

std::optional<IoError> writeActiveHibernateMode(const FileTree& tree, const std::string& relative, int mode) {
  return tree.writeAtomically(relative, std::to_string(mode) + "\n");
}

std::optional<int> readActiveHibernateMode(const FileTree& tree, const std::string& relative, std::string* error) {
  ReadResult read = tree.read(relative, 4096);
  if (!read.content) {
    if (error) *error = read.error.message();
    return std::nullopt;
  }
  std::string_view text = *read.content;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t' ||
                           text.back() == '\r'))
    text.remove_suffix(1);
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
    if (error) *error = "cannot read " + tree.pathOf(relative) + ": not a hibernate mode";
    return std::nullopt;
  }
  return value;
}

}  // namespace somnara::pmset
