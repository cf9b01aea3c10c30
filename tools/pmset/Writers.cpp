#include "Writers.h"

#include <cerrno>
#include <charconv>

#include "plist/PlistCodec.h"

namespace somnara::pmset {

using fileio::IoError;
using fileio::ReadResult;
using fileio::readFile;
using fileio::renameFile;
using fileio::writeFileAtomically;

const char* sleepVerbForMode(int mode) {
  switch (mode) {
    case 0: return "suspend";
    case 3: return "hybrid-sleep";
    case 1:
    case 25: return "hibernate";
    default: return nullptr;
  }
}

std::string dropInForMode(int mode) {
  const char* verb = sleepVerbForMode(mode);
  if (!verb) return {};
  return std::string("[Service]\nExecStart=\nExecStart=/lib/systemd/systemd-sleep ") + verb + "\n";
}

Value settingsWithHibernateMode(const std::optional<Value>& existing, int mode) {
  auto dictionaryOrEmpty = [](const Value* v) {
    return (v && v->dictionary()) ? *v->dictionary() : Dictionary{};
  };
  Dictionary root = dictionaryOrEmpty(existing ? &*existing : nullptr);
  Dictionary profile = dictionaryOrEmpty(Value(root).find("Custom Profile"));
  Dictionary ac = dictionaryOrEmpty(Value(profile).find("AC Power"));
  ac["Hibernate Mode"] = Value(mode);
  profile["AC Power"] = Value(std::move(ac));
  root["Custom Profile"] = Value(std::move(profile));
  return Value(std::move(root));
}

std::optional<IoError> saveHibernateMode(const std::string& path, int mode, std::time_t now,
                                         SaveReport* report) {
  std::optional<Value> existing;
  ReadResult read = readFile(path);
  if (read.content) {
    existing = plist::parse(*read.content);
    if (!existing || !existing->dictionary()) {
      std::string aside = path + ".corrupt-" + std::to_string(static_cast<long long>(now));
      if (auto err = renameFile(path, aside)) return err;
      if (report) report->movedAsideTo = aside;
      existing.reset();
    }
  } else if (read.error.error != ENOENT) {
    return read.error;
  }
  return writeFileAtomically(path, plist::toXml(settingsWithHibernateMode(existing, mode)));
}

std::optional<IoError> writeActiveHibernateMode(const std::string& path, int mode) {
  return writeFileAtomically(path, std::to_string(mode) + "\n");
}

std::optional<int> readActiveHibernateMode(const std::string& path, std::string* error) {
  ReadResult read = readFile(path);
  if (!read.content) {
    if (error) *error = read.error.message();
    return std::nullopt;
  }
  std::string_view text = *read.content;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t' ||
                           text.back() == '\r'))
    text.remove_suffix(1);
  int value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
    if (error) *error = "cannot read " + path + ": not a hibernate mode";
    return std::nullopt;
  }
  return value;
}

}  // namespace somnara::pmset
