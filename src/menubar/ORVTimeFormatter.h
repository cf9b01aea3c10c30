#pragma once

#include <optional>
#include <string>

#include "plist/Value.h"

namespace somnara {

/// Writes a length of time in seconds as a short text with two decimals and
/// the largest unit that fits, from nanoseconds to years ("120.00 minutes",
/// "3.50 days"); 0 is "no time". Reads back a plain number of seconds only,
/// unit names are not parsed. Digits and decimal point are those of the C
/// locale whatever the user's locale.
class ORVTimeFormatter {
 public:
  /// The text for a number; nullopt for anything else (or nothing).
  std::optional<std::string> stringForObjectValue(const std::optional<Value>& object) const;
  /// The text for a number of seconds.
  std::string stringForSeconds(double seconds) const;

  /// Parses an optional "$" and one single-precision number with nothing but
  /// white space around. On success stores the number in result (when given)
  /// and returns true; on failure stores the error text in errorDescription
  /// (when given) and returns false.
  bool getObjectValue(Value* result, const std::string& string, std::string* errorDescription) const;
};

}  // namespace somnara
