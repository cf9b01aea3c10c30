#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "fileio/FileTree.h"

namespace somnara::pmset {

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
