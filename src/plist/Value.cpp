#include "plist/Value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>

namespace somnara {

bool Value::isNumber() const {
  return std::holds_alternative<bool>(storage_) || std::holds_alternative<std::int64_t>(storage_) ||
         std::holds_alternative<double>(storage_);
}

std::optional<std::int64_t> Value::integer() const {
  if (auto b = std::get_if<bool>(&storage_)) return *b ? 1 : 0;
  if (auto i = std::get_if<std::int64_t>(&storage_)) return *i;
  if (auto d = std::get_if<double>(&storage_)) {
    if (std::isnan(*d)) return 0;
    constexpr double lo = static_cast<double>(std::numeric_limits<std::int64_t>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<std::int64_t>::max());
    if (*d <= lo) return std::numeric_limits<std::int64_t>::min();
    if (*d >= hi) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(*d);
  }
  return std::nullopt;
}

bool Value::boolean() const {
  if (auto d = std::get_if<double>(&storage_)) return *d != 0.0;
  auto i = integer();
  return i && *i != 0;
}

std::optional<double> Value::real() const {
  if (auto d = std::get_if<double>(&storage_)) return *d;
  if (auto i = integer()) return static_cast<double>(*i);
  return std::nullopt;
}

double Value::numberValue() const {
  if (auto number = real()) return *number;
  const std::string* text = string();
  if (!text) return 0.0;
  std::string_view s = *text;
  s.remove_prefix(std::min(s.size(), s.find_first_not_of(" \t\n\r\f\v")));
  const bool negative = !s.empty() && s.front() == '-';
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) s.remove_prefix(1);
  auto digit = [&s](std::size_t i) { return i < s.size() && s[i] >= '0' && s[i] <= '9'; };
  // Digits, or a point before a digit: never a word such as "inf".
  if (!digit(0) && !(!s.empty() && s.front() == '.' && digit(1))) return 0.0;
  double value = 0.0;
  if (std::from_chars(s.data(), s.data() + s.size(), value).ec != std::errc()) return 0.0;
  return negative ? -value : value;
}

const Value* Value::find(const std::string& key) const {
  auto dict = dictionary();
  if (!dict) return nullptr;
  auto it = dict->find(key);
  return it == dict->end() ? nullptr : &it->second;
}

namespace {

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

struct Describer {
  std::string operator()(bool b) const { return b ? "1" : "0"; }
  std::string operator()(std::int64_t i) const { return std::to_string(i); }
  std::string operator()(double d) const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", d);
    return buf;
  }
  std::string operator()(const std::string& s) const { return quoted(s); }
  std::string operator()(const Date& d) const {
    char buf[48];
    std::snprintf(buf, sizeof buf, "<date %.3f>", d.secondsSince1970);
    return buf;
  }
  std::string operator()(const Data& d) const {
    static const char* hex = "0123456789abcdef";
    std::string out = "<";
    for (auto b : d.bytes) {
      out += hex[b >> 4];
      out += hex[b & 15];
    }
    return out + ">";
  }
  std::string operator()(const Array& a) const {
    std::string out = "(";
    for (std::size_t i = 0; i < a.size(); ++i) out += (i ? ", " : "") + a[i].description();
    return out + ")";
  }
  std::string operator()(const Dictionary& d) const {
    std::string out = "{";
    for (const auto& [k, v] : d) out += quoted(k) + " = " + v.description() + "; ";
    return out + "}";
  }
};

}  // namespace

std::string Value::description() const { return std::visit(Describer{}, storage_); }

std::int64_t integerOrZero(const std::optional<Value>& v) { return v ? v->integer().value_or(0) : 0; }
std::int64_t integerOrZero(const Value* v) { return v ? v->integer().value_or(0) : 0; }

}  // namespace somnara
