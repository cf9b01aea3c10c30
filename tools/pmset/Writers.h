#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "fileio/FileTree.h"

namespace somnara::pmset {

/// The systemd-sleep verb a hibernate mode maps to: 0 → "suspend",
/// 3 → "hybrid-sleep", 1 and 25 → "hibernate"; null for other modes.
const char* sleepVerbForMode(int mode);

/// Drop-in for systemd-suspend.service that makes a suspend request do what
/// mode asks for. Where hibernation is involved, a hibernation that cannot
/// start falls back to plain suspend, so a machine that has lost the means
/// to hibernate (swap gone, lockdown) still sleeps. Empty for modes without
/// a verb.
std::string dropInForMode(int mode);

/// The mode whose drop-in an earlier version wrote as content (hibernation
/// without the fallback to suspend); nullopt when content is not one.
std::optional<int> modeOfStaleDropIn(const std::string& content);

/// What happened to an unreadable saved-settings file.
struct SaveReport {
  std::string movedAsideTo;  // relative path; empty when the file was usable or absent
};

/// Stores mode in the saved-settings property list at relative, keeping its
/// other keys. A file that exists but does not parse as a dictionary is
/// moved aside ("<name>.corrupt-<now>", never replacing an earlier one) and
/// a fresh file written.
std::optional<fileio::IoError> saveHibernateMode(const fileio::FileTree& tree, const std::string& relative,
                                                 int mode, std::time_t now, SaveReport* report = nullptr);

/// True when the saved settings at relative are a dictionary holding mode.
bool savedHibernateModeIs(const fileio::FileTree& tree, const std::string& relative, int mode);

/// Writes the active value file: "N\n".
std::optional<fileio::IoError> writeActiveHibernateMode(const fileio::FileTree& tree, const std::string& relative,
                                                        int mode);

/// Reads the active value. nullopt with error set when the file is missing,
/// unreadable or does not hold a decimal integer.
std::optional<int> readActiveHibernateMode(const fileio::FileTree& tree, const std::string& relative,
                                           std::string* error);

}  // namespace somnara::pmset
