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
/// changed are laid over the file's current contents (or over its last good
/// values, when the file cannot be read: it is moved aside first). A queued
/// write waits until a change of the files has been read.
///
/// Files changed by other programs are read once their writer is done: about
/// 20 ms after the last change when it was closed, renamed over or removed,
/// 1 s after the last write into a file still open.
/// While a file cannot be read or parsed its last good values stay in force
/// and it is read again each second; once it has stayed the same and
/// unreadable for about 2 s it is renamed `<name>.corrupt-<unix time>` (logged
/// once) and counts as empty. A file found unreadable when the store is made
/// or a suite added gets the same grace, with no values meanwhile. A file
/// that parses is never moved aside. Observers run on the run loop, and only
/// when the value found for their key differs from the one they last saw.
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
  /// The domain's file exists, or a change waits to be written.
  bool ownDomainExists() const override;
  bool synchronize() override;
  host::RegistrationPtr observe(const std::string& key, std::function<void()> onChange) override;

  /// The file that holds a domain.
  std::string pathForDomain(const std::string& domain) const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace somnara::linuxhost
