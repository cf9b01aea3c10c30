#include "host/linux/DesktopEntry.h"

#include <algorithm>

namespace somnara::linuxhost {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool isKeyChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

std::string unescape(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 == raw.size()) {
      out += raw[i];
      continue;
    }
    switch (raw[i + 1]) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default: out += raw[i]; out += raw[i + 1]; break;
    }
    ++i;
  }
  return out;
}

}  // namespace

std::optional<DesktopEntry> DesktopEntry::parse(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  DesktopEntry entry;
  bool found = false, inEntry = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '[') {
      inEntry = line == "[Desktop Entry]";
      found = found || inEntry;
      continue;
    }
    if (!inEntry) continue;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = trim(line.substr(0, eq));
    // Localised keys such as Name[de] are left out, as are malformed ones.
    if (key.empty() || !std::all_of(key.begin(), key.end(), isKeyChar)) continue;
    entry.values_.try_emplace(std::string(key), unescape(trim(line.substr(eq + 1))));
  }
  if (!found) return std::nullopt;
  return entry;
}

std::optional<std::string> DesktopEntry::value(const std::string& key) const {
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> DesktopEntry::execProgram(std::string_view exec) {
  std::size_t i = 0;
  while (i < exec.size() && (exec[i] == ' ' || exec[i] == '\t')) ++i;
  std::string program;
  if (i < exec.size() && exec[i] == '"') {
    for (++i;; ++i) {
      if (i >= exec.size()) return std::nullopt;  // unclosed quote
      const char c = exec[i];
      if (c == '"') break;
      if (c == '\\' && i + 1 < exec.size() &&
          (exec[i + 1] == '"' || exec[i + 1] == '`' || exec[i + 1] == '$' || exec[i + 1] == '\\')) {
        program += exec[++i];
        continue;
      }
      program += c;
    }
  } else {
    while (i < exec.size() && exec[i] != ' ' && exec[i] != '\t') program += exec[i++];
  }
  std::string out;
  for (std::size_t k = 0; k < program.size(); ++k) {
    if (program[k] != '%') {
      out += program[k];
      continue;
    }
    if (k + 1 < program.size() && program[k + 1] == '%') {
      out += '%';
      ++k;
      continue;
    }
    return std::nullopt;  // a field code cannot name the program
  }
  if (out.empty()) return std::nullopt;
  return out;
}

std::optional<std::string> DesktopEntry::execArgument(std::string_view argument) {
  std::string quoted = "\"";
  for (char c : argument) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  return escapeString(quoted);
}

std::string DesktopEntry::escapeString(std::string_view value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c; break;
    }
  }
  return out;
}

}  // namespace somnara::linuxhost
