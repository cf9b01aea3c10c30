#include "menubar/ORVTimeFormatter.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace somnara {
namespace {

struct Unit {
  double below;  // chosen when the value in seconds is below this bound
  double multiplier;
  const char* name;
};

// The last row takes every value no bound above is greater than.
constexpr std::array<Unit, 10> kUnits{{
    {0.000001, 1000000000.0, "nanoseconds"},
    {0.001, 1000000.0, "microseconds"},
    {1.0, 1000.0, "milliseconds"},
    {1000.0, 1.0, "seconds"},
    {7200.0, 1.0 / 60.0, "minutes"},
    {86400.0, 1.0 / 3600.0, "hours"},
    {604800.0, 1.0 / 86400.0, "days"},
    {4838400.0, 1.0 / 604800.0, "weeks"},
    {31622400.0, 1.0 / 2635200.0, "months"},  // a month of 30.5 days
    {0.0, 1.0 / 31557600.0, "years"},         // a year of 365.25 days
}};

constexpr const char* kParseError = "Couldn\u2019t convert  to float";

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

std::optional<std::string> ORVTimeFormatter::stringForObjectValue(const std::optional<Value>& object) const {
  if (!object || !object->isNumber()) return std::nullopt;
  return stringForSeconds(*object->real());
}

std::string ORVTimeFormatter::stringForSeconds(double seconds) const {
  if (seconds == 0.0) return "no time";
  const Unit* unit = &kUnits.back();
  for (std::size_t i = 0; i + 1 < kUnits.size(); ++i) {
    if (kUnits[i].below > seconds) {
      unit = &kUnits[i];
      break;
    }
  }
  // The row is chosen before rounding: 999.999 s reads "1000.00 seconds".
  // printf rounds the exact binary value, ties to even.
  char number[64];
  std::snprintf(number, sizeof number, "%.2f", seconds * unit->multiplier);
  return std::string(number) + " " + unit->name;
}

bool ORVTimeFormatter::getObjectValue(Value* result, const std::string& string, std::string* errorDescription) const {
  const char* p = string.data();
  const char* const end = p + string.size();
  auto skipBlanks = [&] {
    while (p != end && isBlank(*p)) ++p;
  };
  skipBlanks();
  if (p != end && *p == '$') ++p;
  skipBlanks();
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  float number = 0;
  // Decimal digits with an optional fraction and exponent only: no "inf",
  // "nan" or hexadecimal forms, and no second sign.
  const bool startsWithDigit = p != end && (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.');
  const auto [next, ec] = std::from_chars(p, end, number, std::chars_format::general);
  bool ok = startsWithDigit && ec == std::errc();
  if (ok) {
    p = next;
    skipBlanks();
    ok = p == end;
  }
  if (!ok) {
    if (errorDescription) *errorDescription = kParseError;
    return false;
  }
  if (result) *result = Value(static_cast<double>(negative ? -number : number));
  return true;
}

}  // namespace somnara
