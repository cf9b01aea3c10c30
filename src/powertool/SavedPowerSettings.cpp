#include "powertool/SavedPowerSettings.h"

#include <cstdlib>

#include "plist/PlistCodec.h"

namespace somnara::powertool {
namespace {

constexpr const char* kProfile = "Custom Profile";
constexpr const char* kMains = "AC Power";
constexpr const char* kHibernateMode = "Hibernate Mode";

std::optional<std::int64_t> modeValue(const Value& v) {
  if (v.isNumber()) return v.integer();
  if (const std::string* s = v.string()) return std::strtoll(s->c_str(), nullptr, 10);
  return std::nullopt;
}

// The dictionary under key in d (when d is one), or an empty one.
Dictionary dictionaryAt(const Value* d, const char* key) {
  const Value* v = d ? d->find(key) : nullptr;
  return v && v->dictionary() ? *v->dictionary() : Dictionary{};
}

}  // namespace

SavedPowerSettings SavedPowerSettings::decode(std::string_view bytes) {
  SavedPowerSettings s;
  s.list = plist::parse(bytes, &s.error);
  if (!s.list) return s;
  if (const Value* profile = s.list->find(kProfile))
    if (const Value* mains = profile->find(kMains))
      if (const Value* mode = mains->find(kHibernateMode)) s.hibernateMode = modeValue(*mode);
  return s;
}

SavedPowerSettings SavedPowerSettings::unreadable(std::string error) {
  SavedPowerSettings s;
  s.error = std::move(error);
  return s;
}

Value withHibernateMode(const std::optional<Value>& existing, std::int64_t mode) {
  const Value* top = existing && existing->dictionary() ? &*existing : nullptr;
  Dictionary root = top ? *top->dictionary() : Dictionary{};
  Value profileValue(dictionaryAt(top, kProfile));
  Dictionary mains = dictionaryAt(&profileValue, kMains);
  mains[kHibernateMode] = Value(static_cast<long long>(mode));
  Dictionary profile = *profileValue.dictionary();
  profile[kMains] = Value(std::move(mains));
  root[kProfile] = Value(std::move(profile));
  return Value(std::move(root));
}

std::string encode(const Value& list) { return plist::toXml(list); }

}  // namespace somnara::powertool
