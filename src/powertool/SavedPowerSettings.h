#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "plist/Value.h"

namespace somnara::powertool {

/// The saved power-management settings (etc/somnara/PowerManagement.plist):
/// a property list whose one value of ours is the hibernate mode at
/// "Custom Profile" → "AC Power" → "Hibernate Mode". Only the mains profile
/// is read or written.
struct SavedPowerSettings {
  /// The whole property list as read; nullopt when there was none.
  std::optional<Value> list;
  /// Why list is missing: the read or parse failure, one line.
  std::string error;
  /// The value at the key path as an integer (numbers as they are, strings
  /// by their leading digits as strtoll reads them); nullopt when missing
  /// or of another type.
  std::optional<std::int64_t> hibernateMode;

  /// Decodes the bytes of the file.
  static SavedPowerSettings decode(std::string_view bytes);
  /// Settings that could not be read at all.
  static SavedPowerSettings unreadable(std::string error);
};

/// existing (a dictionary, or none) with mode stored at the key path as an
/// integer; every other entry is kept, a level that is not a dictionary
/// starts empty.
Value withHibernateMode(const std::optional<Value>& existing, std::int64_t mode);

/// The XML property-list document for list.
std::string encode(const Value& list);

}  // namespace somnara::powertool
