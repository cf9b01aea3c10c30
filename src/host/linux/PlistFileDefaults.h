#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/Defaults.h"
#include "host/Logger.h"

namespace somnara::linuxhost {

/// User defaults kept as XML property lists, one file per domain:
/// `<directory>/<domain>.plist`, where directory is normally
/// `${XDG_CONFIG_HOME:-~/.config}/somnara`.
///
/// Writes change memory at once and reach the file shortly after on the run
/// loop, or at synchronize(). A file is replaced atomically (temporary file in
/// the same directory, fsync, rename, mode 0600); only the keys this program
/// changed are laid over the file's current contents. A file that cannot be
/// read or parsed is renamed `<name>.corrupt-<unix time>` and counts as empty.
/// Files changed by other programs are re-read as soon as the directory
/// reports it. Observers run on the run loop, and only when the value found
/// for their key differs from the one they last saw.
class PlistFileDefaults final : public host::Defaults {
 public:
  PlistFileDefaults(std::string ownDomain, std::string directory, host::Logger& logger);
  ~PlistFileDefaults() override;
  PlistFileDefaults(const PlistFileDefaults&) = delete;
  PlistFileDefaults& operator=(const PlistFileDefaults&) = delete;

  /// `${XDG_CONFIG_HOME:-$HOME/.config}/somnara`.
  static std::string defaultDirectory();

  std::optional<Value> value(const std::string& key) const override;
  void setValue(const std::string& key, const Value& value) override;
  void removeValue(const std::string& key) override;
  void addSuite(const std::string& domain) override;
  void registerDefaults(const Dictionary& d) override;
  bool synchronize() override;
  host::RegistrationPtr observe(const std::string& key, std::function<void()> onChange) override;

  /// The file that holds a domain.
  std::string pathForDomain(const std::string& domain) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace somnara::linuxhost
