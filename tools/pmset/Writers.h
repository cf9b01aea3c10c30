#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "fileio/FileIO.h"
#include "plist/Value.h"

namespace somnara::pmset {

/// The systemd-sleep verb a hibernate mode maps to: 0 → "suspend",
/// 3 → "hybrid-sleep", 1 and 25 → "hibernate"; null for other modes.
const char* sleepVerbForMode(int mode);

/// Drop-in for systemd-suspend.service that makes a suspend request do what
/// mode asks for. Empty for modes without a verb.
std::string dropInForMode(int mode);

/// The saved-settings dictionary with "Custom Profile" → "AC Power" →
/// "Hibernate Mode" set to mode. Every other entry of existing is kept; an
/// existing value that is not a dictionary (or none) starts from empty.
Value settingsWithHibernateMode(const std::optional<Value>& existing, int mode);

/// What happened to an unreadable saved-settings file.
struct SaveReport {
  std::string movedAsideTo;  // empty when the existing file was usable or absent
};

/// Stores mode in the saved-settings property list at path, keeping its other
/// keys. A file that exists but does not parse as a dictionary is renamed to
/// "<path>.corrupt-<now>" and a fresh file written.
std::optional<fileio::IoError> saveHibernateMode(const std::string& path, int mode, std::time_t now,
                                         SaveReport* report = nullptr);

/// Writes the active value file: "N\n".
std::optional<fileio::IoError> writeActiveHibernateMode(const std::string& path, int mode);

/// Reads the active value. nullopt with error set when the file is missing,
/// unreadable or does not hold a decimal integer.
std::optional<int> readActiveHibernateMode(const std::string& path, std::string* error);

}  // namespace somnara::pmset
