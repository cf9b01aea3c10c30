#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace somnara {

class Value;
using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value>;

/// A point in time, seconds since 1970-01-01 00:00:00 UTC.
struct Date {
  double secondsSince1970 = 0;
  auto operator<=>(const Date&) const = default;
};

/// Raw bytes of a property-list data value.
struct Data {
  std::vector<std::uint8_t> bytes;
  bool operator==(const Data&) const = default;
};

/// One property-list value: boolean, integer, real, string, date, data,
/// array or dictionary. Booleans, integers and reals are all numbers.
class Value {
 public:
  using Storage = std::variant<bool, std::int64_t, double, std::string, Date, Data, Array, Dictionary>;

  Value() : storage_(false) {}
  Value(bool b) : storage_(b) {}
  Value(int i) : storage_(std::int64_t{i}) {}
  Value(long i) : storage_(std::int64_t{i}) {}
  Value(long long i) : storage_(std::int64_t{i}) {}
  Value(double d) : storage_(d) {}
  Value(std::string s) : storage_(std::move(s)) {}
  Value(const char* s) : storage_(std::string(s)) {}
  Value(Date d) : storage_(d) {}
  Value(Data d) : storage_(std::move(d)) {}
  Value(Array a) : storage_(std::move(a)) {}
  Value(Dictionary d) : storage_(std::move(d)) {}

  const Storage& storage() const { return storage_; }

  bool isNumber() const;
  /// The number as a signed 64-bit integer (booleans 0/1, reals truncated
  /// toward zero and clamped); nullopt for non-numbers.
  std::optional<std::int64_t> integer() const;
  /// The number as a flag (non-zero is true); false for non-numbers.
  bool boolean() const;
  /// The number as a double; nullopt for non-numbers.
  std::optional<double> real() const;
  /// The value as a double the way the platform's number conversion reads
  /// any value: a number as real(); a string's leading decimal number, after
  /// blanks and a sign ("  0.25 s" reads 0.25, "-3e1x" -30); 0 for a string
  /// without one (also "inf", "nan", "0x10" past its "0"), one beyond a
  /// double's range, and every other kind of value.
  double numberValue() const;

  const std::string* string() const { return std::get_if<std::string>(&storage_); }
  const Date* date() const { return std::get_if<Date>(&storage_); }
  const Array* array() const { return std::get_if<Array>(&storage_); }
  const Dictionary* dictionary() const { return std::get_if<Dictionary>(&storage_); }

  /// The entry for key when this is a dictionary holding it, else null.
  const Value* find(const std::string& key) const;

  /// A one-line human-readable rendering, for log lines.
  std::string description() const;

  bool operator==(const Value& other) const { return storage_ == other.storage_; }

 private:
  Storage storage_;
};

/// Integer of an optional value with a missing or non-number value read as 0.
std::int64_t integerOrZero(const std::optional<Value>& v);
std::int64_t integerOrZero(const Value* v);

}  // namespace somnara
