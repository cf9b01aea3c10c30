#include "plist/PlistCodec.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "plist/BinaryPlistSize.h"
#include "plist/XmlNesting.h"

namespace somnara::plist {
namespace {

// libplist keeps dates as seconds relative to 2001-01-01 UTC, in 32 bits.
constexpr double kMacEpochOffset = 978307200.0;
constexpr double kMinSeconds = std::numeric_limits<std::int32_t>::min();
constexpr double kMaxSeconds = std::numeric_limits<std::int32_t>::max();

// Bounds on what one property list may stand for once shared objects are expanded.
constexpr std::size_t kMaxValues = 100000;
constexpr std::size_t kMaxExpandedBytes = 16u << 20;
// Levels of values, the top value being the first. No settings file or
// message needs more; libplist's reader recurses once per level.
constexpr int kMaxValueDepth = 64;

struct NodeDeleter {
  void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

std::optional<Value> fromNode(plist_t node, int depth, std::size_t& budget);

std::optional<Value> fromDict(plist_t node, int depth, std::size_t& budget) {
  Dictionary dict;
  plist_dict_iter it = nullptr;
  plist_dict_new_iter(node, &it);
  for (;;) {
    char* key = nullptr;
    plist_t item = nullptr;
    plist_dict_next_item(node, it, &key, &item);
    if (!item) {
      std::free(key);
      break;
    }
    auto v = fromNode(item, depth + 1, budget);
    if (v && key) dict.emplace(key, std::move(*v));
    std::free(key);
    if (!v) {
      std::free(it);
      return std::nullopt;
    }
  }
  std::free(it);
  return Value(std::move(dict));
}

std::optional<Value> fromNode(plist_t node, int depth, std::size_t& budget) {
  // Deeper nesting or more values than any settings file or message needs
  // is treated as malformed (a binary list can share one object from many
  // places, and so stand for exponentially many values).
  if (!node || depth >= kMaxValueDepth || budget == 0) return std::nullopt;
  --budget;
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      std::uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value(b != 0);
    }
    case PLIST_UINT: {
      std::uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return Value(static_cast<long long>(u));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return Value(d);
    }
    case PLIST_STRING: {
      // A binary list can hold a NUL inside a string, which no XML list
      // can carry (and which libplist's copying getter asserts on).
      std::uint64_t length = 0;
      const char* s = plist_get_string_ptr(node, &length);
      if (!s) return Value(std::string());
      if (std::memchr(s, '\0', length)) return std::nullopt;
      return Value(std::string(s, length));
    }
    case PLIST_DATE: {
      std::int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return Value(Date{kMacEpochOffset + sec + usec / 1e6});
    }
    case PLIST_DATA: {
      char* bytes = nullptr;
      std::uint64_t len = 0;
      plist_get_data_val(node, &bytes, &len);
      Data data;
      data.bytes.assign(reinterpret_cast<std::uint8_t*>(bytes), reinterpret_cast<std::uint8_t*>(bytes) + len);
      std::free(bytes);
      return Value(std::move(data));
    }
    case PLIST_ARRAY: {
      Array array;
      const std::uint32_t n = plist_array_get_size(node);
      for (std::uint32_t i = 0; i < n; ++i) {
        auto v = fromNode(plist_array_get_item(node, i), depth + 1, budget);
        if (!v) return std::nullopt;
        array.push_back(std::move(*v));
      }
      return Value(std::move(array));
    }
    case PLIST_DICT:
      return fromDict(node, depth, budget);
    default:
      return std::nullopt;
  }
}

plist_t toNode(const Value& value);

struct NodeMaker {
  plist_t operator()(bool b) const { return plist_new_bool(b ? 1 : 0); }
  plist_t operator()(std::int64_t i) const { return plist_new_uint(static_cast<std::uint64_t>(i)); }
  plist_t operator()(double d) const { return plist_new_real(d); }
  plist_t operator()(const std::string& s) const { return plist_new_string(s.c_str()); }
  plist_t operator()(const Date& d) const {
    // Whole seconds and microseconds relative to 2001, rounded to the
    // microsecond with the carry kept; out-of-range or non-finite dates are
    // clamped to the representable range.
    double rel = d.secondsSince1970 - kMacEpochOffset;
    if (!std::isfinite(rel)) rel = std::signbit(rel) ? kMinSeconds : 0.0;
    rel = std::fmax(std::fmin(rel, kMaxSeconds), kMinSeconds);
    const double micros = std::round(rel * 1e6);
    const double seconds = std::floor(micros / 1e6);
    return plist_new_date(static_cast<std::int32_t>(seconds), static_cast<std::int32_t>(micros - seconds * 1e6));
  }
  plist_t operator()(const Data& d) const {
    return plist_new_data(reinterpret_cast<const char*>(d.bytes.data()), d.bytes.size());
  }
  plist_t operator()(const Array& a) const {
    plist_t node = plist_new_array();
    for (const auto& v : a) plist_array_append_item(node, toNode(v));
    return node;
  }
  plist_t operator()(const Dictionary& d) const {
    plist_t node = plist_new_dict();
    for (const auto& [k, v] : d) plist_dict_set_item(node, k.c_str(), toNode(v));
    return node;
  }
};

plist_t toNode(const Value& value) { return std::visit(NodeMaker{}, value.storage()); }

}  // namespace

std::optional<Value> parse(std::string_view bytes, std::string* error) {
  auto fail = [&](const char* why) -> std::optional<Value> {
    if (error) *error = why;
    return std::nullopt;
  };
  if (bytes.empty()) return fail("empty property list");
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) return fail("property list too large");
  const auto size = static_cast<std::uint32_t>(bytes.size());
  // libplist aborts the program when a string or key it parsed holds a NUL.
  // XML text cannot hold one; a binary list is rendered as XML first, which
  // shows any NUL it holds.
  std::string xml;
  if (plist_is_binary(bytes.data(), size)) {
    // libplist copies every shared object for each reference to it.
    const auto expanded = expandedBinarySize(bytes, kMaxExpandedBytes);
    if (!expanded) return fail("malformed binary property list");
    if (*expanded > kMaxExpandedBytes) return fail("property list too large");
    plist_t binary = nullptr;
    plist_from_bin(bytes.data(), size, &binary);
    Node holder(binary);
    if (!binary) return fail("not a property list");
    char* text = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(binary, &text, &length);
    xml.assign(text ? text : "", text ? length : 0);
    plist_to_xml_free(text);
    if (xml.size() > kMaxExpandedBytes) return fail("property list too large");
  } else {
    xml.assign(bytes);
  }
  if (xml.find('\0') != std::string::npos) return fail("NUL character in the property list");
  // The root <plist> element holds the values' levels.
  if (deepestElementNesting(xml, kMaxValueDepth + 1) > kMaxValueDepth + 1)
    return fail("property list nested too deeply");
  plist_t raw = nullptr;
  plist_from_xml(xml.data(), static_cast<std::uint32_t>(xml.size()), &raw);
  Node node(raw);
  if (!raw) return fail("not a property list");
  std::size_t budget = kMaxValues;
  auto v = fromNode(raw, 0, budget);
  if (!v) return fail("unsupported or malformed property-list value");
  return v;
}

std::string toXml(const Value& value) {
  Node node(toNode(value));
  char* xml = nullptr;
  std::uint32_t len = 0;
  plist_to_xml(static_cast<plist_t>(node.get()), &xml, &len);
  std::string out(xml ? xml : "", len);
  plist_to_xml_free(xml);
  return out;
}

}  // namespace somnara::plist
